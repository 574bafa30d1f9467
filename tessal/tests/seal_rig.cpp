#include "seal_rig.h"

#include <cstdio>

#include "cert_factory.h"
#include "devices/device_catalogue.h"
#include "test_support.h"

namespace {

int g_fileCounter = 0;

}  // namespace

void SealRigTest::PutFile(const std::string& serial, const std::string& name,
                          const std::string& bytes) {
    std::string path = m_dir + "/input" + std::to_string(++g_fileCounter);
    test_support::WriteText(path, bytes);
    Softkey("file put " + serial + " '" + name + "' " + path);
}

void SealRigTest::AddSeal(const std::string& serial, const std::string& name,
                          const std::string& bytes, const std::string& extra) {
    std::string path = m_dir + "/input" + std::to_string(++g_fileCounter);
    test_support::WriteText(path, bytes);
    Softkey("seal add " + serial + " '" + name + "' " + path + " " + extra);
}

void SealRigTest::InstallSealLibrary(const std::string& sealLibrary,
                                     const std::string& skfLibrary) {
    std::string family = LibraryFamily(skfLibrary);
    Softkey("install-seal-library --root " + m_dir + "/drivers --name '" + sealLibrary + "'" +
            (family.empty() ? "" : " --family '" + family + "'"));
}

void SealRigTest::AddOwnKey(const std::string& serial) {
    InstallDriver("EsZYKEBankCspV2.dll");
    AddKey(serial, "1EA8&C109");
    Softkey("container create " + serial + " C1 sm2");
}

void SealRigTest::AddVendorKey(const std::string& serial, const std::string& vpid,
                               const std::string& skfLibrary) {
    InstallDriver(skfLibrary);
    AddKey(serial, vpid, "--drivers " + skfLibrary);
    Softkey("container create " + serial + " C1 sm2");
}

std::string SealRigTest::FileList(const std::string& serial) {
    std::string command = std::string(SOFTKEY_CLI) + " file list " + serial;
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

std::string SealRigTest::GetFile(const std::string& serial, const std::string& name) {
    std::string path = m_dir + "/output" + std::to_string(++g_fileCounter);
    Softkey("file get " + serial + " '" + name + "' " + path);
    return test_support::ReadFile(path);
}

const SealRecord* InspectableKey::Record(const std::string& name) const {
    auto it = m_sealMap.find(name);
    return it == m_sealMap.end() ? nullptr : it->second;
}

std::string PngBytes(int width, int height, const std::string& tail) {
    std::string png("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
    for (int value : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8)
            png += static_cast<char>((value >> shift) & 0xFF);
    return png + tail;
}
