#include "tools/host/ObjectSite.h"

#include "ptl/Text.h"
#include "tools/host/ParamBag.h"

#include <objsafe.h>
#include <olectl.h>

#include <cwctype>

namespace Host
{

HRESULT CreateRegisteredObject(const CLSID& clsid, IUnknown** ppObject)
{
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IUnknown,
                            reinterpret_cast<void**>(ppObject));
}

bool PixelsToHimetric(const std::wstring& strLength, LONG& nHimetric)
{
    std::wstring str = strLength;
    if (str.size() > 2 && CompareStringOrdinal(str.c_str() + str.size() - 2, 2, L"px", 2, TRUE) == CSTR_EQUAL)
        str.resize(str.size() - 2);
    if (str.empty() || str.size() > 6)
        return false;
    for (wchar_t ch : str)
        if (!std::iswdigit(ch))
            return false;
    // 96 pixels to the inch, 2540 HIMETRIC units to the inch.
    nHimetric = LONG(MulDiv(std::stoi(str), 2540, 96));
    return true;
}

HRESULT CObjectSite::Create(const CObjectFactory& factory, std::wstring& strError)
{
    CLSID clsid;
    HRESULT hr = CLSIDFromString(m_element.strClassId.c_str(), &clsid);
    if (FAILED(hr))
    {
        strError = L"classid " + m_element.strClassId + L" is not a class identifier";
        return hr;
    }
    hr = factory(clsid, &m_pObject);
    if (FAILED(hr))
    {
        strError = L"cannot create " + m_element.strClassId + L": " + PTL::DescribeHResult(hr);
        return hr;
    }
    m_pObject.QueryInterface(&m_pOleObject);

    DWORD nMisc = 0;
    if (m_pOleObject && FAILED(m_pOleObject->GetMiscStatus(DVASPECT_CONTENT, &nMisc)))
        nMisc = 0;
    const bool bSiteFirst = (nMisc & OLEMISC_SETCLIENTSITEFIRST) != 0;
    if (m_pOleObject && bSiteFirst)
    {
        hr = m_pOleObject->SetClientSite(this);
        if (FAILED(hr))
        {
            strError = L"SetClientSite failed: " + PTL::DescribeHResult(hr);
            return hr;
        }
        m_bSiteSet = true;
    }
    hr = CheckSafety(strError);
    if (hr != S_OK)
        return hr;
    hr = Load(strError);
    if (FAILED(hr))
        return hr;
    if (m_pOleObject && !bSiteFirst)
    {
        hr = m_pOleObject->SetClientSite(this);
        if (FAILED(hr))
        {
            strError = L"SetClientSite failed: " + PTL::DescribeHResult(hr);
            return hr;
        }
        m_bSiteSet = true;
    }
    SIZEL size = {};
    if (m_pOleObject && PixelsToHimetric(m_element.strWidth, size.cx) && PixelsToHimetric(m_element.strHeight, size.cy))
        m_pOleObject->SetExtent(DVASPECT_CONTENT, &size);  // an object of fixed size may refuse
    return S_OK;
}

// A browser scripts an object and hands it the page's data only when it declares itself safe
// for both; one without IObjectSafety is taken as its registration marks it (here: safe).
HRESULT CObjectSite::CheckSafety(std::wstring& strError)
{
    PTL::CComPtr<IObjectSafety> pSafety;
    if (FAILED(m_pObject->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(&pSafety))))
        return S_OK;
    const struct
    {
        const IID* piid;
        DWORD nOption;
        const wchar_t* pszWhat;
    } checks[] = {
        {&IID_IDispatch, INTERFACESAFE_FOR_UNTRUSTED_CALLER, L"scripting"},
        {&IID_IPersistPropertyBag, INTERFACESAFE_FOR_UNTRUSTED_DATA, L"initialisation"},
    };
    for (const auto& check : checks)
    {
        DWORD nSupported = 0, nEnabled = 0;
        HRESULT hr = pSafety->GetInterfaceSafetyOptions(*check.piid, &nSupported, &nEnabled);
        if (SUCCEEDED(hr) && !(nSupported & check.nOption))
            hr = E_FAIL;
        if (SUCCEEDED(hr))
            hr = pSafety->SetInterfaceSafetyOptions(*check.piid, check.nOption, check.nOption);
        if (FAILED(hr))
        {
            strError = std::wstring(L"the object is not safe for ") + check.pszWhat +
                       L"; it is neither initialised nor scripted";
            Close();
            return S_FALSE;
        }
    }
    return S_OK;
}

HRESULT CObjectSite::Activate(std::wstring& strError)
{
    if (!m_pOleObject)
        return S_OK;
    RECT rc = m_context.box ? m_context.box() : RECT{};
    const HRESULT hr = m_pOleObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, this, 0, m_context.hPage, &rc);
    if (FAILED(hr))
        strError = L"in-place activation failed: " + PTL::DescribeHResult(hr);
    return hr;
}

void CObjectSite::Reposition()
{
    if (!m_pInPlace || !m_context.box)
        return;
    RECT rc = m_context.box();
    RECT rcClip = {};
    GetClientRect(m_context.hPage, &rcClip);
    m_pInPlace->SetObjectRects(&rc, &rcClip);
}

HRESULT CObjectSite::UIActivate()
{
    if (!m_pOleObject)
        return S_FALSE;
    RECT rc = m_context.box ? m_context.box() : RECT{};
    return m_pOleObject->DoVerb(OLEIVERB_UIACTIVATE, nullptr, this, 0, m_context.hPage, &rc);
}

void CObjectSite::UIDeactivate()
{
    if (m_pInPlace)
        m_pInPlace->UIDeactivate();
}

STDMETHODIMP CObjectSite::OnUIActivate()
{
    if (m_context.uiActivated)
        m_context.uiActivated();
    return S_OK;
}

HWND CObjectSite::ObjectWindow() const
{
    HWND hWnd = nullptr;
    if (!m_pInPlace || FAILED(m_pInPlace->GetWindow(&hWnd)))
        return nullptr;
    return hWnd;
}

bool CObjectSite::TranslateAccelerator(MSG& msg)
{
    PTL::CComPtr<IOleInPlaceActiveObject> pActive;
    if (!m_pInPlace || FAILED(m_pInPlace.QueryInterface(&pActive)))
        return false;
    return pActive->TranslateAccelerator(&msg) == S_OK;
}

HRESULT CObjectSite::Load(std::wstring& strError)
{
    PTL::CComPtr<IPersistPropertyBag> pBagPersist;
    if (SUCCEEDED(m_pObject.QueryInterface(&pBagPersist)))
    {
        HRESULT hr;
        if (m_element.params.empty())
        {
            hr = pBagPersist->InitNew();
            if (FAILED(hr))
                strError = L"IPersistPropertyBag::InitNew failed: " + PTL::DescribeHResult(hr);
        }
        else
        {
            auto pBag = PTL::MakeComObject<CParamBag>(m_element.params);
            hr = pBagPersist->Load(pBag.Get(), nullptr);
            if (FAILED(hr))
                strError = L"loading the PARAMs failed: " + PTL::DescribeHResult(hr);
        }
        return hr;
    }
    if (!m_element.params.empty())
    {
        strError = L"the object takes no PARAMs (it has no IPersistPropertyBag)";
        return E_NOINTERFACE;
    }
    PTL::CComPtr<IPersistStreamInit> pStreamPersist;
    if (SUCCEEDED(m_pObject.QueryInterface(&pStreamPersist)))
    {
        const HRESULT hr = pStreamPersist->InitNew();
        if (FAILED(hr))
            strError = L"IPersistStreamInit::InitNew failed: " + PTL::DescribeHResult(hr);
        return hr;
    }
    return S_OK;
}

ULONG CObjectSite::Close()
{
    if (m_pOleObject)
    {
        m_pOleObject->Close(OLECLOSE_NOSAVE);
        if (m_bSiteSet)
            m_pOleObject->SetClientSite(nullptr);
    }
    m_bSiteSet = false;
    m_pInPlace.Release();
    m_pOleObject.Release();
    if (!m_pObject)
        return 0;
    return m_pObject.Detach()->Release();
}

STDMETHODIMP CObjectSite::GetMoniker(DWORD, DWORD, IMoniker** ppMoniker)
{
    if (ppMoniker)
        *ppMoniker = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CObjectSite::GetContainer(IOleContainer** ppContainer)
{
    if (!ppContainer)
        return E_POINTER;
    *ppContainer = nullptr;
    if (!m_context.pDocument)
        return E_NOINTERFACE;
    return m_context.pDocument->QueryInterface(IID_IOleContainer, reinterpret_cast<void**>(ppContainer));
}

const QITAB* CObjectSite::InterfaceTable()
{
    static const QITAB qit[] = {
        QITABENT(CObjectSite, IOleClientSite),
        QITABENT(CObjectSite, IOleInPlaceSite),
        QITABENTMULTI(CObjectSite, IOleWindow, IOleInPlaceSite),
        QITABENT(CObjectSite, IOleControlSite),
        QITABENT(CObjectSite, IDispatch),
        QITABENT(CObjectSite, IServiceProvider),
        {nullptr, 0},
    };
    return qit;
}

STDMETHODIMP CObjectSite::GetWindow(HWND* phwnd)
{
    if (!phwnd)
        return E_POINTER;
    *phwnd = m_context.hPage;
    return m_context.hPage ? S_OK : E_FAIL;
}

STDMETHODIMP CObjectSite::OnInPlaceActivate()
{
    m_pObject.QueryInterface(&m_pInPlace);
    return S_OK;
}

STDMETHODIMP CObjectSite::OnInPlaceDeactivate()
{
    m_pInPlace.Release();
    return S_OK;
}

STDMETHODIMP CObjectSite::GetWindowContext(IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc, LPRECT lprcPosRect,
                                           LPRECT lprcClipRect, LPOLEINPLACEFRAMEINFO lpFrameInfo)
{
    if (!ppFrame || !ppDoc || !lprcPosRect || !lprcClipRect)
        return E_POINTER;
    *ppFrame = m_context.pFrame.Get();
    if (*ppFrame)
        (*ppFrame)->AddRef();
    *ppDoc = nullptr;  // the frame is the only UI window, as in a browser's single-document page
    *lprcPosRect = m_context.box ? m_context.box() : RECT{};
    GetClientRect(m_context.hPage, lprcClipRect);
    if (lpFrameInfo)
    {
        lpFrameInfo->fMDIApp = FALSE;
        lpFrameInfo->hwndFrame = m_context.hPage;
        lpFrameInfo->haccel = nullptr;
        lpFrameInfo->cAccelEntries = 0;
    }
    return S_OK;
}

STDMETHODIMP CObjectSite::OnPosRectChange(LPCRECT lprcPosRect)
{
    if (!lprcPosRect)
        return E_POINTER;
    // The page decides where its objects stand: the object is put back at its element's box.
    Reposition();
    return S_OK;
}

STDMETHODIMP CObjectSite::GetExtendedControl(IDispatch** ppDisp)
{
    if (ppDisp)
        *ppDisp = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CObjectSite::TransformCoords(POINTL* pPtlHimetric, POINTF* pPtfContainer, DWORD dwFlags)
{
    if (!pPtlHimetric || !pPtfContainer)
        return E_POINTER;
    // 96 pixels to the inch, 2540 HIMETRIC units to the inch.
    if (dwFlags & XFORMCOORDS_HIMETRICTOCONTAINER)
    {
        pPtfContainer->x = float(MulDiv(pPtlHimetric->x, 96, 2540));
        pPtfContainer->y = float(MulDiv(pPtlHimetric->y, 96, 2540));
    }
    else
    {
        pPtlHimetric->x = MulDiv(LONG(pPtfContainer->x), 2540, 96);
        pPtlHimetric->y = MulDiv(LONG(pPtfContainer->y), 2540, 96);
    }
    return S_OK;
}

// The page's one key of its own is Tab, which moves the focus to the next element (Shift+Tab:
// the previous one); every other key goes on to the window that has the focus.
STDMETHODIMP CObjectSite::TranslateAccelerator(MSG* pMsg, DWORD grfModifiers)
{
    m_controlSiteCalls.push_back(L"TranslateAccelerator " + std::to_wstring(pMsg ? pMsg->wParam : 0) + L" " +
                                 std::to_wstring(grfModifiers));
    const DWORD SHIFT = 1, CTRL_OR_ALT = 2 | 4;
    if (pMsg && pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_TAB && !(grfModifiers & CTRL_OR_ALT) && m_context.tab)
    {
        m_context.tab((grfModifiers & SHIFT) != 0);
        return S_OK;
    }
    return S_FALSE;
}

STDMETHODIMP CObjectSite::OnFocus(BOOL fGotFocus)
{
    m_controlSiteCalls.push_back(L"OnFocus " + std::to_wstring(fGotFocus ? 1 : 0));
    return S_OK;
}

// The ambient properties of a page in a browser that runs it (not a designer).
STDMETHODIMP CObjectSite::Invoke(DISPID nId, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* pResult, EXCEPINFO*, UINT*)
{
    if (!pResult)
        return E_POINTER;
    VariantInit(pResult);
    switch (nId)
    {
    case DISPID_AMBIENT_USERMODE:
        V_VT(pResult) = VT_BOOL;
        V_BOOL(pResult) = VARIANT_TRUE;
        return S_OK;
    case DISPID_AMBIENT_UIDEAD:
    case DISPID_AMBIENT_SHOWGRABHANDLES:
    case DISPID_AMBIENT_SHOWHATCHING:
    case DISPID_AMBIENT_DISPLAYASDEFAULT:
    case DISPID_AMBIENT_MESSAGEREFLECT:
        V_VT(pResult) = VT_BOOL;
        V_BOOL(pResult) = VARIANT_FALSE;
        return S_OK;
    case DISPID_AMBIENT_LOCALEID:
        V_VT(pResult) = VT_I4;
        V_I4(pResult) = LONG(GetUserDefaultLCID());
        return S_OK;
    case DISPID_AMBIENT_BACKCOLOR:
        V_VT(pResult) = VT_I4;
        V_I4(pResult) = LONG(GetSysColor(COLOR_WINDOW));
        return S_OK;
    case DISPID_AMBIENT_FORECOLOR:
        V_VT(pResult) = VT_I4;
        V_I4(pResult) = LONG(GetSysColor(COLOR_WINDOWTEXT));
        return S_OK;
    }
    return DISP_E_MEMBERNOTFOUND;
}

STDMETHODIMP CObjectSite::QueryService(REFGUID guidService, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    PTL::CComPtr<IServiceProvider> pServices;
    if (!m_context.pDocument || FAILED(m_context.pDocument.QueryInterface(&pServices)))
        return E_NOINTERFACE;
    return pServices->QueryService(guidService, riid, ppv);
}

// ---- CPageFrame --------------------------------------------------------------------------------

STDMETHODIMP CPageFrame::GetWindow(HWND* phwnd)
{
    if (!phwnd)
        return E_POINTER;
    *phwnd = m_hWnd;
    return m_hWnd ? S_OK : E_FAIL;
}

STDMETHODIMP CPageFrame::SetActiveObject(IOleInPlaceActiveObject* pActiveObject, LPCOLESTR)
{
    m_pActive = pActiveObject;
    return S_OK;
}

const QITAB* CPageFrame::InterfaceTable()
{
    static const QITAB qit[] = {
        QITABENT(CPageFrame, IOleInPlaceFrame),
        QITABENTMULTI(CPageFrame, IOleInPlaceUIWindow, IOleInPlaceFrame),
        QITABENTMULTI(CPageFrame, IOleWindow, IOleInPlaceFrame),
        {nullptr, 0},
    };
    return qit;
}

}  // namespace Host
