// Exports of the seal image family.
#include "api/encodings.h"
#include "api/export_frame.h"
#include "api/failure.h"
#include "api/input_limits.h"
#include "tessal/seals.h"

namespace {

// Keys of this library hand their stamp image to the host as raw bytes.
constexpr char kRawStampLibrary[] = "SxcaCsp11_3000GM.dll";

}  // namespace

bool ZYKGetUkeyStampImg(int& width, int& height, std::string& sealInfo, std::string& name,
                        std::string& image) try {
    ExportFrame frame;
    UsbKey* key = frame.Key();
    if (!key) return false;
    ByteArray bytes;
    std::string stampName;
    if (key->GetStampImg(bytes, width, height, stampName, sealInfo) != 0) return false;
    if (key->GetLibName() == kRawStampLibrary) {
        image.assign(reinterpret_cast<const char*>(bytes.data()),
                     static_cast<size_t>(bytes.length()));
        name = AnsiToUtf8(stampName);
    } else {
        image = Base64Encode(bytes);
        name = stampName;
    }
    return true;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

std::string ZYKGetUkeyStampImgNames() try {
    ExportFrame frame;
    auto* key = dynamic_cast<SkfUKey*>(frame.Key());
    std::string joined;
    if (!key) return joined;
    for (const std::string& name : key->GetStampImgNames()) {
        if (!joined.empty()) joined += ";";
        joined += name;
    }
    return joined;
} catch (const std::exception& e) {
    return ExportFailure(e, std::string());
}

bool ZYKGetImgWithName(std::string& name, std::string& image) try {
    ExportFrame frame;
    auto* key = dynamic_cast<SkfUKey*>(frame.Key());
    return key && key->GetImgWithName(name, image) == 0;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKGetGMSeal(std::string& seal) try {
    ExportFrame frame;
    auto* key = dynamic_cast<SkfUKey*>(frame.Key());
    ByteArray bytes;
    if (!key || key->GetGmSeal(bytes) != 0) return false;
    seal = Base64Encode(bytes);
    return true;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKImportSeal(std::string image, std::string name) try {
    ExportFrame frame;
    auto* key = dynamic_cast<SkfUKey*>(frame.PinVerifiedKey());
    if (!key) return false;
    // Seal files are named in the key's code page, as the seal map reads them back.
    std::string keyName;
    if (!Utf8ToAnsiExactly(name, keyName)) {
        CResult result;
        TESSAL_FAIL(result, 52, "ZYKImportSeal");
        return false;
    }
    ByteArray bytes = Base64Decode(image);
    return key->ImportSeal(bytes, keyName) == 0;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKDeleteAllImg() try {
    ExportFrame frame;
    if (!frame.PinVerifiedKey()) return false;
    auto* key = dynamic_cast<SkfUKey*>(frame.OwnMiddlewareKey());
    return key && key->DeleteAllImg() == 0;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}
