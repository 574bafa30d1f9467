// Signing throughput of the library next to the software key's own signing and openssl cms.
//   sign_bench SOFTKEY_TOOL DRIVER_PATH WORK_DIR
// scripts/bench.sh prepares the keys (as the demo does) and runs it.
#include <dlfcn.h>
#include <tessal/tessal.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "skf/skf.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename F>
F* Fn(void* lib, const char* name) {
    return reinterpret_cast<F*>(dlsym(lib, name));
}

char* Text(const char* s) { return const_cast<char*>(s); }

// The calling thread's CPU time (user and system): on a shared machine it does not count the
// time the thread waits for a core.
double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Accumulated time of one kind of operation, measured call by call: wall clock and CPU.
struct Timer {
    Clock::duration total{};
    double cpu = 0;
    int count = 0;
    template <typename F>
    bool Time(F&& op) {
        auto start = Clock::now();
        double cpuStart = ThreadCpuSeconds();
        bool ok = op();
        cpu += ThreadCpuSeconds() - cpuStart;
        total += Clock::now() - start;
        ++count;
        return ok;
    }
    double Rate() const { return count / std::chrono::duration<double>(total).count(); }
    double CpuRate() const { return count / cpu; }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: sign_bench SOFTKEY_TOOL DRIVER_PATH WORK_DIR\n");
        return 2;
    }
    const std::string tool = argv[1], driver = argv[2], work = argv[3];
    const int rounds = std::getenv("BENCH_ROUNDS") ? std::atoi(std::getenv("BENCH_ROUNDS")) : 1000;
    if (std::system((tool + " plug DEMO0001 > /dev/null && " + tool + " plug DEMO0002 > /dev/null").c_str()) != 0) return 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    // The key's own interface, opened beside the library's session.
    void* lib = dlopen(driver.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) return 1;
    DEVHANDLE dev1, dev2;
    HAPPLICATION app1, app2;
    HCONTAINER rsa, sm2;
    ULONG retry;
    if (Fn<decltype(SKF_ConnectDev)>(lib, "SKF_ConnectDev")(Text("DEMO0001"), &dev1) ||
        Fn<decltype(SKF_OpenApplication)>(lib, "SKF_OpenApplication")(dev1, Text("DEFAULT_APP"), &app1) ||
        Fn<decltype(SKF_VerifyPIN)>(lib, "SKF_VerifyPIN")(app1, USER_TYPE, Text("12345678"), &retry) ||
        Fn<decltype(SKF_OpenContainer)>(lib, "SKF_OpenContainer")(app1, Text("CntRSA"), &rsa) ||
        Fn<decltype(SKF_ConnectDev)>(lib, "SKF_ConnectDev")(Text("DEMO0002"), &dev2) ||
        Fn<decltype(SKF_OpenApplication)>(lib, "SKF_OpenApplication")(dev2, Text("DEFAULT_APP"), &app2) ||
        Fn<decltype(SKF_VerifyPIN)>(lib, "SKF_VerifyPIN")(app2, USER_TYPE, Text("12345678"), &retry) ||
        Fn<decltype(SKF_OpenContainer)>(lib, "SKF_OpenContainer")(app2, Text("CntSM2"), &sm2))
        return 1;
    auto rsaSign = Fn<decltype(SKF_RSASignData)>(lib, "SKF_RSASignData");
    auto eccSign = Fn<decltype(SKF_ECCSignData)>(lib, "SKF_ECCSignData");
    auto exportPublicKey = Fn<decltype(SKF_ExportPublicKey)>(lib, "SKF_ExportPublicKey");
    auto digestInit = Fn<decltype(SKF_DigestInit)>(lib, "SKF_DigestInit");
    auto digestData = Fn<decltype(SKF_Digest)>(lib, "SKF_Digest");
    unsigned char info[51] = {0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
    unsigned char sig[512];
    unsigned char digest[32] = {1, 2, 3};
    unsigned char seal[4] = {'s', 'e', 'a', 'l'};
    ECCSIGNATUREBLOB blob;

    // Library and key calls alternate, so both see the same state of the machine.
    std::string p7, sealSignature;
    Timer libraryP7, keyRsa, librarySeal, keyEcc, keySealCalls;
    if (ZYKVerifyPin("12345678", "DEMO0001") != -1) return 1;
    for (int i = 0; i < rounds; ++i) {
        if (!libraryP7.Time([&] { return ZYKSignP7("ZG9jdW1lbnQ=", p7, 1); })) return 1;
        if (!keyRsa.Time([&] {
                ULONG len = sizeof sig;
                return rsaSign(rsa, info, sizeof info, sig, &len) == SAR_OK;
            }))
            return 1;
    }
    if (ZYKVerifyPin("12345678", "DEMO0002") != -1) return 1;
    for (int i = 0; i < rounds; ++i) {
        if (!librarySeal.Time([&] { return ZYKSignSeal("c2VhbA==", sealSignature); })) return 1;
        if (!keyEcc.Time([&] { return eccSign(sm2, digest, 32, &blob) == SAR_OK; })) return 1;
        // The same driver calls the seal signature makes: public key, SM3 with Z on the key, signing.
        if (!keySealCalls.Time([&] {
                ECCPUBLICKEYBLOB pub;
                ULONG len = sizeof pub;
                HANDLE hash = nullptr;
                ULONG digestLen = sizeof digest;
                return exportPublicKey(sm2, TRUE, reinterpret_cast<BYTE*>(&pub), &len) == SAR_OK &&
                       digestInit(dev2, SGD_SM3, &pub, reinterpret_cast<unsigned char*>(Text("1234567812345678")), 16,
                                  &hash) == SAR_OK &&
                       digestData(hash, seal, sizeof seal, digest, &digestLen) == SAR_OK &&
                       eccSign(sm2, digest, digestLen, &blob) == SAR_OK;
            }))
            return 1;
    }

    // openssl cms with a software key of the same size (process start included).
    const int cmsRounds = 20;
    std::string cms = "openssl cms -sign -binary -in " + work + "/document.txt -signer " + work + "/soft.cert.pem -inkey " +
                      work + "/soft.key -outform DER -out /dev/null";
    auto start = Clock::now();
    for (int i = 0; i < cmsRounds; ++i)
        if (std::system(cms.c_str()) != 0) return 1;
    double cmsRate = cmsRounds / std::chrono::duration<double>(Clock::now() - start).count();

    std::system((tool + " unplug DEMO0001 > /dev/null; " + tool + " unplug DEMO0002 > /dev/null").c_str());
    std::printf("\n%-58s %10s\n", "operation", "per second");
    std::printf("%-58s %10.1f\n", "ZYKSignP7 (RSA 2048, detached)", libraryP7.Rate());
    std::printf("%-58s %10.1f\n", "softkey SKF_RSASignData (RSA 2048)", keyRsa.Rate());
    std::printf("%-58s %10.1f\n", "openssl cms -sign (RSA 2048, one process each)", cmsRate);
    std::printf("%-58s %10.1f\n", "ZYKSignSeal (SM2, SM3 with Z on the key)", librarySeal.Rate());
    std::printf("%-58s %10.1f\n", "softkey SKF_ECCSignData (SM2)", keyEcc.Rate());
    std::printf("%-58s %10.1f\n", "softkey ExportPublicKey+DigestInit+Digest+ECCSignData", keySealCalls.Rate());
    std::printf("\nlibrary time / key time (goal: at most 1.05):\n");
    std::printf("  PKCS#7 against SKF_RSASignData      %.2f\n", keyRsa.Rate() / libraryP7.Rate());
    std::printf("  seal against SKF_ECCSignData        %.2f\n", keyEcc.Rate() / librarySeal.Rate());
    std::printf("  seal against the same driver calls  %.2f\n", keySealCalls.Rate() / librarySeal.Rate());
    std::printf("the same in CPU time of the signing thread (user and system):\n");
    std::printf("  PKCS#7 against SKF_RSASignData      %.3f\n", keyRsa.CpuRate() / libraryP7.CpuRate());
    std::printf("  seal against the same driver calls  %.3f\n", keySealCalls.CpuRate() / librarySeal.CpuRate());
    return 0;
}
