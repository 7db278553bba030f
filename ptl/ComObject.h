// Reference counting and interface lookup for every COM object of the tree.
//
// A class T lists the interfaces it answers in a QITAB (shlwapi's table for QISearch), returned
// by InterfaceTable() - static, or a member where the answer depends on the object - and
// implements everything but IUnknown; CComObject<T> adds IUnknown. The root T derives from says
// whether a live object keeps the module loaded, so that DllCanUnloadNow sees every object that
// counts. A class that inherits its table from a base gets it through its first base.
#pragma once
#include <windows.h>
#include <shlwapi.h>
#include <new>
#include <utility>
#include "ptl/ComPtr.h"
#include "ptl/Module.h"

namespace PTL
{
// The module-lock policies: CModuleLock (Module.h) counts a live object, this counts nothing.
struct CNoModuleLock
{
};

template <class TModuleLock>
class CComObjectRootEx
{
public:
    using ModuleLock = TModuleLock;
    virtual ~CComObjectRootEx() = default;
};
// The control's objects: each live one keeps the module loaded.
using CComObjectRoot = CComObjectRootEx<CModuleLock>;
// Objects that must not keep the module loaded: a class factory (its client calls LockServer
// for that) and an executable's own objects (sites, sinks, page objects).
using CUncountedObjectRoot = CComObjectRootEx<CNoModuleLock>;

template <class T>
class CComObject final : public T
{
public:
    template <class... A>
    explicit CComObject(A&&... args) : T(std::forward<A>(args)...)
    {
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        return QISearch(static_cast<T*>(this), this->InterfaceTable(), riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_nRef)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG n = InterlockedDecrement(&m_nRef);
        if (n == 0)
            delete this;  // COM's own ownership rule: the last Release ends the object
        return static_cast<ULONG>(n);
    }

private:
    typename T::ModuleLock m_lock;
    volatile LONG m_nRef = 0;
};

// Makes a new object and hands out the requested interface; the object dies with its last
// reference, also when the interface is not supported. For COM's callers: it never throws.
template <class T, class... A>
HRESULT CreateComObject(REFIID riid, void** ppv, A&&... args)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    auto* p = new (std::nothrow) CComObject<T>(std::forward<A>(args)...);
    if (!p)
        return E_OUTOFMEMORY;
    p->AddRef();
    const HRESULT hr = p->QueryInterface(riid, ppv);
    p->Release();
    return hr;
}

// A C++ caller's reference to an object it made, with the object's own members in reach (T alone
// has no unambiguous AddRef when it implements several interfaces).
template <class T>
using CObjectPtr = CComPtr<CComObject<T>>;

// Makes a new object for C++ callers; the returned pointer holds its only reference. Throws
// std::bad_alloc as new does.
template <class T, class... A>
CObjectPtr<T> MakeComObject(A&&... args)
{
    return CObjectPtr<T>(new CComObject<T>(std::forward<A>(args)...));
}

// The type-information members of IDispatch for objects reached by name only (script objects,
// event sinks, sites): they offer no type information.
template <class... TBases>
class CNoTypeInfo : public TBases...
{
public:
    STDMETHODIMP GetTypeInfoCount(UINT* pn) override
    {
        if (!pn)
            return E_POINTER;
        *pn = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** pp) override
    {
        if (pp)
            *pp = nullptr;
        return E_NOTIMPL;
    }
};
}  // namespace PTL
