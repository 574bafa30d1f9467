// The store survives writers killed at any moment, and several processes share it safely.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>

#include "softkey_fixture.h"

using namespace softkey_test;

namespace {

char* Text(const char* s) { return const_cast<char*>(s); }

constexpr ULONG kRecord = 64;

// Writes numbered records into one file and churns containers, forever.
[[noreturn]] void WriterLoop(SkfLibrary& lib, const char* serial) {
    DEVHANDLE dev;
    HAPPLICATION app;
    ULONG retry;
    if (SKF(lib, SKF_ConnectDev)(Text(serial), &dev) || SKF(lib, SKF_OpenApplication)(dev, Text("DEFAULT_APP"), &app) ||
        SKF(lib, SKF_VerifyPIN)(app, USER_TYPE, Text("12345678"), &retry))
        _exit(3);
    for (unsigned n = 1;; ++n) {
        char record[kRecord];
        std::memset(record, '#', sizeof record);
        std::snprintf(record, sizeof record, "record %u", n);
        if (SKF(lib, SKF_WriteFile)(app, Text("journal"), 0, (BYTE*)record, kRecord)) _exit(4);
        HCONTAINER con;
        char name[32];
        std::snprintf(name, sizeof name, "C%u", n % 3);
        if (SKF(lib, SKF_CreateContainer)(app, name, &con) == SAR_OK) SKF(lib, SKF_CloseContainer)(con);
        else SKF(lib, SKF_DeleteContainer)(app, name);
    }
}

TEST_F(SoftkeyTest, WritersKilledAtRandomMomentsNeverDamageTheStore) {
    AddKey("D1");
    SkfLibrary& lib = Lib();
    {
        DEVHANDLE dev;
        HAPPLICATION app;
        OpenLoggedIn(lib, "D1", dev, app);
        ASSERT_EQ(SKF(lib, SKF_CreateFile)(app, Text("journal"), kRecord, 0xFF, 0xFF), SAR_OK);
    }
    std::mt19937 random(12345);
    unsigned lastSeen = 0;
    for (int round = 0; round < 12; ++round) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) WriterLoop(lib, "D1");
        usleep(5000 + random() % 40000);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "writer stopped by itself with " << WEXITSTATUS(status);

        softkey::Token t = m_store->Load("D1");  // throws if the file were torn
        const softkey::FileEntry* journal = t.apps.at(0).FindFile("journal");
        ASSERT_NE(journal, nullptr);
        ASSERT_EQ(journal->data.size(), kRecord);
        // A writer slow to start (a loaded machine) may be killed before its first record.
        if (std::all_of(journal->data.begin(), journal->data.end(), [](BYTE b) { return b == 0; })) {
            EXPECT_EQ(lastSeen, 0u) << "a written record was lost";
            continue;
        }
        unsigned n = 0;
        ASSERT_EQ(std::sscanf(reinterpret_cast<const char*>(journal->data.data()), "record %u", &n), 1);
        EXPECT_EQ(journal->data.back(), '#');
        EXPECT_GE(n, 1u);  // each writer numbers its records from 1
        lastSeen = n;
    }
    // The key still works for a new process after all the kills.
    DEVHANDLE dev;
    HAPPLICATION app;
    OpenLoggedIn(lib, "D1", dev, app);
    BYTE buf[kRecord];
    ULONG len = sizeof buf;
    ASSERT_EQ(SKF(lib, SKF_ReadFile)(app, Text("journal"), 0, kRecord, buf, &len), SAR_OK);
    unsigned n = 0;
    if (lastSeen == 0) {
        EXPECT_TRUE(std::all_of(buf, buf + kRecord, [](BYTE b) { return b == 0; }));
    } else {
        EXPECT_EQ(std::sscanf(reinterpret_cast<char*>(buf), "record %u", &n), 1);
        EXPECT_EQ(n, lastSeen);
    }
}

TEST_F(SoftkeyTest, ProcessesChangingOneKeyAtOnceLoseNothing) {
    AddKey("M1");
    SkfLibrary& lib = Lib();
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            DEVHANDLE dev;
            HAPPLICATION app;
            if (SKF(lib, SKF_ConnectDev)(Text("M1"), &dev) || SKF(lib, SKF_OpenApplication)(dev, Text("DEFAULT_APP"), &app))
                _exit(3);
            for (int i = 0; i < 15; ++i) {
                char name[16];
                std::snprintf(name, sizeof name, "p%d-%d", c, i);
                if (SKF(lib, SKF_CreateFile)(app, name, 4, 0xFF, 0xFF) != SAR_OK) _exit(4);
            }
            _exit(0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(m_store->Load("M1").apps.at(0).files.size(), 30u);
}

}  // namespace
