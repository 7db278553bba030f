// The page model behind the browser interfaces a control uses: the browser (IWebBrowser2 with the
// DWebBrowserEvents2 connection point), its document (IHTMLDocument2/3, also the control's
// container and service provider), the elements (IHTMLElement/2, IHTMLObjectElement) and
// element lists. Script reaches the same objects by name through their IDispatch. Every member
// the host does not model answers E_NOTIMPL (HtmlStubs.h, generated).
#pragma once

#include "HtmlStubs.h"
#include "ptl/ConnectionPoint.h"
#include "ptl/ComPtr.h"
#include "ptl/ComObject.h"
#include "tools/host/PageModel.h"

#include <oleidl.h>
#include <servprov.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Host
{

// What the document, its elements and the browser share. An element that a control keeps
// stays valid after the page has ended; it then reaches no control and no window.
struct CPageState
{
    CPage page;
    std::wstring strUrl;          // the document's address
    std::wstring strNavigatedTo;  // the last address the page was sent to
    POINT ptScroll = {};          // the page's scroll offsets
    int nPageHeight = 0;
    bool bBrowserService = true;                        // the document answers the web-browser service
    std::vector<PTL::CComPtr<IDispatch>> controls;      // per page object: what its element forwards to
    PTL::CComPtr<IWebBrowser2> pBrowser;                // cleared when the page ends
    std::function<void(const std::wstring&)> navigate;  // sends the page to an address
    std::function<void()> changed;                      // an element's text changed
    std::function<void(POINT)> scroll;                  // scrolls the page window
    std::function<void(int)> remove;                    // takes an element and what it holds off the page
};

// A node index that stands for the document element (HTML), the body's parent.
constexpr int HTML_NODE = -1;

// What every page object shares: script reaches them by name only, and they live in the host's
// own process (no module to keep loaded).
template <class... TInterfaces>
class CScriptedObject : public PTL::CNoTypeInfo<TInterfaces...>, public PTL::CUncountedObjectRoot
{
};

class CHtmlDocument;

class CHtmlElement : public CScriptedObject<CStubIHTMLElement, CStubIHTMLElement2, CStubIHTMLObjectElement>
{
public:
    CHtmlElement(std::shared_ptr<CPageState> pState, int nNode, CHtmlDocument* pDocument);
    // IHTMLObjectElement only for an OBJECT element.
    const QITAB* InterfaceTable() const;

    // IDispatch (script access by name)
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT nNames, LCID, DISPID* rgDispId) override;
    STDMETHODIMP Invoke(DISPID nId, REFIID, LCID, WORD wFlags, DISPPARAMS* pParams, VARIANT* pResult,
                        EXCEPINFO* pExcepInfo, UINT* pnArgErr) override;

    // IHTMLElement
    STDMETHODIMP get_id(BSTR* p) override;
    STDMETHODIMP get_tagName(BSTR* p) override;
    STDMETHODIMP get_title(BSTR* p) override;
    STDMETHODIMP get_parentElement(IHTMLElement** p) override;
    STDMETHODIMP get_innerText(BSTR* p) override;
    STDMETHODIMP put_innerText(BSTR v) override;
    STDMETHODIMP get_offsetLeft(LONG* p) override;
    STDMETHODIMP get_offsetTop(LONG* p) override;
    STDMETHODIMP get_offsetWidth(LONG* p) override;
    STDMETHODIMP get_offsetHeight(LONG* p) override;
    STDMETHODIMP get_offsetParent(IHTMLElement** p) override;
    // IHTMLElement2
    STDMETHODIMP get_scrollLeft(LONG* p) override;
    STDMETHODIMP get_scrollTop(LONG* p) override;
    STDMETHODIMP put_scrollLeft(LONG v) override;
    STDMETHODIMP put_scrollTop(LONG v) override;
    // IHTMLObjectElement
    STDMETHODIMP get_object(IDispatch** p) override;
    STDMETHODIMP get_classid(BSTR* p) override;

protected:
    ~CHtmlElement() override = default;

private:
    const CPageNode* Node() const;
    RECT Box() const;
    IDispatch* Control() const;
    bool IsObject() const;
    bool IsScrollingElement() const { return m_nNode == HTML_NODE || m_nNode == 0; }

    std::shared_ptr<CPageState> m_pState;
    int m_nNode;
    PTL::CComPtr<IUnknown> m_pDocument;  // keeps the document (and so this element's identity) alive
    CHtmlDocument* m_pDocumentImpl;
};

class CHtmlDocument : public CScriptedObject<CStubIHTMLDocument2, CStubIHTMLDocument3, IOleContainer, IServiceProvider>
{
public:
    explicit CHtmlDocument(std::shared_ptr<CPageState> pState) : m_pState(std::move(pState)) {}

    // The one element object of a node (HTML_NODE for the document element), so that an element
    // found twice is the same COM object.
    PTL::CComPtr<IHTMLElement> Element(int nNode);
    // Drops the element objects; called when the page ends, since they hold the document.
    void ReleaseElements()
    {
        m_elements.clear();
        m_pHtml.Release();
    }

    // IUnknown, IDispatch (script access by name)
    static const QITAB* InterfaceTable();
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT nNames, LCID, DISPID* rgDispId) override;
    STDMETHODIMP Invoke(DISPID nId, REFIID, LCID, WORD wFlags, DISPPARAMS* pParams, VARIANT* pResult,
                        EXCEPINFO* pExcepInfo, UINT* pnArgErr) override;

    // IHTMLDocument2
    STDMETHODIMP get_body(IHTMLElement** p) override;
    STDMETHODIMP get_URL(BSTR* p) override;
    STDMETHODIMP put_URL(BSTR v) override;
    STDMETHODIMP get_readyState(BSTR* p) override;
    // IHTMLDocument3
    STDMETHODIMP get_documentElement(IHTMLElement** p) override;
    STDMETHODIMP getElementById(BSTR v, IHTMLElement** pel) override;
    STDMETHODIMP getElementsByTagName(BSTR v, IHTMLElementCollection** pelColl) override;
    // IOleContainer
    STDMETHODIMP ParseDisplayName(IBindCtx*, LPOLESTR, ULONG*, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP EnumObjects(DWORD, IEnumUnknown**) override { return E_NOTIMPL; }
    STDMETHODIMP LockContainer(BOOL) override { return S_OK; }
    // IServiceProvider: the web-browser service, unless the host runs without it.
    STDMETHODIMP QueryService(REFGUID guidService, REFIID riid, void** ppv) override;

protected:
    ~CHtmlDocument() override = default;

private:
    std::shared_ptr<CPageState> m_pState;
    std::vector<PTL::CComPtr<IHTMLElement>> m_elements;  // per node, made on first use
    PTL::CComPtr<IHTMLElement> m_pHtml;
};

// A live-once list of elements (a snapshot: pages do not add elements).
class CHtmlCollection : public CScriptedObject<CStubIHTMLElementCollection>
{
public:
    explicit CHtmlCollection(std::vector<PTL::CComPtr<IHTMLElement>> elements) : m_elements(std::move(elements)) {}

    static const QITAB* InterfaceTable();
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT nNames, LCID, DISPID* rgDispId) override;
    STDMETHODIMP Invoke(DISPID nId, REFIID, LCID, WORD wFlags, DISPPARAMS* pParams, VARIANT* pResult,
                        EXCEPINFO* pExcepInfo, UINT* pnArgErr) override;

    STDMETHODIMP get_length(LONG* p) override;
    STDMETHODIMP item(VARIANT name, VARIANT index, IDispatch** pdisp) override;

protected:
    ~CHtmlCollection() override = default;

private:
    std::vector<PTL::CComPtr<IHTMLElement>> m_elements;
};

class CWebBrowser : public CScriptedObject<CStubIWebBrowser2,
                                           PTL::IConnectionPointContainerImpl<CWebBrowser, &DIID_DWebBrowserEvents2>>
{
public:
    CWebBrowser(std::shared_ptr<CPageState> pState, PTL::CComPtr<IDispatch> pDocument, HWND hWnd)
        : m_pState(std::move(pState)), m_pDocument(std::move(pDocument)), m_hWnd(hWnd)
    {
    }

    // Sends the page to an address as a browser does: BeforeNavigate2 (a handler may cancel),
    // then the page's navigation, then NavigateComplete2 and DocumentComplete.
    void Navigate(const std::wstring& strUrl);
    void Close() { m_pDocument.Release(); }

    static const QITAB* InterfaceTable();
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return DISP_E_MEMBERNOTFOUND;
    }

    STDMETHODIMP Navigate(BSTR URL, VARIANT*, VARIANT*, VARIANT*, VARIANT*) override;
    STDMETHODIMP Navigate2(VARIANT* URL, VARIANT*, VARIANT*, VARIANT*, VARIANT*) override;
    STDMETHODIMP get_Document(IDispatch** ppDisp) override;
    STDMETHODIMP get_LocationURL(BSTR* LocationURL) override;
    STDMETHODIMP get_HWND(SHANDLE_PTR* pHWND) override;
    STDMETHODIMP get_Busy(VARIANT_BOOL* pBool) override;
    STDMETHODIMP get_ReadyState(READYSTATE* plReadyState) override;

protected:
    ~CWebBrowser() override = default;

private:
    std::shared_ptr<CPageState> m_pState;
    PTL::CComPtr<IDispatch> m_pDocument;
    HWND m_hWnd;
};

// Text of a BSTR (null is empty).
inline std::wstring BstrText(BSTR bstr) { return bstr ? std::wstring(bstr, SysStringLen(bstr)) : std::wstring(); }

}  // namespace Host
