// Device authentication state in the store: records written before it existed keep loading
// with the defaults, and its fields survive a round trip or are refused when damaged.
#include <openssl/evp.h>

#include <cstring>

#include "core/fs_util.h"
#include "softkey_fixture.h"

using namespace softkey_test;

namespace {

// The answer to the device's challenge with `key`, computed off the key as a client would.
void AnswerWith(SkfLibrary& lib, DEVHANDLE dev, const char* key, BYTE answer[16]) {
    BYTE block[16] = {};
    ASSERT_EQ(SKF(lib, SKF_GenRandom)(dev, block, 8), SAR_OK);
    softkey::Bytes out;
    ASSERT_TRUE(softkey::Sm4EcbEncrypt(reinterpret_cast<const uint8_t*>(key), block, 16, out));
    std::memcpy(answer, out.data(), 16);
}

}  // namespace

TEST_F(SoftkeyTest, KeysStoredWithoutDeviceAuthenticationGetTheDefaults) {
    AddKey("OLD1");  // a record as earlier versions wrote it: no device authentication member
    std::string text;
    ASSERT_TRUE(softkey::ReadWholeFile(m_store->TokenPath("OLD1"), text));
    EXPECT_EQ(text.find("devAuth"), std::string::npos);
    EXPECT_FALSE(m_store->Load("OLD1").devAuth.has_value());

    SkfLibrary& lib = Lib();
    DEVHANDLE dev = nullptr;
    ASSERT_EQ(SKF(lib, SKF_ConnectDev)(const_cast<char*>("OLD1"), &dev), SAR_OK);
    DEVINFO info;
    ASSERT_EQ(SKF(lib, SKF_GetDevInfo)(dev, &info), SAR_OK);
    ULONG algId = info.DevAuthAlgId;  // a field of a packed structure
    EXPECT_EQ(algId, static_cast<ULONG>(SGD_SM4_ECB));
    BYTE answer[16];
    AnswerWith(lib, dev, "1234567812345678", answer);
    EXPECT_EQ(SKF(lib, SKF_DevAuth)(dev, answer, 16), SAR_OK);
    // A wrong answer is the first change the record gets; it still loads afterwards.
    AnswerWith(lib, dev, "8765432187654321", answer);
    EXPECT_EQ(SKF(lib, SKF_DevAuth)(dev, answer, 16), SAR_PIN_INCORRECT);
    softkey::Token t = m_store->Load("OLD1");
    ASSERT_TRUE(t.devAuth.has_value());
    EXPECT_EQ(t.devAuth->remain, t.devAuth->maxRetry - 1);
    EXPECT_TRUE(t.devAuth->sealedKey.empty());
    EXPECT_FALSE(t.devAuth->required);
    EXPECT_EQ(SKF(lib, SKF_DisConnectDev)(dev), SAR_OK);
}

TEST_F(SoftkeyTest, DeviceAuthenticationFieldsRoundTripAndDamageIsRefused) {
    softkey::Token t;
    t.serial = "DA9";
    softkey::DevAuth d;
    d.sealedKey = {1, 2, 3, 4};
    d.maxRetry = 7;
    d.remain = 3;
    d.required = true;
    t.devAuth = d;
    std::string record = softkey::EncodeTokenFile(t, "tag");
    softkey::Token back = softkey::DecodeToken(record).token;
    ASSERT_TRUE(back.devAuth.has_value());
    EXPECT_EQ(back.devAuth->sealedKey, d.sealedKey);
    EXPECT_EQ(back.devAuth->maxRetry, 7u);
    EXPECT_EQ(back.devAuth->remain, 3u);
    EXPECT_TRUE(back.devAuth->required);
    EXPECT_EQ(softkey::EncodeTokenFile(back, "tag"), record);

    auto damaged = [&](const std::string& from, const std::string& to) {
        std::string text = record;
        size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
        EXPECT_THROW(softkey::DecodeToken(text), std::runtime_error) << to;
    };
    damaged("\"remain\":3,\"required\"", "\"remain\":8,\"required\"");
    damaged("\"max\":7,\"remain\":3", "\"max\":0,\"remain\":0");
    damaged("\"required\":true", "\"required\":1");
    damaged(",\"required\":true", "");
    damaged("\"key\":\"AQIDBA==\"", "\"key\":\"@@\"");
}
