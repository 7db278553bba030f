// The module's embedded type library (resource TYPELIB 1), loaded once and shared.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include "ptl/ComPtr.h"

namespace PTL
{
class CTypeLib
{
public:
    // The type information of an interface or coclass of the module's library.
    static HRESULT GetTypeInfo(REFGUID guid, ITypeInfo** ppTypeInfo);
    static HRESULT Get(ITypeLib** ppTypeLib);
    // Drops the cached library; called when the module is about to be unloaded.
    static void Release();
};

// Invokes a member through the type information. Script engines send a call such as
// ctl.GetFileName(0) as a method call only; for a member that is a property getter the call is
// answered as that get, so indexed getters work from every engine.
HRESULT InvokeThroughTypeInfo(ITypeInfo* pTypeInfo, void* pThis, DISPID dispid, WORD wFlags, DISPPARAMS* pParams,
                              VARIANT* pResult, EXCEPINFO* pExcepInfo, UINT* puArgErr);

// IDispatch for a dual interface Itf described by the module's type library.
template <class Itf, const IID* piid>
class IDispatchImpl : public Itf
{
public:
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override
    {
        if (!pctinfo)
            return E_POINTER;
        *pctinfo = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo) override
    {
        if (!ppTInfo)
            return E_POINTER;
        *ppTInfo = nullptr;
        if (iTInfo != 0)
            return DISP_E_BADINDEX;
        return CTypeLib::GetTypeInfo(*piid, ppTInfo);
    }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) override
    {
        if (riid != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        CComPtr<ITypeInfo> pTypeInfo;
        HRESULT hr = CTypeLib::GetTypeInfo(*piid, &pTypeInfo);
        if (FAILED(hr))
            return hr;
        return pTypeInfo->GetIDsOfNames(rgszNames, cNames, rgDispId);
    }
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags, DISPPARAMS* pDispParams,
                        VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override
    {
        if (riid != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        CComPtr<ITypeInfo> pTypeInfo;
        HRESULT hr = CTypeLib::GetTypeInfo(*piid, &pTypeInfo);
        if (FAILED(hr))
            return hr;
        return InvokeThroughTypeInfo(pTypeInfo, static_cast<Itf*>(this), dispIdMember, wFlags, pDispParams, pVarResult,
                                     pExcepInfo, puArgErr);
    }
};
}  // namespace PTL
