#include "tests/host/FakeControl.h"

#include "Pelora5_h.h"

#include <olectl.h>

namespace HostTest
{
namespace
{

HRESULT LoadOwnTypeLib(PTL::CComPtr<ITypeLib>& pLib)
{
    wchar_t szPath[MAX_PATH];
    GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    return LoadTypeLibEx(szPath, REGKIND_NONE, &pLib);
}

}  // namespace

PTL::CComVariant CFakeControl::Fire(DISPID nId, std::vector<PTL::CComVariant> args, HRESULT* phr)
{
    std::vector<VARIANT> reversed;
    for (auto it = args.rbegin(); it != args.rend(); ++it)
        reversed.push_back(*it);  // shallow: args keeps ownership
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr, UINT(reversed.size()), 0};
    PTL::CComVariant result;
    HRESULT hr = S_OK;
    const auto sinks = m_sinks;
    for (const auto& pSink : sinks)
    {
        if (!pSink)
            continue;
        result.Clear();
        hr = pSink->Invoke(nId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
    }
    if (phr)
        *phr = hr;
    return result;
}

size_t CFakeControl::SinkCount() const
{
    size_t n = 0;
    for (const auto& pSink : m_sinks)
        n += pSink ? 1 : 0;
    return n;
}

STDMETHODIMP CFakeControl::GetTypeInfoCount(UINT* pn)
{
    *pn = 0;
    return S_OK;
}

STDMETHODIMP CFakeControl::GetTypeInfo(UINT, LCID, ITypeInfo** pp)
{
    *pp = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CFakeControl::GetClassInfo(ITypeInfo** ppTI)
{
    PTL::CComPtr<ITypeLib> pLib;
    const HRESULT hr = LoadOwnTypeLib(pLib);
    if (FAILED(hr))
        return hr;
    return pLib->GetTypeInfoOfGuid(CLSID_PL5Ctrl, ppTI);
}

STDMETHODIMP CFakeControl::GetGUID(DWORD dwGuidKind, GUID* pGUID)
{
    if (dwGuidKind != GUIDKIND_DEFAULT_SOURCE_DISP_IID)
        return E_INVALIDARG;
    *pGUID = DIID__IPL5CtrlEvents;
    return S_OK;
}

STDMETHODIMP CFakeControl::EnumConnectionPoints(IEnumConnectionPoints** pp)
{
    *pp = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CFakeControl::FindConnectionPoint(REFIID riid, IConnectionPoint** pp)
{
    *pp = nullptr;
    if (!IsEqualIID(riid, DIID__IPL5CtrlEvents))
        return CONNECT_E_NOCONNECTION;
    *pp = this;
    (*pp)->AddRef();
    return S_OK;
}

STDMETHODIMP CFakeControl::GetConnectionInterface(IID* pIID)
{
    *pIID = DIID__IPL5CtrlEvents;
    return S_OK;
}

STDMETHODIMP CFakeControl::GetConnectionPointContainer(IConnectionPointContainer** pp)
{
    *pp = this;
    (*pp)->AddRef();
    return S_OK;
}

STDMETHODIMP CFakeControl::Advise(IUnknown* pUnkSink, DWORD* pdwCookie)
{
    PTL::CComPtr<IDispatch> pSink;
    if (FAILED(pUnkSink->QueryInterface(DIID__IPL5CtrlEvents, reinterpret_cast<void**>(&pSink))))
        return CONNECT_E_CANNOTCONNECT;
    m_sinks.push_back(pSink);
    *pdwCookie = DWORD(m_sinks.size());
    return S_OK;
}

STDMETHODIMP CFakeControl::Unadvise(DWORD dwCookie)
{
    if (dwCookie == 0 || dwCookie > m_sinks.size() || !m_sinks[dwCookie - 1])
        return CONNECT_E_NOCONNECTION;
    m_sinks[dwCookie - 1].Release();
    return S_OK;
}

STDMETHODIMP CFakeControl::EnumConnections(IEnumConnections** pp)
{
    *pp = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CFakeControl::GetClassID(CLSID* pClassID)
{
    *pClassID = CLSID_PL5Ctrl;
    return S_OK;
}

STDMETHODIMP CFakeControl::InitNew()
{
    calls.push_back(L"InitNew");
    bInitNew = true;
    return S_OK;
}

STDMETHODIMP CFakeControl::Load(IPropertyBag* pPropBag, IErrorLog*)
{
    calls.push_back(L"Load");
    bLoaded = true;
    for (const auto& request : requests)
    {
        PTL::CComVariant value;
        V_VT(&value) = request.nType;  // an empty "current value" of the property's type
        if (request.nType == VT_BSTR)
            V_BSTR(&value) = nullptr;
        const HRESULT hr = pPropBag->Read(request.strName.c_str(), &value, nullptr);
        answers.push_back({request.strName, hr, value});
    }
    return S_OK;
}

CFakeControl::~CFakeControl()
{
    if (hWnd)
        DestroyWindow(hWnd);
}

const QITAB* CFakeControl::InterfaceTable() const
{
    static const QITAB qitEmbedding[] = {
        QITABENT(CFakeControl, IDispatch),
        QITABENT(CFakeControl, IProvideClassInfo2),
        QITABENTMULTI(CFakeControl, IProvideClassInfo, IProvideClassInfo2),
        QITABENT(CFakeControl, IConnectionPointContainer),
        QITABENT(CFakeControl, IConnectionPoint),
        QITABENT(CFakeControl, IPersistPropertyBag),
        QITABENT(CFakeControl, IObjectSafety),
        QITABENT(CFakeControl, IOleObject),
        QITABENT(CFakeControl, IOleInPlaceObject),
        QITABENTMULTI(CFakeControl, IOleWindow, IOleInPlaceObject),
        QITABENT(CFakeControl, IOleInPlaceActiveObject),
        {nullptr, 0},
    };
    static const QITAB qitPlain[] = {qitEmbedding[0], qitEmbedding[1], qitEmbedding[2], qitEmbedding[3],
                                     qitEmbedding[4], qitEmbedding[5], qitEmbedding[6], {nullptr, 0}};
    return bOleObject ? qitEmbedding : qitPlain;
}

STDMETHODIMP CFakeControl::GetMiscStatus(DWORD, DWORD* pdwStatus)
{
    calls.push_back(L"GetMiscStatus");
    *pdwStatus = nMiscStatus;
    return S_OK;
}

STDMETHODIMP CFakeControl::SetClientSite(IOleClientSite* pClientSite)
{
    calls.push_back(pClientSite ? L"SetClientSite" : L"SetClientSite(null)");
    if (pClientSite || !bKeepSiteOnClose)
        pSite = pClientSite;
    if (!pClientSite && bKeepSiteOnClose)
        static_cast<IOleObject*>(this)->AddRef();  // the fault: a reference nobody will release
    return S_OK;
}

STDMETHODIMP CFakeControl::GetClientSite(IOleClientSite** ppClientSite)
{
    *ppClientSite = pSite.Get();
    if (*ppClientSite)
        (*ppClientSite)->AddRef();
    return S_OK;
}

// In-place activation as a windowed control does it: ask the site, learn the frame and the
// rectangles, make a child window of the container's window there.
STDMETHODIMP CFakeControl::DoVerb(LONG iVerb, LPMSG, IOleClientSite* pActiveSite, LONG, HWND hwndParent,
                                  LPCRECT lprcPosRect)
{
    calls.push_back(L"DoVerb " + std::to_wstring(iVerb));
    PTL::CComPtr<IOleInPlaceSite> pInPlaceSite;
    if (!pActiveSite || FAILED(pActiveSite->QueryInterface(IID_PPV_ARGS(&pInPlaceSite))))
        return E_INVALIDARG;
    if (pInPlaceSite->CanInPlaceActivate() != S_OK)
        return E_FAIL;
    pInPlaceSite->OnInPlaceActivate();
    PTL::CComPtr<IOleInPlaceFrame> pFrame;
    PTL::CComPtr<IOleInPlaceUIWindow> pDocWindow;
    RECT rcClip = {};
    OLEINPLACEFRAMEINFO info = {sizeof(info)};
    HRESULT hr = pInPlaceSite->GetWindowContext(&pFrame, &pDocWindow, &rcPos, &rcClip, &info);
    if (FAILED(hr))
        return hr;
    HWND hParent = nullptr;
    pInPlaceSite->GetWindow(&hParent);
    if (hParent != hwndParent || (lprcPosRect && !EqualRect(lprcPosRect, &rcPos)))
        calls.push_back(L"DoVerb: window or rectangle differ from the site's");
    hWnd = CreateWindowExW(0, L"STATIC", L"fake", WS_CHILD | WS_VISIBLE | WS_BORDER, rcPos.left, rcPos.top,
                           rcPos.right - rcPos.left, rcPos.bottom - rcPos.top, hParent, nullptr, nullptr, nullptr);
    if (pFrame)
        pFrame->SetActiveObject(this, nullptr);
    return hWnd ? S_OK : E_FAIL;
}

STDMETHODIMP CFakeControl::Close(DWORD)
{
    calls.push_back(L"Close");
    return InPlaceDeactivate();
}

STDMETHODIMP CFakeControl::InPlaceDeactivate()
{
    if (!hWnd)
        return S_OK;
    DestroyWindow(hWnd);
    hWnd = nullptr;
    PTL::CComPtr<IOleInPlaceSite> pInPlaceSite;
    if (pSite && SUCCEEDED(pSite.QueryInterface(&pInPlaceSite)))
    {
        PTL::CComPtr<IOleInPlaceFrame> pFrame;
        PTL::CComPtr<IOleInPlaceUIWindow> pDocWindow;
        RECT rcIgnored, rcClip;
        OLEINPLACEFRAMEINFO info = {sizeof(info)};
        if (SUCCEEDED(pInPlaceSite->GetWindowContext(&pFrame, &pDocWindow, &rcIgnored, &rcClip, &info)) && pFrame)
            pFrame->SetActiveObject(nullptr, nullptr);
        pInPlaceSite->OnInPlaceDeactivate();
    }
    return S_OK;
}

STDMETHODIMP CFakeControl::GetWindow(HWND* phwnd)
{
    *phwnd = hWnd;
    return hWnd ? S_OK : E_FAIL;
}

STDMETHODIMP CFakeControl::SetObjectRects(LPCRECT lprcPosRect, LPCRECT)
{
    rcPos = *lprcPosRect;
    if (hWnd)
        MoveWindow(hWnd, rcPos.left, rcPos.top, rcPos.right - rcPos.left, rcPos.bottom - rcPos.top, TRUE);
    return S_OK;
}

STDMETHODIMP CFakeControl::TranslateAccelerator(LPMSG lpmsg)
{
    if (lpmsg->message != WM_KEYDOWN)
        return S_FALSE;
    calls.push_back(L"TranslateAccelerator " + std::to_wstring(lpmsg->wParam));
    return lpmsg->wParam == nAcceleratorKey ? S_OK : S_FALSE;
}

STDMETHODIMP CFakeControl::GetInterfaceSafetyOptions(REFIID, DWORD* pdwSupported, DWORD* pdwEnabled)
{
    *pdwSupported = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
    *pdwEnabled = 0;
    return S_OK;
}

STDMETHODIMP CFakeControl::SetInterfaceSafetyOptions(REFIID riid, DWORD, DWORD)
{
    calls.push_back(IsEqualIID(riid, IID_IDispatch) ? L"Safety IDispatch" : L"Safety IPersistPropertyBag");
    return bSafe ? S_OK : E_FAIL;
}

}  // namespace HostTest
