// Seal images kept as files in the key's application, and the seal map's records.
#include <algorithm>
#include <climits>
#include <vector>

#include "api/encodings.h"
#include "api/failure.h"
#include "api/log.h"
#include "token/name_list.h"
#include "token/seal_size.h"
#include "token/skf_ukey.h"

namespace {

constexpr char kCacheFile[] = "CacheFile";
constexpr char kGmSealFile[] = "seal.dat";
constexpr ULONG kAnyoneRights = 0xFF;

LPSTR Text(const std::string& s) { return const_cast<LPSTR>(s.c_str()); }

}  // namespace

void SkfUKey::StoreSeal(const std::string& name, const std::string& data, int width, int height,
                        const std::string& time) {
    auto* record = new SealRecord{name, data, width, height, time};
    auto it = m_sealMap.find(name);
    if (it == m_sealMap.end()) {
        m_sealMap.emplace(name, record);
        return;
    }
    delete it->second;
    it->second = record;
}

namespace {

// Sizes a driver reports are bounded before anything is allocated for them: an application holds
// a few files of at most a few megabytes, so a larger figure comes from a faulty driver.
constexpr ULONG kMaxFileListSize = 1u << 20;
constexpr ULONG kMaxKeyFileSize = 16u << 20;

}  // namespace

std::vector<std::string> SkfUKey::ListFiles(ULONG& rc) {
    std::vector<std::string> names;
    rc = SAR_NOTSUPPORTYETERR;
    if (!m_skf.SKF_EnumFiles) return names;
    ULONG length = 0;
    rc = m_skf.SKF_EnumFiles(m_hApp, nullptr, &length);
    if (rc != SAR_OK) return names;
    if (length > kMaxFileListSize) {
        TLOG_ERROR("SKF_EnumFiles reported a list of " << length << " bytes, more than a key holds");
        rc = SAR_FAIL;
        return names;
    }
    std::vector<char> buffer(length, '\0');
    ULONG filled = length;
    rc = m_skf.SKF_EnumFiles(m_hApp, buffer.data(), &filled);
    if (rc != SAR_OK) return names;
    // Every name within the bytes the driver filled (never past the buffer), also when the
    // driver leaves out the empty name that ends the list.
    return NameList(buffer.data(), std::min<size_t>(filled, buffer.size()));
}

ULONG SkfUKey::ReadKeyFile(const std::string& name, ULONG size, size_t room, ByteArray& bytes) {
    if (!m_skf.SKF_ReadFile) return SAR_NOTSUPPORTYETERR;
    if (size > kMaxKeyFileSize || room > static_cast<size_t>(kMaxKeyFileSize) + 2) {
        TLOG_ERROR("the key reported " << size << " bytes for the file " << name << ", more than a key file holds");
        return SAR_FAIL;
    }
    std::vector<unsigned char> buffer(room, 0);
    ULONG length = static_cast<ULONG>(std::min<size_t>(room, ULONG_MAX));
    ULONG rc = m_skf.SKF_ReadFile(m_hApp, Text(name), 0, size, buffer.data(), &length);
    if (rc != SAR_OK) return rc;
    bytes = ByteArray(buffer.data(), static_cast<unsigned long>(std::min<size_t>(length, room)));
    return SAR_OK;
}

void SkfUKey::ReadSKFFile() {
    if (!m_skf.SKF_EnumFiles) return;
    ULONG rc = SAR_OK;
    std::vector<std::string> files = ListFiles(rc);
    if (rc != SAR_OK) return;
    for (const std::string& name : files) {
        if (name == kCacheFile) continue;
        std::string text;
        ReadSKFFileByName(name, text);
        if (text.empty()) continue;
        int width = 0, height = 0;
        SealSizeFromName(name, width, height);
        StoreSeal(name, text, width, height, "");
    }
}

void SkfUKey::ReadSKFFileByName(std::string fileName, std::string& out) {
    FILEATTRIBUTE attr{};
    ULONG rc = m_skf.SKF_GetFileInfo ? m_skf.SKF_GetFileInfo(m_hApp, Text(fileName), &attr)
                                     : SAR_NOTSUPPORTYETERR;
    if (rc != SAR_OK) {
        TLOG_ERROR("SKF_GetFileInfo fail,error is:" << std::hex << rc);
        return;
    }
    TLOG_DEBUG("fileName is" << fileName << "and file size is:" << attr.FileSize);
    ByteArray bytes;
    rc = ReadKeyFile(fileName, attr.FileSize, static_cast<size_t>(std::min(attr.FileSize, kMaxKeyFileSize)) + 2, bytes);
    if (rc != SAR_OK) {
        TLOG_ERROR("SKF_ReadFile fail,error is:" << std::hex << rc);
        return;
    }
    out = Base64Encode(bytes);
}

CResult SkfUKey::GetStampImg(ByteArray& image, int& width, int& height, std::string& name,
                             std::string& sealInfo) {
    CResult result;
    ULONG rc = SAR_OK;
    std::vector<std::string> files = ListFiles(rc);
    if (rc != SAR_OK) return result;
    for (const std::string& file : files) {
        ByteArray bytes;
        result = ReadWholeFile(file, bytes, "SkfUKey::GetStampImg");
        if (result != 0) return result;
        image = bytes;
        SizeFromNameParts(file, width, height);
        name = file;
        sealInfo.clear();
    }
    return result;
}

CResult SkfUKey::ReadWholeFile(const std::string& name, ByteArray& bytes, const char* function) {
    CResult result;
    FILEATTRIBUTE attr{};
    if (!m_skf.SKF_GetFileInfo || m_skf.SKF_GetFileInfo(m_hApp, Text(name), &attr) != SAR_OK) {
        TESSAL_FAIL(result, 18, function);
        return result;
    }
    if (ReadKeyFile(name, attr.FileSize, attr.FileSize, bytes) != SAR_OK)
        TESSAL_FAIL(result, 19, function);
    return result;
}

CResult SkfUKey::GetGmSeal(ByteArray& seal) {
    ByteArray bytes;
    CResult result = ReadWholeFile(kGmSealFile, bytes, "SkfUKey::GetGmSeal");
    if (result == 0) seal = bytes;
    return result;
}

bool SkfUKey::WriteNewFile(const std::string& name, const ByteArray& bytes, ULONG readRights,
                           ULONG writeRights) {
    ULONG size = static_cast<ULONG>(bytes.length());
    if (m_skf.SKF_CreateFile(m_hApp, Text(name), size, readRights, writeRights) != SAR_OK)
        return false;
    if (m_skf.SKF_WriteFile(m_hApp, Text(name), 0, const_cast<BYTE*>(bytes.data()), size) == SAR_OK)
        return true;
    // No half-written file stays behind under the name.
    m_skf.SKF_DeleteFile(m_hApp, Text(name));
    return false;
}

CResult SkfUKey::ImportSeal(ByteArray& image, std::string name) {
    CResult result;
    if (!m_skf.SKF_GetFileInfo || !m_skf.SKF_DeleteFile || !m_skf.SKF_CreateFile ||
        !m_skf.SKF_WriteFile) {
        TESSAL_FAIL(result, 52, "SkfUKey::ImportSeal");
        return result;
    }
    // The seal under the name goes first, so that a key with room for one image can still
    // replace it; its bytes are kept to be written back when the new image cannot be written.
    FILEATTRIBUTE old{};
    ByteArray oldImage;
    bool deleted = false;
    if (m_skf.SKF_GetFileInfo(m_hApp, Text(name), &old) == SAR_OK) {
        ULONG rc = ReadKeyFile(name, old.FileSize, old.FileSize, oldImage);
        if (rc == SAR_OK && static_cast<ULONG>(oldImage.length()) != old.FileSize) rc = SAR_FAIL;
        if (rc != SAR_OK) {
            TLOG_ERROR("SKF_ReadFile fail,error is:" << std::hex << rc);
            TESSAL_FAIL(result, 52, "SkfUKey::ImportSeal");
            return result;
        }
        deleted = m_skf.SKF_DeleteFile(m_hApp, Text(name)) == SAR_OK;
    }
    if (WriteNewFile(name, image, kAnyoneRights, kAnyoneRights)) return result;
    if (deleted && !WriteNewFile(name, oldImage, old.ReadRights, old.WriteRights))
        TLOG_ERROR("SkfUKey::ImportSeal could not write back the seal " << name);
    TESSAL_FAIL(result, 52, "SkfUKey::ImportSeal");
    return result;
}

CResult SkfUKey::DeleteAllImg() {
    CResult result;
    ULONG rc = SAR_OK;
    std::vector<std::string> files = ListFiles(rc);
    bool deleted = rc == SAR_OK;
    for (size_t i = 0; deleted && i < files.size(); ++i)
        deleted = m_skf.SKF_DeleteFile && m_skf.SKF_DeleteFile(m_hApp, Text(files[i])) == SAR_OK;
    if (!deleted) TESSAL_FAIL(result, 13, "SkfUKey::DeleteAllImg");
    return result;
}

CResult SkfUKey::GetImgWithName(const std::string& name, std::string& image) {
    for (const auto& entry : m_sealMap) {
        if (AnsiToUtf8(entry.second->name) == name) {
            image = entry.second->data;
            return CResult();
        }
    }
    image.clear();
    return CResult();
}

std::vector<std::string> SkfUKey::GetStampImgNames() {
    std::vector<std::string> names;
    for (const auto& entry : m_sealMap) names.push_back(AnsiToUtf8(entry.second->name));
    return names;
}
