#include "core/sm4_stream.h"

#include <openssl/crypto.h>

#include <climits>
#include <cstring>

namespace softkey {
namespace {

constexpr size_t kBlock = 16;

const EVP_CIPHER* CipherOf(Sm4Mode mode) {
    switch (mode) {
        case Sm4Mode::Ecb:
            return EVP_sm4_ecb();
        case Sm4Mode::Cbc:
            return EVP_sm4_cbc();
        case Sm4Mode::Ofb:
            return EVP_sm4_ofb();
    }
    return nullptr;
}

}  // namespace

Sm4Stream::Sm4Stream(const Sm4Stream& other) { *this = other; }

Sm4Stream& Sm4Stream::operator=(const Sm4Stream& other) {
    if (this == &other) return *this;
    Clear();
    m_mode = other.m_mode;
    m_encrypt = other.m_encrypt;
    m_pad = other.m_pad;
    m_pending = other.m_pending;
    if (other.m_ctx) {
        m_ctx = EVP_CIPHER_CTX_new();
        if (!m_ctx || EVP_CIPHER_CTX_copy(m_ctx, other.m_ctx) != 1) throw std::bad_alloc();
    }
    return *this;
}

Sm4Stream::~Sm4Stream() { Clear(); }

void Sm4Stream::Clear() {
    EVP_CIPHER_CTX_free(m_ctx);
    m_ctx = nullptr;
    if (!m_pending.empty()) OPENSSL_cleanse(m_pending.data(), m_pending.size());
    m_pending.clear();
}

bool Sm4Stream::Start(Sm4Mode mode, bool encrypt, const uint8_t key[16], const uint8_t iv[16],
                      bool pad) {
    Clear();
    m_mode = mode;
    m_encrypt = encrypt;
    m_pad = pad && mode != Sm4Mode::Ofb;
    m_ctx = EVP_CIPHER_CTX_new();
    return m_ctx &&
           EVP_CipherInit_ex(m_ctx, CipherOf(mode), nullptr, key,
                             mode == Sm4Mode::Ecb ? nullptr : iv, encrypt ? 1 : 0) == 1 &&
           EVP_CIPHER_CTX_set_padding(m_ctx, 0) == 1;
}

bool Sm4Stream::Crypt(const uint8_t* in, size_t len, Bytes& out) {
    if (!m_ctx) return false;
    size_t at = out.size();
    out.resize(at + len);
    constexpr size_t kChunk = (INT_MAX / kBlock) * kBlock;
    while (len > 0) {
        size_t part = len < kChunk ? len : kChunk;
        int n = 0;
        if (EVP_CipherUpdate(m_ctx, out.data() + at, &n, in, static_cast<int>(part)) != 1 ||
            static_cast<size_t>(n) != part)
            return false;
        at += part;
        in += part;
        len -= part;
    }
    return true;
}

Sm4Result Sm4Stream::Update(const uint8_t* in, size_t len, Bytes& out) {
    if (m_mode == Sm4Mode::Ofb) return Crypt(in, len, out) ? Sm4Result::Ok : Sm4Result::Failed;
    m_pending.insert(m_pending.end(), in, in + len);
    size_t keep = m_pending.size() % kBlock;
    if (!m_encrypt && m_pad && keep == 0 && !m_pending.empty()) keep = kBlock;
    size_t ready = m_pending.size() - keep;
    if (!Crypt(m_pending.data(), ready, out)) return Sm4Result::Failed;
    OPENSSL_cleanse(m_pending.data(), ready);
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(ready));
    return Sm4Result::Ok;
}

Sm4Result Sm4Stream::Finish(Bytes& out) {
    if (m_mode == Sm4Mode::Ofb || !m_pad) {
        if (!m_pending.empty()) return Sm4Result::BadLength;
        return Sm4Result::Ok;
    }
    if (m_encrypt) {
        size_t fill = kBlock - m_pending.size() % kBlock;
        m_pending.insert(m_pending.end(), fill, static_cast<uint8_t>(fill));
        bool ok = Crypt(m_pending.data(), m_pending.size(), out);
        Clear();
        return ok ? Sm4Result::Ok : Sm4Result::Failed;
    }
    if (m_pending.size() != kBlock) return Sm4Result::BadLength;
    Bytes block;
    if (!Crypt(m_pending.data(), kBlock, block)) return Sm4Result::Failed;
    uint8_t fill = block[kBlock - 1];
    bool padOk = fill >= 1 && fill <= kBlock;
    for (size_t i = 0; padOk && i < fill; ++i) padOk = block[kBlock - 1 - i] == fill;
    if (padOk) out.insert(out.end(), block.begin(), block.end() - fill);
    OPENSSL_cleanse(block.data(), block.size());
    Clear();
    return padOk ? Sm4Result::Ok : Sm4Result::BadPadding;
}

bool Sm4CbcMac::Start(const uint8_t key[16], const uint8_t iv[16], bool pad) {
    m_haveBlock = false;
    std::memset(m_last, 0, sizeof m_last);
    return m_stream.Start(Sm4Mode::Cbc, true, key, iv, pad);
}

void Sm4CbcMac::Keep(const Bytes& cipher) {
    if (cipher.size() < kBlock) return;
    std::memcpy(m_last, cipher.data() + cipher.size() - kBlock, kBlock);
    m_haveBlock = true;
}

Sm4Result Sm4CbcMac::Update(const uint8_t* in, size_t len) {
    Bytes cipher;
    Sm4Result rc = m_stream.Update(in, len, cipher);
    Keep(cipher);
    return rc;
}

Sm4Result Sm4CbcMac::Finish(uint8_t mac[16]) {
    Bytes cipher;
    Sm4Result rc = m_stream.Finish(cipher);
    if (rc != Sm4Result::Ok) return rc;
    Keep(cipher);
    if (!m_haveBlock) return Sm4Result::BadLength;
    std::memcpy(mac, m_last, kBlock);
    return Sm4Result::Ok;
}

}  // namespace softkey
