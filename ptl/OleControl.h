// OLE embedding of a windowed control: IOleObject, in-place activation (IOleInPlaceObject and its
// windowless extension, IOleInPlaceActiveObject), IOleControl and view drawing (IViewObjectEx),
// with the control's own child window in the container's window.
//
// T derives from COleControlImpl<T, &CLSID> and provides
//   static constexpr DWORD MISC_STATUS;  the OLEMISC_ flags of the class
//   BOOL ProcessWindowMessage(HWND, UINT, WPARAM, LPARAM, LRESULT&)
// and may hide OnTranslateAccelerator (the in-place active object's key hook) and OnDraw. T's
// destructor calls DestroyWindowOfFinalRelease, so that its WM_DESTROY runs while T still exists.
//
// While the window handles a message the object holds a reference to itself: a handler may call
// the page's script, and the page may let go of the control there.
//
// The state machine: loaded (client site set) -> in-place active (window made, site told) ->
// UI active (focus, frame knows the active object) and back down; InPlaceDeactivate and Close
// walk down from wherever the control is.
#pragma once
#include <windows.h>
#include <ocidl.h>
#include <oleidl.h>
#include <olectl.h>

#include "ptl/ComPtr.h"
#include "ptl/Module.h"
#include "ptl/TemplateDialog.h"  // CActivationScope

namespace PTL
{
template <class T, const CLSID* pclsid>
class COleControlImpl : public IOleObject,
                        public IOleInPlaceObjectWindowless,
                        public IOleInPlaceActiveObject,
                        public IOleControl,
                        public IViewObjectEx
{
public:
    COleControlImpl()
    {
        // 300 x 200 pixels at 96 dpi until the container sets an extent.
        m_sizeExtent.cx = MulDiv(300, 2540, 96);
        m_sizeExtent.cy = MulDiv(200, 2540, 96);
    }
    virtual ~COleControlImpl()
    {
        // T should have destroyed the window; here T is gone, so the window is cut off first.
        if (m_hWnd && IsWindow(m_hWnd))
        {
            SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
            ::DestroyWindow(m_hWnd);
        }
        m_hWnd = nullptr;
    }
    COleControlImpl(const COleControlImpl&) = delete;
    COleControlImpl& operator=(const COleControlImpl&) = delete;

    // ---- what T uses -------------------------------------------------------------------------
    HWND ControlWindow() const { return m_hWnd; }
    IOleClientSite* ClientSite() const { return m_pClientSite.Get(); }
    bool IsInPlaceActive() const { return m_bInPlaceActive; }
    bool IsUIActive() const { return m_bUIActive; }

    // The container's window: the in-place site's, also before the control is activated; null
    // without a site.
    HWND ContainerWindow() const
    {
        CComPtr<IOleInPlaceSite> pSite = m_pInPlaceSite;
        if (!pSite && m_pClientSite)
            m_pClientSite.QueryInterface(&pSite);
        HWND hWnd = nullptr;
        if (!pSite || FAILED(pSite->GetWindow(&hWnd)))
            return nullptr;
        return hWnd;
    }

    CComPtr<IOleControlSite> ControlSite() const
    {
        CComPtr<IOleControlSite> pSite;
        if (m_pClientSite)
            m_pClientSite.QueryInterface(&pSite);
        return pSite;
    }

    void DestroyControlWindow()
    {
        if (m_hWnd && IsWindow(m_hWnd))
            ::DestroyWindow(m_hWnd);
    }
    // For T's destructor: the object's count is already 0, so the teardown's messages take no
    // reference (a release would delete the object a second time).
    void DestroyWindowOfFinalRelease()
    {
        m_bFinalRelease = true;
        DestroyControlWindow();
    }
    bool InFinalRelease() const { return m_bFinalRelease; }

    // The framework's part of WM_SETFOCUS: focus inside an in-place active control makes it UI
    // active, and the container learns that the control has the focus.
    void FrameworkSetFocus()
    {
        if (m_bInPlaceActive && !m_bUIActive)
            InPlaceActivate(OLEIVERB_UIACTIVATE);
        if (m_bInPlaceActive)
            if (CComPtr<IOleControlSite> pSite = ControlSite())
                pSite->OnFocus(TRUE);
    }

    // Asks for a repaint of the control and tells the view's advise sink.
    void FireViewChange()
    {
        if (m_hWnd)
            InvalidateRect(m_hWnd, nullptr, TRUE);
        if (m_pViewSink)
            m_pViewSink->OnViewChange(DVASPECT_CONTENT, -1);
    }

    // Default hooks, hidden by T where it has its own.
    HRESULT OnTranslateAccelerator(MSG*) { return S_FALSE; }
    // The container closes the object or takes its site away: T lets go of what it holds of
    // the container, so that no reference cycle keeps both alive.
    void OnContainerGone() {}
    void OnDraw(HDC hdc, const RECT& rc)
    {
        // Neutral: the control's children cover its window, so this shows only while it has none.
        FillRect(hdc, &rc, GetSysColorBrush(COLOR_WINDOW));
        FrameRect(hdc, &rc, GetSysColorBrush(COLOR_BTNSHADOW));
    }

    // ---- IOleObject --------------------------------------------------------------------------
    STDMETHODIMP SetClientSite(IOleClientSite* pClientSite) override
    {
        if (!pClientSite)
            static_cast<T*>(this)->OnContainerGone();
        m_pClientSite = pClientSite;
        return S_OK;
    }
    STDMETHODIMP GetClientSite(IOleClientSite** ppClientSite) override
    {
        if (!ppClientSite)
            return E_POINTER;
        *ppClientSite = m_pClientSite.Get();
        if (*ppClientSite)
            (*ppClientSite)->AddRef();
        return S_OK;
    }
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP Close(DWORD) override
    {
        InPlaceDeactivate();
        static_cast<T*>(this)->OnContainerGone();
        if (m_pAdviseHolder)
            m_pAdviseHolder->SendOnClose();
        return S_OK;
    }
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** ppmk) override
    {
        if (ppmk)
            *ppmk = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject** ppDataObject) override
    {
        if (ppDataObject)
            *ppDataObject = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP DoVerb(LONG iVerb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) override
    {
        switch (iVerb)
        {
        case OLEIVERB_PRIMARY:
        case OLEIVERB_UIACTIVATE: return InPlaceActivate(OLEIVERB_UIACTIVATE);
        case OLEIVERB_SHOW:
        case OLEIVERB_INPLACEACTIVATE: return InPlaceActivate(OLEIVERB_INPLACEACTIVATE);
        case OLEIVERB_HIDE:
            UIDeactivate();
            if (m_hWnd)
                ShowWindow(m_hWnd, SW_HIDE);
            return S_OK;
        case OLEIVERB_DISCARDUNDOSTATE: return S_OK;
        case OLEIVERB_OPEN:
        case OLEIVERB_PROPERTIES: return E_NOTIMPL;
        default: return OLEOBJ_S_INVALIDVERB;
        }
    }
    STDMETHODIMP EnumVerbs(IEnumOLEVERB** ppEnumOleVerb) override { return OleRegEnumVerbs(*pclsid, ppEnumOleVerb); }
    STDMETHODIMP Update() override { return S_OK; }
    STDMETHODIMP IsUpToDate() override { return S_OK; }
    STDMETHODIMP GetUserClassID(CLSID* pClsid) override
    {
        if (!pClsid)
            return E_POINTER;
        *pClsid = *pclsid;
        return S_OK;
    }
    STDMETHODIMP GetUserType(DWORD dwFormOfType, LPOLESTR* pszUserType) override
    {
        return OleRegGetUserType(*pclsid, dwFormOfType, pszUserType);
    }
    STDMETHODIMP SetExtent(DWORD dwDrawAspect, SIZEL* psizel) override
    {
        if (dwDrawAspect != DVASPECT_CONTENT)
            return DV_E_DVASPECT;
        if (!psizel)
            return E_POINTER;
        m_sizeExtent = *psizel;
        return S_OK;
    }
    STDMETHODIMP GetExtent(DWORD dwDrawAspect, SIZEL* psizel) override
    {
        if (dwDrawAspect != DVASPECT_CONTENT)
            return DV_E_DVASPECT;
        if (!psizel)
            return E_POINTER;
        *psizel = m_sizeExtent;
        return S_OK;
    }
    STDMETHODIMP Advise(IAdviseSink* pAdvSink, DWORD* pdwConnection) override
    {
        if (!m_pAdviseHolder)
        {
            const HRESULT hr = CreateOleAdviseHolder(&m_pAdviseHolder);
            if (FAILED(hr))
                return hr;
        }
        return m_pAdviseHolder->Advise(pAdvSink, pdwConnection);
    }
    STDMETHODIMP Unadvise(DWORD dwConnection) override
    {
        return m_pAdviseHolder ? m_pAdviseHolder->Unadvise(dwConnection) : OLE_E_NOCONNECTION;
    }
    STDMETHODIMP EnumAdvise(IEnumSTATDATA** ppenumAdvise) override
    {
        if (!ppenumAdvise)
            return E_POINTER;
        *ppenumAdvise = nullptr;
        return m_pAdviseHolder ? m_pAdviseHolder->EnumAdvise(ppenumAdvise) : E_FAIL;
    }
    STDMETHODIMP GetMiscStatus(DWORD, DWORD* pdwStatus) override
    {
        if (!pdwStatus)
            return E_POINTER;
        *pdwStatus = T::MISC_STATUS;
        return S_OK;
    }
    STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    // ---- IOleWindow, IOleInPlaceObject(Windowless) -------------------------------------------
    STDMETHODIMP GetWindow(HWND* phwnd) override
    {
        if (!phwnd)
            return E_POINTER;
        *phwnd = m_hWnd;
        return m_hWnd ? S_OK : E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP InPlaceDeactivate() override
    {
        if (!m_bInPlaceActive)
            return S_OK;
        UIDeactivate();
        m_bInPlaceActive = false;
        DestroyControlWindow();
        m_pFrame.Release();
        m_pUIWindow.Release();
        CComPtr<IOleInPlaceSite> pSite;
        pSite.Swap(m_pInPlaceSite);
        if (pSite)
            pSite->OnInPlaceDeactivate();
        return S_OK;
    }
    STDMETHODIMP UIDeactivate() override
    {
        if (!m_bUIActive)
            return S_OK;
        m_bUIActive = false;
        if (m_pUIWindow)
            m_pUIWindow->SetActiveObject(nullptr, nullptr);
        if (m_pFrame)
            m_pFrame->SetActiveObject(nullptr, nullptr);
        if (m_pInPlaceSite)
            m_pInPlaceSite->OnUIDeactivate(FALSE);
        return S_OK;
    }
    STDMETHODIMP SetObjectRects(LPCRECT prcPos, LPCRECT prcClip) override
    {
        if (!prcPos)
            return E_POINTER;
        m_rcPos = *prcPos;
        if (!m_hWnd)
            return S_OK;
        // The part of the control outside the clip rectangle is cut off by a window region.
        RECT rcVisible = *prcPos;
        if (prcClip)
            IntersectRect(&rcVisible, prcPos, prcClip);
        if (EqualRect(&rcVisible, prcPos))
            SetWindowRgn(m_hWnd, nullptr, TRUE);
        else
        {
            OffsetRect(&rcVisible, -prcPos->left, -prcPos->top);
            SetWindowRgn(m_hWnd, CreateRectRgnIndirect(&rcVisible), TRUE);  // the window owns it
        }
        SetWindowPos(m_hWnd, nullptr, prcPos->left, prcPos->top, prcPos->right - prcPos->left,
                     prcPos->bottom - prcPos->top, SWP_NOZORDER | SWP_NOACTIVATE);
        return S_OK;
    }
    STDMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }
    // The control always has a window; a windowless container gets nothing from these.
    STDMETHODIMP OnWindowMessage(UINT, WPARAM, LPARAM, LRESULT*) override { return S_FALSE; }
    STDMETHODIMP GetDropTarget(IDropTarget** ppDropTarget) override
    {
        if (ppDropTarget)
            *ppDropTarget = nullptr;
        return E_NOTIMPL;
    }

    // ---- IOleInPlaceActiveObject -------------------------------------------------------------
    STDMETHODIMP TranslateAccelerator(LPMSG pMsg) override
    {
        if (!pMsg)
            return E_POINTER;
        return static_cast<T*>(this)->OnTranslateAccelerator(pMsg);
    }
    STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnDocWindowActivate(BOOL fActivate) override
    {
        if (!fActivate)
            UIDeactivate();
        return S_OK;
    }
    STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }

    // ---- IOleControl -------------------------------------------------------------------------
    STDMETHODIMP GetControlInfo(CONTROLINFO*) override { return E_NOTIMPL; }
    STDMETHODIMP OnMnemonic(MSG*) override { return S_OK; }
    STDMETHODIMP OnAmbientPropertyChange(DISPID) override { return S_OK; }
    STDMETHODIMP FreezeEvents(BOOL) override { return S_OK; }

    // ---- IViewObject, IViewObject2, IViewObjectEx --------------------------------------------
    STDMETHODIMP Draw(DWORD dwDrawAspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC hdcDraw, LPCRECTL prcBounds, LPCRECTL,
                      BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) override
    {
        if (dwDrawAspect != DVASPECT_CONTENT)
            return DV_E_DVASPECT;
        if (!hdcDraw)
            return E_INVALIDARG;
        RECT rc = m_rcPos;
        if (prcBounds)
            SetRect(&rc, prcBounds->left, prcBounds->top, prcBounds->right, prcBounds->bottom);
        static_cast<T*>(this)->OnDraw(hdcDraw, rc);
        return S_OK;
    }
    STDMETHODIMP GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** ppColorSet) override
    {
        if (ppColorSet)
            *ppColorSet = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP Freeze(DWORD, LONG, void*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Unfreeze(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP SetAdvise(DWORD dwAspects, DWORD dwAdvf, IAdviseSink* pAdvSink) override
    {
        m_dwViewAspects = dwAspects;
        m_dwViewAdvf = dwAdvf;
        m_pViewSink = pAdvSink;
        return S_OK;
    }
    STDMETHODIMP GetAdvise(DWORD* pdwAspects, DWORD* pdwAdvf, IAdviseSink** ppAdvSink) override
    {
        if (pdwAspects)
            *pdwAspects = m_dwViewAspects;
        if (pdwAdvf)
            *pdwAdvf = m_dwViewAdvf;
        if (ppAdvSink)
        {
            *ppAdvSink = m_pViewSink.Get();
            if (*ppAdvSink)
                (*ppAdvSink)->AddRef();
        }
        return S_OK;
    }
    STDMETHODIMP GetExtent(DWORD dwDrawAspect, LONG, DVTARGETDEVICE*, LPSIZEL lpsizel) override
    {
        return GetExtent(dwDrawAspect, lpsizel);
    }
    STDMETHODIMP GetRect(DWORD, LPRECTL) override { return E_NOTIMPL; }
    STDMETHODIMP GetViewStatus(DWORD* pdwStatus) override
    {
        if (!pdwStatus)
            return E_POINTER;
        *pdwStatus = VIEWSTATUS_SOLIDBKGND | VIEWSTATUS_OPAQUE;
        return S_OK;
    }
    STDMETHODIMP QueryHitPoint(DWORD dwAspect, LPCRECT pRectBounds, POINT ptlLoc, LONG, DWORD* pHitResult) override
    {
        if (!pRectBounds || !pHitResult)
            return E_POINTER;
        if (dwAspect != DVASPECT_CONTENT)
            return E_FAIL;
        *pHitResult = PtInRect(pRectBounds, ptlLoc) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
        return S_OK;
    }
    STDMETHODIMP QueryHitRect(DWORD dwAspect, LPCRECT pRectBounds, LPCRECT pRectLoc, LONG, DWORD* pHitResult) override
    {
        if (!pRectBounds || !pRectLoc || !pHitResult)
            return E_POINTER;
        if (dwAspect != DVASPECT_CONTENT)
            return E_FAIL;
        RECT rc;
        *pHitResult = IntersectRect(&rc, pRectBounds, pRectLoc) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
        return S_OK;
    }
    STDMETHODIMP GetNaturalExtent(DWORD, LONG, DVTARGETDEVICE*, HDC, DVEXTENTINFO*, LPSIZEL) override
    {
        return E_NOTIMPL;
    }

protected:
    // In place, and with the UI verb also UI active; makes the window on the first activation.
    HRESULT InPlaceActivate(LONG iVerb)
    {
        if (!m_pClientSite)
            return S_OK;
        if (!m_pInPlaceSite && FAILED(m_pClientSite.QueryInterface(&m_pInPlaceSite)))
            return E_FAIL;
        if (!m_pInPlaceSite)
            return E_FAIL;
        if (!m_bInPlaceActive)
        {
            if (m_pInPlaceSite->CanInPlaceActivate() != S_OK)
            {
                m_pInPlaceSite.Release();
                return E_FAIL;
            }
            m_bInPlaceActive = true;
            m_pInPlaceSite->OnInPlaceActivate();
        }

        OLEINPLACEFRAMEINFO frameInfo = {};
        frameInfo.cb = sizeof(frameInfo);
        RECT rcPos = m_rcPos, rcClip = m_rcPos;
        m_pFrame.Release();
        m_pUIWindow.Release();
        if (FAILED(m_pInPlaceSite->GetWindowContext(&m_pFrame, &m_pUIWindow, &rcPos, &rcClip, &frameInfo)))
        {
            rcPos = m_rcPos;
            rcClip = m_rcPos;
        }
        HWND hWndParent = nullptr;
        if (FAILED(m_pInPlaceSite->GetWindow(&hWndParent)) || !hWndParent)
        {
            InPlaceDeactivate();
            return E_FAIL;
        }
        if (!m_hWnd)
        {
            m_rcPos = rcPos;
            if (!CreateControlWindow(hWndParent, rcPos))
            {
                InPlaceDeactivate();
                return E_FAIL;
            }
        }
        else if (::GetParent(m_hWnd) != hWndParent)
            ::SetParent(m_hWnd, hWndParent);
        SetObjectRects(&rcPos, &rcClip);
        ShowWindow(m_hWnd, SW_SHOWNA);

        if (iVerb == OLEIVERB_UIACTIVATE && !m_bUIActive)
        {
            m_bUIActive = true;  // before the focus moves: WM_SETFOCUS asks for this again
            m_pInPlaceSite->OnUIActivate();
            const HWND hFocus = ::GetFocus();
            if (hFocus != m_hWnd && !IsChild(m_hWnd, hFocus))
                ::SetFocus(m_hWnd);
            if (m_pFrame)
            {
                m_pFrame->SetActiveObject(static_cast<IOleInPlaceActiveObject*>(this), nullptr);
                m_pFrame->SetBorderSpace(nullptr);
            }
            if (m_pUIWindow)
            {
                m_pUIWindow->SetActiveObject(static_cast<IOleInPlaceActiveObject*>(this), nullptr);
                m_pUIWindow->SetBorderSpace(nullptr);
            }
        }
        m_pClientSite->ShowObject();
        return S_OK;
    }

    SIZEL m_sizeExtent;  // HIMETRIC; persisted by T

private:
    static const wchar_t* WindowClassName() { return L"PTL_OleControlWindow"; }

    static bool RegisterWindowClass()
    {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof(wc);
        if (GetClassInfoExW(CModule::Instance(), WindowClassName(), &wc))
            return true;
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = &WindowProc;
        wc.hInstance = CModule::Instance();
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = WindowClassName();
        return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }

    bool CreateControlWindow(HWND hWndParent, const RECT& rc)
    {
        if (!RegisterWindowClass())
            return false;
        // The children made in WM_CREATE (list view, status bar) come from common controls 6.
        CActivationScope scope;
        CreateWindowExW(0, WindowClassName(), L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, rc.left,
                        rc.top, rc.right - rc.left, rc.bottom - rc.top, hWndParent, nullptr, CModule::Instance(),
                        static_cast<COleControlImpl*>(this));
        return m_hWnd != nullptr;
    }

    // The framework's handling of what T left unhandled.
    BOOL ProcessFrameworkMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult)
    {
        switch (uMsg)
        {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            const HDC hdc = BeginPaint(hWnd, &ps);
            RECT rc;
            GetClientRect(hWnd, &rc);
            static_cast<T*>(this)->OnDraw(hdc, rc);
            EndPaint(hWnd, &ps);
            lResult = 0;
            return TRUE;
        }
        case WM_SETFOCUS: FrameworkSetFocus(); return FALSE;
        case WM_KILLFOCUS:
            if (m_bInPlaceActive)
                if (CComPtr<IOleControlSite> pSite = ControlSite())
                    pSite->OnFocus(FALSE);
            return FALSE;
        case WM_MOUSEACTIVATE:
            if (m_bInPlaceActive && !m_bUIActive)
                InPlaceActivate(OLEIVERB_UIACTIVATE);
            return FALSE;
        default: return FALSE;
        }
    }

    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
    {
        if (uMsg == WM_NCCREATE)
        {
            auto* pNew = static_cast<COleControlImpl*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
            SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pNew));
            pNew->m_hWnd = hWnd;
        }
        auto* pThis = reinterpret_cast<COleControlImpl*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
        if (!pThis)
            return DefWindowProcW(hWnd, uMsg, wParam, lParam);

        CComPtr<IOleObject> pHold;
        if (!pThis->m_bFinalRelease)
            pHold = static_cast<IOleObject*>(pThis);
        LRESULT lResult = 0;
        BOOL bHandled = FALSE;
        try
        {
            bHandled = static_cast<T*>(pThis)->ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult);
            if (!bHandled)
                bHandled = pThis->ProcessFrameworkMessage(hWnd, uMsg, wParam, lParam, lResult);
        }
        catch (...)
        {
            // Nothing may unwind through the system's window manager.
            bHandled = FALSE;
        }
        if (uMsg == WM_NCDESTROY)
        {
            SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
            pThis->m_hWnd = nullptr;
        }
        const LRESULT lDone = bHandled ? lResult : DefWindowProcW(hWnd, uMsg, wParam, lParam);
        // May be the last reference: the object is not touched after this.
        pHold.Release();
        return lDone;
    }

    HWND m_hWnd = nullptr;
    RECT m_rcPos = {0, 0, 0, 0};
    bool m_bInPlaceActive = false;
    bool m_bUIActive = false;
    bool m_bFinalRelease = false;
    CComPtr<IOleClientSite> m_pClientSite;
    CComPtr<IOleInPlaceSite> m_pInPlaceSite;
    CComPtr<IOleInPlaceFrame> m_pFrame;
    CComPtr<IOleInPlaceUIWindow> m_pUIWindow;
    CComPtr<IOleAdviseHolder> m_pAdviseHolder;
    CComPtr<IAdviseSink> m_pViewSink;
    DWORD m_dwViewAspects = 0;
    DWORD m_dwViewAdvf = 0;
};
}  // namespace PTL
