// CPageLink: the control's one way to its hosting browser and page. It connects through the
// client site to the browser (or, without one, asks the parent window for its document), keeps
// the browser-event connection, and offers the few page operations the control needs: the page
// address, its own OBJECT element, elements by id with their text and rectangles, the page
// scroll and navigation. Every operation that finds no document yields none or an empty text.
#pragma once
#include <windows.h>
#include <exdisp.h>
#include <mshtml.h>
#include <oleidl.h>

#include <string>

#include "ptl/ComPtr.h"

class CPageLink
{
public:
    CPageLink() = default;
    ~CPageLink() { Disconnect(); }
    CPageLink(const CPageLink&) = delete;
    CPageLink& operator=(const CPageLink&) = delete;

    // Finds the document unless one was found before: the client site's container when it is a
    // document, else the browser's (found through the container and the site itself,
    // SID_SWebBrowserApp), else, with a window, the parent's answer to "WM_HTML_GETOBJECT" (at
    // most 1000 ms). The browser is connected to whenever one is found. The browser's events are advised with a
    // sink that acts on none of them. A failed attempt is tried again on the next call.
    bool Connect(IOleClientSite* pSite, HWND hWndControl);
    // The same for an object that script made: its site (IObjectWithSite) is a client site, or
    // offers the document as the container's service (SID_SContainerDispatch) or the browser.
    bool ConnectToSite(IUnknown* pSite);
    // Drops the browser-event connection and every reference; the next Connect starts afresh.
    void Disconnect();
    bool IsConnected() const { return m_bConnected; }

    // The document's address, or "".
    std::wstring PageUrl() const;
    // The id of the first OBJECT element whose classid is "CLSID:" + clsid (without braces, any
    // case) and whose IDVAL property equals nIdVal; "" when none matches.
    std::wstring FindOwnElementId(REFCLSID clsid, ULONG nIdVal) const;

    PTL::CComPtr<IHTMLElement> ElementById(const std::wstring& strId) const;
    // The title attribute of the element with that id, or "".
    std::wstring ElementTitle(const std::wstring& strId) const
    {
        return ElementString(strId, &IHTMLElement::get_title);
    }
    bool SetInnerText(const std::wstring& strId, const std::wstring& strText) const;
    std::wstring InnerText(const std::wstring& strId) const
    {
        return ElementString(strId, &IHTMLElement::get_innerText);
    }
    // The page's scroll offsets: the body's, else the document element's.
    POINT PageScroll() const;
    // Sends the page to an address; false without a document.
    bool Navigate(const std::wstring& strUrl) const;

    IHTMLDocument2* Document() const { return m_pDocument.Get(); }

private:
    // A text property of the element with that id, or "".
    std::wstring ElementString(const std::wstring& strId, HRESULT (STDMETHODCALLTYPE IHTMLElement::*get)(BSTR*)) const;
    bool ConnectBrowser(IOleClientSite* pSite);
    bool ConnectServices(IUnknown* pSite);
    bool ConnectThroughWindow(HWND hWndControl);
    void AdviseBrowserEvents();

    bool m_bConnected = false;
    PTL::CComPtr<IWebBrowser2> m_pBrowser;
    PTL::CComPtr<IHTMLDocument2> m_pDocument;
    PTL::CComPtr<IConnectionPoint> m_pEventPoint;
    DWORD m_dwEventCookie = 0;
};
