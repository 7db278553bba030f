// A stand-in for a control in the host's unit tests: an object with the control's class
// information and event interface (from the type library in the test program's resources), one
// connection point, and a property bag load that records what the bag answered.
#pragma once

#include "tools/host/ComUtil.h"

#include <ocidl.h>

#include <string>
#include <vector>

namespace HostTest {

using Host::ComPtr;
using Host::CVariant;

class CFakeControl : public Host::CComObject<IDispatch, IProvideClassInfo2, IConnectionPointContainer,
                                             IConnectionPoint, IPersistPropertyBag> {
public:
    // What Load asks the bag for: each name with the type of the "current value".
    struct CRequest {
        std::wstring strName;
        VARTYPE nType;
    };
    struct CAnswer {
        std::wstring strName;
        HRESULT hr;
        CVariant value;
    };

    std::vector<CRequest> requests;
    std::vector<CAnswer> answers;
    bool bInitNew = false;
    bool bLoaded = false;

    // Calls every connected sink with the arguments in declared order; returns the last result.
    CVariant Fire(DISPID nId, std::vector<CVariant> args, HRESULT* phr = nullptr);
    size_t SinkCount() const;

    // IDispatch: no members of its own.
    STDMETHODIMP GetTypeInfoCount(UINT* pn) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** pp) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return DISP_E_MEMBERNOTFOUND;
    }
    // IProvideClassInfo2
    STDMETHODIMP GetClassInfo(ITypeInfo** ppTI) override;
    STDMETHODIMP GetGUID(DWORD dwGuidKind, GUID* pGUID) override;
    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** pp) override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** pp) override;
    // IConnectionPoint
    STDMETHODIMP GetConnectionInterface(IID* pIID) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** pp) override;
    STDMETHODIMP Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
    STDMETHODIMP Unadvise(DWORD dwCookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** pp) override;
    // IPersistPropertyBag
    STDMETHODIMP GetClassID(CLSID* pClassID) override;
    STDMETHODIMP InitNew() override;
    STDMETHODIMP Load(IPropertyBag* pPropBag, IErrorLog*) override;
    STDMETHODIMP Save(IPropertyBag*, BOOL, BOOL) override { return E_NOTIMPL; }

protected:
    void* QueryOtherInterface(REFIID riid) override
    {
        return IsEqualIID(riid, IID_IProvideClassInfo) ? static_cast<IProvideClassInfo2*>(this) : nullptr;
    }

private:
    std::vector<ComPtr<IDispatch>> m_sinks;  // a slot per cookie - 1; empty after Unadvise
};

}  // namespace HostTest
