// Results, the message catalogue and the last-error text.
#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "api/error_catalogue.h"
#include "api/failure.h"
#include "api/last_error.h"
#include "tessal/result.h"

namespace {

std::string MessageFor(int code) {
    CResult r;
    r = code;
    return r.GetErrorMsg();
}

TEST(ErrorCatalogue, HoldsBothRangesWithUniqueCodes) {
    std::set<int> codes;
    int library = 0, skf = 0, u8 = 0;
    for (int i = 0; i < kErrorMsgCount; ++i) {
        const ErrorMsg_st& row = ErrorCatalogue()[i];
        EXPECT_TRUE(codes.insert(row.errorCode).second) << row.errorCode;
        if (row.errorCode >= 0 && row.errorCode <= 144) ++library;
        bool inSkf = (row.errorCode >= 0x0A000001 && row.errorCode <= 0x0A000032) ||
                     (row.errorCode >= 0x0A100005 && row.errorCode <= 0x0A100018);
        if (inSkf) ++skf;
        const std::string& m = row.errorMsg;
        if (m.size() >= 2 && m.compare(m.size() - 2, 2, "u8") == 0) ++u8;
    }
    EXPECT_EQ(library, 138);
    EXPECT_EQ(skf, 69);
    EXPECT_EQ(u8, 27);
    for (int missing : {31, 45, 46, 47, 48, 49, 61, 0x0A10000E})
        EXPECT_EQ(codes.count(missing), 0u) << missing;
}

TEST(ErrorCatalogue, MessagesAndFallback) {
    EXPECT_EQ(MessageFor(0), "成功");
    EXPECT_EQ(MessageFor(5), "枚举设备失败");
    EXPECT_EQ(MessageFor(144), "签名不包含受信任的时间戳，时间来源于客户端u8");
    EXPECT_EQ(MessageFor(0x0A000024), "PIN不正确");
    EXPECT_EQ(MessageFor(0x0A00002D), "用户没有登录u8");
    EXPECT_EQ(MessageFor(0x0A100018), "出现可导致程序崩溃的异常，且已经捕获");
    EXPECT_EQ(MessageFor(31), "未定义的错误，错误码:31");
    EXPECT_EQ(MessageFor(-7), "未定义的错误，错误码:-7");
    EXPECT_EQ(MessageFor(0x0A10000E), "未定义的错误，错误码:168820750");
}

TEST(CResultValue, DefaultsCustomMessagesAndAssignment) {
    CResult r;
    EXPECT_EQ(r.ErrorCode(), 0);
    EXPECT_EQ(r.GetErrorMsg(), "成功");
    EXPECT_EQ(r.GetErrorLocation(), "");
    EXPECT_TRUE(r == 0);

    r.SetCustomizedMessage("abc");
    EXPECT_EQ(r.ErrorCode(), 999);
    EXPECT_EQ(r.GetErrorMsg(), "abc");
    r = 5;
    EXPECT_EQ(r.GetErrorMsg(), "枚举设备失败");
    EXPECT_TRUE(r != 0);

    r.SetErrorLocation("a.cpp", "A::B", 12);
    EXPECT_EQ(r.GetErrorLocation(), "[FileName]:a.cpp\r\n[functionName]:A::B\r\n[Line]:12\r\n");
    r = 6;
    EXPECT_EQ(r.GetErrorLocation(), "[FileName]:a.cpp\r\n[functionName]:A::B\r\n[Line]:12\r\n");
    r.SetErrorLocation("b.cpp", "C::D", 3);
    EXPECT_EQ(r.GetErrorLocation(), "[FileName]:b.cpp\r\n[functionName]:C::D\r\n[Line]:3\r\n");

    CResult copy(r);
    CResult other;
    other = copy;
    EXPECT_EQ(other.ErrorCode(), 6);
    EXPECT_EQ(other.GetErrorLocation(), r.GetErrorLocation());
    other = other;  // self-assignment keeps both texts
    EXPECT_EQ(other.GetErrorLocation(), r.GetErrorLocation());
}

TEST(CResultValue, CallerTableIsUsedAndEmptyTableFallsBack) {
    ErrorMsg_st rows[] = {{0, "fine"}, {7, "seven"}};
    CResult own(rows, 2);
    EXPECT_EQ(own.GetErrorMsg(), "fine");
    own = 7;
    EXPECT_EQ(own.GetErrorMsg(), "seven");
    own = 5;
    EXPECT_EQ(own.GetErrorMsg(), "未定义的错误，错误码:5");

    CResult none(rows, 0);
    EXPECT_EQ(none.GetErrorMsg(), "未定义的错误，错误码:0");
    none.SetCustomizedMessage("x");
    EXPECT_EQ(none.GetErrorMsg(), "x");
    CResult negative(rows, -3);
    EXPECT_EQ(negative.GetErrorMsg(), "未定义的错误，错误码:0");
}

TEST(CResultValue, PrintWritesTheErrorBlock) {
    const std::string top =
        "*************************************ERROR*************************************\r\n";
    const std::string end =
        "**************************************END**************************************\r\n";
    CResult r;
    r = 20;
    testing::internal::CaptureStdout();
    r.Print("Caller");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              top + "[Printf Function]:Caller\r\n[ErrorCode]:20\r\n[ErrorMsg]:密码不正确\r\n" + end);

    r.SetErrorLocation("f.cpp", "X::Y", 9);
    testing::internal::CaptureStdout();
    r.Print("C");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              top + "[Printf Function]:C\r\n[ErrorCode]:20\r\n[ErrorMsg]:密码不正确\r\n" +
                  "[FileName]:f.cpp\r\n[functionName]:X::Y\r\n[Line]:9\r\n" + end);
}

TEST(LastError, StartsAsErrorAndKeepsTheLastFailure) {
    EXPECT_EQ(ZYKGetLastError(), "Error");
    CResult failed;
    TESSAL_FAIL(failed, 20, "Test::Fail");
    EXPECT_EQ(failed.ErrorCode(), 20);
    EXPECT_NE(failed.GetErrorLocation().find("[functionName]:Test::Fail\r\n"), std::string::npos);
    EXPECT_EQ(ZYKGetLastError(), "密码不正确");

    CResult ok;  // a success reports nothing
    EXPECT_EQ(ZYKGetLastError(), "密码不正确");

    CResult custom;
    TESSAL_FAIL_MSG(custom, "自定义", "Test::Custom");
    EXPECT_EQ(custom.ErrorCode(), 999);
    EXPECT_EQ(ZYKGetLastError(), "自定义");
}

TEST(LastError, ConcurrentWritersAndReadersSeeWholeMessages) {
    const std::string a(200, 'a');
    const std::string b(3000, 'b');
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) SetLastErrorMessage(t % 2 ? a : b);
        });
    }
    bool torn = false;
    for (int i = 0; i < 2000; ++i) {
        std::string seen = ZYKGetLastError();
        if (seen != a && seen != b && seen != "Error") torn = true;
    }
    for (auto& th : threads) th.join();
    EXPECT_FALSE(torn);
}

}  // namespace
