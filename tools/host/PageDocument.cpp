#include "tools/host/PageDocument.h"
#include "ptl/Text.h"

#include <exdispid.h>
#include <shlguid.h>

#include <algorithm>

namespace Host
{
namespace
{

// Dispatch ids of the members script reaches by name, clear of the ids of the controls an
// OBJECT element forwards to.
enum : DISPID
{
    DISPID_EL_ID = 0x60000001,
    DISPID_EL_TAGNAME,
    DISPID_EL_INNERTEXT,
    DISPID_EL_OFFSETLEFT,
    DISPID_EL_OFFSETTOP,
    DISPID_EL_OFFSETWIDTH,
    DISPID_EL_OFFSETHEIGHT,
    DISPID_EL_OFFSETPARENT,
    DISPID_EL_PARENT,
    DISPID_EL_SCROLLLEFT,
    DISPID_EL_SCROLLTOP,
    DISPID_EL_REMOVENODE,
    DISPID_EL_CLASSID,
    DISPID_EL_OBJECT,
    DISPID_DOC_URL,
    DISPID_DOC_BODY,
    DISPID_DOC_ELEMENT,
    DISPID_DOC_BYID,
    DISPID_DOC_BYTAG,
    DISPID_DOC_READYSTATE,
    DISPID_COL_LENGTH,
    DISPID_COL_ITEM,
    DISPID_COL_INDEX = 0x61000000,
};

struct CName
{
    const wchar_t* pszName;
    DISPID nId;
};

const CName g_elementNames[] = {
    {L"id", DISPID_EL_ID},
    {L"tagName", DISPID_EL_TAGNAME},
    {L"innerText", DISPID_EL_INNERTEXT},
    {L"offsetLeft", DISPID_EL_OFFSETLEFT},
    {L"offsetTop", DISPID_EL_OFFSETTOP},
    {L"offsetWidth", DISPID_EL_OFFSETWIDTH},
    {L"offsetHeight", DISPID_EL_OFFSETHEIGHT},
    {L"offsetParent", DISPID_EL_OFFSETPARENT},
    {L"parentElement", DISPID_EL_PARENT},
    {L"scrollLeft", DISPID_EL_SCROLLLEFT},
    {L"scrollTop", DISPID_EL_SCROLLTOP},
    {L"removeNode", DISPID_EL_REMOVENODE},
};
const CName g_objectNames[] = {
    {L"classid", DISPID_EL_CLASSID},
    {L"object", DISPID_EL_OBJECT},
};
const CName g_documentNames[] = {
    {L"URL", DISPID_DOC_URL},
    {L"body", DISPID_DOC_BODY},
    {L"documentElement", DISPID_DOC_ELEMENT},
    {L"getElementById", DISPID_DOC_BYID},
    {L"getElementsByTagName", DISPID_DOC_BYTAG},
    {L"readyState", DISPID_DOC_READYSTATE},
};

template <size_t N>
DISPID FindName(const CName (&names)[N], const wchar_t* pszName)
{
    for (const auto& name : names)
        if (CompareStringOrdinal(name.pszName, -1, pszName, -1, TRUE) == CSTR_EQUAL)
            return name.nId;
    return DISPID_UNKNOWN;
}

// The positional arguments of a call, first first.
std::vector<const VARIANT*> Arguments(const DISPPARAMS* pParams)
{
    std::vector<const VARIANT*> args;
    if (pParams)
        for (UINT i = pParams->cArgs; i > pParams->cNamedArgs; --i)
        {
            const VARIANT* pArg = &pParams->rgvarg[i - 1];
            args.push_back(V_VT(pArg) == (VT_BYREF | VT_VARIANT) ? V_VARIANTREF(pArg) : pArg);
        }
    return args;
}

// The out values are taken by reference: they are read after the call that fills them.
HRESULT ReturnText(HRESULT hr, BSTR& bstr, VARIANT* pResult)
{
    if (FAILED(hr) || !pResult)
    {
        SysFreeString(bstr);
        return hr;
    }
    V_VT(pResult) = VT_BSTR;
    V_BSTR(pResult) = bstr;
    return S_OK;
}

HRESULT ReturnInt(HRESULT hr, const LONG& n, VARIANT* pResult)
{
    if (SUCCEEDED(hr) && pResult)
    {
        V_VT(pResult) = VT_I4;
        V_I4(pResult) = n;
    }
    return hr;
}

template <class T>
HRESULT ReturnObject(HRESULT hr, T*& p, VARIANT* pResult)
{
    if (FAILED(hr) || !pResult)
    {
        if (p)
            p->Release();
        return hr;
    }
    IDispatch* pDisp = nullptr;
    if (p)
    {
        p->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&pDisp));
        p->Release();
    }
    V_VT(pResult) = pDisp ? VT_DISPATCH : VT_NULL;  // a missing element is null to script
    V_DISPATCH(pResult) = pDisp;
    return S_OK;
}

bool ArgText(const std::vector<const VARIANT*>& args, size_t n, std::wstring& str)
{
    return n < args.size() && PTL::VariantToText(*args[n], str);
}

HRESULT AllocText(const std::wstring& str, BSTR* p)
{
    if (!p)
        return E_POINTER;
    *p = SysAllocStringLen(str.data(), UINT(str.size()));
    return *p ? S_OK : E_OUTOFMEMORY;
}

template <class T>
HRESULT HandOut(const PTL::CComPtr<T>& ptr, T** pp)
{
    if (!pp)
        return E_POINTER;
    *pp = ptr.Get();
    if (*pp)
        (*pp)->AddRef();
    return S_OK;
}

}  // namespace

// ---- CHtmlElement ------------------------------------------------------------------------------

CHtmlElement::CHtmlElement(std::shared_ptr<CPageState> pState, int nNode, CHtmlDocument* pDocument)
    : m_pState(std::move(pState)), m_nNode(nNode), m_pDocumentImpl(pDocument)
{
    m_pDocument = static_cast<IHTMLDocument2*>(pDocument);
}

const QITAB* CHtmlElement::InterfaceTable() const
{
    static const QITAB qitObject[] = {
        QITABENT(CHtmlElement, IHTMLElement),
        QITABENTMULTI(CHtmlElement, IDispatch, IHTMLElement),
        QITABENT(CHtmlElement, IHTMLElement2),
        QITABENT(CHtmlElement, IHTMLObjectElement),
        {nullptr, 0},
    };
    static const QITAB qitOther[] = {qitObject[0], qitObject[1], qitObject[2], {nullptr, 0}};
    return IsObject() ? qitObject : qitOther;
}

const CPageNode* CHtmlElement::Node() const
{
    return m_nNode >= 0 && size_t(m_nNode) < m_pState->page.nodes.size() ? &m_pState->page.nodes[size_t(m_nNode)]
                                                                         : nullptr;
}

RECT CHtmlElement::Box() const
{
    if (const CPageNode* pNode = Node())
        return pNode->rcPage;
    RECT rc = m_pState->page.nodes.empty() ? RECT{} : m_pState->page.nodes[0].rcPage;
    rc.bottom = std::max<LONG>(rc.bottom, m_pState->nPageHeight);
    return rc;
}

bool CHtmlElement::IsObject() const
{
    const CPageNode* pNode = Node();
    return pNode && pNode->nObject >= 0;
}

IDispatch* CHtmlElement::Control() const
{
    const CPageNode* pNode = Node();
    if (!pNode || pNode->nObject < 0 || size_t(pNode->nObject) >= m_pState->controls.size())
        return nullptr;
    return m_pState->controls[size_t(pNode->nObject)].Get();
}

STDMETHODIMP CHtmlElement::get_id(BSTR* p)
{
    const CPageNode* pNode = Node();
    return AllocText(pNode ? pNode->strId : std::wstring(), p);
}

STDMETHODIMP CHtmlElement::get_title(BSTR* p)
{
    const CPageNode* pNode = Node();
    return AllocText(pNode ? pNode->strTitle : std::wstring(), p);
}

STDMETHODIMP CHtmlElement::get_tagName(BSTR* p)
{
    const CPageNode* pNode = Node();
    return AllocText(pNode ? pNode->strTag : std::wstring(L"HTML"), p);
}

STDMETHODIMP CHtmlElement::get_parentElement(IHTMLElement** p)
{
    if (!p)
        return E_POINTER;
    *p = nullptr;
    const CPageNode* pNode = Node();
    if (m_nNode == HTML_NODE)
        return S_OK;
    return HandOut(m_pDocumentImpl->Element(m_nNode == 0 ? HTML_NODE : int(pNode->nParent)), p);
}

STDMETHODIMP CHtmlElement::get_innerText(BSTR* p)
{
    const CPageNode* pNode = Node();
    return AllocText(pNode ? pNode->strText : std::wstring(), p);
}

STDMETHODIMP CHtmlElement::put_innerText(BSTR v)
{
    if (m_nNode < 0 || size_t(m_nNode) >= m_pState->page.nodes.size())
        return E_FAIL;
    m_pState->page.nodes[size_t(m_nNode)].strText = BstrText(v);
    if (m_pState->changed)
        m_pState->changed();
    return S_OK;
}

STDMETHODIMP CHtmlElement::get_offsetLeft(LONG* p)
{
    if (!p)
        return E_POINTER;
    const CPageNode* pNode = Node();
    *p = pNode && m_nNode > 0 ? pNode->rcPage.left - m_pState->page.nodes[pNode->nOffsetParent].rcPage.left : 0;
    return S_OK;
}

STDMETHODIMP CHtmlElement::get_offsetTop(LONG* p)
{
    if (!p)
        return E_POINTER;
    const CPageNode* pNode = Node();
    *p = pNode && m_nNode > 0 ? pNode->rcPage.top - m_pState->page.nodes[pNode->nOffsetParent].rcPage.top : 0;
    return S_OK;
}

STDMETHODIMP CHtmlElement::get_offsetWidth(LONG* p)
{
    if (!p)
        return E_POINTER;
    const RECT rc = Box();
    *p = rc.right - rc.left;
    return S_OK;
}

STDMETHODIMP CHtmlElement::get_offsetHeight(LONG* p)
{
    if (!p)
        return E_POINTER;
    const RECT rc = Box();
    *p = rc.bottom - rc.top;
    return S_OK;
}

// The body and the document element have no offset parent; that ends a summing walk.
STDMETHODIMP CHtmlElement::get_offsetParent(IHTMLElement** p)
{
    if (!p)
        return E_POINTER;
    *p = nullptr;
    const CPageNode* pNode = Node();
    if (!pNode || m_nNode == 0)
        return S_OK;
    return HandOut(m_pDocumentImpl->Element(int(pNode->nOffsetParent)), p);
}

STDMETHODIMP CHtmlElement::get_scrollLeft(LONG* p)
{
    if (!p)
        return E_POINTER;
    *p = IsScrollingElement() ? m_pState->ptScroll.x : 0;
    return S_OK;
}

STDMETHODIMP CHtmlElement::get_scrollTop(LONG* p)
{
    if (!p)
        return E_POINTER;
    *p = IsScrollingElement() ? m_pState->ptScroll.y : 0;
    return S_OK;
}

STDMETHODIMP CHtmlElement::put_scrollLeft(LONG v)
{
    if (IsScrollingElement() && m_pState->scroll)
        m_pState->scroll(POINT{v, m_pState->ptScroll.y});
    return S_OK;
}

STDMETHODIMP CHtmlElement::put_scrollTop(LONG v)
{
    if (IsScrollingElement() && m_pState->scroll)
        m_pState->scroll(POINT{m_pState->ptScroll.x, v});
    return S_OK;
}

STDMETHODIMP CHtmlElement::get_object(IDispatch** p)
{
    if (!p)
        return E_POINTER;
    *p = Control();
    if (*p)
        (*p)->AddRef();
    return S_OK;
}

STDMETHODIMP CHtmlElement::get_classid(BSTR* p)
{
    const CPageNode* pNode = Node();
    if (!pNode || pNode->nObject < 0)
        return AllocText(L"", p);
    std::wstring strGuid = m_pState->page.objects[size_t(pNode->nObject)].strClassId;  // "{...}"
    return AllocText(L"clsid:" + strGuid.substr(1, strGuid.size() - 2), p);
}

// An OBJECT element answers the names the control knows (its methods and properties, and
// IDVAL) by handing them on, as a browser's object element does.
STDMETHODIMP CHtmlElement::GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT nNames, LCID lcid, DISPID* rgDispId)
{
    if (!rgszNames || !rgDispId || nNames == 0)
        return E_POINTER;
    DISPID nId = FindName(g_elementNames, rgszNames[0]);
    if (nId == DISPID_UNKNOWN && IsObject())
        nId = FindName(g_objectNames, rgszNames[0]);
    if (nId != DISPID_UNKNOWN)
    {
        rgDispId[0] = nId;
        for (UINT i = 1; i < nNames; ++i)
            rgDispId[i] = DISPID_UNKNOWN;
        return nNames == 1 ? S_OK : DISP_E_UNKNOWNNAME;
    }
    if (IDispatch* pControl = Control())
        return pControl->GetIDsOfNames(riid, rgszNames, nNames, lcid, rgDispId);
    for (UINT i = 0; i < nNames; ++i)
        rgDispId[i] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
}

STDMETHODIMP CHtmlElement::Invoke(DISPID nId, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pParams,
                                  VARIANT* pResult, EXCEPINFO* pExcepInfo, UINT* pnArgErr)
{
    if (nId < DISPID_EL_ID || nId > DISPID_EL_OBJECT)
    {
        IDispatch* pControl = Control();
        return pControl ? pControl->Invoke(nId, riid, lcid, wFlags, pParams, pResult, pExcepInfo, pnArgErr)
                        : DISP_E_MEMBERNOTFOUND;
    }
    if (pResult)
        VariantInit(pResult);
    const std::vector<const VARIANT*> args = Arguments(pParams);
    const bool bPut = (wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    const VARIANT* pValue = bPut && pParams && pParams->cArgs ? &pParams->rgvarg[0] : nullptr;
    BSTR bstr = nullptr;
    LONG n = 0;
    IHTMLElement* pElement = nullptr;
    switch (nId)
    {
    case DISPID_EL_INNERTEXT:
        if (bPut)
        {
            std::wstring str;
            if (!pValue || !PTL::VariantToText(*pValue, str))
                return DISP_E_TYPEMISMATCH;
            PTL::CComBSTR value(str);
            return put_innerText(value.Get());
        }
        return ReturnText(get_innerText(&bstr), bstr, pResult);
    case DISPID_EL_SCROLLLEFT:
    case DISPID_EL_SCROLLTOP:
        if (bPut)
        {
            if (!pValue || !PTL::VariantToInt(*pValue, n))
                return DISP_E_TYPEMISMATCH;
            return nId == DISPID_EL_SCROLLLEFT ? put_scrollLeft(n) : put_scrollTop(n);
        }
        return ReturnInt(nId == DISPID_EL_SCROLLLEFT ? get_scrollLeft(&n) : get_scrollTop(&n), n, pResult);
    }
    if (bPut)
        return DISP_E_MEMBERNOTFOUND;  // read-only in this model
    switch (nId)
    {
    case DISPID_EL_REMOVENODE:
        // The element and everything in it leave the page; the element object stays usable.
        if (m_nNode > 0 && m_pState->remove)
            m_pState->remove(m_nNode);
        return S_OK;
    case DISPID_EL_ID: return ReturnText(get_id(&bstr), bstr, pResult);
    case DISPID_EL_TAGNAME: return ReturnText(get_tagName(&bstr), bstr, pResult);
    case DISPID_EL_CLASSID: return ReturnText(get_classid(&bstr), bstr, pResult);
    case DISPID_EL_OFFSETLEFT: return ReturnInt(get_offsetLeft(&n), n, pResult);
    case DISPID_EL_OFFSETTOP: return ReturnInt(get_offsetTop(&n), n, pResult);
    case DISPID_EL_OFFSETWIDTH: return ReturnInt(get_offsetWidth(&n), n, pResult);
    case DISPID_EL_OFFSETHEIGHT: return ReturnInt(get_offsetHeight(&n), n, pResult);
    case DISPID_EL_OFFSETPARENT: return ReturnObject(get_offsetParent(&pElement), pElement, pResult);
    case DISPID_EL_PARENT: return ReturnObject(get_parentElement(&pElement), pElement, pResult);
    case DISPID_EL_OBJECT: {
        IDispatch* pDisp = nullptr;
        return ReturnObject(get_object(&pDisp), pDisp, pResult);
    }
    }
    (void)args;
    return DISP_E_MEMBERNOTFOUND;
}

// ---- CHtmlDocument -----------------------------------------------------------------------------

PTL::CComPtr<IHTMLElement> CHtmlDocument::Element(int nNode)
{
    if (nNode == HTML_NODE)
    {
        if (!m_pHtml)
            m_pHtml = PTL::MakeComObject<CHtmlElement>(m_pState, HTML_NODE, this);
        return m_pHtml;
    }
    if (nNode < 0 || size_t(nNode) >= m_pState->page.nodes.size())
        return nullptr;
    if (m_elements.size() < m_pState->page.nodes.size())
        m_elements.resize(m_pState->page.nodes.size());
    PTL::CComPtr<IHTMLElement>& pElement = m_elements[size_t(nNode)];
    if (!pElement)
        pElement = PTL::MakeComObject<CHtmlElement>(m_pState, nNode, this);
    return pElement;
}

const QITAB* CHtmlDocument::InterfaceTable()
{
    static const QITAB qit[] = {
        QITABENT(CHtmlDocument, IHTMLDocument2),
        QITABENTMULTI(CHtmlDocument, IDispatch, IHTMLDocument2),
        QITABENTMULTI(CHtmlDocument, IHTMLDocument, IHTMLDocument2),
        QITABENT(CHtmlDocument, IHTMLDocument3),
        QITABENT(CHtmlDocument, IOleContainer),
        QITABENTMULTI(CHtmlDocument, IParseDisplayName, IOleContainer),
        QITABENT(CHtmlDocument, IServiceProvider),
        {nullptr, 0},
    };
    return qit;
}

STDMETHODIMP CHtmlDocument::get_body(IHTMLElement** p) { return HandOut(Element(0), p); }

STDMETHODIMP CHtmlDocument::get_URL(BSTR* p) { return AllocText(m_pState->strUrl, p); }

// The page leaves for the address through its browser, so that the browser's events fire.
STDMETHODIMP CHtmlDocument::put_URL(BSTR v)
{
    if (m_pState->pBrowser)
        m_pState->pBrowser->Navigate(v, nullptr, nullptr, nullptr, nullptr);
    return S_OK;
}

STDMETHODIMP CHtmlDocument::get_readyState(BSTR* p) { return AllocText(L"complete", p); }

STDMETHODIMP CHtmlDocument::get_documentElement(IHTMLElement** p) { return HandOut(Element(HTML_NODE), p); }

STDMETHODIMP CHtmlDocument::getElementById(BSTR v, IHTMLElement** pel)
{
    if (!pel)
        return E_POINTER;
    *pel = nullptr;
    const int nNode = m_pState->page.FindNode(BstrText(v));
    return nNode < 0 ? S_OK : HandOut(Element(nNode), pel);
}

STDMETHODIMP CHtmlDocument::getElementsByTagName(BSTR v, IHTMLElementCollection** pelColl)
{
    if (!pelColl)
        return E_POINTER;
    const std::wstring strTag = BstrText(v);
    std::vector<PTL::CComPtr<IHTMLElement>> found;
    if (strTag == L"*" || CompareStringOrdinal(strTag.c_str(), -1, L"HTML", -1, TRUE) == CSTR_EQUAL)
        found.push_back(Element(HTML_NODE));
    for (size_t i = 0; i < m_pState->page.nodes.size(); ++i)
    {
        const std::wstring& strNodeTag = m_pState->page.nodes[i].strTag;
        if (strTag == L"*" || CompareStringOrdinal(strNodeTag.c_str(), -1, strTag.c_str(), -1, TRUE) == CSTR_EQUAL)
            found.push_back(Element(int(i)));
    }
    *pelColl = PTL::MakeComObject<CHtmlCollection>(std::move(found)).Detach();
    return S_OK;
}

STDMETHODIMP CHtmlDocument::QueryService(REFGUID guidService, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if ((guidService == SID_SWebBrowserApp || guidService == SID_SInternetExplorer) && m_pState->bBrowserService &&
        m_pState->pBrowser)
        return m_pState->pBrowser->QueryInterface(riid, ppv);
    return E_NOINTERFACE;
}

STDMETHODIMP CHtmlDocument::GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT nNames, LCID, DISPID* rgDispId)
{
    if (!rgszNames || !rgDispId || nNames == 0)
        return E_POINTER;
    for (UINT i = 0; i < nNames; ++i)
        rgDispId[i] = DISPID_UNKNOWN;
    rgDispId[0] = FindName(g_documentNames, rgszNames[0]);
    return rgDispId[0] != DISPID_UNKNOWN && nNames == 1 ? S_OK : DISP_E_UNKNOWNNAME;
}

STDMETHODIMP CHtmlDocument::Invoke(DISPID nId, REFIID, LCID, WORD wFlags, DISPPARAMS* pParams, VARIANT* pResult,
                                   EXCEPINFO*, UINT*)
{
    if (pResult)
        VariantInit(pResult);
    const std::vector<const VARIANT*> args = Arguments(pParams);
    const bool bPut = (wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    BSTR bstr = nullptr;
    IHTMLElement* pElement = nullptr;
    std::wstring str;
    switch (nId)
    {
    case DISPID_DOC_URL:
        if (bPut)
        {
            if (!pParams || !pParams->cArgs || !PTL::VariantToText(pParams->rgvarg[0], str))
                return DISP_E_TYPEMISMATCH;
            PTL::CComBSTR value(str);
            return put_URL(value.Get());
        }
        return ReturnText(get_URL(&bstr), bstr, pResult);
    case DISPID_DOC_READYSTATE: return ReturnText(get_readyState(&bstr), bstr, pResult);
    case DISPID_DOC_BODY: return ReturnObject(get_body(&pElement), pElement, pResult);
    case DISPID_DOC_ELEMENT: return ReturnObject(get_documentElement(&pElement), pElement, pResult);
    case DISPID_DOC_BYID: {
        if (!ArgText(args, 0, str))
            return DISP_E_BADPARAMCOUNT;
        PTL::CComBSTR value(str);
        return ReturnObject(getElementById(value.Get(), &pElement), pElement, pResult);
    }
    case DISPID_DOC_BYTAG: {
        if (!ArgText(args, 0, str))
            return DISP_E_BADPARAMCOUNT;
        PTL::CComBSTR value(str);
        IHTMLElementCollection* pList = nullptr;
        return ReturnObject(getElementsByTagName(value.Get(), &pList), pList, pResult);
    }
    }
    return DISP_E_MEMBERNOTFOUND;
}

// ---- CHtmlCollection ---------------------------------------------------------------------------

const QITAB* CHtmlCollection::InterfaceTable()
{
    static const QITAB qit[] = {
        QITABENT(CHtmlCollection, IHTMLElementCollection),
        QITABENTMULTI(CHtmlCollection, IDispatch, IHTMLElementCollection),
        {nullptr, 0},
    };
    return qit;
}

STDMETHODIMP CHtmlCollection::get_length(LONG* p)
{
    if (!p)
        return E_POINTER;
    *p = LONG(m_elements.size());
    return S_OK;
}

// item(index) or item(id): the element at an index, or the first whose id is the name.
STDMETHODIMP CHtmlCollection::item(VARIANT name, VARIANT index, IDispatch** pdisp)
{
    if (!pdisp)
        return E_POINTER;
    *pdisp = nullptr;
    LONG nIndex = 0;
    if (V_VT(&name) != VT_BSTR && PTL::VariantToInt(name, nIndex))
    {
        if (nIndex >= 0 && size_t(nIndex) < m_elements.size())
            return m_elements[size_t(nIndex)]->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(pdisp));
        return S_OK;
    }
    std::wstring strName;
    if (!PTL::VariantToText(name, strName))
        return E_INVALIDARG;
    for (const auto& pElement : m_elements)
    {
        BSTR bstr = nullptr;
        pElement->get_id(&bstr);
        const bool bMatch = BstrText(bstr) == strName;
        SysFreeString(bstr);
        if (bMatch)
            return pElement->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(pdisp));
    }
    return S_OK;
}

STDMETHODIMP CHtmlCollection::GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT nNames, LCID, DISPID* rgDispId)
{
    if (!rgszNames || !rgDispId || nNames == 0)
        return E_POINTER;
    for (UINT i = 0; i < nNames; ++i)
        rgDispId[i] = DISPID_UNKNOWN;
    const std::wstring strName = rgszNames[0];
    if (strName == L"length")
        rgDispId[0] = DISPID_COL_LENGTH;
    else if (strName == L"item")
        rgDispId[0] = DISPID_COL_ITEM;
    else if (!strName.empty() && strName.size() < 9 &&
             std::all_of(strName.begin(), strName.end(), [](wchar_t ch) { return ch >= L'0' && ch <= L'9'; }))
        rgDispId[0] = DISPID_COL_INDEX + std::stoi(strName);
    return rgDispId[0] != DISPID_UNKNOWN && nNames == 1 ? S_OK : DISP_E_UNKNOWNNAME;
}

STDMETHODIMP CHtmlCollection::Invoke(DISPID nId, REFIID, LCID, WORD, DISPPARAMS* pParams, VARIANT* pResult, EXCEPINFO*,
                                     UINT*)
{
    if (pResult)
        VariantInit(pResult);
    if (nId == DISPID_COL_LENGTH)
        return ReturnInt(S_OK, LONG(m_elements.size()), pResult);
    PTL::CComVariant index = PTL::CComVariant::FromInt(nId - DISPID_COL_INDEX);
    if (nId == DISPID_COL_ITEM)
    {
        const std::vector<const VARIANT*> args = Arguments(pParams);
        if (args.empty())
            return DISP_E_BADPARAMCOUNT;
        const HRESULT hr = index.Copy(*args[0]);
        if (FAILED(hr))
            return hr;
    }
    else if (nId < DISPID_COL_INDEX)
    {
        return DISP_E_MEMBERNOTFOUND;
    }
    VARIANT empty;
    VariantInit(&empty);
    IDispatch* pDisp = nullptr;
    return ReturnObject(item(index, empty, &pDisp), pDisp, pResult);
}

// ---- CWebBrowser -------------------------------------------------------------------------------

const QITAB* CWebBrowser::InterfaceTable()
{
    static const QITAB qit[] = {
        QITABENT(CWebBrowser, IWebBrowser2),
        QITABENTMULTI(CWebBrowser, IDispatch, IWebBrowser2),
        QITABENTMULTI(CWebBrowser, IWebBrowser, IWebBrowser2),
        QITABENTMULTI(CWebBrowser, IWebBrowserApp, IWebBrowser2),
        QITABENT(CWebBrowser, IConnectionPointContainer),
        {nullptr, 0},
    };
    return qit;
}

void CWebBrowser::Navigate(const std::wstring& strUrl)
{
    // Event arguments go last first, each by reference as the browser passes them.
    PTL::CComVariant url(strUrl), flags = PTL::CComVariant::FromInt(0), frame{std::wstring()}, post,
                                  headers{std::wstring()};
    VARIANT_BOOL vbCancel = VARIANT_FALSE;
    const auto ref = [](PTL::CComVariant& value) {
        VARIANT var;
        V_VT(&var) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&var) = &value;
        return var;
    };
    VARIANT self;
    V_VT(&self) = VT_DISPATCH;
    V_DISPATCH(&self) = static_cast<IWebBrowser2*>(this);
    VARIANT before[7];
    V_VT(&before[0]) = VT_BYREF | VT_BOOL;
    V_BOOLREF(&before[0]) = &vbCancel;
    before[1] = ref(headers);
    before[2] = ref(post);
    before[3] = ref(frame);
    before[4] = ref(flags);
    before[5] = ref(url);
    before[6] = self;
    const PTL::CComPtr<IWebBrowser2> pKeep(this);  // a sink may drop its last reference meanwhile
    EventPoint().Invoke(DISPID_BEFORENAVIGATE2, before, 7, false, nullptr);
    if (vbCancel != VARIANT_FALSE)
        return;
    m_pState->strNavigatedTo = strUrl;
    if (m_pState->navigate)
        m_pState->navigate(strUrl);
    VARIANT complete[2] = {ref(url), self};
    EventPoint().Invoke(DISPID_NAVIGATECOMPLETE2, complete, 2, false, nullptr);
    EventPoint().Invoke(DISPID_DOCUMENTCOMPLETE, complete, 2, false, nullptr);
}

STDMETHODIMP CWebBrowser::Navigate(BSTR URL, VARIANT*, VARIANT*, VARIANT*, VARIANT*)
{
    Navigate(BstrText(URL));
    return S_OK;
}

STDMETHODIMP CWebBrowser::Navigate2(VARIANT* URL, VARIANT*, VARIANT*, VARIANT*, VARIANT*)
{
    std::wstring strUrl;
    if (!URL || !PTL::VariantToText(*URL, strUrl))
        return E_INVALIDARG;
    Navigate(strUrl);
    return S_OK;
}

STDMETHODIMP CWebBrowser::get_Document(IDispatch** ppDisp) { return HandOut(m_pDocument, ppDisp); }

STDMETHODIMP CWebBrowser::get_LocationURL(BSTR* LocationURL) { return AllocText(m_pState->strUrl, LocationURL); }

STDMETHODIMP CWebBrowser::get_HWND(SHANDLE_PTR* pHWND)
{
    if (!pHWND)
        return E_POINTER;
    *pHWND = SHANDLE_PTR(m_hWnd);
    return S_OK;
}

STDMETHODIMP CWebBrowser::get_Busy(VARIANT_BOOL* pBool)
{
    if (!pBool)
        return E_POINTER;
    *pBool = VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP CWebBrowser::get_ReadyState(READYSTATE* plReadyState)
{
    if (!plReadyState)
        return E_POINTER;
    *plReadyState = READYSTATE_COMPLETE;
    return S_OK;
}

}  // namespace Host
