// The log file: configuration, record layout, shutdown and one-time setup.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <thread>
#include <vector>

#include <log4cplus/helpers/timehelper.h>
#include <log4cplus/layout.h>
#include <log4cplus/spi/loggingevent.h>

#include <sstream>

#include "api/log.h"
#include "api/record_layout.h"
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

// The records laid out directly are those of log4cplus's PatternLayout with the same pattern:
// every level, second and microsecond edges, a second revisited after another (the cached date
// text), text with line ends and non-ASCII characters, and several threads at once.
TEST(Logger, DirectLayoutIsByteForByteLog4cplusPatternLayout) {
    log4cplus::initialize();
    RecordLayout ours;
    log4cplus::PatternLayout reference(kRecordPattern);
    using log4cplus::helpers::time_from_parts;
    const log4cplus::helpers::Time times[] = {
        time_from_parts(1765400000, 0),      time_from_parts(1765400000, 999999), time_from_parts(1765400001, 1),
        time_from_parts(1765400000, 5070),   time_from_parts(946684799, 123456),  time_from_parts(1893456000, 100000)};
    const int levels[] = {log4cplus::TRACE_LOG_LEVEL, log4cplus::DEBUG_LOG_LEVEL, log4cplus::INFO_LOG_LEVEL,
                          log4cplus::WARN_LOG_LEVEL,  log4cplus::ERROR_LOG_LEVEL, log4cplus::FATAL_LOG_LEVEL};
    const std::string messages[] = {"", "start SKF_RSASignData", "signed data length:256", "两行\n错误 text"};
    auto compare = [&](const std::string& thread) {
        int compared = 0;
        for (const auto& time : times)
            for (int level : levels)
                for (const std::string& message : messages) {
                    log4cplus::spi::InternalLoggingEvent event("ZYK", level, "", log4cplus::MappedDiagnosticContextMap(),
                                                               message, thread, thread, time, __FILE__, __LINE__);
                    std::ostringstream expected, written;
                    reference.formatAndAppend(expected, event);
                    ours.formatAndAppend(written, event);
                    EXPECT_EQ(written.str(), expected.str());
                    std::string appended = "kept ";
                    ours.AppendTo(appended, event);
                    EXPECT_EQ(appended, "kept " + expected.str());
                    ++compared;
                }
        return compared;
    };
    EXPECT_EQ(compare("140245378713408"), 144);
    std::vector<std::thread> threads;
    std::vector<int> counts(3);
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&, t] { counts[t] = compare("thread " + std::to_string(t)); });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(counts, (std::vector<int>{144, 144, 144}));
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


constexpr size_t kRollingSize = 200 * 1024;  // log4cplus's minimum, which the configured size is raised to

std::string Numbered(int i) {
    char text[16];
    std::snprintf(text, sizeof text, "%06d", i);
    return std::string("record ") + text + " " + std::string(300, 'n');
}

TEST(Logger, RollsAtItsSizeAndLosesNoRecordOfTheFourFiles) {
    std::string path = UseFreshLogFile();
    // A file left by an earlier process, just under the size: it rolls after the record that
    // takes it past its size.
    std::string earlier(kRollingSize - 1000, 'e');
    earlier += "\n";
    { std::ofstream(path, std::ios::binary) << earlier; }
    const int count = 1500;  // about 520 KiB: with the earlier file, the current one and three backups hold them all
    for (int i = 0; i < count; ++i) ZYKWriteLog(Numbered(i));

    std::string all;
    for (const char* suffix : {".3", ".2", ".1", ""}) {
        std::string file = test_support::ReadFile(path + suffix);
        size_t lineEnd = file.rfind('\n', file.size() - 2);
        size_t lastRecord = file.size() - (lineEnd == std::string::npos ? 0 : lineEnd + 1);
        if (*suffix) {  // past its size by no more than its last record
            EXPECT_GT(file.size(), kRollingSize) << suffix;
            EXPECT_LE(file.size() - lastRecord, kRollingSize) << suffix;
        }
        all += file;
    }
    EXPECT_EQ(all.compare(0, earlier.size(), earlier), 0);
    size_t at = earlier.size();
    for (int i = 0; i < count; ++i) {
        std::string expected = "DEBUG - " + Numbered(i) + "\n";
        size_t found = all.find(expected, at);
        ASSERT_NE(found, std::string::npos) << "record " << i << " is missing";
        at = found + expected.size();
    }
    EXPECT_EQ(at, all.size());
    EXPECT_EQ(CountOf(all, "\n"), static_cast<size_t>(count) + 1);
}

TEST(Logger, WhatAnotherProcessAppendsCountsTowardsTheSize) {
    std::string path = UseFreshLogFile();
    ZYKWriteLog("first");
    // Another writer of the same file takes it to its size; a few records later it has rolled.
    { std::ofstream(path, std::ios::app | std::ios::binary) << std::string(kRollingSize, 'o') << "\n"; }
    for (int i = 0; i < 40; ++i) ZYKWriteLog(Numbered(i));
    ASSERT_EQ(access((path + ".1").c_str(), F_OK), 0);
    EXPECT_NE(test_support::ReadFile(path + ".1").find("DEBUG - first\n"), std::string::npos);
    std::string all = test_support::ReadFile(path + ".1") + test_support::ReadFile(path);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(CountOf(all, Numbered(i) + "\n"), 1u) << i;
}

}  // namespace
