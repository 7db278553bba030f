#include "ptl/Persist.h"
#include <algorithm>
#include <vector>

namespace PTL
{
namespace
{
// Stream layout: a version word, the extent, then per property of that version its VARTYPE and
// value, in map order.

DWORD EntryVersion(const PropMapEntry& entry)
{
    return entry.dwStreamVersion ? entry.dwStreamVersion : FIRST_STREAM_VERSION;
}

// The layout a map writes: that of its newest entry.
DWORD NewestVersion(const PropMapEntry* pMap)
{
    DWORD dwVersion = FIRST_STREAM_VERSION;
    for (const PropMapEntry* p = pMap; p->szName; ++p)
        dwVersion = std::max(dwVersion, EntryVersion(*p));
    return dwVersion;
}

HRESULT ReadExact(IStream* pStream, void* pv, ULONG cb)
{
    ULONG cbRead = 0;
    const HRESULT hr = pStream->Read(pv, cb, &cbRead);
    if (FAILED(hr))
        return hr;
    return cbRead == cb ? S_OK : STG_E_READFAULT;
}

HRESULT WriteExact(IStream* pStream, const void* pv, ULONG cb)
{
    ULONG cbWritten = 0;
    const HRESULT hr = pStream->Write(pv, cb, &cbWritten);
    if (FAILED(hr))
        return hr;
    return cbWritten == cb ? S_OK : STG_E_WRITEFAULT;
}

// Bytes of a value of type vt in the stream, without the leading VARTYPE; 0 for unsupported.
ULONG FixedSize(VARTYPE vt)
{
    switch (vt)
    {
    case VT_BOOL:
    case VT_I2:
    case VT_UI2: return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT: return 4;
    default: return 0;
    }
}

HRESULT WriteValue(IStream* pStream, const VARIANT& var)
{
    HRESULT hr = WriteExact(pStream, &var.vt, sizeof(VARTYPE));
    if (FAILED(hr))
        return hr;
    if (var.vt == VT_BSTR)
    {
        const ULONG nChars = SysStringLen(var.bstrVal);
        hr = WriteExact(pStream, &nChars, sizeof(nChars));
        if (SUCCEEDED(hr) && nChars)
            hr = WriteExact(pStream, var.bstrVal, nChars * sizeof(WCHAR));
        return hr;
    }
    const ULONG cb = FixedSize(var.vt);
    if (!cb)
        return DISP_E_BADVARTYPE;
    return WriteExact(pStream, &var.lVal, cb);
}

HRESULT ReadValue(IStream* pStream, VARIANT* pVar)
{
    VARTYPE vt = VT_EMPTY;
    HRESULT hr = ReadExact(pStream, &vt, sizeof(vt));
    if (FAILED(hr))
        return hr;
    if (vt == VT_BSTR)
    {
        ULONG nChars = 0;
        hr = ReadExact(pStream, &nChars, sizeof(nChars));
        if (FAILED(hr))
            return hr;
        // A property text is never anywhere near this long; refuse a corrupt length early.
        if (nChars > 0x100000)
            return STG_E_READFAULT;
        std::vector<WCHAR> buffer(nChars + 1, L'\0');
        if (nChars)
        {
            hr = ReadExact(pStream, buffer.data(), nChars * sizeof(WCHAR));
            if (FAILED(hr))
                return hr;
        }
        pVar->vt = VT_BSTR;
        pVar->bstrVal = SysAllocStringLen(buffer.data(), nChars);
        return pVar->bstrVal ? S_OK : E_OUTOFMEMORY;
    }
    const ULONG cb = FixedSize(vt);
    if (!cb)
        return DISP_E_BADVARTYPE;
    pVar->vt = vt;
    pVar->lVal = 0;
    return ReadExact(pStream, &pVar->lVal, cb);
}
bool IsExtent(const PropMapEntry& entry) { return entry.bExtentX || entry.bExtentY; }

// The extent dimension an entry stands for.
LONG& ExtentOf(const CPersistTarget& target, const PropMapEntry& entry)
{
    return entry.bExtentX ? target.pExtent->cx : target.pExtent->cy;
}
}  // namespace

HRESULT GetProperty(IDispatch* pDispatch, DISPID dispid, VARIANT* pValue)
{
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    return pDispatch->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, pValue, nullptr,
                             nullptr);
}

HRESULT PutProperty(IDispatch* pDispatch, DISPID dispid, VARIANT* pValue)
{
    DISPID dispidPut = DISPID_PROPERTYPUT;
    DISPPARAMS params = {pValue, &dispidPut, 1, 1};
    return pDispatch->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr,
                             nullptr);
}

namespace
{
// What an entry saves: the extent dimension, or the property's current value.
HRESULT EntryValue(const CPersistTarget& target, const PropMapEntry& entry, VARIANT* pVar)
{
    if (!IsExtent(entry))
        return GetProperty(target.pDispatch, entry.dispid, pVar);
    pVar->vt = VT_UI4;
    pVar->ulVal = static_cast<ULONG>(ExtentOf(target, entry));
    return S_OK;
}
}  // namespace

HRESULT LoadFromPropertyBag(const CPersistTarget& target, IPropertyBag* pBag, IErrorLog* pErrorLog)
{
    if (!pBag)
        return E_POINTER;
    for (const PropMapEntry* p = target.pMap; p->szName; ++p)
    {
        CComVariant var;
        if (IsExtent(*p))
        {
            var.vt = VT_UI4;
            if (FAILED(pBag->Read(p->szName, &var, pErrorLog)))
                continue;
            if (var.vt != VT_UI4 && FAILED(var.ChangeType(VT_UI4)))
                continue;
            ExtentOf(target, *p) = static_cast<LONG>(var.ulVal);
            continue;
        }
        // Ask the bag for the type the property has now, so the tag's text is converted to it.
        CComVariant varCurrent;
        if (FAILED(GetProperty(target.pDispatch, p->dispid, &varCurrent)))
            continue;
        var.vt = varCurrent.vt;
        if (FAILED(pBag->Read(p->szName, &var, pErrorLog)))
            continue;
        if (var.vt != varCurrent.vt && FAILED(var.ChangeType(varCurrent.vt)))
            continue;
        const HRESULT hr = PutProperty(target.pDispatch, p->dispid, &var);
        if (FAILED(hr))
            return hr;
    }
    *target.pbDirty = false;
    return S_OK;
}

HRESULT SaveToPropertyBag(const CPersistTarget& target, IPropertyBag* pBag)
{
    if (!pBag)
        return E_POINTER;
    for (const PropMapEntry* p = target.pMap; p->szName; ++p)
    {
        CComVariant var;
        HRESULT hr = EntryValue(target, *p, &var);
        if (SUCCEEDED(hr))
            hr = pBag->Write(p->szName, &var);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT SaveToStream(const CPersistTarget& target, IStream* pStream)
{
    if (!pStream)
        return E_POINTER;
    const DWORD dwVersion = NewestVersion(target.pMap);
    HRESULT hr = WriteExact(pStream, &dwVersion, sizeof(dwVersion));
    for (const PropMapEntry* p = target.pMap; SUCCEEDED(hr) && p->szName; ++p)
    {
        // The extent goes out as a bare number, properties with their type.
        CComVariant var;
        hr = EntryValue(target, *p, &var);
        if (SUCCEEDED(hr))
            hr = IsExtent(*p) ? WriteExact(pStream, &var.ulVal, sizeof(ULONG)) : WriteValue(pStream, var);
    }
    return hr;
}

HRESULT LoadFromStream(const CPersistTarget& target, IStream* pStream)
{
    if (!pStream)
        return E_POINTER;
    DWORD dwVersion = 0;
    HRESULT hr = ReadExact(pStream, &dwVersion, sizeof(dwVersion));
    if (FAILED(hr))
        return hr;
    // A layout this map does not know (newer, or none at all) is refused whole.
    if (dwVersion < FIRST_STREAM_VERSION || dwVersion > NewestVersion(target.pMap))
        return E_FAIL;
    for (const PropMapEntry* p = target.pMap; p->szName; ++p)
    {
        if (EntryVersion(*p) > dwVersion)
            continue;
        if (IsExtent(*p))
        {
            ULONG n = 0;
            hr = ReadExact(pStream, &n, sizeof(n));
            if (FAILED(hr))
                return hr;
            ExtentOf(target, *p) = static_cast<LONG>(n);
            continue;
        }
        CComVariant var;
        hr = ReadValue(pStream, &var);
        if (SUCCEEDED(hr))
            hr = PutProperty(target.pDispatch, p->dispid, &var);
        if (FAILED(hr))
            return hr;
    }
    *target.pbDirty = false;
    return S_OK;
}

HRESULT StreamSizeMax(const CPersistTarget& target, ULARGE_INTEGER* pcbSize)
{
    if (!pcbSize)
        return E_POINTER;
    ULONGLONG cb = sizeof(DWORD);
    for (const PropMapEntry* p = target.pMap; p->szName; ++p)
    {
        if (IsExtent(*p))
        {
            cb += sizeof(ULONG);
            continue;
        }
        CComVariant var;
        const HRESULT hr = GetProperty(target.pDispatch, p->dispid, &var);
        if (FAILED(hr))
            return hr;
        cb += sizeof(VARTYPE) +
              (var.vt == VT_BSTR ? sizeof(ULONG) + SysStringLen(var.bstrVal) * sizeof(WCHAR) : FixedSize(var.vt));
    }
    pcbSize->QuadPart = cb;
    return S_OK;
}
}  // namespace PTL
