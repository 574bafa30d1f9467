// The worker's and the converter's command lines: what each accepts, and what it refuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert.h"
#include "records.h"
#include "worker.h"

using namespace parlux;

namespace {

// argv for a parser, kept alive with its strings.
struct Argv {
    explicit Argv(std::vector<std::string> words) : strings(std::move(words)) {
        for (std::string& s : strings) pointers.push_back(&s[0]);
        pointers.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(strings.size()); }
    char** argv() { return pointers.data(); }
    std::vector<std::string> strings;
    std::vector<char*> pointers;
};

bool ParseWorker(const std::vector<std::string>& tail, WorkerArguments& args) {
    std::vector<std::string> words = {"parlux", "--parlux-worker"};
    words.insert(words.end(), tail.begin(), tail.end());
    Argv a(words);
    return parseWorkerArguments(a.argc(), a.argv(), args);
}

TEST(WorkerArguments, TheSupervisorsLineIsReadBack) {
    WorkerArguments args;
    ASSERT_TRUE(ParseWorker({"wps", "2", "/in/报 告.xlsx", "/out/x.pdf", "7", "-1"}, args));
    EXPECT_EQ(args.provider, Provider::Wps);
    EXPECT_EQ(args.kind, 2);
    EXPECT_EQ(args.source, "/in/报 告.xlsx");
    EXPECT_EQ(args.output, "/out/x.pdf");
    EXPECT_EQ(args.pipeFd, 7);
    EXPECT_EQ(args.cancelFd, -1);
    ASSERT_TRUE(ParseWorker({"ms", "1", "", "", "0", "2147483647"}, args));
    EXPECT_EQ(args.cancelFd, 2147483647);
}

TEST(WorkerArguments, OtherLinesAreRefused) {
    const std::vector<std::vector<std::string>> refused = {
        {"ms", "1", "s", "o", "3"},                  // too few
        {"ms", "1", "s", "o", "3", "4", "5"},        // too many
        {"MS", "1", "s", "o", "3", "4"},             // provider names are exact
        {"ms", "3", "s", "o", "3", "4"},             // no such kind
        {"ms", "+1", "s", "o", "3", "4"},
        {"ms", "1", "s", "o", "3x", "4"},
        {"ms", "1", "s", "o", "", "4"},
        // Descriptors outside an int were truncated onto another descriptor (4294967298 onto 2,
        // the worker's standard error), and below -1 name none.
        {"ms", "1", "s", "o", "4294967298", "4"},
        {"ms", "1", "s", "o", "3", "-4294967295"},
        {"ms", "1", "s", "o", "-2", "4"},
        {"ms", "1", "s", "o", "99999999999999999999", "4"},
    };
    for (const auto& tail : refused) {
        WorkerArguments args;
        EXPECT_FALSE(ParseWorker(tail, args)) << tail[0] << " " << tail[1] << " " << tail[4] << " " << tail[5];
    }
}

TEST(CommandLine, PathsComeBackFullAndProvidersAreChecked) {
    CommandLine line;
    std::string error;
    Argv ok({"parlux", "/d/a/../in.docx", "/out//x.pdf", "WPS"});
    ASSERT_EQ(parseCommandLine(ok.argc(), ok.argv(), line, error), kSuccess);
    EXPECT_EQ(line.source, "/d/in.docx");
    EXPECT_EQ(line.target, "/out/x.pdf");
    EXPECT_EQ(line.provider, "wps");

    Argv one({"parlux", "/d/in.docx"});
    EXPECT_EQ(parseCommandLine(one.argc(), one.argv(), line, error), kInvalidArguments);
    EXPECT_EQ(error, kUsageLine);
    Argv provider({"parlux", "a.docx", "b.pdf", "office"});
    EXPECT_EQ(parseCommandLine(provider.argc(), provider.argv(), line, error), kInvalidArguments);
    EXPECT_EQ(error, "Provider must be 'ms' or 'wps'.");
}

}  // namespace
