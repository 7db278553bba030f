// A stand-in for a control in the host's unit tests: an object with the control's class
// information and event interface (from the type library in the test program's resources), one
// connection point, a property bag load that records what the bag answered, and the embedding
// interfaces of a windowed control that record what the container asks of them.
#pragma once

#include "ptl/ComPtr.h"
#include "ptl/ComObject.h"

#include <objsafe.h>
#include <ocidl.h>
#include <oleidl.h>

#include <string>
#include <vector>

// The toolchain's header gives IObjectSafety no __uuidof.
__CRT_UUID_DECL(IObjectSafety, 0xcb5bdc81, 0x93c1, 0x11cf, 0x8f, 0x20, 0x00, 0x80, 0x5f, 0x2c, 0xd0, 0x64)

namespace HostTest
{

class CFakeControl : public IDispatch,
                     public IProvideClassInfo2,
                     public IConnectionPointContainer,
                     public IConnectionPoint,
                     public IPersistPropertyBag,
                     public IOleObject,
                     public IOleInPlaceObject,
                     public IOleInPlaceActiveObject,
                     public IObjectSafety,
                     public PTL::CUncountedObjectRoot
{
public:
    ~CFakeControl() override;
    // The embedding interfaces only while bOleObject is set.
    const QITAB* InterfaceTable() const;

    // What Load asks the bag for: each name with the type of the "current value".
    struct CRequest
    {
        std::wstring strName;
        VARTYPE nType;
    };
    struct CAnswer
    {
        std::wstring strName;
        HRESULT hr;
        PTL::CComVariant value;
    };

    std::vector<CRequest> requests;
    std::vector<CAnswer> answers;
    bool bInitNew = false;
    bool bLoaded = false;

    // The container's calls in order: "GetMiscStatus", "SetClientSite", "SetClientSite(null)",
    // "Safety IDispatch", "Safety IPersistPropertyBag", "Load", "InitNew", "DoVerb -5", "Close",
    // "TranslateAccelerator 65".
    std::vector<std::wstring> calls;
    DWORD nMiscStatus = OLEMISC_SETCLIENTSITEFIRST;
    bool bSafe = true;              // accepts both safety options
    bool bOleObject = true;         // answers IOleObject and the in-place interfaces
    bool bKeepSiteOnClose = false;  // a faulty control that keeps its site (and a reference)
    UINT nAcceleratorKey = 0;       // the virtual key that TranslateAccelerator takes
    PTL::CComPtr<IOleClientSite> pSite;
    HWND hWnd = nullptr;  // its window while in-place active
    RECT rcPos = {};      // where the container put it

    // Calls every connected sink with the arguments in declared order; returns the last result.
    PTL::CComVariant Fire(DISPID nId, std::vector<PTL::CComVariant> args, HRESULT* phr = nullptr);
    size_t SinkCount() const;

    // IDispatch: no members of its own.
    STDMETHODIMP GetTypeInfoCount(UINT* pn) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** pp) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return DISP_E_MEMBERNOTFOUND;
    }
    // IProvideClassInfo2
    STDMETHODIMP GetClassInfo(ITypeInfo** ppTI) override;
    STDMETHODIMP GetGUID(DWORD dwGuidKind, GUID* pGUID) override;
    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** pp) override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** pp) override;
    // IConnectionPoint
    STDMETHODIMP GetConnectionInterface(IID* pIID) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** pp) override;
    STDMETHODIMP Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
    STDMETHODIMP Unadvise(DWORD dwCookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** pp) override;
    // IPersistPropertyBag
    STDMETHODIMP GetClassID(CLSID* pClassID) override;
    STDMETHODIMP InitNew() override;
    STDMETHODIMP Load(IPropertyBag* pPropBag, IErrorLog*) override;
    STDMETHODIMP Save(IPropertyBag*, BOOL, BOOL) override { return E_NOTIMPL; }
    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* pClientSite) override;
    STDMETHODIMP GetClientSite(IOleClientSite** ppClientSite) override;
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP Close(DWORD dwSaveOption) override;
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
    STDMETHODIMP DoVerb(LONG iVerb, LPMSG, IOleClientSite* pActiveSite, LONG, HWND hwndParent,
                        LPCRECT lprcPosRect) override;
    STDMETHODIMP EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
    STDMETHODIMP Update() override { return S_OK; }
    STDMETHODIMP IsUpToDate() override { return S_OK; }
    STDMETHODIMP GetUserClassID(CLSID* pClsid) override { return GetClassID(pClsid); }
    STDMETHODIMP GetUserType(DWORD, LPOLESTR*) override { return E_NOTIMPL; }
    STDMETHODIMP SetExtent(DWORD, SIZEL*) override { return S_OK; }
    STDMETHODIMP GetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
    STDMETHODIMP Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    // IOleObject::Unadvise has the connection point's signature; the one above serves both.
    STDMETHODIMP EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMiscStatus(DWORD dwAspect, DWORD* pdwStatus) override;
    STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }
    // IOleWindow, IOleInPlaceObject
    STDMETHODIMP GetWindow(HWND* phwnd) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP InPlaceDeactivate() override;
    STDMETHODIMP UIDeactivate() override { return S_OK; }
    STDMETHODIMP SetObjectRects(LPCRECT lprcPosRect, LPCRECT) override;
    STDMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }
    // IOleInPlaceActiveObject
    STDMETHODIMP TranslateAccelerator(LPMSG lpmsg) override;
    STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    // IObjectSafety
    STDMETHODIMP GetInterfaceSafetyOptions(REFIID riid, DWORD* pdwSupported, DWORD* pdwEnabled) override;
    STDMETHODIMP SetInterfaceSafetyOptions(REFIID riid, DWORD dwMask, DWORD dwEnabled) override;

private:
    std::vector<PTL::CComPtr<IDispatch>> m_sinks;  // a slot per cookie - 1; empty after Unadvise
};

// How many references the fake has: once what used it is gone, the test's own is the only one,
// and any other is a leak.
inline ULONG References(PTL::CComObject<CFakeControl>* p)
{
    p->AddRef();
    return p->Release();
}

}  // namespace HostTest
