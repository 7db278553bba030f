// The smallest container that activates a control in place: a top-level window with a client,
// in-place and control site, and the control made in-process and activated inside it.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <ocidl.h>

#include <functional>

#include "tests/common/CountedFake.h"
#include "tests/common/InProcessControl.h"

class CTestSite : public CCountedFake<IOleClientSite, IOleInPlaceSite, IOleControlSite>
{
public:
    explicit CTestSite(HWND hWnd) : m_hWnd(hWnd) {}
    HWND m_hWnd;
    int nInPlaceActivations = 0, nInPlaceDeactivations = 0, nUIActivations = 0;
    RECT rcPos = {10, 10, 310, 210};

    // IUnknown: the site lives on the test's stack and outlives the control.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IOleClientSite)
            *ppv = static_cast<IOleClientSite*>(this);
        else if (riid == IID_IOleInPlaceSite || riid == IID_IOleWindow)
            *ppv = static_cast<IOleInPlaceSite*>(this);
        else if (riid == IID_IOleControlSite)
            *ppv = static_cast<IOleControlSite*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP GetContainer(IOleContainer** pp) override
    {
        *pp = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
    // IOleWindow, IOleInPlaceSite
    STDMETHODIMP GetWindow(HWND* phwnd) override
    {
        *phwnd = m_hWnd;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override { return ++nInPlaceActivations, S_OK; }
    STDMETHODIMP OnUIActivate() override { return ++nUIActivations, S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc, LPRECT prcPos,
                                  LPRECT prcClip, LPOLEINPLACEFRAMEINFO) override
    {
        *ppFrame = nullptr;
        *ppDoc = nullptr;
        *prcPos = rcPos;
        *prcClip = rcPos;
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return ++nInPlaceDeactivations, S_OK; }
    STDMETHODIMP DiscardUndoState() override { return S_OK; }
    STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }
    // IOleControlSite
    STDMETHODIMP OnControlInfoChanged() override { return S_OK; }
    STDMETHODIMP LockInPlaceActive(BOOL) override { return S_OK; }
    STDMETHODIMP GetExtendedControl(IDispatch** pp) override
    {
        *pp = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP TransformCoords(POINTL*, POINTF*, DWORD) override { return E_NOTIMPL; }
    // A browser takes the keys it has accelerators for; with bTakesKeys this site takes every
    // key offered, and it records the modifier flags of the last one.
    bool bTakesKeys = false;
    DWORD dwLastModifiers = 0;
    STDMETHODIMP TranslateAccelerator(MSG*, DWORD dwModifiers) override
    {
        dwLastModifiers = dwModifiers;
        return bTakesKeys ? S_OK : S_FALSE;
    }
    STDMETHODIMP OnFocus(BOOL) override { return S_OK; }
    STDMETHODIMP ShowPropertyFrame() override { return E_NOTIMPL; }
};

// A top-level window, a site on it and the control activated in place inside it.
class CActiveControl
{
public:
    // fnBefore runs between the client site and the activation, where the tag's PARAMs load.
    explicit CActiveControl(const RECT& rcPos = {10, 10, 310, 210},
                            const std::function<void(CPL5Ctrl&)>& fnBefore = nullptr)
        : m_hFrame(CreateWindowExW(0, L"STATIC", L"page", WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 700,
                                   500, nullptr, nullptr, nullptr, nullptr)),
          site(m_hFrame)
    {
        site.rcPos = rcPos;
        pControl = NewInProcessControl();
        pControl.QueryInterface(&pOleObject);
        pOleObject->SetClientSite(&site);
        if (fnBefore)
            fnBefore(*static_cast<CPL5Ctrl*>(pControl.Get()));
        Activate();
    }
    // Activates the control (again): its window is hWnd.
    void Activate()
    {
        hrActivate = pOleObject->DoVerb(OLEIVERB_UIACTIVATE, nullptr, &site, 0, m_hFrame, &site.rcPos);
        PTL::CComPtr<IOleWindow> pWindow;
        pControl.QueryInterface(&pWindow);
        hWnd = nullptr;
        pWindow->GetWindow(&hWnd);
    }
    // As a browser does when the element leaves the page's layout: the window goes, the control stays.
    HRESULT Deactivate()
    {
        PTL::CComPtr<IOleInPlaceObject> pInPlace;
        pControl.QueryInterface(&pInPlace);
        return pInPlace->InPlaceDeactivate();
    }
    ~CActiveControl()
    {
        pOleObject->Close(OLECLOSE_NOSAVE);
        pOleObject->SetClientSite(nullptr);
        DestroyWindow(m_hFrame);
    }
    HWND List() const { return GetDlgItem(hWnd, CPL5Ctrl::ID_FILE_LIST); }
    HWND StatusBar() const { return FindWindowExW(hWnd, nullptr, STATUSCLASSNAMEW, nullptr); }
    RECT ChildRect(HWND hChild) const
    {
        RECT rc;
        GetWindowRect(hChild, &rc);
        MapWindowPoints(nullptr, hWnd, reinterpret_cast<POINT*>(&rc), 2);
        return rc;
    }
    int FirstColumnWidth() const { return static_cast<int>(SendMessageW(List(), LVM_GETCOLUMNWIDTH, 0, 0)); }

    HWND m_hFrame;
    CTestSite site;
    PTL::CComPtr<IPL5Ctrl> pControl;
    PTL::CComPtr<IOleObject> pOleObject;
    HRESULT hrActivate = E_FAIL;
    HWND hWnd = nullptr;
};
