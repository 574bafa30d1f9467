// SM4 in ECB, CBC and OFB mode for the key's cipher sessions, and SM4 CBC-MAC. Padding is the
// key's own (PKCS#7), so a call can be run on a copy first to learn its exact output length.
#pragma once

#include <openssl/evp.h>

#include "core/model.h"

namespace softkey {

enum class Sm4Mode { Ecb, Cbc, Ofb };

enum class Sm4Result { Ok, BadLength, BadPadding, Failed };

class Sm4Stream {
public:
    Sm4Stream() = default;
    Sm4Stream(const Sm4Stream& other);
    Sm4Stream& operator=(const Sm4Stream& other);
    ~Sm4Stream();

    // `iv` is 16 bytes (ignored in ECB); `pad` adds PKCS#7 padding (ignored in OFB).
    bool Start(Sm4Mode mode, bool encrypt, const uint8_t key[16], const uint8_t iv[16], bool pad);
    // Appends the output of whole blocks; a padded decryption keeps its last block back.
    Sm4Result Update(const uint8_t* in, size_t len, Bytes& out);
    // Appends the rest: the padded last block, or the unpadded plain text.
    Sm4Result Finish(Bytes& out);

private:
    bool Crypt(const uint8_t* in, size_t len, Bytes& out);
    void Clear();

    Sm4Mode m_mode = Sm4Mode::Ecb;
    bool m_encrypt = true;
    bool m_pad = false;
    EVP_CIPHER_CTX* m_ctx = nullptr;
    Bytes m_pending;  // input short of a whole block (block modes)
};

// CBC-MAC: the last block of the CBC encryption of the (optionally padded) data.
class Sm4CbcMac {
public:
    bool Start(const uint8_t key[16], const uint8_t iv[16], bool pad);
    Sm4Result Update(const uint8_t* in, size_t len);
    // Fills the 16-byte MAC; BadLength when unpadded data is not whole blocks or is empty.
    Sm4Result Finish(uint8_t mac[16]);

private:
    void Keep(const Bytes& cipher);

    Sm4Stream m_stream;
    uint8_t m_last[16] = {};
    bool m_haveBlock = false;
};

}  // namespace softkey
