// The host's end of an object's events: one sink per object, advised on the object's default
// source dispinterface, handing every call to the page's handlers with its arguments as sent.
#pragma once

#include "tools/host/DispatchObjects.h"

#include <oaidl.h>
#include <ocidl.h>

#include <functional>
#include <string>

namespace Host
{

// The object's default source dispinterface and its type information (for event names), found
// through IProvideClassInfo2 and the class's type information. Fails with E_NOINTERFACE when the
// object names no event interface.
HRESULT FindDefaultSource(IUnknown* pObject, IID& iid, PTL::CComPtr<ITypeInfo>& pTypeInfo);

// An event's dispatch id in the source interface, or DISPID_UNKNOWN.
DISPID FindEventId(ITypeInfo* pTypeInfo, const std::wstring& strEvent);

class CEventSink : public CDispatchObject
{
public:
    // The callback receives the event's dispid, the arguments exactly as the object sent them
    // and the object's result VARIANT (null when it asks for none).
    using CHandler = std::function<HRESULT(DISPID, DISPPARAMS*, VARIANT*)>;

    CEventSink(const IID& iid, CHandler handler) : m_iid(iid), m_handler(std::move(handler)) {}

    // IDispatch, and the same under the event interface's own identifier.
    const QITAB* InterfaceTable() const { return m_qit; }

    // After this the sink ignores calls: an object that keeps a reference past Unadvise can no
    // longer reach a page that has ended.
    void Detach() { m_handler = nullptr; }

    // Every call goes to the handler as it came, without the unpacking of CDispatchObject.
    STDMETHODIMP Invoke(DISPID nId, REFIID, LCID, WORD wFlags, DISPPARAMS* pParams, VARIANT* pResult,
                        EXCEPINFO* pExcepInfo, UINT* pnArgErr) override;

protected:
    DISPID FindMember(const std::wstring&) override { return DISPID_UNKNOWN; }
    HRESULT InvokeMember(DISPID, WORD, const std::vector<const VARIANT*>&, PTL::CComVariant&, EXCEPINFO*) override
    {
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    IID m_iid;
    CHandler m_handler;
    const QITAB m_qit[3] = {
        QITABENT(CEventSink, IDispatch),
        QITABENTMULTI2(CEventSink, m_iid, IDispatch),
        {nullptr, 0},
    };
};

// One advise on an object's connection point; unadvised on destruction.
class CEventConnection
{
public:
    CEventConnection() = default;
    CEventConnection(const CEventConnection&) = delete;
    CEventConnection& operator=(const CEventConnection&) = delete;
    ~CEventConnection() { Disconnect(); }

    HRESULT Connect(IUnknown* pObject, const IID& iid, IUnknown* pSink);
    void Disconnect();

private:
    PTL::CComPtr<IConnectionPoint> m_pPoint;
    DWORD m_nCookie = 0;
};

}  // namespace Host
