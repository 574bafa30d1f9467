#include "backends/fake/script_object.h"

#include <fstream>
#include <sstream>

namespace parlux::fake {

std::string Describe(const Variant& v) {
    std::ostringstream out;
    switch (v.type) {
        case parlux::VarType::Empty: return "empty";
        case parlux::VarType::Null: return "null";
        case parlux::VarType::I4: out << v.i4; return out.str();
        case parlux::VarType::R8: out << v.r8; return out.str();
        case parlux::VarType::Bool: return v.boolean ? "true" : "false";
        case parlux::VarType::Bstr: return "\"" + v.bstr + "\"";
        case parlux::VarType::Error: return v.i4 == static_cast<int32_t>(0x80020004) ? "missing" : "error";
        case parlux::VarType::Dispatch: return "object";
        default: return "other";
    }
}

int32_t ScriptObject::Invoke(const std::string& name, parlux::InvokeKind kind, const std::vector<Variant>& args,
                             Variant& result, parlux::ExceptionInfo& exception) {
    std::string line = m_name + (kind == parlux::kPropertyPut ? "." + name + "=" : "." + name);
    if (kind != parlux::kPropertyPut && kind != parlux::kPropertyGet) line += "(";
    for (size_t i = 0; i < args.size(); ++i) line += (i ? "," : "") + Describe(args[i]);
    if (kind != parlux::kPropertyPut && kind != parlux::kPropertyGet) line += ")";
    m_log->push_back(line);
    if (!logFile.empty()) {
        std::ofstream out(logFile, std::ios::app);
        out << line << "\n";
    }
    auto failure = failures.find(name);
    if (failure != failures.end()) {
        exception.description = failure->second.second;
        exception.scode = failure->second.first;
        return parlux::kDispEException;
    }
    if (kind == parlux::kPropertyPut) {
        properties[name] = args.at(0);
        return 0;
    }
    auto method = methods.find(name);
    if (method != methods.end()) return method->second(args, result);
    auto property = properties.find(name);
    if (property != properties.end() && kind == parlux::kPropertyGet) {
        result = property->second;
        return 0;
    }
    return parlux::kDispEUnknownName;
}

std::shared_ptr<ScriptObject> ScriptObject::Child(const std::string& property, const std::string& name) {
    auto child = std::make_shared<ScriptObject>(name, m_log);
    child->logFile = logFile;
    properties[property] = Variant::Object(child);
    return child;
}

}  // namespace parlux::fake
