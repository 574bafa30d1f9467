// The vendor seal libraries of a few certification authorities and the seals they hand out.
#include <tinyxml2.h>

#include <cstring>
#include <vector>

#include "api/encodings.h"
#include "api/last_error.h"
#include "api/log.h"
#include "platform/module_loader.h"
#include "token/name_list.h"
#include "token/skf_ukey.h"

namespace {

enum class ReadSealForm { HNXA, GGZY, GZ };

struct SealLibrary {
    const char* skfLibrary;
    const char* sealLibrary;
    ReadSealForm form;
};

const SealLibrary kSealLibraries[] = {
    {"SKF20060.dll", "XS_GetSealInfo.dll", ReadSealForm::HNXA},
    {"SKFAPI20045.dll", "SNCA_GetSeal180514.dll", ReadSealForm::GGZY},
    {"GZCA_WT.dll", "SEAL_GZCA_KGseal.dll", ReadSealForm::GZ},
};

constexpr char kOesSkfLibrary[] = "SKF_AHAPP.dll";
constexpr char kOesSealLibrary[] = "ahca_oes.dll";
constexpr int kGGZYSealSize = 42;

template <typename Function>
Function* Resolve(void* module, const char* name) {
    return reinterpret_cast<Function*>(platform::ModuleSymbol(module, name));
}

// Text of the first `name` child of `parent`; null when the child or its text is missing.
const char* ChildText(const tinyxml2::XMLElement* parent, const char* name) {
    const tinyxml2::XMLElement* child = parent->FirstChildElement(name);
    return child ? child->GetText() : nullptr;
}

}  // namespace

void SkfUKey::InitSealMap() {
    for (const SealLibrary& entry : kSealLibraries) {
        if (m_libName != entry.skfLibrary) continue;
        TLOG_DEBUG("start ReadGGZYSealImg");
        ReadGGZYSealImg();
        return;
    }
    if (m_libName == kOesSkfLibrary) {
        if (ReadOESSealImg() == 0) SetLastErrorMessage("读取安徽CA印章失败");
    } else if (m_ukeyType == 0) {
        TLOG_DEBUG("start ReadSKFFile");
        ReadSKFFile();
    }
}

void SkfUKey::LoadSealLibrary() {
    const SealLibrary* chosen = nullptr;
    for (const SealLibrary& entry : kSealLibraries)
        if (m_libName == entry.skfLibrary) chosen = &entry;
    if (!chosen) return;
    m_hSealModule = platform::LoadModule(ModulePath(chosen->sealLibrary));
    if (!m_hSealModule) return;
    m_isUKIn = Resolve<SealIsUKInFunction>(m_hSealModule, "IsUKIn");
    m_getSealCount = Resolve<SealGetSealCountFunction>(m_hSealModule, "GetSealCount");
    switch (chosen->form) {
        case ReadSealForm::HNXA:
            m_readSealDataHNXA = Resolve<ReadSealDataHNXAFunction>(m_hSealModule, "ReadSealData");
            break;
        case ReadSealForm::GGZY:
            m_readSealDataGGZY = Resolve<ReadSealDataGGZYFunction>(m_hSealModule, "ReadSealData");
            break;
        case ReadSealForm::GZ:
            m_readSealDataGZ = Resolve<ReadSealDataGZFunction>(m_hSealModule, "ReadSealData");
            break;
    }
}

void SkfUKey::LoadANCALibrary() {
    if (m_libName == kOesSkfLibrary)
        m_hSealModule = platform::LoadModule(ModulePath(kOesSealLibrary));
    if (!m_hSealModule) {
        TLOG_DEBUG("LoadANCALibrary dll failed");
        return;
    }
    m_oesGetSealList = Resolve<OesGetSealListFunction>(m_hSealModule, "OES_GetSealList");
    m_oesGetSeal = Resolve<OesGetSealFunction>(m_hSealModule, "OES_GetSeal");
    m_oesGetSealImage = Resolve<OesGetSealImageFunction>(m_hSealModule, "OES_GetSealImage");
}

void SkfUKey::UnloadSealLibrary() {
    platform::UnloadModule(m_hSealModule);
    m_hSealModule = nullptr;
    m_isUKIn = nullptr;
    m_getSealCount = nullptr;
    m_readSealDataHNXA = nullptr;
    m_readSealDataGGZY = nullptr;
    m_readSealDataGZ = nullptr;
    m_oesGetSealList = nullptr;
    m_oesGetSeal = nullptr;
    m_oesGetSealImage = nullptr;
}

int SkfUKey::ReadGGZYSealImg() {
    TLOG_DEBUG("start readHCSealImg");
    if (!m_isUKIn || !m_getSealCount) {
        TLOG_DEBUG("isUkeyIn  or getSealCount is nullptr");
        return 0;
    }
    int present = m_isUKIn();
    if (present != 0) {
        TLOG_DEBUG("isUkeyIn return:" << present);
        return 0;
    }
    int count = m_getSealCount();
    if (count == 0) {
        TLOG_DEBUG("getSealCount return 0");
        return 0;
    }
    if (m_readSealDataHNXA) {
        TLOG_DEBUG("start readHNXASealData");
        std::vector<unsigned char> buffer(kSealDataBufferSize, 0);
        int length = kSealDataBufferSize;
        int rc = m_readSealDataHNXA(-1, buffer.data(), &length);
        // A length the buffer cannot hold is a failed read, never a reason to read past it.
        if (rc != 0 || length < 0 || length > kSealDataBufferSize) {
            TLOG_DEBUG("readHNXASealData return 0");
            return 0;
        }
        constructGGZYSeal(
            std::string(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(length)));
        return 1;
    }
    if (m_readSealDataGGZY || m_readSealDataGZ) {
        const char* form = m_readSealDataGGZY ? "readGGZYSealData" : "readGZSealData";
        TLOG_DEBUG((m_readSealDataGGZY ? "start readGGZYSealData" : "start readGZSealData"));
        for (int index = 0; index < count; ++index) {
            std::string text;
            if (m_readSealDataGGZY) {
                text = m_readSealDataGGZY(index);
            } else if (const char* data = m_readSealDataGZ(index)) {
                text = data;
            }
            TLOG_DEBUG(form << " sealinfo data:" << text);
            if (text.empty()) {
                TLOG_DEBUG(form << " return empty");
                return 0;
            }
            constructGGZYSeal(text);
        }
    }
    return 1;
}

void SkfUKey::constructGGZYSeal(const std::string& xml) {
    std::string name, data, time;
    if (!parseGGZYXML(xml, name, data, time)) {
        TLOG_DEBUG("parseGGZYXML error");
        return;
    }
    if (data.empty()) return;
    StoreSeal(name, data, kGGZYSealSize, kGGZYSealSize, time);
}

bool SkfUKey::parseGGZYXML(const std::string& xml, std::string& name, std::string& data,
                           std::string& time) {
    TLOG_DEBUG("start parseGGZYXML");
    tinyxml2::XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    if (doc.Parse(xml.data(), xml.size()) != tinyxml2::XML_SUCCESS) return false;
    TLOG_DEBUG("SealData Parse Success");
    // A document without the seal description or one of its texts counts as unreadable.
    const tinyxml2::XMLElement* root = doc.RootElement();
    const tinyxml2::XMLElement* info = root ? root->FirstChildElement("sealinfo") : nullptr;
    if (!info) return false;
    TLOG_DEBUG("XMLdata get sealname");
    const char* nameText = ChildText(info, "sealname");
    if (!nameText) return false;
    TLOG_DEBUG("XMLdata get sealdata");
    const char* dataText = ChildText(info, "sealdata");
    if (!dataText) return false;
    TLOG_DEBUG("XMLdata get sealtime");
    const char* timeText = ChildText(info, "sealtime");
    if (!timeText) return false;
    name = nameText;
    data = dataText;
    time = timeText;
    TLOG_DEBUG("end parseGGZYXML");
    return true;
}

int SkfUKey::ReadOESSealImg() {
    if (!m_oesGetSealList || !m_oesGetSeal || !m_oesGetSealImage) return 0;
    std::vector<char> list(kOesSealListSize, '\0');
    int listLength = kOesSealListSize;
    int rc = m_oesGetSealList(reinterpret_cast<unsigned char*>(list.data()), &listLength);
    std::vector<std::string> ids;
    // A list that fills the buffer without its closing empty identifier is a failed listing.
    if (rc != 0 || !EndedNameList(list.data(), list.size(), ids)) {
        TLOG_ERROR("oes_getSealList fail,error is:" << rc);
        return 0;
    }
    for (std::string& id : ids) {
        std::vector<unsigned char> seal(kSealDataBufferSize, 0);
        int sealLength = kSealDataBufferSize;
        rc = m_oesGetSeal(reinterpret_cast<unsigned char*>(&id[0]), static_cast<int>(id.size()),
                          seal.data(), &sealLength);
        if (rc != 0 || sealLength < 0 || sealLength > kSealDataBufferSize) {
            TLOG_ERROR("oes_getSeal fail,error is:" << rc);
            continue;
        }
        int imageLength = 0, width = 0, height = 0;
        rc = m_oesGetSealImage(seal.data(), sealLength, 0, nullptr, &imageLength, &width, &height);
        if (rc != 0 || imageLength <= 0) {
            TLOG_ERROR("oes_getSealImage1 fail,error is:" << rc);
            continue;
        }
        std::vector<unsigned char> image(static_cast<size_t>(imageLength), 0);
        int written = imageLength;
        rc = m_oesGetSealImage(seal.data(), sealLength, 0, image.data(), &written, &width, &height);
        // The image is what the second call wrote; a length past the buffer is a failed read.
        if (rc != 0 || written <= 0 || written > imageLength) {
            TLOG_ERROR("oes_getSealImage2 fail,error is:" << rc);
            continue;
        }
        StoreSeal(id, Base64Encode(ByteArray(image.data(), static_cast<unsigned long>(written))),
                  width, height, "");
    }
    return static_cast<int>(m_sealMap.size());
}
