// An IDispatch of the scripted test office: named members, each a function of the call's
// arguments (in their natural order) that fills the result or raises an exception.
#pragma once

#include <oaidl.h>

#include <functional>
#include <string>
#include <vector>

namespace test_office {

// What one member call receives and answers.
struct Call {
    WORD flags = 0;              // DISPATCH_METHOD, DISPATCH_PROPERTYGET or DISPATCH_PROPERTYPUT
    std::vector<VARIANT*> args;  // natural order; a put's value is its only argument
    VARIANT* result = nullptr;   // may be null
    std::wstring description;    // set with a failing HRESULT: raised as an exception
};
using Member = std::function<HRESULT(Call& call)>;

// Called before every member call with "<kind>.<member>": S_OK lets the member run, anything
// else fails the call (with the call's description raised as an exception when it is set).
using CallHook = std::function<HRESULT(const std::wstring& qualifiedName, Call& call)>;
void SetCallHook(CallHook hook);

class DispatchObject : public IDispatch {
public:
    explicit DispatchObject(std::wstring kind) : m_kind(std::move(kind)) {}
    virtual ~DispatchObject();

    // The member `name` (looked up ignoring case); the first added under a name wins.
    void Add(const std::wstring& name, Member member);
    // A property returning `object` (a new reference per get); takes over the reference
    // `object` was made with.
    void AddObject(const std::wstring& name, DispatchObject* object);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception,
                                     UINT* argumentError) override;

private:
    struct Entry {
        std::wstring name;
        Member member;
    };
    std::wstring m_kind;
    std::vector<Entry> m_members;
    std::vector<DispatchObject*> m_children;
    LONG m_references = 1;
};

// Helpers for members.
HRESULT ReturnObject(VARIANT* result, IDispatch* object);
HRESULT ReturnInt(VARIANT* result, LONG value);
HRESULT ReturnDouble(VARIANT* result, double value);
HRESULT ReturnBool(VARIANT* result, bool value);
HRESULT ReturnText(VARIANT* result, const std::wstring& text);
// A text for the call log: "BSTR:text", "BOOL:-1", "I4:0", "ERROR:0x80020004", ...
std::wstring Describe(const VARIANT& value);

}  // namespace test_office
