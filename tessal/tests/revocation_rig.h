// Certification authorities made with the openssl command line, and a real OCSP responder
// (`openssl ocsp`) started for one test.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace test_support {

// Runs the revocation PKI script with these arguments; throws when it fails.
void RunPki(const std::string& arguments);

// Base64 of the DER of a PEM certificate file.
std::string CertBase64(const std::string& pemFile);

// An index line of `openssl ca`: status "V" or "R" for a serial in hexadecimal.
std::string IndexLine(char status, const std::string& serialHex);

// A CA made by the script in a fresh directory: ca, signer (delegated OCSP responder), noeku
// (the same key without the OCSP signing usage) and rogue (the CA's name, another key).
class TestCa {
public:
    explicit TestCa(const std::string& algorithm);

    bool Sm2() const { return m_algorithm == "sm2"; }
    // A file of the CA's directory.
    std::string File(const std::string& name) const { return m_dir + "/" + name; }
    std::string CertBase64() const { return test_support::CertBase64(File("ca.pem")); }
    // Issues "leaf-SERIAL.pem" with these extension lines; returns its Base64 DER.
    std::string Leaf(const std::string& serialHex, const std::vector<std::string>& extensions) const;
    // Writes a CRL (DER) from these index lines, signed by "ca" or "rogue", with these
    // extension lines (an openssl config section, sub-sections after it); returns its bytes.
    std::string Crl(const std::string& name, const std::string& indexLines,
                    const std::string& signer = "ca", const std::string& options = "",
                    const std::vector<std::string>& extensions = {}) const;

private:
    std::string m_algorithm;
    std::string m_dir;
};

class OcspResponderProcess {
public:
    // Answers for certificates of `caFile` from `index`, signing with `signer`.pem/.key
    // (paths without extension); `sm2` adds the SM2 signing identifier.
    OcspResponderProcess(const std::string& index, const std::string& caFile, const std::string& signer, bool sm2);
    ~OcspResponderProcess();
    OcspResponderProcess(const OcspResponderProcess&) = delete;
    OcspResponderProcess& operator=(const OcspResponderProcess&) = delete;

    std::string Url(const std::string& path) const;

private:
    void Stop();

    pid_t m_pid = -1;
    int m_port = 0;
};

}  // namespace test_support
