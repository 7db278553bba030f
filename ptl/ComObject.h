// Reference counting and interface lookup for the module's COM objects.
//
// A class T lists the interfaces it answers in a QITAB (shlwapi's table for QISearch) and
// implements everything but IUnknown; CComObject<T> adds IUnknown and ties the object's life
// to the module's lock count, so DllCanUnloadNow sees every live object.
#pragma once
#include <windows.h>
#include <shlwapi.h>
#include <utility>
#include "ptl/Module.h"

namespace PTL
{
template <class T, bool bLocksModule = true>
class CComObject final : public T
{
public:
    template <class... A>
    explicit CComObject(A&&... args) : T(std::forward<A>(args)...)
    {
        if (bLocksModule)
            CModule::Lock();
    }
    ~CComObject() override
    {
        if (bLocksModule)
            CModule::Unlock();
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        return QISearch(static_cast<T*>(this), T::InterfaceTable(), riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_nRef)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG n = InterlockedDecrement(&m_nRef);
        if (n == 0)
            delete this;  // COM's own ownership rule: the last Release ends the object
        return static_cast<ULONG>(n);
    }

    // Makes a new object and hands out the requested interface; the object dies with its last
    // reference, also when the interface is not supported.
    template <class... A>
    static HRESULT Create(REFIID riid, void** ppv, A&&... args)
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        auto* p = new (std::nothrow) CComObject(std::forward<A>(args)...);
        if (!p)
            return E_OUTOFMEMORY;
        p->AddRef();
        const HRESULT hr = p->QueryInterface(riid, ppv);
        p->Release();
        return hr;
    }

private:
    volatile LONG m_nRef = 0;
};

// Every object class needs a virtual destructor for CComObject's delete.
class CComObjectRoot
{
public:
    virtual ~CComObjectRoot() = default;
};
}  // namespace PTL
