// The container's side of one OBJECT element: it creates the object, gives it a client site,
// loads its PARAMs and sets its extent, and takes it down again. The in-place container of a
// later form of the host grows from here (in-place site, control site, window).
#pragma once

#include "tools/host/ComUtil.h"
#include "tools/host/PageModel.h"

#include <oleidl.h>

#include <functional>
#include <string>

namespace Host {

// Creates an object for a class id; the default is CoCreateInstance. Tests supply their own.
using CObjectFactory = std::function<HRESULT(const CLSID&, IUnknown**)>;
HRESULT CreateRegisteredObject(const CLSID& clsid, IUnknown** ppObject);

class CObjectSite : public CComObject<IOleClientSite> {
public:
    explicit CObjectSite(const CPageObject& element) : m_element(element) {}

    // Creates the object and loads it as a browser does: client site first when the object asks
    // for it (OLEMISC_SETCLIENTSITEFIRST), then IPersistPropertyBag::Load with the PARAMs (or
    // InitNew without PARAMs; IPersistStreamInit::InitNew for objects without a property bag),
    // then the client site for the others, then the extent from width and height. On failure
    // strError says what went wrong.
    HRESULT Create(const CObjectFactory& factory, std::wstring& strError);
    // Closes the object and drops the references both ways.
    void Close();

    IUnknown* Object() const { return m_pObject.Get(); }
    const CPageObject& Element() const { return m_element; }

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** ppMoniker) override;
    STDMETHODIMP GetContainer(IOleContainer** ppContainer) override;
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

private:
    HRESULT Load(std::wstring& strError);

    CPageObject m_element;
    ComPtr<IUnknown> m_pObject;
    ComPtr<IOleObject> m_pOleObject;  // null for objects that are no OLE objects
    bool m_bSiteSet = false;
};

// A length attribute ("200", "200px") in HIMETRIC units; false for other forms ("50%", "").
bool PixelsToHimetric(const std::wstring& strLength, LONG& nHimetric);

}  // namespace Host
