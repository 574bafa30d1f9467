// The fixture of the tests that run parlux.exe: a private directory with its copy of the
// program, the test office registered under every ProgID, and no time limit or COM apartment
// setting left over in the environment the converter inherits.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "office_rig.h"

class OfficeTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = rig::MakeTempDirectory();
        ASSERT_FALSE(m_dir.empty());
        rig::InstallParlux(m_dir);
        rig::RegisterAllOffices();
        ClearEnvironment();
    }
    void TearDown() override {
        rig::UnregisterAllOffices();
        ClearEnvironment();
        rig::RemoveTree(m_dir);
    }

    std::string m_dir;

private:
    static void ClearEnvironment() {
        SetEnvironmentVariableW(L"PARLUX_TIMEOUT_MS", nullptr);
        SetEnvironmentVariableW(L"PARLUX_TEST_COM_APARTMENT", nullptr);
    }
};
