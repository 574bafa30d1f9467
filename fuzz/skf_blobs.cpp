// The SKF blob layouts the software key accepts from a host, through its own SKF entry points on
// a scratch key, and the kit's reading of a vendor library's RSA public-key blob. The first input
// byte chooses the entry point (see EntryPoint); the rest is laid out as the comment there says.
// Blobs with trailing cipher bytes get a buffer of exactly the size their length field claims.
#include <openssl/err.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "gmcrypto/key_objects.h"
#include "skf_scratch.h"

namespace {

using Buffer = std::vector<uint8_t>;

// The input's bytes in order; what is missing reads as zeros.
class Input {
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    template <typename T>
    T Take() {
        T value{};
        Buffer bytes = Bytes(sizeof value);
        if (!bytes.empty()) std::memcpy(&value, bytes.data(), bytes.size());
        return value;
    }
    uint16_t Length() { return Take<uint16_t>(); }
    // At most `count` bytes.
    Buffer Bytes(size_t count) {
        size_t n = std::min(count, m_size);
        Buffer out(m_data, m_data + n);
        m_data += n;
        m_size -= n;
        return out;
    }
    Buffer Rest() { return Bytes(m_size); }

private:
    const uint8_t* m_data;
    size_t m_size;
};

// An ECCCIPHERBLOB with its cipher bytes: the header (zeros where the input ends), and
// CipherLen bounded by the cipher bytes that follow it.
Buffer CipherBlob(Input& in) {
    Buffer blob = in.Rest();
    if (blob.size() < ECC_CIPHER_HEADER_LEN) blob.resize(ECC_CIPHER_HEADER_LEN);
    auto* header = reinterpret_cast<ECCCIPHERBLOB*>(blob.data());
    header->CipherLen = std::min<ULONG>(header->CipherLen, static_cast<ULONG>(blob.size() - ECC_CIPHER_HEADER_LEN));
    return blob;
}

BYTE* Data(Buffer& bytes) { return bytes.empty() ? nullptr : bytes.data(); }
ULONG Size(const Buffer& bytes) { return static_cast<ULONG>(bytes.size()); }

void Call(fuzz_skf::EntryPoint entry, Input& in) {
    using namespace fuzz_skf;
    const ScratchKey& key = OpenScratchKey();
    switch (entry) {
    case kEccVerify:
    case kExtEccVerify: {
        auto pub = in.Take<ECCPUBLICKEYBLOB>();
        auto signature = in.Take<ECCSIGNATUREBLOB>();
        Buffer digest = in.Rest();
        (entry == kEccVerify ? SKF_ECCVerify : SKF_ExtECCVerify)(key.dev, &pub, Data(digest), Size(digest), &signature);
        break;
    }
    case kExtEccEncrypt: {
        auto pub = in.Take<ECCPUBLICKEYBLOB>();
        Buffer plain = in.Rest();
        Buffer cipher(ECC_CIPHER_HEADER_LEN + plain.size());
        SKF_ExtECCEncrypt(key.dev, &pub, Data(plain), Size(plain), reinterpret_cast<PECCCIPHERBLOB>(cipher.data()));
        break;
    }
    case kEccDecrypt: {
        BOOL sign = in.Take<uint8_t>() & 1;
        Buffer blob = CipherBlob(in);
        ULONG plainLength = reinterpret_cast<ECCCIPHERBLOB*>(blob.data())->CipherLen;
        Buffer plain(plainLength);
        SKF_ECCDecrypt(key.sm2, sign, reinterpret_cast<PECCCIPHERBLOB>(blob.data()), Data(plain), &plainLength);
        break;
    }
    case kImportEccKeyPair: {
        Buffer envelope = in.Rest();
        envelope.resize(std::max(envelope.size(), sizeof(ENVELOPEDKEYBLOB) - 1 + 16));
        SKF_ImportECCKeyPair(key.sm2, reinterpret_cast<PENVELOPEDKEYBLOB>(envelope.data()));
        break;
    }
    case kImportRsaKeyPair: {
        Buffer wrapped = in.Bytes(in.Length());
        Buffer encrypted = in.Rest();
        SKF_ImportRSAKeyPair(key.rsa, SGD_SM4_ECB, Data(wrapped), Size(wrapped), Data(encrypted), Size(encrypted));
        break;
    }
    case kRsaVerify: {
        auto pub = in.Take<RSAPUBLICKEYBLOB>();
        Buffer signature = in.Bytes(in.Length());
        Buffer data = in.Rest();
        SKF_RSAVerify(key.dev, &pub, Data(data), Size(data), Data(signature), Size(signature));
        break;
    }
    case kRsaDecrypt: {
        BOOL sign = in.Take<uint8_t>() & 1;
        Buffer cipher = in.Rest();
        Buffer plain(256);
        ULONG plainLength = Size(plain);
        SKF_RSADecrypt(key.rsa, sign, Data(cipher), Size(cipher), plain.data(), &plainLength);
        break;
    }
    case kDigestInit: {
        auto pub = in.Take<ECCPUBLICKEYBLOB>();
        Buffer id = in.Rest();
        HANDLE hash = nullptr;
        if (SKF_DigestInit(key.dev, SGD_SM3, &pub, Data(id), Size(id), &hash) == SAR_OK) SKF_CloseHandle(hash);
        break;
    }
    case kExtRsaPubKeyOperation: {
        auto pub = in.Take<RSAPUBLICKEYBLOB>();
        Buffer input = in.Rest();
        Buffer output(512);
        ULONG outputLength = Size(output);
        SKF_ExtRSAPubKeyOperation(key.dev, &pub, Data(input), Size(input), output.data(), &outputLength);
        break;
    }
    case kExtEccDecrypt: {
        auto priv = in.Take<ECCPRIVATEKEYBLOB>();
        Buffer blob = CipherBlob(in);
        ULONG plainLength = reinterpret_cast<ECCCIPHERBLOB*>(blob.data())->CipherLen;
        Buffer plain(plainLength);
        SKF_ExtECCDecrypt(key.dev, &priv, reinterpret_cast<PECCCIPHERBLOB>(blob.data()), Data(plain), &plainLength);
        break;
    }
    case kExtEccSign: {
        auto priv = in.Take<ECCPRIVATEKEYBLOB>();
        Buffer digest = in.Rest();
        ECCSIGNATUREBLOB signature;
        SKF_ExtECCSign(key.dev, &priv, Data(digest), Size(digest), &signature);
        break;
    }
    case kExtRsaPriKeyOperation: {
        auto priv = in.Take<RSAPRIVATEKEYBLOB>();
        Buffer input = in.Rest();
        Buffer output(512);
        ULONG outputLength = Size(output);
        SKF_ExtRSAPriKeyOperation(key.dev, &priv, Data(input), Size(input), output.data(), &outputLength);
        break;
    }
    case kEccExportSessionKey: {
        auto alg = in.Take<ULONG>();
        auto pub = in.Take<ECCPUBLICKEYBLOB>();
        Buffer cipher(ECC_CIPHER_HEADER_LEN + 16);
        HANDLE session = nullptr;
        if (SKF_ECCExportSessionKey(key.sm2, alg, &pub, reinterpret_cast<PECCCIPHERBLOB>(cipher.data()), &session) ==
            SAR_OK)
            SKF_CloseHandle(session);
        break;
    }
    case kRsaExportSessionKey: {
        auto alg = in.Take<ULONG>();
        auto pub = in.Take<RSAPUBLICKEYBLOB>();
        Buffer wrapped(MAX_RSA_MODULUS_LEN);
        ULONG wrappedLength = Size(wrapped);
        HANDLE session = nullptr;
        if (SKF_RSAExportSessionKey(key.rsa, alg, &pub, wrapped.data(), &wrappedLength, &session) == SAR_OK)
            SKF_CloseHandle(session);
        break;
    }
    case kImportSessionKey: {
        HCONTAINER container = in.Take<uint8_t>() & 1 ? key.rsa : key.sm2;
        auto alg = in.Take<ULONG>();
        Buffer wrapped = in.Rest();
        HANDLE session = nullptr;
        if (SKF_ImportSessionKey(container, alg, Data(wrapped), Size(wrapped), &session) == SAR_OK)
            SKF_CloseHandle(session);
        break;
    }
    case kKitRsaBlobKey:
        EVP_PKEY_free(KeyBackedRsaFromBlob(in.Take<RSAPUBLICKEYBLOB>()));
        break;
    case kEntryPoints:
        break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    Input in(data + 1, size - 1);
    Call(static_cast<fuzz_skf::EntryPoint>(data[0] % fuzz_skf::kEntryPoints), in);
    ERR_clear_error();
    return 0;
}
