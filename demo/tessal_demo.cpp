// A first look at the kit: software keys come and go while a host uses libtessal to verify a
// PIN, read a certificate, sign, and apply for a certificate.
//   tessal-demo SOFTKEY_TOOL OUTPUT_DIR
// The caller has created the keys DEMO0001 (RSA), DEMO0002 (SM2) and DEMO0003 (RSA, no
// certificate), unplugged, installed their driver libraries, and started cloudsim.
#include <tessal/tessal.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

namespace {

std::mutex g_mutex;
std::condition_variable g_cv;
size_t g_events = 0;

bool WaitForEvents(size_t count) {
    std::unique_lock<std::mutex> lock(g_mutex);
    return g_cv.wait_for(lock, std::chrono::seconds(30), [&] { return g_events >= count; });
}

std::string Joined(const std::vector<std::string>& ids) {
    std::string text;
    for (const std::string& id : ids) text += (text.empty() ? "" : ", ") + id;
    return "[" + text + "]";
}

bool Run(const std::string& command) { return std::system((command + " > /dev/null").c_str()) == 0; }

void WriteBase64(const std::string& path, const std::string& base64) {
    std::ofstream out(path, std::ios::binary);
    static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    unsigned value = 0;
    int bits = 0;
    for (char c : base64) {
        size_t pos = kAlphabet.find(c);
        if (pos == std::string::npos) continue;
        value = (value << 6) | static_cast<unsigned>(pos);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.put(static_cast<char>((value >> bits) & 0xFF));
        }
    }
}

std::string Base64(const std::string& bytes) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                     static_cast<unsigned char>(bytes[i + 2]);
        for (int s = 18; s >= 0; s -= 6) out += kAlphabet[(v >> s) & 63];
    }
    if (bytes.size() - i == 1) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += "==";
    } else if (bytes.size() - i == 2) {
        unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: tessal-demo SOFTKEY_TOOL OUTPUT_DIR\n");
        return 2;
    }
    const std::string tool = argv[1], outDir = argv[2];
    std::printf("libtessal loaded; ZYKGetLastError() = \"%s\"\n", ZYKGetLastError().c_str());

    std::function<void(int, const std::string&)> callback = [](int event, const std::string& id) {
        std::printf("  callback: key %s %s\n", id.c_str(), event == 1 ? "arrived" : "left");
        std::lock_guard<std::mutex> lock(g_mutex);
        ++g_events;
        g_cv.notify_all();
    };
    ZYKRegister(callback);
    std::printf("keys attached: %s\n", Joined(ZYKGetDeviceIds()).c_str());

    std::printf("plugging in the software key DEMO0001 ...\n");
    if (!Run(tool + " plug DEMO0001") || !WaitForEvents(1)) {
        std::fprintf(stderr, "the key did not arrive\n");
        return 1;
    }
    std::printf("keys attached: %s, driven by %s\n", Joined(ZYKGetDeviceIds()).c_str(), ZYKLibName().c_str());
    int tries = ZYKVerifyPin("00000000", "");
    std::printf("ZYKVerifyPin with a wrong PIN: %d tries left (\"%s\")\n", tries, ZYKGetLastError().c_str());
    tries = ZYKVerifyPin("12345678", "");
    std::printf("ZYKVerifyPin with the right PIN: %d (verified: %s)\n", tries, ZYKIsPinVerified() ? "yes" : "no");

    std::string id, cn, c, o, serial, start, end, alg, icn, ic, il, ist, io, iou, iemail;
    if (ZYKGetCertInfo(id, cn, c, o, serial, start, end, alg, icn, ic, il, ist, io, iou, iemail, "", "")) {
        std::printf("signing certificate on key %s:\n", id.c_str());
        std::printf("  subject   CN=%s, O=%s, C=%s\n", cn.c_str(), o.c_str(), c.c_str());
        std::printf("  issuer    CN=%s, O=%s, C=%s\n", icn.c_str(), io.c_str(), ic.c_str());
        std::printf("  serial    %s, algorithm %s\n", serial.c_str(), alg.c_str());
        std::printf("  valid     %s to %s\n", start.c_str(), end.c_str());
    } else {
        std::printf("no certificate on the key: %s\n", ZYKGetLastError().c_str());
    }

    const std::string document = "A contract signed on a software key.\n";
    std::ofstream(outDir + "/document.txt", std::ios::binary) << document;
    std::string p7;
    if (ZYKSignP7(Base64(document), p7, 1)) {
        WriteBase64(outDir + "/document.p7s", p7);
        std::printf("ZYKSignP7: detached PKCS#7 with a time-stamp written to %s/document.p7s\n", outDir.c_str());
    } else {
        std::printf("ZYKSignP7 failed: %s\n", ZYKGetLastError().c_str());
    }

    std::printf("plugging in the SM2 key DEMO0002 ...\n");
    if (!Run(tool + " plug DEMO0002") || !WaitForEvents(2)) {
        std::fprintf(stderr, "the key did not arrive\n");
        return 1;
    }
    const std::string seal = "seal image bytes";
    std::ofstream(outDir + "/seal.txt", std::ios::binary) << seal;
    std::string sealSignature;
    if (ZYKVerifyPin("12345678", "DEMO0002") == -1 && ZYKSignSeal(Base64(seal), sealSignature)) {
        WriteBase64(outDir + "/seal.sig", sealSignature);
        std::printf("ZYKSignSeal on %s: SM2 signature (SM3 with the identity digest) written to %s/seal.sig\n",
                    ZYKLibName().c_str(), outDir.c_str());
    } else {
        std::printf("ZYKSignSeal failed: %s\n", ZYKGetLastError().c_str());
    }

    std::printf("plugging in DEMO0003, a key without a certificate ...\n");
    size_t events = 3;
    if (!Run(tool + " plug DEMO0003") || !WaitForEvents(events)) {
        std::fprintf(stderr, "the key did not arrive\n");
        return 1;
    }
    // The key makes a key pair and a request in a new container, cloudsim issues the
    // certificate, and the download is written into that container.
    if (ZYKVerifyPin("12345678", "DEMO0003") == -1 &&
        ZYKRequestCert("Demo Applicant", "DEMO-ID-1", "13800000000", "applicant@example.com", "12", "DEMO-ORDER-1",
                       "RSA", "tessal-demo", "") &&
        ZYKImportCertFromJava("DEMO-ORDER-1", "")) {
        std::printf("ZYKRequestCert and ZYKImportCertFromJava: DEMO0003 now holds a certificate issued by cloudsim\n");
        // The key signs with the new certificate at once.
        std::string applied;
        if (ZYKSignP7(Base64(document), applied, 1)) {
            WriteBase64(outDir + "/applied.p7s", applied);
            std::printf("ZYKSignP7 with the issued certificate written to %s/applied.p7s\n", outDir.c_str());
        } else {
            std::printf("ZYKSignP7 with the issued certificate failed: %s\n", ZYKGetLastError().c_str());
        }
    } else {
        std::printf("applying for a certificate failed: %s\n", ZYKGetLastError().c_str());
    }

    std::printf("pulling the keys out ...\n");
    events += 3;
    if (!Run(tool + " unplug DEMO0001") || !Run(tool + " unplug DEMO0002") || !Run(tool + " unplug DEMO0003") ||
        !WaitForEvents(events)) {
        std::fprintf(stderr, "the keys did not leave\n");
        return 1;
    }
    std::printf("keys attached: %s; ZYKIsPinVerified() now says \"%s\"\n", Joined(ZYKGetDeviceIds()).c_str(),
                ZYKIsPinVerified() ? "verified" : ZYKGetLastError().c_str());
    ZYKWriteLog("tessal-demo: done");
    return 0;
}
