#include "backends/com/com_object.h"

#include <oleauto.h>

#include "kit/wide_text.h"

namespace parlux::com {
namespace {

constexpr LCID kUserDefaultLocale = 0x400;

std::string FromBstr(BSTR text) {
    return text ? kit::NarrowToUtf8(std::wstring(text, SysStringLen(text))) : std::string();
}

// The elements of a SAFEARRAY: bounds per dimension, then the elements where they matter to
// the reader (variants and strings); an array whose data cannot be reached keeps only its bounds.
Variant FromArray(SAFEARRAY* array, VARTYPE elementType) {
    Variant out;
    out.type = VarType::Array;
    out.elementType = elementType == VT_VARIANT ? VarType::Empty
                      : elementType == VT_BSTR  ? VarType::Bstr
                                                : VarType::I4;
    if (!array) {
        out.nullArray = true;
        return out;
    }
    UINT dimensions = SafeArrayGetDim(array);
    long long total = dimensions ? 1 : 0;
    for (UINT d = 1; d <= dimensions; ++d) {
        LONG lower = 0, upper = 0;
        if (FAILED(SafeArrayGetLBound(array, d, &lower)) ||
            FAILED(SafeArrayGetUBound(array, d, &upper))) {
            out.bounds = {{0, -1}};  // unreadable: an empty array
            return out;
        }
        out.bounds.emplace_back(lower, upper);
        total = upper < lower ? 0 : total * (static_cast<long long>(upper) - lower + 1);
    }
    void* data = nullptr;
    if (total == 0 || (out.elementType == VarType::I4) ||
        FAILED(SafeArrayAccessData(array, &data))) {
        out.elementType = VarType::I4;  // only the count tells
        return out;
    }
    for (long long i = 0; i < total; ++i) {
        if (elementType == VT_VARIANT)
            out.elements.push_back(FromVariant(static_cast<VARIANT*>(data)[i]));
        else
            out.elements.push_back(Variant::Text(FromBstr(static_cast<BSTR*>(data)[i])));
    }
    SafeArrayUnaccessData(array);
    return out;
}

Variant FromObject(IUnknown* unknown, bool isDispatch) {
    Variant out;
    out.type = isDispatch ? VarType::Dispatch : VarType::Unknown;
    if (!unknown) return out;
    IDispatch* dispatch = nullptr;
    HRESULT hr = unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    out.object =
        std::make_shared<ComObject>(SUCCEEDED(hr) ? dispatch : nullptr, SUCCEEDED(hr) ? S_OK : hr);
    return out;
}

// A number of another type, converted by the platform; R8 for everything wider than VT_I4.
Variant FromNumber(const VARIANT& value) {
    VARIANT converted;
    VariantInit(&converted);
    bool small = value.vt == VT_I1 || value.vt == VT_I2 || value.vt == VT_UI1 ||
                 value.vt == VT_UI2 || value.vt == VT_INT;
    Variant out;
    if (SUCCEEDED(
            VariantChangeType(&converted, const_cast<VARIANT*>(&value), 0, small ? VT_I4 : VT_R8)))
        out = small ? Variant::Int(converted.lVal) : Variant::Real(converted.dblVal);
    else
        out = Variant::Real(0);  // a scalar all the same
    VariantClear(&converted);
    return out;
}

}  // namespace

Variant FromVariant(const VARIANT& source) {
    VARIANT value;
    VariantInit(&value);
    if (FAILED(VariantCopyInd(&value, const_cast<VARIANT*>(&source))))
        return Variant::Text("?");  // some content, unreadable
    Variant out;
    if (value.vt & VT_ARRAY) {
        out = FromArray(value.parray, static_cast<VARTYPE>(value.vt & VT_TYPEMASK));
    } else {
        switch (value.vt) {
            case VT_EMPTY:
                break;
            case VT_NULL:
                out = Variant::NullValue();
                break;
            case VT_I4:
                out = Variant::Int(value.lVal);
                break;
            case VT_R8:
                out = Variant::Real(value.dblVal);
                break;
            case VT_BOOL:
                out = Variant::Flag(value.boolVal != VARIANT_FALSE);
                break;
            case VT_BSTR:
                out = Variant::Text(FromBstr(value.bstrVal));
                break;
            case VT_DISPATCH:
                out = FromObject(value.pdispVal, true);
                break;
            case VT_UNKNOWN:
                out = FromObject(value.punkVal, false);
                break;
            case VT_ERROR:
                out.type = VarType::Error;
                out.i4 = value.scode;
                break;
            default:
                out = FromNumber(value);
                break;
        }
    }
    VariantClear(&value);
    return out;
}

bool ToVariant(const Variant& value, VARIANT& out) {
    VariantInit(&out);
    switch (value.type) {
        case VarType::Empty:
            return true;
        case VarType::Null:
            out.vt = VT_NULL;
            return true;
        case VarType::I4:
            out.vt = VT_I4;
            out.lVal = value.i4;
            return true;
        case VarType::R8:
            out.vt = VT_R8;
            out.dblVal = value.r8;
            return true;
        case VarType::Bool:
            out.vt = VT_BOOL;
            out.boolVal = value.boolean ? VARIANT_TRUE : VARIANT_FALSE;
            return true;
        case VarType::Bstr: {
            std::wstring wide = kit::WidenUtf8(value.bstr);
            out.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
            if (!out.bstrVal) return false;
            out.vt = VT_BSTR;
            return true;
        }
        case VarType::Error:
            out.vt = VT_ERROR;
            out.scode = value.i4;
            return true;
        case VarType::Dispatch: {
            auto* object = dynamic_cast<ComObject*>(value.object.get());
            if (!object || !object->dispatch()) return false;
            object->dispatch()->AddRef();
            out.vt = VT_DISPATCH;
            out.pdispVal = object->dispatch();
            return true;
        }
        default:
            return false;  // no call of the converter passes arrays or unknowns
    }
}

ComObject::~ComObject() {
    if (m_dispatch) m_dispatch->Release();
}

int32_t ComObject::Invoke(const std::string& name, InvokeKind kind,
                          const std::vector<Variant>& args, Variant& result,
                          ExceptionInfo& exception) {
    if (!m_dispatch) return FAILED(m_error) ? m_error : E_POINTER;
    std::wstring wideName = kit::WidenUtf8(name);
    LPOLESTR names[] = {&wideName[0]};
    DISPID id = 0;
    HRESULT hr = m_dispatch->GetIDsOfNames(IID_NULL, names, 1, kUserDefaultLocale, &id);
    if (FAILED(hr)) return hr;
    // The platform takes the last argument first.
    std::vector<VARIANT> reversed(args.size());
    size_t converted = 0;
    for (; converted < args.size(); ++converted)
        if (!ToVariant(args[args.size() - 1 - converted], reversed[converted])) break;
    if (converted == args.size()) {
        DISPID putId = DISPID_PROPERTYPUT;
        DISPPARAMS params = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        if (kind == kPropertyPut) {
            params.rgdispidNamedArgs = &putId;
            params.cNamedArgs = 1;
        }
        VARIANT value;
        VariantInit(&value);
        EXCEPINFO info = {};
        UINT argumentError = 0;
        hr = m_dispatch->Invoke(id, IID_NULL, kUserDefaultLocale, static_cast<WORD>(kind), &params,
                                &value, &info, &argumentError);
        if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
        if (info.bstrDescription) exception.description = FromBstr(info.bstrDescription);
        exception.scode = info.scode;
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
        if (SUCCEEDED(hr)) result = FromVariant(value);
        VariantClear(&value);
    } else {
        hr = DISP_E_TYPEMISMATCH;
    }
    for (size_t i = 0; i < converted; ++i) VariantClear(&reversed[i]);
    return hr;
}

}  // namespace parlux::com
