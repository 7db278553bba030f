// The class factory of a creatable class T (a CComObject-ready class).
#pragma once
#include <new>
#include "ptl/ComObject.h"

namespace PTL
{
template <class T>
class CClassFactory : public IClassFactory, public CUncountedObjectRoot
{
public:
    static const QITAB* InterfaceTable()
    {
        static const QITAB qit[] = {QITABENT(CClassFactory, IClassFactory), {nullptr, 0}};
        return qit;
    }

    STDMETHODIMP CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (pOuter)
            return CLASS_E_NOAGGREGATION;
        return CreateComObject<T>(riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL bLock) override
    {
        if (bLock)
            CModule::Lock();
        else
            CModule::Unlock();
        return S_OK;
    }
};

// A factory does not keep the module loaded by itself (its root); a client that holds one calls
// LockServer.
template <class T>
HRESULT GetClassFactory(REFIID riid, void** ppv)
{
    return CreateComObject<CClassFactory<T>>(riid, ppv);
}
}  // namespace PTL
