#include "automation/dispatch.h"

namespace parlux {

int32_t DispatchObject::Call(const std::string& name, InvokeKind kind, const std::vector<Variant>& args,
                             Variant* value) {
    m_lastErrorText.clear();
    if (!m_target || name.empty()) return kEPointer;
    Variant local;
    ExceptionInfo exception;
    int32_t hr = m_target->Invoke(name, kind, args, value ? *value : local, exception);
    if (!exception.description.empty()) m_lastErrorText = exception.description;
    if (hr == kDispEException && exception.scode < 0) return exception.scode;
    return hr;
}

int32_t DispatchObject::getProperty(const std::string& name, const std::vector<Variant>& args, Variant& value) {
    return Call(name, kPropertyGet, args, &value);
}

int32_t DispatchObject::putProperty(const std::string& name, const Variant& value) {
    return Call(name, kPropertyPut, {value}, nullptr);
}

int32_t DispatchObject::callMethod(const std::string& name, const std::vector<Variant>& args, Variant* value) {
    return Call(name, kInvokeMethod, args, value);
}

int32_t DispatchObject::toDispatch(const Variant& value, DispatchObject& out) {
    if (value.type == VarType::Dispatch) {
        if (!value.object) return kENoInterface;
        out = DispatchObject(value.object);
        return 0;
    }
    if (value.type == VarType::Unknown && value.object) {
        out = DispatchObject(value.object);
        return 0;
    }
    return kDispETypeMismatch;
}

}  // namespace parlux
