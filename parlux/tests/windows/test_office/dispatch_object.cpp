#include "dispatch_object.h"

#include <oleauto.h>

#include <cstdio>
#include <cwchar>

namespace test_office {
namespace {

CallHook& Hook() {
    static CallHook hook;
    return hook;
}

}  // namespace

void SetCallHook(CallHook hook) { Hook() = std::move(hook); }

void DispatchObject::Add(const std::wstring& name, Member member) {
    m_members.push_back({name, std::move(member)});
}

void DispatchObject::AddObject(const std::wstring& name, DispatchObject* object) {
    m_children.push_back(object);  // the reference it was made with
    Add(name, [object](Call& call) { return ReturnObject(call.result, object); });
}

DispatchObject::~DispatchObject() {
    for (DispatchObject* child : m_children) child->Release();
}

HRESULT DispatchObject::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG DispatchObject::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_references)); }

ULONG DispatchObject::Release() {
    LONG left = InterlockedDecrement(&m_references);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

HRESULT DispatchObject::GetTypeInfoCount(UINT* count) {
    if (count) *count = 0;
    return S_OK;
}

HRESULT DispatchObject::GetTypeInfo(UINT, LCID, ITypeInfo**) { return DISP_E_BADINDEX; }

HRESULT DispatchObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!names || !ids || count != 1) return E_INVALIDARG;
    for (size_t i = 0; i < m_members.size(); ++i)
        if (_wcsicmp(m_members[i].name.c_str(), names[0]) == 0) {
            ids[0] = static_cast<DISPID>(i + 1);
            return S_OK;
        }
    ids[0] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
}

HRESULT DispatchObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                               VARIANT* result, EXCEPINFO* exception, UINT*) {
    if (id < 1 || static_cast<size_t>(id) > m_members.size()) return DISP_E_MEMBERNOTFOUND;
    const Entry& entry = m_members[static_cast<size_t>(id - 1)];
    Call call;
    call.flags = flags;
    call.result = result;
    if (params) {
        bool put = (flags & DISPATCH_PROPERTYPUT) != 0;
        if (put != (params->cNamedArgs == 1 && params->rgdispidNamedArgs &&
                    params->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT))
            return DISP_E_PARAMNOTFOUND;  // a put names its value, nothing else does
        for (UINT i = params->cArgs; i > 0; --i) call.args.push_back(&params->rgvarg[i - 1]);
    }
    if (result) VariantInit(result);
    HRESULT hr = Hook() ? Hook()(m_kind + L"." + entry.name, call) : S_OK;
    if (hr == S_OK) hr = entry.member(call);
    if (FAILED(hr) && !call.description.empty()) {
        if (exception) {
            *exception = EXCEPINFO();
            exception->bstrSource = SysAllocString(L"parlux_test_office");
            exception->bstrDescription = SysAllocString(call.description.c_str());
            exception->scode = hr;
        }
        return DISP_E_EXCEPTION;
    }
    return hr;
}

HRESULT ReturnObject(VARIANT* result, IDispatch* object) {
    if (!result) return S_OK;
    object->AddRef();
    result->vt = VT_DISPATCH;
    result->pdispVal = object;
    return S_OK;
}

HRESULT ReturnInt(VARIANT* result, LONG value) {
    if (result) {
        result->vt = VT_I4;
        result->lVal = value;
    }
    return S_OK;
}

HRESULT ReturnDouble(VARIANT* result, double value) {
    if (result) {
        result->vt = VT_R8;
        result->dblVal = value;
    }
    return S_OK;
}

HRESULT ReturnBool(VARIANT* result, bool value) {
    if (result) {
        result->vt = VT_BOOL;
        result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    }
    return S_OK;
}

HRESULT ReturnText(VARIANT* result, const std::wstring& text) {
    if (result) {
        result->vt = VT_BSTR;
        result->bstrVal = SysAllocString(text.c_str());
    }
    return S_OK;
}

std::wstring Describe(const VARIANT& value) {
    wchar_t text[64];
    switch (value.vt) {
        case VT_EMPTY:
            return L"EMPTY";
        case VT_BSTR:
            return L"BSTR:" + std::wstring(value.bstrVal ? value.bstrVal : L"");
        case VT_BOOL:
            return value.boolVal == VARIANT_TRUE ? L"BOOL:-1"
                   : value.boolVal == 0          ? L"BOOL:0"
                                                 : L"BOOL:?";
        case VT_I4:
            std::swprintf(text, 64, L"I4:%ld", value.lVal);
            return text;
        case VT_R8:
            std::swprintf(text, 64, L"R8:%g", value.dblVal);
            return text;
        case VT_ERROR:
            std::swprintf(text, 64, L"ERROR:0x%08lX", static_cast<unsigned long>(value.scode));
            return text;
        default:
            std::swprintf(text, 64, L"VT:%u", value.vt);
            return text;
    }
}

}  // namespace test_office
