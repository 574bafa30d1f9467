// Application credentials and the signed header lines of gateway and mobile seal requests.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "cloud/cloud_hosts.h"
#include "tessal/http.h"

namespace {

struct Pair {
    std::string key, secret;
};

// The credentials file the library was built with, read the way a deployer writes it.
std::map<std::string, Pair> CredentialsFile() {
    std::ifstream in(TESSAL_APP_CREDENTIALS_FILE);
    std::map<std::string, Pair> pairs;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string set, number;
        Pair pair;
        fields >> set >> number >> pair.key >> pair.secret;
        pairs[set + number] = pair;
    }
    return pairs;
}

std::string OpenSslHmacHex(const std::string& secret, const std::string& message) {
    unsigned char mac[32];
    unsigned int length = 0;
    HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
         reinterpret_cast<const unsigned char*>(message.data()), message.size(), mac, &length);
    char hex[65];
    for (unsigned int i = 0; i < length; ++i) std::snprintf(hex + 2 * i, 3, "%02x", mac[i]);
    return std::string(hex, 2 * length);
}

// The value after `prefix`, checking that the line starts with it.
std::string ValueAfter(const std::string& line, const std::string& prefix) {
    EXPECT_EQ(line.compare(0, prefix.size(), prefix), 0) << line;
    return line.substr(prefix.size());
}

// Checks the four lines and returns the nonce; `separator` is "" (gateway) or " " (mobile).
std::string CheckHeaders(const std::vector<std::string>& headers, const Pair& pair, const std::string& separator) {
    EXPECT_EQ(headers.size(), 4u);
    if (headers.size() != 4) return "";
    EXPECT_EQ(headers[0], "Content-Type: application/json");
    EXPECT_EQ(headers[1], "x-zyk-app-key:" + separator + pair.key);
    std::string nonce = ValueAfter(headers[2], "x-zyk-app-nonce:" + separator);
    EXPECT_TRUE(std::regex_match(nonce, std::regex("0|[1-9a-f][0-9a-f]{0,7}"))) << nonce;
    std::string sign = ValueAfter(headers[3], "x-zyk-app-sign:" + separator);
    EXPECT_EQ(sign.size(), 64u);
    EXPECT_EQ(sign, OpenSslHmacHex(pair.secret, nonce));
    return nonce;
}

long long Ticks() {
    auto since1970 = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(since1970).count() / 100;
}

TEST(AppCredentials, TheBuiltFileHoldsSevenDistinctWellFormedPairs) {
    auto pairs = CredentialsFile();
    ASSERT_EQ(pairs.size(), 7u);
    std::set<std::string> keys, secrets;
    for (const auto& p : pairs) {
        EXPECT_TRUE(std::regex_match(p.second.key, std::regex("[A-Za-z0-9]{10}"))) << p.first;
        EXPECT_TRUE(std::regex_match(p.second.secret, std::regex("[A-Za-z0-9]{30}"))) << p.first;
        keys.insert(p.second.key);
        secrets.insert(p.second.secret);
    }
    EXPECT_EQ(keys.size(), 7u);
    EXPECT_EQ(secrets.size(), 7u);
}

TEST(AppCredentials, GatewayPairFollowsTheEnvironmentSuffix) {
    auto pairs = CredentialsFile();
    const std::pair<const char*, const char*> table[] = {
        {"com", "gateway1"}, {"me", "gateway2"},  {"cn", "gateway3"},   {"com.cn", "gateway1"},
        {"cncom", "gateway1"}, {"", "gateway1"},  {"test", "gateway1"}, {"net", "gateway1"},
        {"mecn", "gateway2"},  {"COM", "gateway1"}, {"CN", "gateway1"}, {"xcnx", "gateway3"},
    };
    for (const auto& row : table) {
        CHttpClient::m_url = row.first;
        EXPECT_EQ(CHttpClient::getGWKey(), pairs[row.second].key) << row.first;
        EXPECT_EQ(CHttpClient::getGWSecert(), pairs[row.second].secret) << row.first;
        CheckHeaders(CHttpClient::getGWHeadInfo(), pairs[row.second], "");
    }
}

TEST(AppCredentials, MobilePairFollowsTheWholeMobileUrl) {
    auto pairs = CredentialsFile();
    std::string defaultUrl = CHttpClient::m_mobileUrl;
    EXPECT_EQ(defaultUrl, cloud::GatewayPrefix() + "com/app/cert/mobileSeal");
    const std::pair<std::string, const char*> table[] = {
        {defaultUrl, "mobile4"},
        {cloud::GatewayPrefix() + "cn/app/cert/mobileSeal", "mobile3"},
        {cloud::GatewayPrefix() + "me/app/cert/mobileSeal", "mobile2"},
        {cloud::GatewayPrefix() + "net/app/cert/mobileSeal", "mobile1"},
        {"https://seal.example.cn/x.net", "mobile1"},
        {"https://home.example.cn/", "mobile2"},
        {"", "mobile4"},
    };
    for (const auto& row : table) {
        CHttpClient::m_mobileUrl = row.first;
        EXPECT_EQ(CHttpClient::getMobileKey(), pairs[row.second].key) << row.first;
        EXPECT_EQ(CHttpClient::getMobileSecert(), pairs[row.second].secret) << row.first;
        CheckHeaders(CHttpClient::getMobileHeadInfo(), pairs[row.second], " ");
    }
}

TEST(AppCredentials, TheNonceIsTheFirstDrawOfAGeneratorSeededWithTheClock) {
    CHttpClient::m_url = "com";
    auto pairs = CredentialsFile();
    for (int i = 0; i < 20; ++i) {
        long long before = Ticks();
        std::string nonce = CheckHeaders(CHttpClient::getGWHeadInfo(), pairs["gateway1"], "");
        long long after = Ticks();
        bool found = false;
        for (long long t = before; t <= after && !found; ++t) {
            std::mt19937 generator(static_cast<uint32_t>(t));
            char expected[16];
            std::snprintf(expected, sizeof expected, "%x", static_cast<unsigned>(generator()));
            found = nonce == expected;
        }
        EXPECT_TRUE(found) << nonce << " is no first draw of a seed between " << before << " and " << after;
    }
}

TEST(AppCredentials, HeadersBuiltOnEightThreadsAtOnceAllVerify) {
    CHttpClient::m_url = "cn";
    CHttpClient::m_mobileUrl = cloud::GatewayPrefix() + "cn/app/cert/mobileSeal";
    auto pairs = CredentialsFile();
    std::vector<std::thread> threads;
    std::vector<std::vector<std::vector<std::string>>> built(8);
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t, &built] {
            for (int i = 0; i < 300; ++i) {
                built[t].push_back(CHttpClient::getMobileHeadInfo());
                built[t].push_back(CHttpClient::getGWHeadInfo());
            }
        });
    for (auto& thread : threads) thread.join();
    for (const auto& lists : built)
        for (size_t i = 0; i < lists.size(); i += 2) {
            CheckHeaders(lists[i], pairs["mobile3"], " ");
            CheckHeaders(lists[i + 1], pairs["gateway3"], "");
        }
}

}  // namespace
