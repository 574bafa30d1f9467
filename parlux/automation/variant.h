// Automation values passed to and returned by office objects.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace parlux {

class DispatchTarget;

enum class VarType { Empty, Null, I4, R8, Bool, Bstr, Dispatch, Unknown, Error, Array };

struct Variant {
    VarType type = VarType::Empty;
    int32_t i4 = 0;         // I4, and the code of Error
    double r8 = 0;          // R8
    bool boolean = false;   // Bool
    std::string bstr;       // Bstr, UTF-8 here
    std::shared_ptr<DispatchTarget> object;  // Dispatch and Unknown
    // Array: elements in row-major order; `bounds` holds (lower, upper) per dimension.
    std::vector<Variant> elements;
    std::vector<std::pair<int32_t, int32_t>> bounds;
    VarType elementType = VarType::Empty;  // Empty means elements are variants
    bool nullArray = false;

    static Variant Int(int32_t v);
    static Variant Real(double v);
    static Variant Flag(bool v);
    static Variant Text(const std::string& v);
    static Variant Object(std::shared_ptr<DispatchTarget> v);
    static Variant Missing();  // an omitted optional argument (DISP_E_PARAMNOTFOUND)
    static Variant NullValue();
};

// The platform's conversions: false when the value does not convert.
bool VariantToInt32(const Variant& value, int32_t& out);
bool VariantToDouble(const Variant& value, double& out);

}  // namespace parlux
