// The log file: configuration, record layout, shutdown and one-time setup.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <regex>
#include <thread>
#include <vector>

#include "api/log.h"
#include "test_support.h"
#include "tessal/logger.h"

namespace {

// Each test runs in a process of its own, so every test sets up its own log file.
std::string UseFreshLogFile() {
    std::string path = test_support::MakeTempDir("tessal-log-") + "/ZYKUKeyDriver.log";
    setenv("TESSAL_LOG_FILE", path.c_str(), 1);
    return path;
}

size_t CountOf(const std::string& haystack, const std::string& needle) {
    size_t n = 0;
    for (size_t p = haystack.find(needle); p != std::string::npos; p = haystack.find(needle, p + 1))
        ++n;
    return n;
}

TEST(Logger, RecordsHaveTheFixedLayout) {
    std::string path = UseFreshLogFile();
    ZYKWriteLog("hello");
    QLogger::GetInstance().Trace("x");
    QLogger::GetInstance().Error("broken 错误");
    std::string log = test_support::ReadFile(path);

    std::regex line(R"(\[\d\d/\d\d/\d\d \d\d:\d\d:\d\d,\d+(\.\d+)?\] \[[^\]]+\] DEBUG - hello\n)");
    EXPECT_TRUE(std::regex_search(log, line)) << log;
    EXPECT_NE(log.find("] TRACE - x\n"), std::string::npos) << log;
    EXPECT_NE(log.find("] ERROR - broken 错误\n"), std::string::npos) << log;
    EXPECT_EQ(CountOf(log, "\n"), 3u);
}

TEST(Logger, LevelsAndTheMacroFormAllReachTheFile) {
    std::string path = UseFreshLogFile();
    QLogger& log = QLogger::GetInstance();
    log.Debug("d");
    log.Info("i");
    log.Warn("w");
    log.Fatal("f");
    TLOG_DEBUG("macro " << 42);
    {
        TLOG_TRACE_METHOD("Widget::Run");
    }
    std::string text = test_support::ReadFile(path);
    for (const char* expected : {"] DEBUG - d\n", "] INFO  - i\n", "] WARN  - w\n",
                                 "] FATAL - f\n", "] DEBUG - macro 42\n",
                                 "] TRACE - ENTER: Widget::Run\n", "] TRACE - EXIT:  Widget::Run\n"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
}

TEST(Logger, CloseThreadPoolStopsFurtherRecords) {
    std::string path = UseFreshLogFile();
    ZYKWriteLog("before");
    QLogger::GetInstance().closeThreadPool();
    ZYKWriteLog("after");
    QLogger::GetInstance().Error("after too");
    TLOG_DEBUG("after macro");
    QLogger::GetInstance().closeThreadPool();  // a second shutdown is harmless
    std::string text = test_support::ReadFile(path);
    EXPECT_NE(text.find("DEBUG - before\n"), std::string::npos);
    EXPECT_EQ(text.find("after"), std::string::npos) << text;
}

TEST(Logger, ConcurrentFirstUseConfiguresOnce) {
    std::string path = UseFreshLogFile();
    std::vector<QLogger*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&seen, i] { seen[i] = &QLogger::GetInstance(); });
    for (auto& t : threads) t.join();
    for (QLogger* p : seen) EXPECT_EQ(p, seen[0]);
    ZYKWriteLog("only once");
    EXPECT_EQ(CountOf(test_support::ReadFile(path), "only once"), 1u);
}

TEST(Logger, MissingDirectoryLosesRecordsSilentlyAndCreatesNothing) {
    std::string dir = test_support::MakeTempDir("tessal-log-") + "/absent";
    setenv("TESSAL_LOG_FILE", (dir + "/ZYKUKeyDriver.log").c_str(), 1);
    testing::internal::CaptureStderr();
    ZYKWriteLog("lost");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_NE(access(dir.c_str(), F_OK), 0);
}

TEST(Logger, RollsOverWithThreeBackups) {
    std::string path = UseFreshLogFile();
    std::string chunk(400, 'r');
    // log4cplus raises the small configured size to its own minimum of 200 KiB.
    for (int i = 0; i < 2400; ++i) ZYKWriteLog(chunk);
    for (const char* suffix : {".1", ".2", ".3"})
        EXPECT_EQ(access((path + suffix).c_str(), F_OK), 0) << suffix;
    EXPECT_NE(access((path + ".4").c_str(), F_OK), 0);
}

}  // namespace
