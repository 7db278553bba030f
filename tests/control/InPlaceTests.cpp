// The control in an in-place container: activation makes its window with the list and the
// status bar, the properties act on that window, keys and teardown behave as a browser needs.
// The container here is the smallest one that activates a control (client, in-place and control
// site on a top-level window), so the embedding is checked without a page.
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "lang/LangIds.h"
#include "lang/LangTable.h"
#include "ptl/Handle.h"
#include "ptl/Wait.h"
#include "progress/LabelFit.h"
#include "tests/common/ActiveControl.h"
#include "tests/common/CountedFake.h"
#include "tests/common/DialogWatcher.h"
#include "tests/common/InProcessControl.h"
#include "tests/common/ListViewText.h"
#include "tests/upload/ImportSlot.h"

namespace
{
PTL::CComBSTR Bstr(const wchar_t* sz) { return PTL::CComBSTR(sz); }

void ChildMode(CPL5Ctrl& control) { control.put_ChildMode(VARIANT_TRUE); }

// A drop target that takes nothing; only its registration matters here.
class CNoDropTarget : public CCountedFake<IDropTarget>
{
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = (riid == IID_IUnknown || riid == IID_IDropTarget) ? this : nullptr;
        return *ppv ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
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
        const PTL::CGdiObject<HBITMAP> bitmap(static_cast<HBITMAP>(LoadImageW(
            GetModuleHandleW(nullptr), MAKEINTRESOURCEW(picture.nId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
        ASSERT_TRUE(bitmap.IsValid()) << picture.nId;
        BITMAP info = {};
        GetObjectW(bitmap.Get(), sizeof(info), &info);
        EXPECT_EQ(picture.nWidth, info.bmWidth) << picture.nId;
        EXPECT_EQ(picture.nHeight, info.bmHeight) << picture.nId;
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
    } views[] = {{L"LIST", LVS_LIST},
                 {L"large icon", LVS_ICON},
                 {L"Small Icon", LVS_SMALLICON},
                 {L"tiles", LVS_REPORT},
                 {L"", LVS_REPORT}};
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

// A file of this many bytes in the temporary folder, removed with the object.
class CSizedFile
{
public:
    CSizedFile(const wchar_t* szName, DWORD nBytes) : CSizedFile(szName, std::string(nBytes, 'x')) {}
    CSizedFile(const wchar_t* szName, const std::string& strBytes)
    {
        wchar_t szFolder[MAX_PATH] = L"";
        GetTempPathW(MAX_PATH, szFolder);
        strPath = std::wstring(szFolder) + szName;
        const PTL::CKernelHandle file(
            CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD nWritten = 0;
        WriteFile(file.Get(), strBytes.data(), DWORD(strBytes.size()), &nWritten, nullptr);
    }
    ~CSizedFile() { DeleteFileW(strPath.c_str()); }
    std::wstring strPath;
};

TEST(InPlace, CellsShowWhatWasListedBeforeAndAfterTheWindow)
{
    const CSizedFile file(L"pl5-cells.txt", 1536);
    CActiveControl active({0, 0, 420, 300}, [&file](CPL5Ctrl& control) {
        control.AddFile(Bstr(file.strPath.c_str()), nullptr);
        control.AddTempFile(Bstr(L"C:\\server\\kept.doc"), 2048, Bstr(L"id-7"));
    });
    // Shown at once, without waiting for the deferred update: rows, names, sizes, the cut state.
    const HWND hList = active.List();
    ASSERT_EQ(2, SendMessageW(hList, LVM_GETITEMCOUNT, 0, 0));
    EXPECT_EQ(L"pl5-cells.txt", ListCellText(hList, 0, 0));
    EXPECT_EQ(L"1.50KB", ListCellText(hList, 0, 1));
    EXPECT_EQ(L"kept.doc", ListCellText(hList, 1, 0));
    EXPECT_EQ(L"2.00KB", ListCellText(hList, 1, 1));
    EXPECT_EQ(0, SendMessageW(hList, LVM_GETITEMSTATE, 0, LVIS_CUT));
    EXPECT_EQ(LVIS_CUT, SendMessageW(hList, LVM_GETITEMSTATE, 1, LVIS_CUT)) << "a temporary entry is drawn cut";

    active.pControl->put_ShowFullPath(VARIANT_TRUE);
    EXPECT_EQ(file.strPath, ListCellText(hList, 0, 0));
    EXPECT_EQ(L"C:\\server\\kept.doc", ListCellText(hList, 1, 0));
}

// The ids of this process's threads now.
std::set<DWORD> ProcessThreads()
{
    std::set<DWORD> ids;
    const HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {sizeof(entry)};
    for (BOOL b = Thread32First(hSnapshot, &entry); b; b = Thread32Next(hSnapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ids.insert(entry.th32ThreadID);
    CloseHandle(hSnapshot);
    return ids;
}

// A file system that does not answer for some files (a network path, say): a look at a file
// named with g_szHeldName, made on any thread but the test's, waits until g_evRelease is set.
using GetAttributesFn = BOOL(WINAPI*)(LPCWSTR, GET_FILEEX_INFO_LEVELS, LPVOID);
GetAttributesFn g_pRealGetAttributes = nullptr;
const wchar_t* g_szHeldName = L"pl5-held";
DWORD g_nTestThread = 0;
HANDLE g_evHeld = nullptr, g_evRelease = nullptr;
BOOL WINAPI HeldGetAttributes(LPCWSTR szPath, GET_FILEEX_INFO_LEVELS nLevel, LPVOID pData)
{
    if (GetCurrentThreadId() != g_nTestThread && szPath && wcsstr(szPath, g_szHeldName))
    {
        SetEvent(g_evHeld);
        WaitForSingleObject(g_evRelease, 60000);
    }
    return g_pRealGetAttributes(szPath, nLevel, pData);
}

// Serves the control's window until a worker is held reading a file; at most 10 s.
bool UntilHeld(HWND hList)
{
    // Painted every 50 ms: the paint is what asks for the thumbnails.
    for (int i = 0; i < 200; ++i)
    {
        InvalidateRect(hList, nullptr, FALSE);
        UpdateWindow(hList);
        if (PTL::CWait(50).For(g_evHeld).Serving(PTL::EServe::AllMessages).Run().Signalled())
            return true;
    }
    return false;
}

TEST(InPlace, ThumbnailWorkerEndsWithTheControl)
{
    // A GIF of one pixel.
    const char gif[] = "GIF89a\1\0\1\0\x80\0\0\xFF\0\0\0\0\0,\0\0\0\0\1\0\1\0\0\2\2D\1\0;";
    const CSizedFile picture(L"pl5-thumb.gif", std::string(gif, sizeof(gif) - 1));
    const std::set<DWORD> before = ProcessThreads();
    std::set<DWORD> during;
    {
        CActiveControl active({0, 0, 300, 200}, [&picture](CPL5Ctrl& control) {
            control.put_ListStyle(Bstr(L"large icon"));
            control.put_ShowThumbnails(VARIANT_TRUE);
            control.AddFile(Bstr(picture.strPath.c_str()), nullptr);
        });
        // Once its thumbnail is there, the row asks the view to draw no icon.
        LVITEMW item = {};
        item.mask = LVIF_IMAGE;
        PTL::PumpUntil(
            [&] {
                UpdateWindow(active.List());
                SendMessageW(active.List(), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
                return item.iImage == I_IMAGENONE;
            },
            10000);
        ASSERT_EQ(I_IMAGENONE, item.iImage) << "no thumbnail within 10 s";
        during = ProcessThreads();
    }
    const std::set<DWORD> after = ProcessThreads();
    size_t nNew = 0;
    for (DWORD id : during)
        if (!before.count(id))
        {
            ++nNew;
            EXPECT_EQ(0u, after.count(id)) << "thread " << id << " outlived the control";
        }
    EXPECT_LE(1u, nNew) << "the worker ran";
    EXPECT_EQ(0, PTL::CModule::LockCount());

    // Held up reading a picture, the worker holds up neither turning thumbnails off nor closing
    // the control; it ends once the file answers.
    const CSizedFile first(L"pl5-held1.gif", std::string(gif, sizeof(gif) - 1));
    const CSizedFile second(L"pl5-held2.gif", std::string(gif, sizeof(gif) - 1));
    const PTL::CKernelHandle evHeld(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    const PTL::CKernelHandle evRelease(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_evHeld = evHeld.Get();
    g_evRelease = evRelease.Get();
    g_nTestThread = GetCurrentThreadId();
    const CImportSwap swap("kernel32.dll", "GetFileAttributesExW", reinterpret_cast<void*>(&HeldGetAttributes));
    ASSERT_TRUE(swap.Installed());
    g_pRealGetAttributes = swap.Original<GetAttributesFn>();
    {
        CActiveControl active({0, 0, 300, 200}, [&](CPL5Ctrl& control) {
            control.put_ListStyle(Bstr(L"large icon"));
            control.put_ShowThumbnails(VARIANT_TRUE);
            control.AddFile(Bstr(first.strPath.c_str()), nullptr);
            control.AddFile(Bstr(second.strPath.c_str()), nullptr);
        });
        ASSERT_TRUE(UntilHeld(active.List())) << "no worker read the first file";
        ULONGLONG nStart = GetTickCount64();
        static_cast<CPL5Ctrl*>(active.pControl.Get())->put_ShowThumbnails(VARIANT_FALSE);
        EXPECT_LT(GetTickCount64() - nStart, 1000u) << "turning thumbnails off waited for the file";
        // On again: a new worker takes the other file and is held too.
        static_cast<CPL5Ctrl*>(active.pControl.Get())->put_ShowThumbnails(VARIANT_TRUE);
        ASSERT_TRUE(UntilHeld(active.List())) << "no worker read the second file";
        nStart = GetTickCount64();
        EXPECT_EQ(S_OK, active.Deactivate());
        EXPECT_LT(GetTickCount64() - nStart, 1000u) << "closing the control waited for the file";
    }
    std::vector<PTL::CKernelHandle> workers;
    std::vector<HANDLE> handles;
    for (DWORD id : ProcessThreads())
        if (!before.count(id))
        {
            workers.emplace_back(OpenThread(SYNCHRONIZE, FALSE, id));
            handles.push_back(workers.back().Get());
        }
    EXPECT_EQ(2u, handles.size()) << "the two held workers outlive the control";
    SetEvent(evRelease.Get());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(DWORD(handles.size()), handles.data(), TRUE, 10000))
        << "the workers went on after their files answered";
}

TEST(InPlace, StatusBarTextsFollowTheListAndTheLanguage)
{
    const CSizedFile file(L"pl5-status.txt", 1536), other(L"pl5-status2.txt", 1536);
    CActiveControl active({0, 0, 420, 300}, [](CPL5Ctrl& control) {
        control.put_Language(Bstr(L"en"));
        control.put_MaxFileCount(10);
    });
    auto part = [&active](int nPart) {
        PTL::ServePendingMessages();
        wchar_t sz[256] = L"";
        SendMessageW(active.StatusBar(), SB_GETTEXTW, static_cast<WPARAM>(nPart), reinterpret_cast<LPARAM>(sz));
        return std::wstring(sz);
    };
    const struct
    {
        const char* szStep;
        std::function<void()> fnStep;
        const wchar_t *szCount, *szSize;
    } steps[] = {
        {"empty", [] {}, L"0 Selected Files (Max 10)", L"\t\t0.00KB/2.00GB"},
        {"two added",
         [&] {
             active.pControl->AddFile(Bstr(file.strPath.c_str()), nullptr);
             active.pControl->AddFile(Bstr(other.strPath.c_str()), nullptr);
         },
         L"2 Selected Files (Max 10)", L"\t\t3.00KB/1.99GB"},
        {"one removed", [&] { active.pControl->RemoveFromIndex(0); }, L"1 Selected Files (Max 10)",
         L"\t\t1.50KB/1.99GB"},
        {"Korean", [&] { active.pControl->put_Language(Bstr(L"ko")); },
         L"\uD30C\uC77C \uAC1C\uC218: 1\uAC1C (\uCD5C\uB300 10\uAC1C)", L"\t\t1.50KB/1.99GB"},
        {"all removed", [&] { active.pControl->RemoveAllFiles(); },
         L"\uD30C\uC77C \uAC1C\uC218: 0\uAC1C (\uCD5C\uB300 10\uAC1C)", L"\t\t0.00KB/2.00GB"},
    };
    for (const auto& step : steps)
    {
        step.fnStep();
        EXPECT_EQ(step.szCount, part(0)) << step.szStep;
        EXPECT_EQ(step.szSize, part(1)) << step.szStep;
    }
}

// What the control last asked its list view to show as the picture ("" for none): this
// platform's list view does not report its picture back.
WNDPROC g_pListProc = nullptr;
std::wstring g_strPicture = L"(not asked)";
LRESULT CALLBACK RecordPicture(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == LVM_SETBKIMAGEW && lParam)
    {
        const auto* pImage = reinterpret_cast<const LVBKIMAGEW*>(lParam);
        g_strPicture = (pImage->ulFlags & LVBKIF_SOURCE_URL) && pImage->pszImage ? pImage->pszImage : L"";
    }
    return CallWindowProcW(g_pListProc, hWnd, uMsg, wParam, lParam);
}

TEST(InPlace, PictureOfThePackShownWhileTheListIsEmpty)
{
    const CSizedFile file(L"pl5-picture.txt", 100);
    for (const auto& pack : {std::make_pair(L"en", L"/2/207"), std::make_pair(L"ko", L"/2/205")})
    {
        CActiveControl active({0, 0, 300, 200}, [&pack](CPL5Ctrl& control) { control.put_Language(Bstr(pack.first)); });
        g_pListProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(active.List(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordPicture)));
        active.pControl->AddFile(Bstr(file.strPath.c_str()), nullptr);
        PTL::ServePendingMessages();
        EXPECT_EQ(L"", g_strPicture) << "hidden once a file is listed";
        active.pControl->RemoveAllFiles();
        PTL::ServePendingMessages();
        EXPECT_EQ(0u, g_strPicture.find(L"res://")) << g_strPicture;
        EXPECT_EQ(g_strPicture.size() - 6, g_strPicture.rfind(pack.second)) << g_strPicture;
        SetWindowLongPtrW(active.List(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_pListProc));
    }
}

TEST(InPlace, ChildModeDialogCoversTheControl)
{
    CActiveControl active({0, 0, 420, 380}, ChildMode);
    ASSERT_TRUE(IsWindow(active.hWnd));
    HWND hDialog = nullptr;
    for (HWND h = GetWindow(active.hWnd, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT))
        if (GetDlgItem(h, IDC_UPLOAD_LIST))
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
        ASSERT_TRUE(GetDlgItem(hDialog, IDC_UPLOAD_LIST));
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
    // The site takes every key it is offered, as a browser does with its own accelerators:
    // navigation keys stay with the list all the same, a letter goes to the site. Nothing is
    // removed. (Delete with and without UseDeleteKey is pressed on the selection page.)
    active.site.bTakesKeys = true;
    const struct
    {
        WPARAM nKey;
        HRESULT hrExpected;
    } keys[] = {{VK_DOWN, S_FALSE}, {VK_PRIOR, S_FALSE}, {VK_HOME, S_FALSE}, {'B', S_OK}};
    for (const auto& key : keys)
    {
        MSG msg = {active.List(), WM_KEYDOWN, key.nKey, 0, 0, {0, 0}};
        EXPECT_EQ(key.hrExpected, pActive->TranslateAccelerator(&msg)) << key.nKey;
        LONG nCount = -1;
        active.pControl->get_GetCount(&nCount);
        EXPECT_EQ(1, nCount) << key.nKey;
    }
    // The site hears which modifiers are down: Shift 1, Ctrl 2, Alt 4.
    BYTE keyState[256] = {}, saved[256] = {};
    GetKeyboardState(saved);
    memcpy(keyState, saved, sizeof(keyState));
    keyState[VK_SHIFT] = keyState[VK_MENU] = 0x80;
    keyState[VK_CONTROL] = 0;
    SetKeyboardState(keyState);
    MSG msg = {active.List(), WM_KEYDOWN, 'B', 0, 0, {0, 0}};
    pActive->TranslateAccelerator(&msg);
    SetKeyboardState(saved);
    EXPECT_EQ(5u, active.site.dwLastModifiers);
}

TEST(InPlace, ClipRectangleCutsTheWindow)
{
    CActiveControl active({0, 0, 300, 200});
    PTL::CComPtr<IOleInPlaceObject> pInPlace;
    active.pControl.QueryInterface(&pInPlace);
    // The page scrolled the control partly out of its view: only the clip's part is shown.
    const RECT rcPos = {20, 30, 320, 230}, rcClip = {0, 80, 200, 400};
    ASSERT_EQ(S_OK, pInPlace->SetObjectRects(&rcPos, &rcClip));
    RECT rcRegion = {};
    EXPECT_EQ(SIMPLEREGION, GetWindowRgnBox(active.hWnd, &rcRegion));
    const RECT rcExpected = {0, 50, 180, 200};  // the clip in the window's own coordinates
    EXPECT_TRUE(EqualRect(&rcExpected, &rcRegion))
        << rcRegion.left << "," << rcRegion.top << "," << rcRegion.right << "," << rcRegion.bottom;
    // A clip that holds the whole control takes the region away.
    const RECT rcAll = {0, 0, 700, 500};
    pInPlace->SetObjectRects(&rcPos, &rcAll);
    EXPECT_EQ(ERROR, GetWindowRgnBox(active.hWnd, &rcRegion));
}

TEST(InPlace, TeardownRevokesExactlyTheDropTargetsRegistered)
{
    OleInitialize(nullptr);
    CNoDropTarget probe, pages;
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
    {
        CActiveControl warmUp;
    }  // classes, image lists and the pack are made once
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
}  // namespace
