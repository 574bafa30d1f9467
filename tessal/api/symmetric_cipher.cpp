#include "api/symmetric_cipher.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>
#include <vector>

#include "api/encodings.h"
#include "kit/openssl_ptr.h"
#include "kit/output_file.h"

namespace {

constexpr int kBlockSize = 16;
constexpr size_t kFileChunkSize = 4096;

using CipherCtxPtr = kit::OpenSslPtr<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>;
using FilePtr = std::unique_ptr<FILE, int (*)(FILE*)>;

CipherCtxPtr NewCipher(const SymmetricKey& key, bool encrypt, bool padding) {
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    if (!ctx || EVP_CipherInit_ex(ctx.get(), EVP_aes_128_ecb(), nullptr, key.data(), nullptr, encrypt ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), padding ? 1 : 0) != 1) {
        ERR_clear_error();
        return CipherCtxPtr();
    }
    return ctx;
}

}  // namespace

bool DecodeSymmetricKey(const std::string& base64, SymmetricKey& key) {
    ByteArray decoded = Base64Decode(base64);
    if (decoded.length() <= 0 || decoded.length() > static_cast<int>(key.size())) return false;
    key.fill(0);
    std::copy(decoded.data(), decoded.data() + decoded.length(), key.begin());
    return true;
}

size_t ZeroPaddedLength(size_t length) {
    return length + (kBlockSize - length % kBlockSize) % kBlockSize;
}

bool AesEcbZeroPadded(const ByteArray& in, const SymmetricKey& key, bool encrypt, ByteArray& out) {
    CipherCtxPtr ctx = NewCipher(key, encrypt, false);
    if (!ctx) return false;
    size_t length = static_cast<size_t>(in.length());
    size_t whole = length - length % kBlockSize;
    // Encryption completes the last block with zeros; decryption leaves a partial block as zeros.
    size_t outLength = encrypt && whole != length ? whole + kBlockSize : length;
    if (outLength > static_cast<size_t>(INT_MAX)) return false;  // more than a ByteArray holds
    std::vector<unsigned char> input(outLength, 0);
    std::copy(in.data(), in.data() + (encrypt ? length : whole), input.begin());
    std::vector<unsigned char> output(outLength, 0);
    size_t processed = encrypt ? outLength : whole;
    int written = 0;
    if (processed > 0 &&
        EVP_CipherUpdate(ctx.get(), output.data(), &written, input.data(), static_cast<int>(processed)) != 1) {
        ERR_clear_error();
        return false;
    }
    out = ByteArray(output.data(), static_cast<unsigned long>(output.size()));
    OPENSSL_cleanse(input.data(), input.size());
    OPENSSL_cleanse(output.data(), output.size());
    return true;
}

bool AesEcbFile(const std::string& inputPath, const std::string& outputPath, const SymmetricKey& key,
                bool encrypt) {
    CipherCtxPtr ctx = NewCipher(key, encrypt, true);
    if (!ctx) return false;
    FilePtr input(std::fopen(inputPath.c_str(), "rb"), &std::fclose);
    if (!input) return false;
    kit::OutputFileWriter output(outputPath);
    if (!output.IsOpen()) return false;
    std::vector<unsigned char> chunk(kFileChunkSize);
    std::vector<unsigned char> transformed(kFileChunkSize + kBlockSize);
    int written = 0;
    for (;;) {
        size_t n = std::fread(chunk.data(), 1, chunk.size(), input.get());
        if (n == 0) break;
        if (EVP_CipherUpdate(ctx.get(), transformed.data(), &written, chunk.data(), static_cast<int>(n)) != 1 ||
            !output.Write(transformed.data(), static_cast<size_t>(written))) {
            ERR_clear_error();
            return false;
        }
    }
    if (std::ferror(input.get())) return false;
    // The final block: the padding added, or checked and removed (a wrong key fails here).
    if (EVP_CipherFinal_ex(ctx.get(), transformed.data(), &written) != 1) {
        ERR_clear_error();
        return false;
    }
    return output.Write(transformed.data(), static_cast<size_t>(written)) && output.Commit();
}
