// The container's side of one OBJECT element: it creates the object and brings it into the page
// as a browser does (client site, safety check, PARAMs, in-place activation at the element's
// box inside the page window), answers the object's calls on its sites (client, in-place,
// control, ambient properties, services) and takes it down again.
#pragma once

#include "ptl/ComPtr.h"
#include "ptl/ComObject.h"
#include "tools/host/PageModel.h"

#include <ocidl.h>
#include <oleidl.h>
#include <servprov.h>

#include <functional>
#include <string>
#include <vector>

namespace Host
{

// Creates an object for a class id; the default is CoCreateInstance. Tests supply their own.
using CObjectFactory = std::function<HRESULT(const CLSID&, IUnknown**)>;
HRESULT CreateRegisteredObject(const CLSID& clsid, IUnknown** ppObject);

// The page's frame window as in-place objects see it; it keeps the UI-active object, which is
// offered key messages before the page handles them.
class CPageFrame : public IOleInPlaceFrame, public PTL::CUncountedObjectRoot
{
public:
    static const QITAB* InterfaceTable();
    explicit CPageFrame(HWND hWnd) : m_hWnd(hWnd) {}
    IOleInPlaceActiveObject* ActiveObject() const { return m_pActive.Get(); }
    void Close() { m_pActive.Release(); }

    // IOleWindow
    STDMETHODIMP GetWindow(HWND* phwnd) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    // IOleInPlaceUIWindow
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* pActiveObject, LPCOLESTR) override;
    // IOleInPlaceFrame
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

private:
    HWND m_hWnd;
    PTL::CComPtr<IOleInPlaceActiveObject> m_pActive;
};

// What a site needs from the page it stands in.
struct CSiteContext
{
    HWND hPage = nullptr;  // the controls' parent
    PTL::CObjectPtr<CPageFrame> pFrame;
    PTL::CComPtr<IUnknown> pDocument;  // the container; answers the web-browser service
    std::function<RECT()> box;         // the element's box in the page window's client area
    // Tab (bBack: Shift+Tab) that the object offered to its site: focus moves on in the page.
    std::function<void(bool bBack)> tab;
    std::function<void()> uiActivated;  // the object became UI active (a click, Tab)
};

class CObjectSite
    : public PTL::CNoTypeInfo<IOleClientSite, IOleInPlaceSite, IOleControlSite, IDispatch, IServiceProvider>,
      public PTL::CUncountedObjectRoot
{
public:
    static const QITAB* InterfaceTable();
    explicit CObjectSite(const CPageObject& element, CSiteContext context = CSiteContext())
        : m_element(element), m_context(std::move(context))
    {
    }

    // Creates the object and loads it as a browser does: client site first when the object asks
    // for it (OLEMISC_SETCLIENTSITEFIRST), the safety check, IPersistPropertyBag::Load with the
    // PARAMs (or InitNew), the client site for the others, the extent from width and height.
    // S_FALSE when the object refuses to be safe: it is then closed, not loaded and not to be
    // scripted. On failure strError says what went wrong.
    HRESULT Create(const CObjectFactory& factory, std::wstring& strError);
    // In-place activation at the element's box (DoVerb OLEIVERB_INPLACEACTIVATE); objects
    // without IOleObject stay as they are.
    HRESULT Activate(std::wstring& strError);
    // Moves an active object to its element's box (after a scroll).
    void Reposition();
    // UI activation as a browser gives it to the element that Tab reaches (the object takes the
    // focus), and its end when the focus goes on to another element.
    HRESULT UIActivate();
    void UIDeactivate();
    // Closes the object, drops the references both ways and drops the host's own. Returns the
    // references the object still counts afterwards (0 when nobody keeps it).
    ULONG Close();

    IUnknown* Object() const { return m_pObject.Get(); }
    const CPageObject& Element() const { return m_element; }
    // The object's own window once it is in-place active (null for windowless objects).
    HWND ObjectWindow() const;
    // Offers a key message to the in-place active object; true when it took it.
    bool TranslateAccelerator(MSG& msg);
    // What the object asked of the control site, in order ("TranslateAccelerator 65", "OnFocus 1").
    const std::vector<std::wstring>& ControlSiteCalls() const { return m_controlSiteCalls; }

    // IOleWindow
    STDMETHODIMP GetWindow(HWND* phwnd) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** ppMoniker) override;
    STDMETHODIMP GetContainer(IOleContainer** ppContainer) override;
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override;
    STDMETHODIMP OnUIActivate() override;
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc, LPRECT lprcPosRect,
                                  LPRECT lprcClipRect, LPOLEINPLACEFRAMEINFO lpFrameInfo) override;
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override;
    STDMETHODIMP DiscardUndoState() override { return S_OK; }
    STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
    STDMETHODIMP OnPosRectChange(LPCRECT lprcPosRect) override;
    // IOleControlSite
    STDMETHODIMP OnControlInfoChanged() override { return S_OK; }
    STDMETHODIMP LockInPlaceActive(BOOL) override { return S_OK; }
    STDMETHODIMP GetExtendedControl(IDispatch** ppDisp) override;
    STDMETHODIMP TransformCoords(POINTL* pPtlHimetric, POINTF* pPtfContainer, DWORD dwFlags) override;
    STDMETHODIMP TranslateAccelerator(MSG* pMsg, DWORD grfModifiers) override;
    STDMETHODIMP OnFocus(BOOL fGotFocus) override;
    STDMETHODIMP ShowPropertyFrame() override { return E_NOTIMPL; }
    // IDispatch: the ambient properties
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID nId, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* pResult, EXCEPINFO*, UINT*) override;
    // IServiceProvider: handed on to the document, as a browser's site does
    STDMETHODIMP QueryService(REFGUID guidService, REFIID riid, void** ppv) override;

private:
    HRESULT Load(std::wstring& strError);
    HRESULT CheckSafety(std::wstring& strError);

    CPageObject m_element;
    CSiteContext m_context;
    PTL::CComPtr<IUnknown> m_pObject;
    PTL::CComPtr<IOleObject> m_pOleObject;       // null for objects that are no OLE objects
    PTL::CComPtr<IOleInPlaceObject> m_pInPlace;  // while in-place active
    bool m_bSiteSet = false;
    std::vector<std::wstring> m_controlSiteCalls;
};

// A length attribute ("200", "200px") in HIMETRIC units; false for other forms ("50%", "").
bool PixelsToHimetric(const std::wstring& strLength, LONG& nHimetric);

}  // namespace Host
