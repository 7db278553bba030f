// Conversions between the control's values and what script passes and receives.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <string>

namespace PL5Script
{
inline HRESULT GetFlag(bool b, VARIANT_BOOL* pVal)
{
    if (!pVal)
        return E_POINTER;
    *pVal = b ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

// A flag is set only by exactly VARIANT_TRUE; 1 or any other value clears it.
inline bool FlagFrom(VARIANT_BOOL v) { return v == VARIANT_TRUE; }

template <class N>
HRESULT GetNumber(N n, N* pVal)
{
    if (!pVal)
        return E_POINTER;
    *pVal = n;
    return S_OK;
}

// A new BSTR for an [out] string; never null, so C++ callers may rely on a string.
inline HRESULT GetText(const std::wstring& str, BSTR* pVal)
{
    if (!pVal)
        return E_POINTER;
    *pVal = SysAllocStringLen(str.data(), static_cast<UINT>(str.size()));
    return *pVal ? S_OK : E_OUTOFMEMORY;
}

inline std::wstring TextOf(BSTR bstr) { return bstr ? std::wstring(bstr, SysStringLen(bstr)) : std::wstring(); }
}  // namespace PL5Script
