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

// The kinds of property value (control/PL5Properties.h): the type the interface passes (Arg), the
// type the control keeps (Value), the conversion of a put's argument and the answer to a get.
struct Text
{
    using Arg = BSTR;
    using Value = std::wstring;
    static Value From(BSTR bstr) { return TextOf(bstr); }
    static HRESULT Get(const Value& str, BSTR* pVal) { return GetText(str, pVal); }
};

struct Flag
{
    using Arg = VARIANT_BOOL;
    using Value = bool;
    static Value From(VARIANT_BOOL v) { return FlagFrom(v); }
    static HRESULT Get(bool b, VARIANT_BOOL* pVal) { return GetFlag(b, pVal); }
};

template <class N>
struct Number
{
    using Arg = N;
    using Value = N;
    static Value From(N n) { return n; }
    static HRESULT Get(N n, N* pVal) { return GetNumber(n, pVal); }
};
using ULong = Number<ULONG>;
using Short = Number<SHORT>;
}  // namespace PL5Script
