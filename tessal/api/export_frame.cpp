#include "api/export_frame.h"

#include "api/last_error.h"

ExportFrame::ExportFrame() : m_manager(UKeyManager::GetInstance()) {}

UsbKey* ExportFrame::Key() {
    if (!m_key.get()) m_key.Reset(m_manager.GetCurrentUKey());
    UsbKey* key = m_key.get();
    if (!key) SetLastErrorMessage(kNoKeyText);
    return key;
}

UsbKey* ExportFrame::OwnMiddlewareKey() {
    UsbKey* key = Key();
    if (key && key->GetUkeyType() != 0) {
        SetLastErrorMessage(kUnsupportedText);
        return nullptr;
    }
    return key;
}

UsbKey* ExportFrame::PinVerifiedKey() {
    UsbKey* key = Key();
    if (key && !key->IsPinVerified()) {
        SetLastErrorMessage(kPinNotVerifiedText);
        return nullptr;
    }
    return key;
}
