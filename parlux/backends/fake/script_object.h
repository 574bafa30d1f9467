// A scripted office object: properties, methods and failures by name, and a record of every
// call it receives (the fake back end is built from these).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "automation/dispatch.h"

namespace parlux::fake {

using parlux::Variant;

class ScriptObject : public parlux::DispatchTarget, public std::enable_shared_from_this<ScriptObject> {
public:
    using Method = std::function<int32_t(const std::vector<Variant>& args, Variant& result)>;

    ScriptObject(std::string name, std::shared_ptr<std::vector<std::string>> log) : m_name(std::move(name)), m_log(std::move(log)) {}

    // Property values; a put stores the value (and is recorded).
    std::map<std::string, Variant> properties;
    // Indexed properties and methods.
    std::map<std::string, Method> methods;
    // Names that fail with an HRESULT and an exception description.
    std::map<std::string, std::pair<int32_t, std::string>> failures;

    int32_t Invoke(const std::string& name, parlux::InvokeKind kind, const std::vector<Variant>& args, Variant& result,
                   parlux::ExceptionInfo& exception) override;

    std::shared_ptr<ScriptObject> Child(const std::string& property, const std::string& name);
    const std::string& name() const { return m_name; }

    // When set, every call is also appended as a line to this file.
    std::string logFile;

private:
    std::string m_name;
    std::shared_ptr<std::vector<std::string>> m_log;
};

std::string Describe(const Variant& v);

}  // namespace parlux::fake
