/* A third-party SKF client's view of the software key: the library is reached only through
 * dlopen and the SKF header, keys are provisioned with the softkey tool, and every result is
 * checked against OpenSSL's SM4. Usage: skf_conformance devauth|cipher|mac */
#include <openssl/evp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "skf_c_client.h"

typedef ULONG CountFn(ULONG);
static ULONG OpenHandles(ULONG kind) {
    return ((CountFn*)ClientSymbol("SOFTKEY_CountOpenHandles"))(kind);
}
enum { kKeyHandles = 5, kMacHandles = 6 };

static void Tool(const char* args) {
    char command[1024];
    snprintf(command, sizeof command, "'%s' --store '%s' %s >/dev/null", SOFTKEY_CLI, ClientStore(),
             args);
    if (system(command) != 0) {
        fprintf(stderr, "failed: %s\n", command);
        exit(1);
    }
}

static DEVHANDLE Connect(const char* serial) {
    DEVHANDLE dev = NULL;
    CHECK_RC(SKF_FN(SKF_ConnectDev)((LPSTR)serial, &dev), SAR_OK);
    return dev;
}

static const EVP_CIPHER* ReferenceCipher(ULONG alg) {
    if (alg == SGD_SM4_ECB) return EVP_sm4_ecb();
    if (alg == SGD_SM4_CBC) return EVP_sm4_cbc();
    return EVP_sm4_ofb();
}

/* OpenSSL's SM4 over the whole input; returns the output length. */
static int Reference(ULONG alg, int encrypt, int pad, const BYTE* key, const BYTE* iv,
                     const BYTE* in, int len, BYTE* out) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int n = 0, fin = 0;
    if (!ctx || EVP_CipherInit_ex(ctx, ReferenceCipher(alg), NULL, key, iv, encrypt) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx, pad) != 1 || EVP_CipherUpdate(ctx, out, &n, in, len) != 1 ||
        EVP_CipherFinal_ex(ctx, out + n, &fin) != 1) {
        fprintf(stderr, "OpenSSL SM4 failed\n");
        exit(1);
    }
    EVP_CIPHER_CTX_free(ctx);
    return n + fin;
}

static BLOCKCIPHERPARAM Param(const BYTE* iv, ULONG ivLen, ULONG padding) {
    BLOCKCIPHERPARAM p;
    memset(&p, 0, sizeof p);
    if (iv) memcpy(p.IV, iv, ivLen);
    p.IVLen = ivLen;
    p.PaddingType = padding;
    return p;
}

/* The standard answer to the device's challenge: 8 random bytes from the device and 8 zero
 * bytes, encrypted with `key` under SM4 ECB on the device itself. */
static void Answer(DEVHANDLE dev, const BYTE key[16], BYTE answer[16]) {
    BYTE block[16] = {0}, expected[16];
    CHECK_RC(SKF_FN(SKF_GenRandom)(dev, block, 8), SAR_OK);
    HANDLE hKey = NULL;
    CHECK_RC(SKF_FN(SKF_SetSymmKey)(dev, (BYTE*)key, SGD_SM4_ECB, &hKey), SAR_OK);
    CHECK_RC(SKF_FN(SKF_EncryptInit)(hKey, Param(NULL, 0, 0)), SAR_OK);
    ULONG len = 16;
    CHECK_RC(SKF_FN(SKF_Encrypt)(hKey, block, 16, answer, &len), SAR_OK);
    CHECK(len == 16);
    CHECK_RC(SKF_FN(SKF_CloseHandle)(hKey), SAR_OK);
    Reference(SGD_SM4_ECB, 1, 0, key, NULL, block, 16, expected);
    CHECK(memcmp(answer, expected, 16) == 0);
}

static ULONG CreateApp(DEVHANDLE dev, const char* name) {
    HAPPLICATION app = NULL;
    ULONG rc = SKF_FN(SKF_CreateApplication)(dev, (LPSTR)name, "70315926", 6, "12345678", 6,
                                          SECURE_ANYONE_ACCOUNT, &app);
    if (rc == SAR_OK) SKF_FN(SKF_CloseApplication)(app);
    return rc;
}

static void TestDevAuth(void) {
    static const BYTE kKey[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                  0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
    static const BYTE kNewKey[16] = "NewAuthKey_16byt";
    static const BYTE kDefault[16] = "1234567812345678";
    BYTE wrong[16] = {0}, answer[16];
    Tool(
        "create --serial DA1 --vid 096e --pid 0309 --dev-auth-key 00112233445566778899aabbccddeeff "
        "--require-dev-auth");
    Tool("plug DA1");
    DEVHANDLE dev = Connect("DA1");

    DEVINFO info;
    CHECK_RC(SKF_FN(SKF_GetDevInfo)(dev, &info), SAR_OK);
    CHECK(info.DevAuthAlgId == SGD_SM4_ECB);
    CHECK((info.AlgSymCap & (SGD_SM4_ECB | SGD_SM4_CBC | SGD_SM4_OFB)) ==
          (SGD_SM4_ECB | SGD_SM4_CBC | SGD_SM4_OFB));

    /* Not yet authenticated: application changes and key changes are refused. */
    CHECK_RC(CreateApp(dev, "SECOND"), SAR_USER_NOT_LOGIN);
    CHECK_RC(SKF_FN(SKF_DeleteApplication)(dev, "DEFAULT_APP"), SAR_USER_NOT_LOGIN);
    CHECK_RC(SKF_FN(SKF_ChangeDevAuthKey)(dev, (BYTE*)kNewKey, 16), SAR_USER_NOT_LOGIN);
    /* No challenge handed out yet, lengths and null data. */
    CHECK_RC(SKF_FN(SKF_DevAuth)(dev, wrong, 16), SAR_NOTINITIALIZEERR);
    CHECK_RC(SKF_FN(SKF_DevAuth)(dev, wrong, 8), SAR_INDATALENERR);
    CHECK_RC(SKF_FN(SKF_DevAuth)(dev, NULL, 16), SAR_INVALIDPARAMERR);

    /* A wrong answer counts down; the right one passes, once. */
    Answer(dev, kDefault, answer);
    CHECK_RC(SKF_FN(SKF_DevAuth)(dev, answer, 16), SAR_PIN_INCORRECT);
    Answer(dev, kKey, answer);
    CHECK_RC(SKF_FN(SKF_DevAuth)(dev, answer, 16), SAR_OK);
    CHECK_RC(SKF_FN(SKF_DevAuth)(dev, answer, 16), SAR_NOTINITIALIZEERR);
    CHECK_RC(CreateApp(dev, "SECOND"), SAR_OK);
    CHECK_RC(SKF_FN(SKF_DeleteApplication)(dev, "SECOND"), SAR_OK);

    /* Change the key: the old one no longer answers, the new one does. */
    CHECK_RC(SKF_FN(SKF_ChangeDevAuthKey)(dev, (BYTE*)kNewKey, 15), SAR_INDATALENERR);
    CHECK_RC(SKF_FN(SKF_ChangeDevAuthKey)(dev, (BYTE*)kNewKey, 16), SAR_OK);
    Answer(dev, kKey, answer);
    CHECK_RC(SKF_FN(SKF_DevAuth)(dev, answer, 16), SAR_PIN_INCORRECT);
    CHECK_RC(CreateApp(dev, "THIRD"), SAR_USER_NOT_LOGIN);
    Answer(dev, kNewKey, answer);
    CHECK_RC(SKF_FN(SKF_DevAuth)(dev, answer, 16), SAR_OK);

    /* Lock-out after the tries are used up (the right answer reset the count), kept by the key. */
    for (int i = 1; i <= 10; ++i) {
        Answer(dev, kKey, answer);
        CHECK_RC(SKF_FN(SKF_DevAuth)(dev, answer, 16), i < 10 ? SAR_PIN_INCORRECT : SAR_PIN_LOCKED);
    }
    CHECK_RC(SKF_FN(SKF_DisConnectDev)(dev), SAR_OK);
    dev = Connect("DA1");
    Answer(dev, kNewKey, answer);
    CHECK_RC(SKF_FN(SKF_DevAuth)(dev, answer, 16), SAR_PIN_LOCKED);
    CHECK_RC(SKF_FN(SKF_DisConnectDev)(dev), SAR_OK);
    CHECK_RC(SKF_FN(SKF_DevAuth)(dev, answer, 16), SAR_INVALIDHANDLEERR);

    /* A key made without options: the default key, applications free to change. */
    Tool("create --serial DA2 --vid 096e --pid 0309");
    Tool("plug DA2");
    dev = Connect("DA2");
    CHECK_RC(CreateApp(dev, "SECOND"), SAR_OK);
    Answer(dev, kDefault, answer);
    CHECK_RC(SKF_FN(SKF_DevAuth)(dev, answer, 16), SAR_OK);
    CHECK_RC(SKF_FN(SKF_DisConnectDev)(dev), SAR_OK);
    CHECK(OpenHandles(kKeyHandles) == 0);
}

static const BYTE kSm4Key[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                 0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};
static const BYTE kIv[16] = {0xa0, 0xa1, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7,
                             0xa8, 0xa9, 0xaa, 0xab, 0xac, 0xad, 0xae, 0xaf};

static void FillData(BYTE* data, size_t len) {
    for (size_t i = 0; i < len; ++i) data[i] = (BYTE)(i * 7 + 3);
}

/* One mode, padding and length: one-shot and multi-part both ways, against OpenSSL. */
static void RoundTrip(DEVHANDLE dev, ULONG alg, ULONG padding, ULONG len) {
    BYTE plain[256], expected[272], cipher[272], back[272];
    FillData(plain, len);
    int refLen = Reference(alg, 1, (int)padding, kSm4Key, kIv, plain, (int)len, expected);
    HANDLE hKey = NULL;
    CHECK_RC(SKF_FN(SKF_SetSymmKey)(dev, (BYTE*)kSm4Key, alg, &hKey), SAR_OK);
    BLOCKCIPHERPARAM param = Param(kIv, 16, padding);

    /* One shot, after a size query and a short buffer (neither disturbs the session). */
    CHECK_RC(SKF_FN(SKF_EncryptInit)(hKey, param), SAR_OK);
    ULONG outLen = 0;
    CHECK_RC(SKF_FN(SKF_Encrypt)(hKey, plain, len, NULL, &outLen), SAR_OK);
    CHECK(outLen == (ULONG)refLen);
    if (refLen > 0) {
        outLen = (ULONG)refLen - 1;
        CHECK_RC(SKF_FN(SKF_Encrypt)(hKey, plain, len, cipher, &outLen), SAR_BUFFER_TOO_SMALL);
        CHECK(outLen == (ULONG)refLen);
    }
    outLen = sizeof cipher;
    CHECK_RC(SKF_FN(SKF_Encrypt)(hKey, plain, len, cipher, &outLen), SAR_OK);
    CHECK(outLen == (ULONG)refLen && memcmp(cipher, expected, outLen) == 0);
    CHECK_RC(SKF_FN(SKF_Encrypt)(hKey, plain, len, cipher, &outLen), SAR_NOTINITIALIZEERR);

    /* In parts of 5, 20 and the rest. */
    CHECK_RC(SKF_FN(SKF_EncryptInit)(hKey, param), SAR_OK);
    ULONG total = 0, cuts[3] = {len < 5 ? len : 5, len < 25 ? len - (len < 5 ? len : 5) : 20, 0};
    cuts[2] = len - cuts[0] - cuts[1];
    ULONG at = 0;
    for (int i = 0; i < 3; ++i) {
        outLen = sizeof cipher - total;
        CHECK_RC(SKF_FN(SKF_EncryptUpdate)(hKey, plain + at, cuts[i], cipher + total, &outLen),
                 SAR_OK);
        total += outLen;
        at += cuts[i];
    }
    outLen = sizeof cipher - total;
    CHECK_RC(SKF_FN(SKF_EncryptFinal)(hKey, cipher + total, &outLen), SAR_OK);
    total += outLen;
    CHECK(total == (ULONG)refLen && memcmp(cipher, expected, total) == 0);

    /* Decryption, one shot and in parts. */
    CHECK_RC(SKF_FN(SKF_DecryptInit)(hKey, param), SAR_OK);
    outLen = sizeof back;
    CHECK_RC(SKF_FN(SKF_Decrypt)(hKey, expected, (ULONG)refLen, back, &outLen), SAR_OK);
    CHECK(outLen == len && memcmp(back, plain, len) == 0);
    CHECK_RC(SKF_FN(SKF_DecryptInit)(hKey, param), SAR_OK);
    total = 0;
    for (ULONG part = 0; part < (ULONG)refLen; part += 7) {
        ULONG n = (ULONG)refLen - part < 7 ? (ULONG)refLen - part : 7;
        outLen = sizeof back - total;
        CHECK_RC(SKF_FN(SKF_DecryptUpdate)(hKey, expected + part, n, back + total, &outLen), SAR_OK);
        total += outLen;
    }
    outLen = sizeof back - total;
    CHECK_RC(SKF_FN(SKF_DecryptFinal)(hKey, back + total, &outLen), SAR_OK);
    total += outLen;
    CHECK(total == len && memcmp(back, plain, len) == 0);
    CHECK_RC(SKF_FN(SKF_CloseHandle)(hKey), SAR_OK);
}

static void TestCipher(void) {
    Tool("create --serial SY1 --vid 096e --pid 0309");
    Tool("plug SY1");
    DEVHANDLE dev = Connect("SY1");
    static const ULONG kModes[] = {SGD_SM4_ECB, SGD_SM4_CBC, SGD_SM4_OFB};
    for (int m = 0; m < 3; ++m) {
        RoundTrip(dev, kModes[m], 0, 64);
        RoundTrip(dev, kModes[m], 1, 64);
        RoundTrip(dev, kModes[m], 1, 37);
        RoundTrip(dev, kModes[m], 1, 0);
    }
    RoundTrip(dev, SGD_SM4_OFB, 0, 37);

    /* Algorithms this key does not offer, and unknown ones. */
    HANDLE hKey = NULL;
    CHECK_RC(SKF_FN(SKF_SetSymmKey)(dev, (BYTE*)kSm4Key, SGD_SM1_ECB, &hKey), SAR_NOTSUPPORTYETERR);
    CHECK_RC(SKF_FN(SKF_SetSymmKey)(dev, (BYTE*)kSm4Key, SGD_SSF33_ECB, &hKey), SAR_NOTSUPPORTYETERR);
    CHECK_RC(SKF_FN(SKF_SetSymmKey)(dev, (BYTE*)kSm4Key, 0x12345, &hKey), SAR_INVALIDPARAMERR);
    CHECK_RC(SKF_FN(SKF_SetSymmKey)(dev, NULL, SGD_SM4_ECB, &hKey), SAR_INVALIDPARAMERR);

    /* Parameters: IV length, padding type, feedback length, unpadded partial blocks. */
    CHECK_RC(SKF_FN(SKF_SetSymmKey)(dev, (BYTE*)kSm4Key, SGD_SM4_CBC, &hKey), SAR_OK);
    BYTE data[48], out[64];
    FillData(data, sizeof data);
    ULONG outLen = sizeof out;
    CHECK_RC(SKF_FN(SKF_Encrypt)(hKey, data, 16, out, &outLen), SAR_NOTINITIALIZEERR);
    CHECK_RC(SKF_FN(SKF_EncryptInit)(hKey, Param(kIv, 8, 0)), SAR_INVALIDPARAMERR);
    CHECK_RC(SKF_FN(SKF_EncryptInit)(hKey, Param(kIv, 16, 2)), SAR_INVALIDPARAMERR);
    CHECK_RC(SKF_FN(SKF_EncryptInit)(hKey, Param(kIv, 16, 0)), SAR_OK);
    CHECK_RC(SKF_FN(SKF_Encrypt)(hKey, data, 15, out, &outLen), SAR_INDATALENERR);
    CHECK_RC(SKF_FN(SKF_Encrypt)(hKey, NULL, 16, out, &outLen), SAR_INVALIDPARAMERR);
    CHECK_RC(SKF_FN(SKF_Encrypt)(hKey, data, 16, out, NULL), SAR_INVALIDPARAMERR);
    CHECK_RC(SKF_FN(SKF_EncryptUpdate)(hKey, data, 15, out, &outLen), SAR_OK);
    CHECK(outLen == 0);
    CHECK_RC(SKF_FN(SKF_EncryptFinal)(hKey, out, &outLen), SAR_INDATALENERR);
    CHECK_RC(SKF_FN(SKF_DecryptUpdate)(hKey, data, 16, out, &outLen), SAR_NOTINITIALIZEERR);
    /* A block whose plain text ends in 0 has no valid padding. */
    BYTE zeros[16] = {0}, block[16];
    CHECK_RC(SKF_FN(SKF_EncryptInit)(hKey, Param(kIv, 16, 0)), SAR_OK);
    outLen = sizeof block;
    CHECK_RC(SKF_FN(SKF_Encrypt)(hKey, zeros, 16, block, &outLen), SAR_OK);
    CHECK_RC(SKF_FN(SKF_DecryptInit)(hKey, Param(kIv, 16, 1)), SAR_OK);
    outLen = sizeof out;
    CHECK_RC(SKF_FN(SKF_Decrypt)(hKey, block, 16, out, &outLen), SAR_DECRYPTPADERR);
    CHECK_RC(SKF_FN(SKF_Decrypt)(hKey, block, 15, out, &outLen), SAR_INDATALENERR);
    CHECK_RC(SKF_FN(SKF_CloseHandle)(hKey), SAR_OK);
    CHECK_RC(SKF_FN(SKF_SetSymmKey)(dev, (BYTE*)kSm4Key, SGD_SM4_OFB, &hKey), SAR_OK);
    BLOCKCIPHERPARAM feedback = Param(kIv, 16, 0);
    feedback.FeedBitLen = 64;
    CHECK_RC(SKF_FN(SKF_EncryptInit)(hKey, feedback), SAR_INVALIDPARAMERR);
    feedback.FeedBitLen = 128;
    CHECK_RC(SKF_FN(SKF_EncryptInit)(hKey, feedback), SAR_OK);
    CHECK(OpenHandles(kKeyHandles) == 1);
    CHECK_RC(SKF_FN(SKF_CloseHandle)(hKey), SAR_OK);

    /* A closed key handle is dead. */
    outLen = sizeof out;
    CHECK_RC(SKF_FN(SKF_EncryptInit)(hKey, feedback), SAR_INVALIDHANDLEERR);
    CHECK_RC(SKF_FN(SKF_Encrypt)(hKey, data, 16, out, &outLen), SAR_INVALIDHANDLEERR);
    CHECK_RC(SKF_FN(SKF_DecryptFinal)(hKey, out, &outLen), SAR_INVALIDHANDLEERR);
    CHECK_RC(SKF_FN(SKF_CloseHandle)(hKey), SAR_INVALIDHANDLEERR);
    CHECK_RC(SKF_FN(SKF_EncryptInit)(dev, feedback), SAR_INVALIDHANDLEERR);

    /* A key handle of an unplugged key answers that the device is gone. */
    CHECK_RC(SKF_FN(SKF_SetSymmKey)(dev, (BYTE*)kSm4Key, SGD_SM4_ECB, &hKey), SAR_OK);
    Tool("unplug SY1");
    CHECK_RC(SKF_FN(SKF_EncryptInit)(hKey, Param(NULL, 0, 0)), SAR_DEVICE_REMOVED);
    CHECK_RC(SKF_FN(SKF_CloseHandle)(hKey), SAR_OK);
    CHECK_RC(SKF_FN(SKF_DisConnectDev)(dev), SAR_OK);
    CHECK(OpenHandles(kKeyHandles) == 0);
}

/* CBC-MAC reference: the last block of OpenSSL's SM4 CBC encryption. */
static void ReferenceMac(int pad, const BYTE* data, int len, BYTE mac[16]) {
    BYTE cipher[300];
    int n = Reference(SGD_SM4_CBC, 1, pad, kSm4Key, kIv, data, len, cipher);
    memcpy(mac, cipher + n - 16, 16);
}

static void CheckMac(HANDLE hKey, ULONG padding, ULONG len) {
    BYTE data[200], expected[16], mac[16];
    FillData(data, len);
    ReferenceMac((int)padding, data, (int)len, expected);
    BLOCKCIPHERPARAM param = Param(kIv, 16, padding);
    HANDLE hMac = NULL;
    CHECK_RC(SKF_FN(SKF_MacInit)(hKey, &param, &hMac), SAR_OK);
    ULONG macLen = 0;
    CHECK_RC(SKF_FN(SKF_Mac)(hMac, data, len, NULL, &macLen), SAR_OK);
    CHECK(macLen == 16);
    macLen = 8;
    CHECK_RC(SKF_FN(SKF_Mac)(hMac, data, len, mac, &macLen), SAR_BUFFER_TOO_SMALL);
    macLen = sizeof mac;
    CHECK_RC(SKF_FN(SKF_Mac)(hMac, data, len, mac, &macLen), SAR_OK);
    CHECK(macLen == 16 && memcmp(mac, expected, 16) == 0);
    CHECK_RC(SKF_FN(SKF_MacUpdate)(hMac, data, len), SAR_NOTINITIALIZEERR);
    CHECK_RC(SKF_FN(SKF_CloseHandle)(hMac), SAR_OK);

    CHECK_RC(SKF_FN(SKF_MacInit)(hKey, &param, &hMac), SAR_OK);
    for (ULONG at = 0; at < len; at += 11)
        CHECK_RC(SKF_FN(SKF_MacUpdate)(hMac, data + at, len - at < 11 ? len - at : 11), SAR_OK);
    macLen = sizeof mac;
    CHECK_RC(SKF_FN(SKF_MacFinal)(hMac, mac, &macLen), SAR_OK);
    CHECK(macLen == 16 && memcmp(mac, expected, 16) == 0);
    CHECK_RC(SKF_FN(SKF_CloseHandle)(hMac), SAR_OK);
}

static void TestMac(void) {
    Tool("create --serial MC1 --vid 096e --pid 0309");
    Tool("plug MC1");
    DEVHANDLE dev = Connect("MC1");
    HANDLE hKey = NULL, hMac = NULL;
    CHECK_RC(SKF_FN(SKF_SetSymmKey)(dev, (BYTE*)kSm4Key, SGD_SM4_MAC, &hKey), SAR_OK);
    CheckMac(hKey, 0, 16);
    CheckMac(hKey, 0, 160);
    CheckMac(hKey, 1, 37);
    CheckMac(hKey, 1, 0);

    /* A MAC key encrypts nothing; bad parameters; unpadded partial blocks. */
    CHECK_RC(SKF_FN(SKF_EncryptInit)(hKey, Param(kIv, 16, 0)), SAR_KEYUSAGEERR);
    BLOCKCIPHERPARAM param = Param(kIv, 16, 0);
    CHECK_RC(SKF_FN(SKF_MacInit)(hKey, NULL, &hMac), SAR_INVALIDPARAMERR);
    param.IVLen = 40;
    CHECK_RC(SKF_FN(SKF_MacInit)(hKey, &param, &hMac), SAR_INVALIDPARAMERR);
    param.IVLen = 16;
    CHECK_RC(SKF_FN(SKF_MacInit)(hKey, &param, &hMac), SAR_OK);
    CHECK(OpenHandles(kMacHandles) == 1);
    BYTE data[15] = {0}, mac[16];
    ULONG macLen = sizeof mac;
    CHECK_RC(SKF_FN(SKF_MacUpdate)(hMac, data, sizeof data), SAR_OK);
    CHECK_RC(SKF_FN(SKF_MacFinal)(hMac, mac, &macLen), SAR_INDATALENERR);
    CHECK_RC(SKF_FN(SKF_MacUpdate)(hMac, NULL, 4), SAR_INVALIDPARAMERR);
    CHECK_RC(SKF_FN(SKF_MacUpdate)(hKey, data, 1), SAR_INVALIDHANDLEERR);

    /* The MAC handle outlives its key handle; closed, it is dead. */
    CHECK_RC(SKF_FN(SKF_CloseHandle)(hKey), SAR_OK);
    CHECK_RC(SKF_FN(SKF_MacUpdate)(hMac, data, 1), SAR_OK);
    macLen = sizeof mac;
    CHECK_RC(SKF_FN(SKF_MacFinal)(hMac, mac, &macLen), SAR_OK);
    CHECK_RC(SKF_FN(SKF_CloseHandle)(hMac), SAR_OK);
    CHECK_RC(SKF_FN(SKF_MacUpdate)(hMac, data, 1), SAR_INVALIDHANDLEERR);
    CHECK_RC(SKF_FN(SKF_MacInit)(hKey, &param, &hMac), SAR_INVALIDHANDLEERR);
    CHECK_RC(SKF_FN(SKF_DisConnectDev)(dev), SAR_OK);
    CHECK(OpenHandles(kKeyHandles) == 0 && OpenHandles(kMacHandles) == 0);
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: skf_conformance devauth|cipher|mac\n");
        return 2;
    }
    ClientMakeStore(SOFTKEY_CLI);
    ClientLoad(SOFTKEY_LIBRARY);
    if (strcmp(argv[1], "devauth") == 0)
        TestDevAuth();
    else if (strcmp(argv[1], "cipher") == 0)
        TestCipher();
    else if (strcmp(argv[1], "mac") == 0)
        TestMac();
    else
        return 2;
    CHECK(OpenHandles(1) == 0);
    ClientFinish();
    if (g_failures) fprintf(stderr, "%d checks failed\n", g_failures);
    return g_failures ? 1 : 0;
}
