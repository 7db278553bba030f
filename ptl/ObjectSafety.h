// IObjectSafety: the object reports and accepts "safe for untrusted callers" and "safe for
// untrusted data" for every interface it supports, as long as T::MayBeMarkedSafe() says so. When
// it does not (the object does not serve the page it is on), no option is reported and enabling
// one fails, so a browser neither scripts nor initialises the object.
#pragma once
#include <windows.h>
#include <objsafe.h>

#ifndef PTL_OBJSAFE_UUID
#define PTL_OBJSAFE_UUID
// MinGW's objsafe.h declares no __uuidof for the interface; interface tables need it.
__CRT_UUID_DECL(IObjectSafety, 0xcb5bdc81, 0x93c1, 0x11cf, 0x8f, 0x20, 0x00, 0x80, 0x5f, 0x2c, 0xd0, 0x64)
#endif

namespace PTL
{
template <class T, DWORD dwSupported = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA>
class IObjectSafetyImpl : public IObjectSafety
{
public:
    STDMETHODIMP GetInterfaceSafetyOptions(REFIID riid, DWORD* pdwSupportedOptions, DWORD* pdwEnabledOptions) override
    {
        if (!pdwSupportedOptions || !pdwEnabledOptions)
            return E_POINTER;
        *pdwSupportedOptions = 0;
        *pdwEnabledOptions = 0;
        if (!Supports(riid))
            return E_NOINTERFACE;
        if (!static_cast<T*>(this)->MayBeMarkedSafe())
            return S_OK;
        *pdwSupportedOptions = dwSupported;
        *pdwEnabledOptions = m_dwEnabled;
        return S_OK;
    }
    STDMETHODIMP SetInterfaceSafetyOptions(REFIID riid, DWORD dwOptionSetMask, DWORD dwEnabledOptions) override
    {
        if (!Supports(riid))
            return E_NOINTERFACE;
        if (dwOptionSetMask & ~dwSupported)
            return E_FAIL;
        if ((dwEnabledOptions & dwOptionSetMask) && !static_cast<T*>(this)->MayBeMarkedSafe())
            return E_FAIL;
        m_dwEnabled = (m_dwEnabled & ~dwOptionSetMask) | (dwEnabledOptions & dwOptionSetMask);
        return S_OK;
    }

    // The options a container enabled on any interface: a browser enables "safe for untrusted
    // callers" on an object its pages' script may drive.
    DWORD EnabledSafetyOptions() const { return m_dwEnabled; }

private:
    bool Supports(REFIID riid)
    {
        IUnknown* pUnk = nullptr;
        if (FAILED(static_cast<IObjectSafety*>(this)->QueryInterface(riid, reinterpret_cast<void**>(&pUnk))) || !pUnk)
            return false;
        pUnk->Release();
        return true;
    }

    DWORD m_dwEnabled = 0;
};
}  // namespace PTL
