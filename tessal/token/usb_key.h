// The token interface through which the library uses an attached security key.
#pragma once

#include <openssl/x509.h>

#include <mutex>
#include <string>
#include <unordered_map>

#include "tessal/byte_array.h"
#include "tessal/result.h"
#include "token/seal_record.h"

class CertInfo;

class UsbKey {
public:
    UsbKey();
    virtual ~UsbKey();

    virtual void ReleaseKey() = 0;
    virtual int GetUkeyType() = 0;
    virtual int CurrentCertIsSM2() = 0;
    virtual std::string GetDeviceId() = 0;
    virtual std::string GetIssuerCN() = 0;
    virtual CResult GetCertData() = 0;
    virtual CResult GetStampImg(ByteArray& image, int& width, int& height, std::string& name,
                                std::string& sealInfo) = 0;
    virtual CResult VerifyPin(const std::string& pin, int& retry) = 0;
    virtual CResult EncryptDataByPrivKey(ByteArray& in, ByteArray& out) = 0;
    virtual CResult SignDigest(ByteArray digest, ByteArray& out) = 0;
    virtual CResult SignP7(ByteArray data, ByteArray& out, int detached) = 0;
    virtual CResult Sign(ByteArray& data, ByteArray& sig) = 0;
    virtual CResult SM2SignWithFormat(ByteArray& data, ByteArray& sig) = 0;
    virtual CResult SM2SignDigest(ByteArray& digest, ByteArray& sig) = 0;
    virtual CResult SM2VerifyDigest(ByteArray& digest, ByteArray& sig) = 0;
    virtual CResult SignSM2P7(ByteArray& data, ByteArray& out) = 0;
    virtual CResult VerifySM2P7(ByteArray& p7, ByteArray& content) = 0;
    virtual CResult DecryptRSAData(ByteArray& in, ByteArray& out, int flag) = 0;

    std::string GetLibName() { return m_libName; }
    bool IsOpened() { return m_opened; }
    bool IsPinVerified() { return m_pinVerified; }
    X509* GetSignCert() { return m_signCert; }
    // Serialises the use of the key's driver across threads (see KeyUse).
    std::recursive_mutex& CallMutex() { return m_callMutex; }

protected:
    bool m_opened = false;
    bool m_pinVerified = false;
    std::string m_issuerCN;
    std::string m_libName;
    CertInfo* m_signCertInfo = nullptr;  // owned; created when the signing certificate is read
    X509* m_signCert = nullptr;          // owned
    int m_isSM2 = 0;
    int m_ukeyType = 1;
    std::unordered_map<std::string, SealRecord*> m_sealMap;  // owns its records

private:
    std::recursive_mutex m_callMutex;
};
