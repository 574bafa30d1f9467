// Late-bound calls on office objects: by name, with automation values and exception text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "automation/variant.h"

namespace parlux {

constexpr int32_t kEPointer = static_cast<int32_t>(0x80004003);
constexpr int32_t kENoInterface = static_cast<int32_t>(0x80004002);
constexpr int32_t kEFail = static_cast<int32_t>(0x80004005);
constexpr int32_t kDispEUnknownName = static_cast<int32_t>(0x80020006);
constexpr int32_t kDispETypeMismatch = static_cast<int32_t>(0x80020005);
constexpr int32_t kDispEParamNotFound = static_cast<int32_t>(0x80020004);
constexpr int32_t kDispEException = static_cast<int32_t>(0x80020009);
constexpr int32_t kPasswordErrorHr = static_cast<int32_t>(0x800A1520);

enum InvokeKind : int { kInvokeMethod = 1, kPropertyGet = 2, kPropertyPut = 4 };

// What an automation call raised: its description and status code.
struct ExceptionInfo {
    std::string description;
    int32_t scode = 0;
};

// An object of an office back end, called by name.
class DispatchTarget {
public:
    virtual ~DispatchTarget() = default;
    // Arguments in their natural order; a property put passes the value as its one argument.
    // Returns an HRESULT (DISP_E_UNKNOWNNAME for a name the object does not have).
    virtual int32_t Invoke(const std::string& name, InvokeKind kind, const std::vector<Variant>& args,
                           Variant& result, ExceptionInfo& exception) = 0;
};

class DispatchObject {
public:
    DispatchObject() = default;
    explicit DispatchObject(std::shared_ptr<DispatchTarget> target) : m_target(std::move(target)) {}

    int32_t getProperty(const std::string& name, const std::vector<Variant>& args, Variant& value);
    int32_t putProperty(const std::string& name, const Variant& value);
    int32_t callMethod(const std::string& name, const std::vector<Variant>& args, Variant* value = nullptr);
    // A returned value as an object (E_NOINTERFACE for a null object, DISP_E_TYPEMISMATCH otherwise).
    static int32_t toDispatch(const Variant& value, DispatchObject& out);

    bool valid() const { return m_target != nullptr; }
    const std::string& lastErrorText() const { return m_lastErrorText; }
    DispatchTarget* target() const { return m_target.get(); }

private:
    int32_t Call(const std::string& name, InvokeKind kind, const std::vector<Variant>& args, Variant* value);

    std::shared_ptr<DispatchTarget> m_target;
    std::string m_lastErrorText;
};

}  // namespace parlux
