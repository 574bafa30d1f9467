#include "automation/variant.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace parlux {

Variant Variant::Int(int32_t v) {
    Variant x;
    x.type = VarType::I4;
    x.i4 = v;
    return x;
}
Variant Variant::Real(double v) {
    Variant x;
    x.type = VarType::R8;
    x.r8 = v;
    return x;
}
Variant Variant::Flag(bool v) {
    Variant x;
    x.type = VarType::Bool;
    x.boolean = v;
    return x;
}
Variant Variant::Text(const std::string& v) {
    Variant x;
    x.type = VarType::Bstr;
    x.bstr = v;
    return x;
}
Variant Variant::Object(std::shared_ptr<DispatchTarget> v) {
    Variant x;
    x.type = VarType::Dispatch;
    x.object = std::move(v);
    return x;
}
Variant Variant::Missing() {
    Variant x;
    x.type = VarType::Error;
    x.i4 = static_cast<int32_t>(0x80020004);
    return x;
}
Variant Variant::NullValue() {
    Variant x;
    x.type = VarType::Null;
    return x;
}

namespace {

// A number in a text, the whole text (surrounding blanks allowed), as the platform parses it.
bool ParseNumber(const std::string& text, double& out) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(begin, &end);
    if (end == begin || errno == ERANGE) return false;
    while (*end == ' ' || *end == '\t') ++end;
    if (*end != '\0' || std::isnan(v) || std::isinf(v)) return false;
    out = v;
    return true;
}

}  // namespace

// Conversions follow the platform's: empty is 0, true is -1, doubles round half to even,
// out-of-range values and null fail.
bool VariantToInt32(const Variant& value, int32_t& out) {
    double d = 0;
    switch (value.type) {
        case VarType::Empty: out = 0; return true;
        case VarType::I4: out = value.i4; return true;
        case VarType::Bool: out = value.boolean ? -1 : 0; return true;
        case VarType::R8: d = value.r8; break;
        case VarType::Bstr:
            if (!ParseNumber(value.bstr, d)) return false;
            break;
        default: return false;
    }
    double rounded = std::nearbyint(d);  // the default rounding mode is to nearest, ties to even
    if (rounded < -2147483648.0 || rounded > 2147483647.0) return false;
    out = static_cast<int32_t>(rounded);
    return true;
}

bool VariantToDouble(const Variant& value, double& out) {
    switch (value.type) {
        case VarType::I4: out = value.i4; return true;
        case VarType::R8: out = value.r8; return true;
        case VarType::Bool: out = value.boolean ? -1.0 : 0.0; return true;
        case VarType::Bstr: return ParseNumber(value.bstr, out);
        default: return false;  // empty and null included
    }
}

}  // namespace parlux
