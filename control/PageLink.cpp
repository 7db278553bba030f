#include "control/PageLink.h"

#include <docobj.h>
#include <exdispid.h>
#include <servprov.h>
#include <shlguid.h>

#include "ptl/ComObject.h"
#include "ptl/Handle.h"

namespace
{
// The browser's events reach the control only so that the browser keeps talking to it; none of
// them is acted on, and an event's cancel flag stays false, so navigation is never blocked.
class CBrowserEventSink : public PTL::CComObjectRoot, public PTL::CNoTypeInfo<IDispatch>
{
public:
    static const QITAB* InterfaceTable()
    {
        static const QITAB qit[] = {
            {&IID_IDispatch, OFFSETOFCLASS(IDispatch, CBrowserEventSink)},
            {&DIID_DWebBrowserEvents2, OFFSETOFCLASS(IDispatch, CBrowserEventSink)},
            {nullptr, 0},
        };
        return qit;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* pVarResult, EXCEPINFO*, UINT*) override
    {
        if (pVarResult)
            VariantInit(pVarResult);
        return S_OK;
    }
};

typedef HRESULT(WINAPI* FnObjectFromLresult)(LRESULT, REFIID, WPARAM, void**);

const UINT FALLBACK_TIMEOUT_MS = 1000;

std::wstring TextOf(const PTL::CComBSTR& bstr)
{
    return bstr.Get() ? std::wstring(bstr.Get(), bstr.Length()) : std::wstring();
}

// The value of a late-bound property as a 32-bit integer.
bool ReadIntegerProperty(IDispatch* pObject, const wchar_t* szName, LONG& nValue)
{
    LPOLESTR pszName = const_cast<LPOLESTR>(szName);
    DISPID dispid = DISPID_UNKNOWN;
    if (FAILED(pObject->GetIDsOfNames(IID_NULL, &pszName, 1, LOCALE_USER_DEFAULT, &dispid)))
        return false;
    DISPPARAMS params = {nullptr, nullptr, 0, 0};
    PTL::CComVariant value;
    if (FAILED(pObject->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &params, &value, nullptr,
                               nullptr)))
        return false;
    if (FAILED(VariantChangeType(&value, &value, 0, VT_I4)))
        return false;
    nValue = value.lVal;
    return true;
}
}  // namespace

bool CPageLink::Connect(IOleClientSite* pSite, HWND hWndControl)
{
    if (m_bConnected)
        return true;
    if (!ConnectBrowser(pSite) && !ConnectThroughWindow(hWndControl))
    {
        Disconnect();
        return false;
    }
    m_bConnected = true;
    return true;
}

bool CPageLink::ConnectToSite(IUnknown* pSite)
{
    if (m_bConnected)
        return true;
    if (!pSite)
        return false;
    PTL::CComPtr<IOleClientSite> pClientSite;
    bool bFound = SUCCEEDED(pSite->QueryInterface(IID_IOleClientSite, reinterpret_cast<void**>(&pClientSite))) &&
                  pClientSite && ConnectBrowser(pClientSite);
    if (!bFound)
    {
        Disconnect();
        bFound = ConnectServices(pSite);
    }
    if (!bFound)
    {
        Disconnect();
        return false;
    }
    m_bConnected = true;
    return true;
}

bool CPageLink::ConnectServices(IUnknown* pSite)
{
    PTL::CComPtr<IServiceProvider> pServices;
    if (FAILED(pSite->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&pServices))) || !pServices)
        return false;
    PTL::CComPtr<IDispatch> pDocument;
    if (SUCCEEDED(
            pServices->QueryService(SID_SContainerDispatch, IID_IDispatch, reinterpret_cast<void**>(&pDocument))) &&
        pDocument && SUCCEEDED(pDocument.QueryInterface(&m_pDocument)) && m_pDocument)
        return true;
    m_pDocument.Release();
    pDocument.Release();
    if (FAILED(pServices->QueryService(SID_SWebBrowserApp, IID_IWebBrowser2, reinterpret_cast<void**>(&m_pBrowser))) ||
        !m_pBrowser || FAILED(m_pBrowser->get_Document(&pDocument)) || !pDocument)
        return false;
    return SUCCEEDED(pDocument.QueryInterface(&m_pDocument)) && m_pDocument;
}

bool CPageLink::ConnectBrowser(IOleClientSite* pSite)
{
    if (!pSite)
        return false;
    // The container answers the browser service in a browser; some hosts answer on the site.
    // The container is also the control's own document: the one whose address counts, which in
    // a frame is not the document the browser shows.
    PTL::CComPtr<IOleContainer> pContainer;
    PTL::CComPtr<IServiceProvider> pServices;
    if (SUCCEEDED(pSite->GetContainer(&pContainer)) && pContainer)
    {
        if (FAILED(pContainer.QueryInterface(&m_pDocument)))
            m_pDocument.Release();
        pContainer.QueryInterface(&pServices);
    }
    if (!pServices ||
        FAILED(pServices->QueryService(SID_SWebBrowserApp, IID_IWebBrowser2, reinterpret_cast<void**>(&m_pBrowser))) ||
        !m_pBrowser)
    {
        pServices.Release();
        if (FAILED(pSite->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&pServices))) || !pServices ||
            FAILED(
                pServices->QueryService(SID_SWebBrowserApp, IID_IWebBrowser2, reinterpret_cast<void**>(&m_pBrowser))) ||
            !m_pBrowser)
        {
            m_pBrowser.Release();
            return static_cast<bool>(m_pDocument);
        }
    }
    AdviseBrowserEvents();
    if (m_pDocument)
        return true;
    PTL::CComPtr<IDispatch> pDocument;
    if (FAILED(m_pBrowser->get_Document(&pDocument)) || !pDocument)
        return false;
    return SUCCEEDED(pDocument.QueryInterface(&m_pDocument)) && m_pDocument;
}

bool CPageLink::ConnectThroughWindow(HWND hWndControl)
{
    const HWND hWndParent = hWndControl ? GetParent(hWndControl) : nullptr;
    if (!hWndParent)
        return false;
    // OLEACC.DLL for one lookup; unloaded when the lookup is done.
    const PTL::CLibraryHandle oleacc(LoadLibraryW(L"OLEACC.DLL"));
    const auto pfnObjectFromLresult = reinterpret_cast<FnObjectFromLresult>(
        oleacc.IsValid() ? GetProcAddress(oleacc.Get(), "ObjectFromLresult") : nullptr);
    if (!pfnObjectFromLresult)
        return false;
    const UINT nMessage = RegisterWindowMessageW(L"WM_HTML_GETOBJECT");
    DWORD_PTR nResult = 0;
    if (!nMessage ||
        !SendMessageTimeoutW(hWndParent, nMessage, 0, 0, SMTO_ABORTIFHUNG, FALLBACK_TIMEOUT_MS, &nResult) || !nResult)
        return false;
    PTL::CComPtr<IHTMLDocument> pDocument;
    if (FAILED(pfnObjectFromLresult(static_cast<LRESULT>(nResult), IID_IHTMLDocument, 0,
                                    reinterpret_cast<void**>(&pDocument))) ||
        !pDocument)
        return false;
    return SUCCEEDED(pDocument.QueryInterface(&m_pDocument)) && m_pDocument;
}

void CPageLink::AdviseBrowserEvents()
{
    PTL::CComPtr<IConnectionPointContainer> pContainer;
    if (FAILED(m_pBrowser.QueryInterface(&pContainer)) || !pContainer)
        return;
    PTL::CComPtr<IConnectionPoint> pPoint;
    if (FAILED(pContainer->FindConnectionPoint(DIID_DWebBrowserEvents2, &pPoint)) || !pPoint)
        return;
    PTL::CComPtr<IDispatch> pSink;
    if (FAILED(PTL::CreateComObject<CBrowserEventSink>(IID_IDispatch, reinterpret_cast<void**>(&pSink))))
        return;
    DWORD dwCookie = 0;
    if (FAILED(pPoint->Advise(pSink, &dwCookie)))
        return;
    m_pEventPoint = pPoint;
    m_dwEventCookie = dwCookie;
}

void CPageLink::Disconnect()
{
    if (m_pEventPoint && m_dwEventCookie)
        m_pEventPoint->Unadvise(m_dwEventCookie);
    m_dwEventCookie = 0;
    m_pEventPoint.Release();
    m_pDocument.Release();
    m_pBrowser.Release();
    m_bConnected = false;
}

std::wstring CPageLink::PageUrl() const
{
    PTL::CComBSTR bstrUrl;
    if (!m_pDocument || FAILED(m_pDocument->get_URL(&bstrUrl)))
        return std::wstring();
    return TextOf(bstrUrl);
}

std::wstring CPageLink::FindOwnElementId(REFCLSID clsid, ULONG nIdVal) const
{
    PTL::CComPtr<IHTMLDocument3> pDocument;
    if (!m_pDocument || FAILED(m_pDocument.QueryInterface(&pDocument)) || !pDocument)
        return std::wstring();
    PTL::CComBSTR bstrTag(L"OBJECT");
    PTL::CComPtr<IHTMLElementCollection> pObjects;
    if (FAILED(pDocument->getElementsByTagName(bstrTag, &pObjects)) || !pObjects)
        return std::wstring();
    long nCount = 0;
    if (FAILED(pObjects->get_length(&nCount)))
        return std::wstring();

    wchar_t szGuid[40] = L"";
    StringFromGUID2(clsid, szGuid, 40);
    std::wstring strClassId = L"CLSID:" + std::wstring(szGuid + 1);  // without the braces
    strClassId.pop_back();

    for (long i = 0; i < nCount; ++i)
    {
        VARIANT varIndex, varZero;
        varIndex.vt = VT_I4;
        varIndex.lVal = i;
        varZero.vt = VT_I4;
        varZero.lVal = 0;
        PTL::CComPtr<IDispatch> pItem;
        if (FAILED(pObjects->item(varIndex, varZero, &pItem)) || !pItem)
            continue;
        PTL::CComPtr<IHTMLObjectElement> pObject;
        PTL::CComBSTR bstrClassId;
        if (FAILED(pItem.QueryInterface(&pObject)) || !pObject || FAILED(pObject->get_classid(&bstrClassId)))
            continue;
        if (_wcsicmp(TextOf(bstrClassId).c_str(), strClassId.c_str()) != 0)
            continue;
        LONG nValue = 0;
        if (!ReadIntegerProperty(pItem, L"IDVAL", nValue) || static_cast<ULONG>(nValue) != nIdVal)
            continue;
        PTL::CComPtr<IHTMLElement> pElement;
        PTL::CComBSTR bstrId;
        if (FAILED(pItem.QueryInterface(&pElement)) || !pElement || FAILED(pElement->get_id(&bstrId)))
            continue;
        return TextOf(bstrId);
    }
    return std::wstring();
}

PTL::CComPtr<IHTMLElement> CPageLink::ElementById(const std::wstring& strId) const
{
    PTL::CComPtr<IHTMLElement> pElement;
    PTL::CComPtr<IHTMLDocument3> pDocument;
    if (strId.empty() || !m_pDocument || FAILED(m_pDocument.QueryInterface(&pDocument)) || !pDocument)
        return pElement;
    PTL::CComBSTR bstrId(strId.c_str());
    if (FAILED(pDocument->getElementById(bstrId, &pElement)))
        pElement.Release();
    return pElement;
}

bool CPageLink::SetInnerText(const std::wstring& strId, const std::wstring& strText) const
{
    const PTL::CComPtr<IHTMLElement> pElement = ElementById(strId);
    if (!pElement)
        return false;
    PTL::CComBSTR bstrText(strText.data(), static_cast<UINT>(strText.size()));
    return SUCCEEDED(pElement->put_innerText(bstrText));
}

std::wstring CPageLink::ElementString(const std::wstring& strId,
                                      HRESULT (STDMETHODCALLTYPE IHTMLElement::*get)(BSTR*)) const
{
    const PTL::CComPtr<IHTMLElement> pElement = ElementById(strId);
    PTL::CComBSTR bstrText;
    if (!pElement || FAILED((pElement.Get()->*get)(&bstrText)))
        return std::wstring();
    return TextOf(bstrText);
}

POINT CPageLink::PageScroll() const
{
    POINT pt = {0, 0};
    if (!m_pDocument)
        return pt;
    auto read = [&pt](IHTMLElement* pElement) {
        PTL::CComPtr<IHTMLElement2> pElement2;
        if (!pElement || FAILED(pElement->QueryInterface(IID_IHTMLElement2, reinterpret_cast<void**>(&pElement2))) ||
            !pElement2)
            return false;
        long nX = 0, nY = 0;
        if (FAILED(pElement2->get_scrollLeft(&nX)) || FAILED(pElement2->get_scrollTop(&nY)))
            return false;
        pt.x = nX;
        pt.y = nY;
        return true;
    };
    // A page in standards mode scrolls its document element and leaves the body's offsets at 0.
    PTL::CComPtr<IHTMLElement> pBody;
    if (SUCCEEDED(m_pDocument->get_body(&pBody)) && read(pBody) && (pt.x || pt.y))
        return pt;
    PTL::CComPtr<IHTMLDocument3> pDocument3;
    PTL::CComPtr<IHTMLElement> pRoot;
    if (SUCCEEDED(m_pDocument.QueryInterface(&pDocument3)) && pDocument3 &&
        SUCCEEDED(pDocument3->get_documentElement(&pRoot)))
        read(pRoot);
    return pt;
}

bool CPageLink::Navigate(const std::wstring& strUrl) const
{
    if (!m_pDocument)
        return false;
    PTL::CComBSTR bstrUrl(strUrl.data(), static_cast<UINT>(strUrl.size()));
    return bstrUrl.Get() && SUCCEEDED(m_pDocument->put_URL(bstrUrl));
}
