// An office object behind COM's IDispatch: the automation layer's calls by name become
// GetIDsOfNames and Invoke, its values real VARIANTs, BSTRs and SAFEARRAYs.
#pragma once

#include <oaidl.h>

#include <memory>

#include "automation/dispatch.h"

namespace parlux::com {

class ComObject : public DispatchTarget {
public:
    // Takes over one reference of `dispatch`; `error` (with a null dispatch) answers every call.
    explicit ComObject(IDispatch* dispatch, HRESULT error = S_OK)
        : m_dispatch(dispatch), m_error(error) {}
    ~ComObject() override;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    int32_t Invoke(const std::string& name, InvokeKind kind, const std::vector<Variant>& args,
                   Variant& result, ExceptionInfo& exception) override;
    IDispatch* dispatch() const { return m_dispatch; }

private:
    IDispatch* m_dispatch;
    HRESULT m_error;
};

// A VARIANT the office returned as an automation value (references are followed).
Variant FromVariant(const VARIANT& value);
// An automation value as a VARIANT for a call; false for a value COM cannot carry.
bool ToVariant(const Variant& value, VARIANT& out);

}  // namespace parlux::com
