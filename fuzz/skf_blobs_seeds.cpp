// Writes seed inputs for fuzz_skf_blobs into DIRECTORY: for each entry point, an input the
// scratch key accepts (made with the key's own functions and the envelopes a CA makes), so the
// fuzzer starts past the checks that random bytes never pass.
// Usage: fuzz_skf_blobs_seeds DIRECTORY
#include <openssl/bn.h>
#include <openssl/core_names.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "core/envelopes.h"
#include "skf_scratch.h"

namespace {

using softkey::Bytes;
using namespace fuzz_skf;

void Check(ULONG rc) {
    if (rc != SAR_OK) throw std::runtime_error("SKF call failed: " + std::to_string(rc));
}

template <typename T>
void Put(Bytes& out, const T& value) {
    const auto* p = reinterpret_cast<const uint8_t*>(&value);
    out.insert(out.end(), p, p + sizeof value);
}

void Put(Bytes& out, const Bytes& bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

void PutLength(Bytes& out, size_t length) { Put(out, static_cast<uint16_t>(length)); }

template <typename Blob>
Blob PublicBlob(HCONTAINER container) {
    Blob blob{};
    ULONG length = sizeof blob;
    Check(SKF_ExportPublicKey(container, TRUE, reinterpret_cast<BYTE*>(&blob), &length));
    return blob;
}

softkey::Pkey NewKey(softkey::KeyAlg alg, int bits) {
    Bytes spki;
    return softkey::LoadPrivateKey(softkey::GenerateKeyPair(alg, bits, spki));
}

// The big-endian value right-aligned in a field of `size` bytes.
void PutRightAligned(uint8_t* field, size_t size, const Bytes& value) {
    if (value.size() > size) throw std::runtime_error("value too long for its field");
    std::memcpy(field + size - value.size(), value.data(), value.size());
}

ECCPRIVATEKEYBLOB EccPrivateBlob(EVP_PKEY* key) {
    BIGNUM* d = nullptr;
    if (EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &d) != 1) throw std::runtime_error("no SM2 scalar");
    ECCPRIVATEKEYBLOB blob{};
    blob.BitLen = 256;
    BN_bn2binpad(d, blob.PrivateKey + 32, 32);
    BN_clear_free(d);
    return blob;
}

RSAPRIVATEKEYBLOB RsaPrivateBlob(EVP_PKEY* key) {
    softkey::RsaParts parts;
    if (!softkey::RsaPrivateParts(key, parts)) throw std::runtime_error("no RSA components");
    RSAPRIVATEKEYBLOB blob{};
    const size_t half = MAX_RSA_MODULUS_LEN / 2;
    blob.AlgID = SGD_RSA;
    blob.BitLen = static_cast<ULONG>(EVP_PKEY_get_bits(key));
    PutRightAligned(blob.Modulus, MAX_RSA_MODULUS_LEN, parts.n);
    PutRightAligned(blob.PublicExponent, MAX_RSA_EXPONENT_LEN, parts.e);
    PutRightAligned(blob.PrivateExponent, MAX_RSA_MODULUS_LEN, parts.d);
    PutRightAligned(blob.Prime1, half, parts.p);
    PutRightAligned(blob.Prime2, half, parts.q);
    PutRightAligned(blob.Prime1Exponent, half, parts.dp);
    PutRightAligned(blob.Prime2Exponent, half, parts.dq);
    PutRightAligned(blob.Coefficient, half, parts.qinv);
    return blob;
}

// Writes the seed of `entry`; `variant` tells apart several seeds of one entry point.
void Write(const std::string& dir, EntryPoint entry, const Bytes& rest, const std::string& variant = "") {
    Bytes input{static_cast<uint8_t>(entry)};
    Put(input, rest);
    std::string path = dir + "/skf-seed-" + std::to_string(entry) + variant;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(input.data(), 1, input.size(), file) != input.size() || std::fclose(file) != 0)
        throw std::runtime_error("cannot write " + path);
}

void WriteSeeds(const std::string& dir) {
    const ScratchKey& key = OpenScratchKey();
    auto eccPub = PublicBlob<ECCPUBLICKEYBLOB>(key.sm2);
    auto rsaPub = PublicBlob<RSAPUBLICKEYBLOB>(key.rsa);
    Bytes digest(32, 0x5a), message = {'s', 'e', 'e', 'd'};

    ECCSIGNATUREBLOB eccSignature{};
    Check(SKF_ECCSignData(key.sm2, digest.data(), 32, &eccSignature));
    Bytes verify;
    Put(verify, eccPub);
    Put(verify, eccSignature);
    Put(verify, digest);
    Write(dir, kEccVerify, verify);
    Write(dir, kExtEccVerify, verify);

    Bytes encrypt;
    Put(encrypt, eccPub);
    Put(encrypt, message);
    Write(dir, kExtEccEncrypt, encrypt);

    Bytes cipher(ECC_CIPHER_HEADER_LEN + message.size());
    Check(SKF_ExtECCEncrypt(key.dev, &eccPub, message.data(), static_cast<ULONG>(message.size()),
                            reinterpret_cast<PECCCIPHERBLOB>(cipher.data())));
    Bytes decrypt{1};
    Put(decrypt, cipher);
    Write(dir, kEccDecrypt, decrypt);

    softkey::Pkey signPub = softkey::Sm2PublicFromPoint(eccPub.XCoordinate + 32, eccPub.YCoordinate + 32);
    Write(dir, kImportEccKeyPair, softkey::Sm2Envelope(signPub.get(), NewKey(softkey::KeyAlg::Sm2, 256).get()));

    softkey::Pkey rsaKey = FixedSigningKey(softkey::KeyAlg::Rsa);
    Bytes envelope = softkey::RsaEnvelope(rsaKey.get(), NewKey(softkey::KeyAlg::Rsa, 1024).get());
    Bytes import;
    PutLength(import, 128);
    Put(import, envelope);
    Write(dir, kImportRsaKeyPair, import);

    Bytes signature(128);
    ULONG signatureLength = static_cast<ULONG>(signature.size());
    Check(SKF_RSASignData(key.rsa, digest.data(), 32, signature.data(), &signatureLength));
    Bytes rsaVerify;
    Put(rsaVerify, rsaPub);
    PutLength(rsaVerify, signatureLength);
    Put(rsaVerify, signature);
    Put(rsaVerify, digest);
    Write(dir, kRsaVerify, rsaVerify);

    Bytes wrapped;
    if (!softkey::RsaEncrypt(rsaKey.get(), message.data(), message.size(), wrapped))
        throw std::runtime_error("RSA encryption failed");
    Bytes rsaDecrypt{1};
    Put(rsaDecrypt, wrapped);
    Write(dir, kRsaDecrypt, rsaDecrypt);

    Bytes digestInit;
    Put(digestInit, eccPub);
    Put(digestInit, Bytes{'1', '2', '3', '4', '5', '6', '7', '8', '1', '2', '3', '4', '5', '6', '7', '8'});
    Write(dir, kDigestInit, digestInit);

    Bytes rsaBlob;
    Put(rsaBlob, rsaPub);
    Write(dir, kKitRsaBlobKey, rsaBlob);
    Bytes block(128, 0x5a);
    Bytes rsaOperation = rsaBlob;
    Put(rsaOperation, block);
    Write(dir, kExtRsaPubKeyOperation, rsaOperation);

    ECCPRIVATEKEYBLOB eccPriv = EccPrivateBlob(FixedSigningKey(softkey::KeyAlg::Sm2).get());
    Bytes extDecrypt;
    Put(extDecrypt, eccPriv);
    Put(extDecrypt, cipher);
    Write(dir, kExtEccDecrypt, extDecrypt);
    Bytes extSign;
    Put(extSign, eccPriv);
    Put(extSign, digest);
    Write(dir, kExtEccSign, extSign);

    RSAPRIVATEKEYBLOB rsaPriv = RsaPrivateBlob(rsaKey.get());
    Bytes rsaPriOperation;
    Put(rsaPriOperation, rsaPriv);
    Put(rsaPriOperation, block);
    Write(dir, kExtRsaPriKeyOperation, rsaPriOperation);

    const ULONG alg = SGD_SM4_ECB;
    Bytes eccExport;
    Put(eccExport, alg);
    Put(eccExport, eccPub);
    Write(dir, kEccExportSessionKey, eccExport);
    Bytes rsaExport;
    Put(rsaExport, alg);
    Put(rsaExport, rsaPub);
    Write(dir, kRsaExportSessionKey, rsaExport);

    // Session keys wrapped with the containers' encryption keys (their fixed keys).
    Bytes session(16, 0x3c);
    Bytes sm2Import{0};
    Put(sm2Import, alg);
    Bytes sessionCipher(ECC_CIPHER_HEADER_LEN + session.size());
    Check(SKF_ExtECCEncrypt(key.dev, &eccPub, session.data(), static_cast<ULONG>(session.size()),
                            reinterpret_cast<PECCCIPHERBLOB>(sessionCipher.data())));
    Put(sm2Import, sessionCipher);
    Write(dir, kImportSessionKey, sm2Import);
    Bytes rsaWrapped;
    if (!softkey::RsaEncrypt(rsaKey.get(), session.data(), session.size(), rsaWrapped))
        throw std::runtime_error("RSA encryption failed");
    Bytes rsaImport{1};
    Put(rsaImport, alg);
    Put(rsaImport, rsaWrapped);
    Write(dir, kImportSessionKey, rsaImport, "-rsa");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: fuzz_skf_blobs_seeds DIRECTORY\n");
        return 2;
    }
    try {
        WriteSeeds(argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fuzz_skf_blobs_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
