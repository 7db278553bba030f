// IUnknown for a class that lists the interfaces it implements, for objects whose life does not
// keep a module loaded (an executable's own objects: sites, sinks, page objects).
#pragma once
#include <windows.h>

#include <atomic>
#include <utility>
#include "ptl/ComPtr.h"

namespace PTL
{
// Reference counting and QueryInterface for a class implementing the listed interfaces. The first
// interface answers IUnknown. A derived class may answer further identifiers (an event interface
// known only at run time, a base interface) through QueryOtherInterface.
template <class... TInterfaces>
class CUnknownImpl : public TInterfaces...
{
public:
    CUnknownImpl() = default;
    CUnknownImpl(const CUnknownImpl&) = delete;
    CUnknownImpl& operator=(const CUnknownImpl&) = delete;
    virtual ~CUnknownImpl() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown))
            *ppv = static_cast<IUnknown*>(static_cast<First<TInterfaces...>*>(this));
        else
            (void)((TryInterface<TInterfaces>(riid, ppv)) || ...);
        if (!*ppv)
            *ppv = QueryOtherInterface(riid);
        if (!*ppv)
            return E_NOINTERFACE;
        static_cast<IUnknown*>(*ppv)->AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_nRef; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG nRef = --m_nRef;
        if (nRef == 0)
            delete this;
        return nRef;
    }

protected:
    virtual void* QueryOtherInterface(REFIID) { return nullptr; }

private:
    template <class T, class...>
    struct FirstOf
    {
        using Type = T;
    };
    template <class... T>
    using First = typename FirstOf<T...>::Type;

    template <class I>
    bool TryInterface(REFIID riid, void** ppv)
    {
        if (!IsEqualIID(riid, __uuidof(I)))
            return false;
        *ppv = static_cast<I*>(this);
        return true;
    }

    std::atomic<ULONG> m_nRef{1};
};

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

// Creates an object whose Release deletes it; the returned pointer holds its only reference.
template <class T, class... TArgs>
CComPtr<T> MakeComObject(TArgs&&... args)
{
    return Adopt(new T(std::forward<TArgs>(args)...));
}
}  // namespace PTL
