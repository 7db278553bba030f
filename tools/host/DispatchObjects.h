// Script-facing objects of the host: a base that dispatches by member name without a type
// library, and two plain value objects (a list and a read-only record) through which the host
// hands structured data to page script, the way a browser hands arrays and objects to a control.
#pragma once

#include "ptl/ComPtr.h"
#include "ptl/ComObject.h"

#include <oaidl.h>

#include <string>
#include <utility>
#include <vector>

namespace Host
{

// IDispatch by name: a derived class lists its members and implements InvokeMember. Names are
// matched without regard to case. Failures that script should see as an exception are returned
// through Fail (DISP_E_EXCEPTION with a description).
class CDispatchObject : public PTL::CNoTypeInfo<IDispatch>, public PTL::CUncountedObjectRoot
{
public:
    static const QITAB* InterfaceTable()
    {
        static const QITAB qit[] = {QITABENT(CDispatchObject, IDispatch), {nullptr, 0}};
        return qit;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT nNames, LCID, DISPID* rgDispId) override;
    STDMETHODIMP Invoke(DISPID nId, REFIID, LCID, WORD wFlags, DISPPARAMS* pParams, VARIANT* pResult,
                        EXCEPINFO* pExcepInfo, UINT* pnArgErr) override;

protected:
    // The member's dispatch id, or DISPID_UNKNOWN.
    virtual DISPID FindMember(const std::wstring& strName) = 0;
    virtual HRESULT InvokeMember(DISPID nId, WORD wFlags, const std::vector<const VARIANT*>& args,
                                 PTL::CComVariant& result, EXCEPINFO* pExcepInfo) = 0;
    // Methods run only when called; reading one as a property (typeof, a reference without
    // parentheses) must not show a box or end the page.
    virtual bool IsMethod(DISPID) const { return false; }

    static HRESULT Fail(EXCEPINFO* pExcepInfo, const std::wstring& strMessage);
    static bool SameName(const std::wstring& a, const wchar_t* b);
};

// A method of a CDispatchObject taken as a value: calling it calls the method.
class CMethodObject : public CDispatchObject
{
public:
    CMethodObject(IDispatch* pOwner, DISPID nId) : m_pOwner(pOwner), m_nId(nId) {}

protected:
    DISPID FindMember(const std::wstring& strName) override;
    HRESULT InvokeMember(DISPID nId, WORD wFlags, const std::vector<const VARIANT*>& args, PTL::CComVariant& result,
                         EXCEPINFO* pExcepInfo) override;

private:
    PTL::CComPtr<IDispatch> m_pOwner;
    DISPID m_nId;
};

// A read-only list: "length", "Item(i)" and the indices "0", "1", ... as properties.
class CValueList : public CDispatchObject
{
public:
    explicit CValueList(std::vector<PTL::CComVariant> values) : m_values(std::move(values)) {}
    static PTL::CComPtr<IDispatch> FromTexts(const std::vector<std::wstring>& texts);

protected:
    DISPID FindMember(const std::wstring& strName) override;
    HRESULT InvokeMember(DISPID nId, WORD wFlags, const std::vector<const VARIANT*>& args, PTL::CComVariant& result,
                         EXCEPINFO* pExcepInfo) override;

private:
    std::vector<PTL::CComVariant> m_values;
};

// A read-only record of named values.
class CValueRecord : public CDispatchObject
{
public:
    void Set(const std::wstring& strName, PTL::CComVariant value);

protected:
    DISPID FindMember(const std::wstring& strName) override;
    HRESULT InvokeMember(DISPID nId, WORD wFlags, const std::vector<const VARIANT*>& args, PTL::CComVariant& result,
                         EXCEPINFO* pExcepInfo) override;

private:
    std::vector<std::pair<std::wstring, PTL::CComVariant>> m_fields;
};

}  // namespace Host
