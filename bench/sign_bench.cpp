// Signing throughput of the library next to the software key's own signing and openssl cms.
//   sign_bench SOFTKEY_TOOL DRIVER_PATH WORK_DIR
// scripts/bench.sh prepares the keys (as the demo does) and runs it.
#include <dlfcn.h>
#include <tessal/tessal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "skf/skf.h"

namespace {

using Clock = std::chrono::steady_clock;

double PerSecond(int count, Clock::time_point start) {
    return count / std::chrono::duration<double>(Clock::now() - start).count();
}

template <typename F>
F* Fn(void* lib, const char* name) {
    return reinterpret_cast<F*>(dlsym(lib, name));
}

char* Text(const char* s) { return const_cast<char*>(s); }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: sign_bench SOFTKEY_TOOL DRIVER_PATH WORK_DIR\n");
        return 2;
    }
    const std::string tool = argv[1], driver = argv[2], work = argv[3];
    const int rounds = std::getenv("BENCH_ROUNDS") ? std::atoi(std::getenv("BENCH_ROUNDS")) : 200;
    if (std::system((tool + " plug DEMO0001 > /dev/null && " + tool + " plug DEMO0002 > /dev/null").c_str()) != 0) return 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    // The library: RSA PKCS#7 (time-stamp service unreachable at once) and the SM2 seal signature.
    std::string p7, seal;
    if (ZYKVerifyPin("12345678", "DEMO0001") != -1) return 1;
    auto start = Clock::now();
    for (int i = 0; i < rounds; ++i)
        if (!ZYKSignP7("ZG9jdW1lbnQ=", p7, 1)) return 1;
    double p7Rate = PerSecond(rounds, start);
    if (ZYKVerifyPin("12345678", "DEMO0002") != -1) return 1;
    start = Clock::now();
    for (int i = 0; i < rounds; ++i)
        if (!ZYKSignSeal("c2VhbA==", seal)) return 1;
    double sealRate = PerSecond(rounds, start);

    // The key's own signing through its SKF interface.
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
    unsigned char info[51] = {0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
    unsigned char sig[512];
    auto rsaSign = Fn<decltype(SKF_RSASignData)>(lib, "SKF_RSASignData");
    start = Clock::now();
    for (int i = 0; i < rounds; ++i) {
        ULONG len = sizeof sig;
        if (rsaSign(rsa, info, sizeof info, sig, &len)) return 1;
    }
    double rawRsaRate = PerSecond(rounds, start);
    auto eccSign = Fn<decltype(SKF_ECCSignData)>(lib, "SKF_ECCSignData");
    unsigned char digest[32] = {1, 2, 3};
    ECCSIGNATUREBLOB blob;
    start = Clock::now();
    for (int i = 0; i < rounds; ++i)
        if (eccSign(sm2, digest, 32, &blob)) return 1;
    double rawSm2Rate = PerSecond(rounds, start);

    // openssl cms with a software key of the same size (process start included).
    const int cmsRounds = 20;
    std::string cms = "openssl cms -sign -binary -in " + work + "/document.txt -signer " + work + "/soft.cert.pem -inkey " +
                      work + "/soft.key -outform DER -out /dev/null";
    start = Clock::now();
    for (int i = 0; i < cmsRounds; ++i)
        if (std::system(cms.c_str()) != 0) return 1;
    double cmsRate = PerSecond(cmsRounds, start);

    std::system((tool + " unplug DEMO0001 > /dev/null; " + tool + " unplug DEMO0002 > /dev/null").c_str());
    std::printf("\n%-44s %10s\n", "operation", "per second");
    std::printf("%-44s %10.1f\n", "ZYKSignP7 (RSA 2048, detached)", p7Rate);
    std::printf("%-44s %10.1f\n", "softkey SKF_RSASignData (RSA 2048)", rawRsaRate);
    std::printf("%-44s %10.1f\n", "openssl cms -sign (RSA 2048, one process each)", cmsRate);
    std::printf("%-44s %10.1f\n", "ZYKSignSeal (SM2, SM3 with Z on the key)", sealRate);
    std::printf("%-44s %10.1f\n", "softkey SKF_ECCSignData (SM2)", rawSm2Rate);
    std::printf("\nlibrary time / key time: PKCS#7 %.2f, seal %.2f (goal: at most 1.10)\n", rawRsaRate / p7Rate,
                rawSm2Rate / sealRate);
    return 0;
}
