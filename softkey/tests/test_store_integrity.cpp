// The store refuses token files changed by hand or too deeply nested, and clears the
// temporary files of killed writers.
#include <algorithm>
#include <cstring>

#include "core/faults.h"
#include "core/fs_util.h"
#include "core/seal_list.h"
#include "softkey_fixture.h"

using namespace softkey_test;

namespace {

char* Text(const char* s) { return const_cast<char*>(s); }

// Replaces the first `from` in the key's token file by `to`, as an editor would.
void EditTokenFile(const softkey::Store& store, const std::string& serial, const std::string& from,
                   const std::string& to) {
    std::string text;
    ASSERT_TRUE(softkey::ReadWholeFile(store.TokenPath(serial), text));
    size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
    softkey::WriteFileAtomic(store.TokenPath(serial), text);
}

// The message Load fails with, or "" when it loads.
std::string LoadError(const softkey::Store& store, const std::string& serial) {
    try {
        store.Load(serial);
        return "";
    } catch (const std::exception& e) {
        return e.what();
    }
}

std::vector<std::string> ListedDevices(SkfLibrary& lib) {
    char names[1024] = {};
    ULONG size = sizeof names;
    EXPECT_EQ(SKF(lib, SKF_EnumDev)(TRUE, names, &size), SAR_OK);
    std::vector<std::string> listed;
    for (const char* p = names; *p; p += std::strlen(p) + 1) listed.emplace_back(p);
    return listed;
}

TEST_F(SoftkeyTest, HandEditedTokenFilesAreRefusedAndNeverUsed) {
    AddKey("E1");
    AddKey("E2");
    SkfLibrary& lib = Lib();
    DEVHANDLE dev;
    HAPPLICATION app;
    ULONG retry = 0;
    ASSERT_EQ(SKF(lib, SKF_ConnectDev)(Text("E1"), &dev), SAR_OK);
    ASSERT_EQ(SKF(lib, SKF_OpenApplication)(dev, Text("DEFAULT_APP"), &app), SAR_OK);
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(SKF(lib, SKF_VerifyPIN)(app, USER_TYPE, Text("00000000"), &retry), SAR_PIN_INCORRECT);
    ASSERT_EQ(retry, 4u);

    // Tries given back by hand, and another PIN's hash put in place of the user PIN's.
    EditTokenFile(*m_store, "E1", "\"remain\":4", "\"remain\":6");
    softkey::Pin chosen = softkey::MakePin("00000000", 6);
    softkey::Pin original = m_store->Load("E2").apps.at(0).userPin;
    EditTokenFile(*m_store, "E2", original.salt, chosen.salt);
    EditTokenFile(*m_store, "E2", original.hash, chosen.hash);

    for (const char* serial : {"E1", "E2"}) {
        std::string error = LoadError(*m_store, serial);
        EXPECT_NE(error.find(std::string("key ") + serial + " is refused"), std::string::npos) << error;
        EXPECT_NE(error.find("authentication check"), std::string::npos) << error;
    }
    EXPECT_NE(SKF(lib, SKF_VerifyPIN)(app, USER_TYPE, Text("12345678"), &retry), SAR_OK);
    EXPECT_TRUE(ListedDevices(lib).empty());
    DEVHANDLE other;
    EXPECT_NE(SKF(lib, SKF_ConnectDev)(Text("E2"), &other), SAR_OK);

    // A key whose record is intact goes on working beside them.
    AddKey("E3");
    EXPECT_EQ(ListedDevices(lib), std::vector<std::string>{"E3"});
    OpenLoggedIn(lib, "E3", dev, app);
}

TEST_F(SoftkeyTest, DeeplyNestedFilesAreRefusedWithoutExhaustingTheStack) {
    AddKey("N1");
    AddKey("N2");
    const std::string deep(200000, '[');
    softkey::WriteFileAtomic(m_store->TokenPath("N1"), deep);
    std::string error = LoadError(*m_store, "N1");
    EXPECT_NE(error.find("key N1 is refused"), std::string::npos) << error;
    EXPECT_NE(error.find("nested too deeply"), std::string::npos) << error;
    // A host with the library loaded lists the other key and goes on.
    SkfLibrary& lib = Lib();
    EXPECT_EQ(ListedDevices(lib), std::vector<std::string>{"N2"});

    softkey::MakeDirs(m_store->Root() + "/seals");
    softkey::WriteFileAtomic(m_store->Root() + "/seals/N2.json", deep);
    EXPECT_THROW(softkey::LoadSeals(*m_store, "N2"), std::runtime_error);
    softkey::WriteFileAtomic(m_store->FaultsPath(), "[" + deep);
    EXPECT_THROW(softkey::ListFaults(*m_store), std::runtime_error);
}

TEST_F(SoftkeyTest, TheExclusiveLockRemovesTemporaryFilesOfKilledWriters) {
    AddKey("S1");
    AddKey("k.json.tmp-0123456789ab");  // a key whose serial looks like a temporary file
    softkey::MakeDirs(m_store->Root() + "/seals");
    const std::vector<std::string> stale = {m_store->TokenPath("S1") + ".tmp-0123456789ab",
                                            m_store->Root() + "/seals/S1.json.tmp-a1b2c3d4e5f6"};
    const std::string unrelated = m_store->Root() + "/tokens/notes.txt";
    for (const std::string& path : stale) softkey::WriteFileAtomic(path, std::string(4096, 'x'));
    softkey::WriteFileAtomic(unrelated, "kept");
    {
        softkey::Store::Lock shared(*m_store, false);
    }
    for (const std::string& path : stale) EXPECT_TRUE(softkey::PathExists(path)) << path;
    {
        softkey::Store::Lock exclusive(*m_store, true);
    }
    for (const std::string& path : stale) EXPECT_FALSE(softkey::PathExists(path)) << path;
    EXPECT_TRUE(softkey::PathExists(unrelated));
    EXPECT_EQ(LoadError(*m_store, "S1"), "");
    EXPECT_EQ(LoadError(*m_store, "k.json.tmp-0123456789ab"), "");
}

}  // namespace
