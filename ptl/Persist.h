// Persistence of a control's property set through its own IDispatch, driven by one property
// map: the property bag (object tag parameters) and a binary stream.
//
// Every value is applied through the property's put, so a loaded value obeys the same rules as
// one set from script (clamps, gates, side effects), in the order of the map.
#pragma once
#include <windows.h>
#include <ocidl.h>
#include "ptl/ComPtr.h"

namespace PTL
{
// One persisted property. The two extent entries carry no dispid: they are the control's size
// in HIMETRIC, stored directly.
//
// dwStreamVersion is the stream layout that first carried the entry (0: the first one,
// FIRST_STREAM_VERSION). A stream is written in the newest layout of its map; one of an earlier
// layout holds only the entries up to it, and loading it leaves the later ones as they are. New
// entries therefore go after the existing ones.
struct PropMapEntry
{
    const wchar_t* szName;
    DISPID dispid;
    bool bExtentX;
    bool bExtentY;
    DWORD dwStreamVersion;
};

const DWORD FIRST_STREAM_VERSION = 0x0100;

// What a persistable control offers the persistence code.
struct CPersistTarget
{
    IDispatch* pDispatch;
    const PropMapEntry* pMap;  // ends with an entry whose name is null
    SIZEL* pExtent;
    bool* pbDirty;
};

HRESULT GetProperty(IDispatch* pDispatch, DISPID dispid, VARIANT* pValue);
HRESULT PutProperty(IDispatch* pDispatch, DISPID dispid, VARIANT* pValue);

HRESULT LoadFromPropertyBag(const CPersistTarget& target, IPropertyBag* pBag, IErrorLog* pErrorLog);
HRESULT SaveToPropertyBag(const CPersistTarget& target, IPropertyBag* pBag);
HRESULT LoadFromStream(const CPersistTarget& target, IStream* pStream);
HRESULT SaveToStream(const CPersistTarget& target, IStream* pStream);
HRESULT StreamSizeMax(const CPersistTarget& target, ULARGE_INTEGER* pcbSize);

// T provides PersistTarget() and the class id.
template <class T, const CLSID* pclsid>
class IPersistPropertyBagImpl : public IPersistPropertyBag
{
public:
    STDMETHODIMP GetClassID(CLSID* pClassID) override
    {
        if (!pClassID)
            return E_POINTER;
        *pClassID = *pclsid;
        return S_OK;
    }
    STDMETHODIMP InitNew() override
    {
        *static_cast<T*>(this)->PersistTarget().pbDirty = true;
        return S_OK;
    }
    STDMETHODIMP Load(IPropertyBag* pPropBag, IErrorLog* pErrorLog) override
    {
        return LoadFromPropertyBag(static_cast<T*>(this)->PersistTarget(), pPropBag, pErrorLog);
    }
    STDMETHODIMP Save(IPropertyBag* pPropBag, BOOL fClearDirty, BOOL) override
    {
        const CPersistTarget target = static_cast<T*>(this)->PersistTarget();
        const HRESULT hr = SaveToPropertyBag(target, pPropBag);
        if (SUCCEEDED(hr) && fClearDirty)
            *target.pbDirty = false;
        return hr;
    }
};

template <class T, const CLSID* pclsid>
class IPersistStreamInitImpl : public IPersistStreamInit
{
public:
    STDMETHODIMP GetClassID(CLSID* pClassID) override
    {
        if (!pClassID)
            return E_POINTER;
        *pClassID = *pclsid;
        return S_OK;
    }
    STDMETHODIMP IsDirty() override { return *static_cast<T*>(this)->PersistTarget().pbDirty ? S_OK : S_FALSE; }
    STDMETHODIMP Load(IStream* pStm) override { return LoadFromStream(static_cast<T*>(this)->PersistTarget(), pStm); }
    STDMETHODIMP Save(IStream* pStm, BOOL fClearDirty) override
    {
        const CPersistTarget target = static_cast<T*>(this)->PersistTarget();
        const HRESULT hr = SaveToStream(target, pStm);
        if (SUCCEEDED(hr) && fClearDirty)
            *target.pbDirty = false;
        return hr;
    }
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* pcbSize) override
    {
        return StreamSizeMax(static_cast<T*>(this)->PersistTarget(), pcbSize);
    }
    STDMETHODIMP InitNew() override
    {
        *static_cast<T*>(this)->PersistTarget().pbDirty = true;
        return S_OK;
    }
};
}  // namespace PTL
