// A security key driven through its vendor's SKF library.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "skf/seal_library.h"
#include "skf/skf.h"
#include "token/signing_material.h"
#include "token/skf_functions.h"
#include "token/usb_key.h"

class SkfUKey : public UsbKey {
public:
    explicit SkfUKey(std::string libName);
    ~SkfUKey() override;
    SkfUKey(const SkfUKey&) = delete;
    SkfUKey& operator=(const SkfUKey&) = delete;

    // Loading the library and opening the key.
    CResult InitFuncList();
    CResult InitUKey();
    CResult OpenDevice();
    CResult OpenApp();
    CResult OpenContainer();
    // Whether the SKF library was found and loaded, and the directory it was loaded from.
    bool IsLibraryLoaded() const { return m_hSkfModule != nullptr; }
    const std::string& LibraryDir() const { return m_libDir; }

    // PIN and key state.
    CResult VerifyPin(const std::string& pin, int& retry) override;
    CResult ChangePin(std::string newPin, std::string oldPin);
    CResult UnBlockPin(std::string newPin);
    // The same with the administrator PIN the caller gives.
    CResult UnBlockPin(std::string newPin, const std::string& adminPin);
    void ClearSecureState();
    CResult ClearUkey();
    std::string GetDeviceId() override;
    bool IsDevicePresent();
    bool IsDeviceConnected();

    void ReleaseKey() override;
    int GetUkeyType() override { return m_ukeyType; }
    int CurrentCertIsSM2() override { return m_isSM2; }
    std::string GetIssuerCN() override;
    const std::vector<std::string>& GetContainerNames() const { return m_containerNames; }

    // Containers, key pairs and certificates.
    CResult GetCertData() override;
    CResult GetEncCertData(ByteArray& out);
    CResult CreateContainer(const char* name);
    CResult DeleteContainer(const std::string& name);
    CResult DeleteEmptyContainer();
    CResult GenKeyPair(int bits, RSAPUBLICKEYBLOB* pub);
    CResult GenSM2KeyPair(int bits, ECCPUBLICKEYBLOB* pub);
    CResult ImportCertWithCntName(ByteArray cert, std::string& containerName);
    CResult ImportDoubleCert(ByteArray signCert, ByteArray encCert, ByteArray envelopedKey);
    CResult ImportDoubleCertWithCntName(ByteArray signCert, ByteArray encCert, ByteArray encKey,
                                        std::string& containerName);
    CertInfo* GetSignCertInfo() { return m_signCertInfo; }
    // Whether a container is in use, and the name of the last container created on the key.
    bool HasOpenContainer() const { return m_hContainer != nullptr; }
    const std::string& CreatedContainerName() const { return m_containerName; }

    // Signing, seals and decryption.
    CResult GetStampImg(ByteArray& image, int& width, int& height, std::string& name,
                        std::string& sealInfo) override;
    CResult EncryptDataByPrivKey(ByteArray& in, ByteArray& out) override;
    CResult SignDigest(ByteArray digest, ByteArray& out) override;
    CResult SignP7(ByteArray data, ByteArray& out, int detached) override;
    CResult Sign(ByteArray& data, ByteArray& sig) override;
    CResult SM2SignWithFormat(ByteArray& data, ByteArray& sig) override;
    CResult SM2SignDigest(ByteArray& digest, ByteArray& sig) override;
    CResult SM2VerifyDigest(ByteArray& digest, ByteArray& sig) override;
    CResult SM2Sign(ByteArray& data, ECCSIGNATUREBLOB* sig);
    CResult SignSM2Digest(ByteArray digest, ByteArray& out);
    CResult SignSM2P7(ByteArray& data, ByteArray& out) override;
    CResult VerifySM2P7(ByteArray& p7, ByteArray& content) override;
    CResult DecryptRSAData(ByteArray& in, ByteArray& out, int flag) override;
    // SM2 decryption with the container's encryption key: C1 (x, y) C3 C2 as raw bytes, or the
    // DER SM2_Cipher.
    CResult EccDeCrypt(ByteArray& in, ByteArray& out);
    CResult EccDeCryptWithFormat(ByteArray& in, ByteArray& out);

    // Seal images: the vendor seal libraries, the seal map, the seal files on the key.
    void LoadSealLibrary();
    void LoadANCALibrary();
    int ReadGGZYSealImg();
    void constructGGZYSeal(const std::string& xml);
    bool parseGGZYXML(const std::string& xml, std::string& name, std::string& data, std::string& time);
    int ReadOESSealImg();
    void ReadSKFFile();
    void ReadSKFFileByName(std::string fileName, std::string& out);
    CResult GetGmSeal(ByteArray& seal);
    CResult ImportSeal(ByteArray& image, std::string name);
    CResult DeleteAllImg();
    CResult GetImgWithName(const std::string& name, std::string& image);
    std::vector<std::string> GetStampImgNames();

private:
    void Close();
    void InitSealMap();
    // Stores a seal record under its name, replacing (and freeing) one stored before.
    void StoreSeal(const std::string& name, const std::string& data, int width, int height,
                   const std::string& time);
    // The names of the application's files, the list sized by the driver; `rc` receives the
    // driver's answer.
    std::vector<std::string> ListFiles(ULONG& rc);
    // Reads `size` bytes of a file from offset 0 into a zeroed buffer of `room` bytes; `bytes`
    // receives what the driver reported read, never more than the buffer holds.
    ULONG ReadKeyFile(const std::string& name, ULONG size, size_t room, ByteArray& bytes);
    // Creates file `name` with these rights and writes `bytes` into it; false (and no file left)
    // when either step fails.
    bool WriteNewFile(const std::string& name, const ByteArray& bytes, ULONG readRights,
                      ULONG writeRights);
    // The whole file: code 18 when its size cannot be learnt, 19 when it cannot be read.
    CResult ReadWholeFile(const std::string& name, ByteArray& bytes, const char* function);
    void UnloadSealLibrary();
    // A companion library (seal library) in the directory the SKF library was loaded from.
    std::string ModulePath(const std::string& fileName) const;
    // The key's application and container names; `rc` receives the driver's answer.
    std::vector<std::string> ListApplications(ULONG& rc);
    std::vector<std::string> ListContainers(ULONG& rc);
    // Opens the first container into m_hContainer unless one is open; failures are code 16
    // (listing) or `openFailure`, reported at `function`.
    CResult EnsureContainerOpen(int openFailure, const char* function);
    // Whether the library provides the vendor's decryption extension (SM2 or RSA); when not,
    // `result` fails with the operation's code at `function`.
    bool HasDecryptFunction(bool sm2, CResult& result, const char* function);
    // Hands a GM/T 0016 ECC cipher blob to the driver (then wipes it); `out` gets the plaintext.
    CResult DecryptEccBlob(std::vector<unsigned char>& blob, ByteArray& out, const char* function);
    // The containers the key lists that open, into m_containerNames; false (the names kept)
    // when the listing fails.
    bool ReadContainerNames();
    // After containers were created, deleted or written: the names are listed again and the
    // signing certificate read again when needed, as for a key opened again.
    void ContainersChanged();
    void ForgetSignCert();
    // Closes the container handle in use, if any.
    void CloseContainerHandle();
    // Closes the container in use and opens `name`, or the first container when `name` is
    // empty (then `name` receives it).
    CResult OpenNamedContainer(std::string& name, const char* function);
    // Whether the container's signing (or encryption) key pair is the certificate's key.
    bool ContainerHasKeyOf(HCONTAINER container, BOOL signKey, X509* cert);
    // Opens into m_hContainer the first listed container whose signing key pair is the
    // certificate's key (`name` receives it); 16 when listing fails, 29 when none is.
    CResult OpenContainerWithKeyOf(X509* cert, std::string& name, const char* function);
    // The container a signing certificate goes into: `name` when its key pair is the
    // certificate's, else the one whose key pair is (as above); 15 when `name` does not open.
    CResult OpenContainerForSignCert(X509* cert, std::string& name, const char* function);
    CResult ImportCertificatesAndKey(ByteArray& signCert, ByteArray& encCert, X509* encCertificate,
                                     int signFailure, const std::function<bool()>& importKeyPair,
                                     const char* function);
    CResult WriteCertificatesAndKey(ByteArray& signCert, ByteArray& encCert, X509* encCertificate,
                                    int signFailure, const std::function<bool()>& importKeyPair,
                                    const char* function);
    // Milliseconds to pause before enumerating devices with this library.
    int OpenDelayMs() const;

    std::string m_devName;
    bool m_devInfoValid = false;
    DEVINFO m_devInfo{};
    DEVHANDLE m_hDev = nullptr;
    HAPPLICATION m_hApp = nullptr;
    std::vector<std::string> m_containerNames;
    std::string m_containerName;
    HCONTAINER m_hContainer = nullptr;
    // Reused by every signature with m_signCert; dropped with it.
    SigningMaterial m_signingMaterial;
    SkfFunctionList m_skf;
    void* m_hSkfModule = nullptr;
    std::string m_libDir;  // where m_hSkfModule was found
    void* m_hSealModule = nullptr;
    SealIsUKInFunction* m_isUKIn = nullptr;
    SealGetSealCountFunction* m_getSealCount = nullptr;
    ReadSealDataHNXAFunction* m_readSealDataHNXA = nullptr;
    ReadSealDataGGZYFunction* m_readSealDataGGZY = nullptr;
    ReadSealDataGZFunction* m_readSealDataGZ = nullptr;
    OesGetSealListFunction* m_oesGetSealList = nullptr;
    OesGetSealFunction* m_oesGetSeal = nullptr;
    OesGetSealImageFunction* m_oesGetSealImage = nullptr;
};

// Pause the driver binding makes around device changes: TESSAL_SETTLE_MS when set, else `fallback`.
int SettleDelayMs(int fallback);
