#include "ptl/TypeLib.h"
#include "ptl/Lock.h"
#include "ptl/Module.h"

namespace PTL
{
namespace
{
// A lock that needs no run-time initialisation: the first control may be made on any thread,
// and two threads may ask for the library at once.
SRWLOCK g_lock = SRWLOCK_INIT;
ITypeLib* g_pTypeLib = nullptr;
}  // namespace

HRESULT CTypeLib::Get(ITypeLib** ppTypeLib)
{
    if (!ppTypeLib)
        return E_POINTER;
    *ppTypeLib = nullptr;
    CLock guard(g_lock);
    if (!g_pTypeLib)
    {
        const HRESULT hr = LoadTypeLibEx(CModule::Path().c_str(), REGKIND_NONE, &g_pTypeLib);
        if (FAILED(hr))
            return hr;
    }
    g_pTypeLib->AddRef();
    *ppTypeLib = g_pTypeLib;
    return S_OK;
}

HRESULT CTypeLib::GetTypeInfo(REFGUID guid, ITypeInfo** ppTypeInfo)
{
    if (!ppTypeInfo)
        return E_POINTER;
    *ppTypeInfo = nullptr;
    CComPtr<ITypeLib> pTypeLib;
    const HRESULT hr = Get(&pTypeLib);
    if (FAILED(hr))
        return hr;
    return pTypeLib->GetTypeInfoOfGuid(guid, ppTypeInfo);
}

void CTypeLib::Release()
{
    CLock guard(g_lock);
    if (g_pTypeLib)
    {
        g_pTypeLib->Release();
        g_pTypeLib = nullptr;
    }
}

HRESULT InvokeThroughTypeInfo(ITypeInfo* pTypeInfo, void* pThis, DISPID dispid, WORD wFlags, DISPPARAMS* pParams,
                              VARIANT* pResult, EXCEPINFO* pExcepInfo, UINT* puArgErr)
{
    HRESULT hr = pTypeInfo->Invoke(pThis, dispid, wFlags, pParams, pResult, pExcepInfo, puArgErr);
    if (hr == DISP_E_MEMBERNOTFOUND && (wFlags & DISPATCH_METHOD) && !(wFlags & DISPATCH_PROPERTYGET))
        hr = pTypeInfo->Invoke(pThis, dispid, DISPATCH_PROPERTYGET, pParams, pResult, pExcepInfo, puArgErr);
    return hr;
}
}  // namespace PTL
