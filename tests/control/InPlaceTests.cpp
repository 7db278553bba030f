// The control in an in-place container: activation makes its window with the list and the
// status bar, the properties act on that window, keys and teardown behave as a browser needs.
// The container here is the smallest one that activates a control (client, in-place and control
// site on a top-level window), so the embedding is checked without a page.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>

#include "lang/LangIds.h"
#include "lang/LangTable.h"
#include "progress/LabelFit.h"
#include "tests/common/DialogWatcher.h"
#include "tests/common/InProcessControl.h"
#include "tests/common/ListViewText.h"

namespace
{
class CTestSite : public IOleClientSite, public IOleInPlaceSite, public IOleControlSite
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
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
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
    STDMETHODIMP TranslateAccelerator(MSG*, DWORD) override { return S_FALSE; }
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
        : m_hFrame(CreateWindowExW(0, L"STATIC", L"page", WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0,
                                   700, 500, nullptr, nullptr, nullptr, nullptr)),
          site(m_hFrame)
    {
        site.rcPos = rcPos;
        pControl = NewInProcessControl();
        pControl.QueryInterface(&pOleObject);
        pOleObject->SetClientSite(&site);
        if (fnBefore)
            fnBefore(*static_cast<CPL5Ctrl*>(pControl.Get()));
        hrActivate = pOleObject->DoVerb(OLEIVERB_UIACTIVATE, nullptr, &site, 0, m_hFrame, &rcPos);
        PTL::CComPtr<IOleWindow> pWindow;
        pControl.QueryInterface(&pWindow);
        pWindow->GetWindow(&hWnd);
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

PTL::CComBSTR Bstr(const wchar_t* sz) { return PTL::CComBSTR(sz); }

void ChildMode(CPL5Ctrl& control) { control.put_ChildMode(VARIANT_TRUE); }

// A drop target that takes nothing; only its registration matters here.
class CNoDropTarget : public IDropTarget
{
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = (riid == IID_IUnknown || riid == IID_IDropTarget) ? this : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP DragEnter(IDataObject*, DWORD, POINTL, DWORD* pdwEffect) override { return *pdwEffect = 0, S_OK; }
    STDMETHODIMP DragOver(DWORD, POINTL, DWORD* pdwEffect) override { return *pdwEffect = 0, S_OK; }
    STDMETHODIMP DragLeave() override { return S_OK; }
    STDMETHODIMP Drop(IDataObject*, DWORD, POINTL, DWORD* pdwEffect) override { return *pdwEffect = 0, S_OK; }
};

TEST(InPlace, ActivationMakesTheWindowAndDeactivationTakesItDown)
{
    CActiveControl active;
    ASSERT_EQ(S_OK, active.hrActivate);
    ASSERT_TRUE(IsWindow(active.hWnd));
    EXPECT_EQ(active.m_hFrame, GetParent(active.hWnd));
    EXPECT_EQ(1, active.site.nInPlaceActivations);
    EXPECT_EQ(1, active.site.nUIActivations);

    const HWND hList = active.List();
    ASSERT_TRUE(hList);
    wchar_t szClass[64] = L"";
    GetClassNameW(hList, szClass, 64);
    EXPECT_STREQ(L"SysListView32", szClass);
    const LONG_PTR nStyle = GetWindowLongPtrW(hList, GWL_STYLE);
    EXPECT_EQ(static_cast<LONG_PTR>(LVS_OWNERDATA | LVS_SHOWSELALWAYS | LVS_SHAREIMAGELISTS),
              nStyle & (LVS_OWNERDATA | LVS_SHOWSELALWAYS | LVS_SHAREIMAGELISTS));
    EXPECT_EQ(LVS_REPORT, nStyle & LVS_TYPEMASK);
    // The default language is Korean, loaded at creation.
    EXPECT_EQ(L"파일 이름", ListColumnTitle(active.List(), 0));
    ASSERT_TRUE(active.StatusBar());
    EXPECT_TRUE(IsWindowVisible(active.StatusBar()));
    // The list sits over the status bar and together they fill the window.
    RECT rcClient, rcList = active.ChildRect(hList), rcStatus = active.ChildRect(active.StatusBar());
    GetClientRect(active.hWnd, &rcClient);
    EXPECT_EQ(rcClient.right, rcList.right);
    EXPECT_EQ(rcList.bottom, rcStatus.top);
    EXPECT_EQ(rcClient.bottom, rcStatus.bottom);

    // The default picture is the module's Korean bitmap.
    PTL::CComBSTR bstrPicture;
    active.pControl->get_BkImgURL(&bstrPicture);
    const std::wstring strPicture(bstrPicture.Get());
    EXPECT_EQ(0u, strPicture.find(L"res://")) << strPicture;
    EXPECT_EQ(strPicture.size() - 6, strPicture.rfind(L"/2/205")) << strPicture;

    const HWND hWnd = active.hWnd;
    PTL::CComPtr<IOleInPlaceObject> pInPlace;
    active.pControl.QueryInterface(&pInPlace);
    EXPECT_EQ(S_OK, pInPlace->InPlaceDeactivate());
    EXPECT_FALSE(IsWindow(hWnd));
    EXPECT_EQ(1, active.site.nInPlaceDeactivations);
}

TEST(InPlace, DefaultPicturesAreInTheModule)
{
    const struct
    {
        int nId;
        LONG nWidth, nHeight;
    } pictures[] = {{205, 129, 74}, {207, 102, 61}};
    for (const auto& picture : pictures)
    {
        const HBITMAP hBitmap = static_cast<HBITMAP>(
            LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(picture.nId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        ASSERT_TRUE(hBitmap) << picture.nId;
        BITMAP info = {};
        GetObjectW(hBitmap, sizeof(info), &info);
        EXPECT_EQ(picture.nWidth, info.bmWidth) << picture.nId;
        EXPECT_EQ(picture.nHeight, info.bmHeight) << picture.nId;
        DeleteObject(hBitmap);
    }
}

TEST(InPlace, PropertiesActOnTheWindow)
{
    CActiveControl active;
    ASSERT_TRUE(active.List());
    RECT rcClient;
    GetClientRect(active.hWnd, &rcClient);

    // Status bar hidden and shown again at run time.
    active.pControl->put_ShowStatus(VARIANT_FALSE);
    EXPECT_FALSE(IsWindowVisible(active.StatusBar()));
    EXPECT_EQ(rcClient.bottom, active.ChildRect(active.List()).bottom);
    active.pControl->put_ShowStatus(VARIANT_TRUE);
    EXPECT_TRUE(IsWindowVisible(active.StatusBar()));
    EXPECT_EQ(active.ChildRect(active.StatusBar()).top, active.ChildRect(active.List()).bottom);

    // The status bar keeps two halves, whatever SetStatusWidth records.
    EXPECT_EQ(S_OK, active.pControl->put_SetStatusWidth(3, 50));
    EXPECT_EQ(S_OK, active.pControl->put_SetStatusWidth(0, 100));
    int anEdges[4] = {};
    EXPECT_EQ(2, SendMessageW(active.StatusBar(), SB_GETPARTS, 4, reinterpret_cast<LPARAM>(anEdges)));
    EXPECT_EQ(rcClient.right / 2, anEdges[0]);

    // Views: case does not matter; anything unknown is the report view.
    const struct
    {
        const wchar_t* szStyle;
        LONG_PTR nView;
    } views[] = {{L"LIST", LVS_LIST}, {L"large icon", LVS_ICON}, {L"Small Icon", LVS_SMALLICON},
                 {L"tiles", LVS_REPORT}, {L"", LVS_REPORT}};
    for (const auto& view : views)
    {
        active.pControl->put_ListStyle(Bstr(view.szStyle));
        EXPECT_EQ(view.nView, GetWindowLongPtrW(active.List(), GWL_STYLE) & LVS_TYPEMASK) << view.szStyle;
    }

    // A fixed width is taken as an unsigned 16-bit number; -1 is automatic.
    active.pControl->put_ItemWidth(90);
    EXPECT_EQ(90, active.FirstColumnWidth());

    // The no-scroll switch keeps the view of ListStyle.
    active.pControl->put_ListStyle(Bstr(L"list"));
    active.pControl->put_Scrolling(VARIANT_FALSE);
    EXPECT_EQ(LVS_NOSCROLL, GetWindowLongPtrW(active.List(), GWL_STYLE) & LVS_NOSCROLL);
    EXPECT_EQ(LVS_LIST, GetWindowLongPtrW(active.List(), GWL_STYLE) & LVS_TYPEMASK);
    active.pControl->put_Scrolling(VARIANT_TRUE);
    EXPECT_EQ(0, GetWindowLongPtrW(active.List(), GWL_STYLE) & LVS_NOSCROLL);
}

TEST(InPlace, AutomaticFirstColumnWidth)
{
    const struct
    {
        int nWidth;
        int nExpected;
    } cases[] = {{200, 150}, {400, 400 - 110 - GetSystemMetrics(SM_CXVSCROLL)}};
    for (const auto& c : cases)
    {
        CActiveControl active({0, 0, c.nWidth, 150});
        EXPECT_EQ(c.nExpected, active.FirstColumnWidth()) << c.nWidth;
    }
}

TEST(InPlace, ChildModeDialogCoversTheControl)
{
    CActiveControl active({0, 0, 420, 380}, ChildMode);
    ASSERT_TRUE(IsWindow(active.hWnd));
    HWND hDialog = nullptr;
    for (HWND h = GetWindow(active.hWnd, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT))
        if (GetDlgItem(h, 1201))
            hDialog = h;
    ASSERT_TRUE(hDialog);
    EXPECT_TRUE(GetWindowLongPtrW(hDialog, GWL_STYLE) & WS_CHILD);
    RECT rcClient, rcDialog = active.ChildRect(hDialog);
    GetClientRect(active.hWnd, &rcClient);
    EXPECT_TRUE(EqualRect(&rcClient, &rcDialog));

    // It follows the control's size.
    PTL::CComPtr<IOleInPlaceObject> pInPlace;
    active.pControl.QueryInterface(&pInPlace);
    RECT rcNew = {0, 0, 500, 300};
    pInPlace->SetObjectRects(&rcNew, &rcNew);
    rcDialog = active.ChildRect(hDialog);
    EXPECT_EQ(500, rcDialog.right);
    EXPECT_EQ(300, rcDialog.bottom);
}

TEST(InPlace, NoProgressLabelIsCut)
{
    for (const wchar_t* szLanguage : {L"en", L"ko"})
    {
        CActiveControl active({0, 0, 420, 380}, [szLanguage](CPL5Ctrl& control) {
            control.put_Language(Bstr(szLanguage));
            control.put_ChildMode(VARIANT_TRUE);
        });
        const HWND hDialog = GetWindow(active.hWnd, GW_CHILD);
        ASSERT_TRUE(GetDlgItem(hDialog, 1201));
        // Each label is as wide as its text in the dialog's font.
        int nLabels = 0;
        for (HWND h = GetWindow(hDialog, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT))
        {
            wchar_t szText[64] = L"", szClass[16] = L"";
            GetWindowTextW(h, szText, 64);
            GetClassNameW(h, szClass, 16);
            if (GetDlgCtrlID(h) != -1 || !szText[0] || _wcsicmp(szClass, L"Static") != 0)
                continue;
            ++nLabels;
            RECT rc;
            GetClientRect(h, &rc);
            EXPECT_LE(TextWidthInDialogFont(hDialog, h), rc.right) << szLanguage << " " << nLabels;
        }
        EXPECT_EQ(6, nLabels) << szLanguage;
    }
}

TEST(InPlace, KeysOfferedByTheContainer)
{
    CActiveControl active;
    PTL::CComPtr<IOleInPlaceActiveObject> pActive;
    active.pControl.QueryInterface(&pActive);
    ASSERT_TRUE(pActive);
    // The focus given to the control goes on to its list.
    SetFocus(active.hWnd);
    EXPECT_EQ(active.List(), GetFocus());

    wchar_t szFile[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, szFile, MAX_PATH);
    active.pControl->AddFile(Bstr(szFile), nullptr);
    active.pControl->put_SelectState(0, VARIANT_TRUE);
    // Navigation keys and letters stay with the list and remove nothing. (Delete with and
    // without UseDeleteKey is pressed on the selection page.)
    for (const WPARAM nKey : {WPARAM(VK_DOWN), WPARAM(VK_PRIOR), WPARAM('B')})
    {
        MSG msg = {active.List(), WM_KEYDOWN, nKey, 0, 0, {0, 0}};
        EXPECT_EQ(S_FALSE, pActive->TranslateAccelerator(&msg)) << nKey;
        LONG nCount = -1;
        active.pControl->get_GetCount(&nCount);
        EXPECT_EQ(1, nCount) << nKey;
    }
}

TEST(InPlace, TeardownRevokesExactlyTheDropTargetsRegistered)
{
    OleInitialize(nullptr);
    CNoDropTarget target, probe, pages;
    // The page window has a target of its own; the control takes it over only with UseDragDrop
    // outside child mode, and it is not given back.
    const struct
    {
        bool bUseDragDrop;
        bool bChildMode;
        bool bPageKeepsItsOwn;
        bool bControlTaken;
    } cases[] = {{true, false, false, true}, {false, false, true, true}, {true, true, true, false}};
    for (const auto& c : cases)
    {
        CActiveControl active({0, 0, 300, 200}, [&](CPL5Ctrl& control) {
            RegisterDragDrop(control.ContainerWindow(), &pages);
            control.WindowHooks().fnDropTarget = [&target] { return PTL::CComPtr<IDropTarget>(&target); };
            control.put_UseDragDrop(c.bUseDragDrop ? VARIANT_TRUE : VARIANT_FALSE);
            if (c.bChildMode)
                control.put_ChildMode(VARIANT_TRUE);
        });
        const HWND hPage = active.m_hFrame, hWnd = active.hWnd;
        auto taken = [&probe](HWND h) {
            const HRESULT hr = RegisterDragDrop(h, &probe);
            if (SUCCEEDED(hr))
                RevokeDragDrop(h);
            return hr == DRAGDROP_E_ALREADYREGISTERED;
        };
        EXPECT_TRUE(taken(hPage)) << c.bUseDragDrop << c.bChildMode;
        EXPECT_EQ(c.bControlTaken, taken(hWnd)) << c.bUseDragDrop << c.bChildMode;
        // A page that changes the flag meanwhile changes nothing at teardown.
        active.pControl->put_UseDragDrop(c.bUseDragDrop ? VARIANT_FALSE : VARIANT_TRUE);
        PTL::CComPtr<IOleInPlaceObject> pInPlace;
        active.pControl.QueryInterface(&pInPlace);
        pInPlace->InPlaceDeactivate();
        EXPECT_EQ(c.bPageKeepsItsOwn, taken(hPage)) << c.bUseDragDrop << c.bChildMode;
        RevokeDragDrop(hPage);
    }
    OleUninitialize();
}

TEST(InPlace, MessagesAreOwnedByTheContainerBeforeTheWindowExists)
{
    const HWND hFrame = CreateWindowExW(0, L"STATIC", L"page", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200,
                                        nullptr, nullptr, nullptr, nullptr);
    CTestSite site(hFrame);
    PTL::CComPtr<IPL5Ctrl> pControl = NewInProcessControl();
    PTL::CComPtr<IOleObject> pOleObject;
    pControl.QueryInterface(&pOleObject);
    pOleObject->SetClientSite(&site);
    HWND hOwner = reinterpret_cast<HWND>(-1);
    {
        CDialogWatcher watcher([&hOwner](const CSeenDialog& dialog) {
            hOwner = GetWindow(FindWindowW(L"#32770", dialog.strCaption.c_str()), GW_OWNER);
            return IDOK;
        });
        VARIANT_BOOL vbDone = VARIANT_TRUE;
        pControl->ExcuteLocalFile(Bstr(L"C:\\not listed.txt"), &vbDone);
        EXPECT_EQ(VARIANT_FALSE, vbDone);
    }
    EXPECT_EQ(hFrame, hOwner);
    pOleObject->SetClientSite(nullptr);
    DestroyWindow(hFrame);
}

TEST(InPlace, LiveControlsNeverShareAnInstanceNumber)
{
    // Two thousand draws from 32768 values collide almost surely; live controls must not.
    std::vector<PTL::CComPtr<IPL5Ctrl>> controls;
    std::set<ULONG> numbers;
    for (int i = 0; i < 2000; ++i)
    {
        controls.push_back(NewInProcessControl());
        ULONG n = 0;
        controls.back()->get_IDVAL(&n);
        EXPECT_LE(n, 32767u);
        numbers.insert(n);
    }
    EXPECT_EQ(controls.size(), numbers.size());
}

TEST(InPlace, HundredActivationsLeaveNothingBehind)
{
    auto counts = [] {
        DWORD nHandles = 0;
        GetProcessHandleCount(GetCurrentProcess(), &nHandles);
        return std::vector<DWORD>{GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS),
                                  GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), nHandles};
    };
    { CActiveControl warmUp; }  // classes, image lists and the pack are made once
    const std::vector<DWORD> before = counts();
    for (int i = 0; i < 100; ++i)
    {
        CActiveControl active({0, 0, 300, 200}, i % 2 ? ChildMode : nullptr);
        ASSERT_TRUE(IsWindow(active.hWnd)) << i;
    }
    const std::vector<DWORD> after = counts();
    const char* names[] = {"USER objects", "GDI objects", "handles"};
    for (size_t i = 0; i < before.size(); ++i)
        EXPECT_LE(after[i], before[i] + 5) << names[i];  // a few for caches the system fills late
    EXPECT_EQ(0, PTL::CModule::LockCount());
}
} // namespace
