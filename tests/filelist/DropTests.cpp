// The drop target under a real OLE drag: tools' dragsource holds real files and links and
// drops them on a window of this test through the system's drag loop, as a person would. The
// site records what the control would be told; the zone hit test runs against a page whose
// element rectangles and scroll offsets the test sets.
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <gtest/gtest.h>
#include <map>
#include "filelist/DropTarget.h"
#include "filelist/DropZones.h"
#include "tests/filelist/FileListTestSupport.h"
#include "ptl/DropRegistration.h"

namespace
{
// The control's side of a drop: a "list" child window, one zone in the lower half, a veto.
class CRecordingSite : public IDropSite
{
public:
    HWND hList = nullptr;
    RECT rcZone = {};  // screen coordinates
    size_t nVetoAt = SIZE_MAX;
    std::vector<std::wstring> before, added;
    std::wstring strAddedInput;
    int nAfterDrops = 0;

    HWND DropListWindow() override { return hList; }
    std::wstring CurrentInputName() override { return L"listed"; }
    bool DropZoneAt(POINT pt, std::wstring& strInputName) override
    {
        if (!PtInRect(&rcZone, pt))
            return false;
        strInputName = L"zoned";
        return true;
    }
    bool BeforeDrop(const std::wstring& strPath, const std::wstring& strInputName) override
    {
        before.push_back(strPath + L"|" + strInputName);
        return before.size() - 1 != nVetoAt;
    }
    void AddDropped(const std::vector<std::wstring>& paths, const std::wstring& strInputName) override
    {
        added = paths;
        strAddedInput = strInputName;
    }
    void AfterDrop() override { ++nAfterDrops; }
};

// A window at a fixed place with the list in its upper half and the zone in its lower half.
class CDropWindow
{
public:
    explicit CDropWindow(CRecordingSite& site)
    {
        m_hWnd = CreateWindowExW(WS_EX_TOPMOST, L"Static", L"drop here", WS_POPUP | WS_VISIBLE | WS_BORDER, 200, 200, 400,
                                 300, nullptr, nullptr, nullptr, nullptr);
        site.hList = CreateWindowExW(0, L"Static", L"list", WS_CHILD | WS_VISIBLE, 0, 0, 400, 150, m_hWnd, nullptr,
                                     nullptr, nullptr);
        site.rcZone = RECT{400, 350, 600, 500};
        m_pTarget = CDropTarget::Create(&site);
        EXPECT_TRUE(m_registration.Register(m_hWnd, m_pTarget, false));
    }
    ~CDropWindow()
    {
        m_registration.Revoke();
        m_pTarget->Disconnect();
        m_pTarget->Release();
        DestroyWindow(m_hWnd);
    }

private:
    HWND m_hWnd;
    CDropTarget* m_pTarget;
    PTL::CDropRegistration m_registration;
};

// Runs dragsource to drop the files at a screen point, serving this thread's messages (the
// drop target's calls arrive as messages) until it ends; its printed effect.
std::string DragAndDrop(POINT pt, const std::vector<std::wstring>& files, bool bRight = false)
{
    wchar_t szExe[MAX_PATH];
    GetModuleFileNameW(nullptr, szExe, MAX_PATH);
    PathRemoveFileSpecW(szExe);
    std::wstring strCommand = L"\"" + std::wstring(szExe) + L"\\dragsource.exe\" --at " + std::to_wstring(pt.x) + L"," +
                              std::to_wstring(pt.y) + (bRight ? L" --right" : L"");
    for (const std::wstring& strFile : files)
        strCommand += L" \"" + strFile + L"\"";

    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE hRead = nullptr, hWrite = nullptr;
    EXPECT_TRUE(CreatePipe(&hRead, &hWrite, &sa, 0));
    SetHandleInformation(hRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = hWrite;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi = {};
    const bool bStarted = CreateProcessW(nullptr, &strCommand[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(hWrite);
    EXPECT_TRUE(bStarted) << "cannot start dragsource";
    std::string strOut;
    if (bStarted)
    {
        const DWORD dwDeadline = GetTickCount() + 30000;
        while (MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, 100, QS_ALLINPUT) != WAIT_OBJECT_0 &&
               GetTickCount() < dwDeadline)
        {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&msg);
        }
        TerminateProcess(pi.hProcess, 9);  // only when the deadline passed
        char buffer[256];
        DWORD n = 0;
        while (ReadFile(hRead, buffer, sizeof(buffer), &n, nullptr) && n)
            strOut.append(buffer, n);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    CloseHandle(hRead);
    while (!strOut.empty() && (strOut.back() == '\n' || strOut.back() == '\r'))
        strOut.pop_back();
    return strOut;
}

std::wstring MakeShellLink(const std::wstring& strLink, const std::wstring& strTarget)
{
    CComPtr<IShellLinkW> pLink;
    CComPtr<IPersistFile> pFile;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                     reinterpret_cast<void**>(&pLink)));
    pLink->SetPath(strTarget.c_str());
    EXPECT_EQ(S_OK, pLink.QueryInterface(&pFile));
    EXPECT_EQ(S_OK, pFile->Save(strLink.c_str(), TRUE));
    return strLink;
}

class COle
{
public:
    COle() { OleInitialize(nullptr); }
    ~COle() { OleUninitialize(); }
};
} // namespace

// Where the files land and what the page is told, for drops that are taken and refused.
TEST(DropTarget, RealDragsLandOnTheListOrTheZoneOrNowhere)
{
    COle ole;
    CTempFolder folder;
    const std::wstring a = folder.File(L"a.txt", 10), b = folder.File(L"b.txt", 20), c = folder.File(L"c.txt", 30);
    const std::wstring dir = folder.Folder(L"sub");
    const std::wstring link = MakeShellLink(folder.Path() + L"\\c.lnk", c);
    const POINT ptList = {400, 260}, ptZone = {500, 420}, ptNeither = {300, 420};
    const struct
    {
        const char* szName;
        POINT pt;
        std::vector<std::wstring> files;
        bool bRight;
        size_t nVetoAt;
        const char* szEffect;
        std::vector<std::wstring> added;
        const wchar_t* szInput;
        size_t nBefore;  // OnBeforeDrop calls
        int nAfter;
    } cases[] = {
        {"three on the list", ptList, {a, b, c}, false, SIZE_MAX, "effect=copy", {a, b, c}, L"listed", 3, 1},
        {"on the zone", ptZone, {b}, false, SIZE_MAX, "effect=copy", {b}, L"zoned", 1, 1},
        {"a link stands for its target", ptList, {a, link}, false, SIZE_MAX, "effect=copy", {a, c}, L"listed", 2, 1},
        {"a folder refuses all", ptList, {a, dir}, false, SIZE_MAX, "effect=none", {}, L"", 0, 0},
        {"a missing name refuses all", ptList, {a, folder.Path() + L"\\gone.txt"}, false, SIZE_MAX, "effect=none", {}, L"", 0, 0},
        {"the right button is refused", ptList, {a}, true, SIZE_MAX, "effect=none", {}, L"", 0, 0},
        {"the second vetoed: nothing, no after-drop", ptList, {a, b, c}, false, 1, "effect=none", {}, L"", 2, 0},
        {"outside list and zone", ptNeither, {a}, false, SIZE_MAX, "effect=none", {}, L"", 0, 0},
    };
    for (const auto& test : cases)
    {
        CRecordingSite site;
        site.nVetoAt = test.nVetoAt;
        CDropWindow window(site);
        EXPECT_EQ(test.szEffect, DragAndDrop(test.pt, test.files, test.bRight)) << test.szName;
        EXPECT_EQ(test.added, site.added) << test.szName;
        EXPECT_EQ(test.szInput, site.strAddedInput) << test.szName;
        EXPECT_EQ(test.nBefore, site.before.size()) << test.szName;
        EXPECT_EQ(test.nAfter, site.nAfterDrops) << test.szName;
        const std::wstring strTarget = test.pt.x == ptZone.x ? L"zoned" : L"listed";
        if (!site.before.empty())
            EXPECT_EQ(test.files[0] + L"|" + strTarget, site.before[0]) << test.szName;
    }
}

namespace
{
// A page whose elements are rectangles in page coordinates, scrolled by a set amount.
class CFakePage : public IListPage
{
public:
    std::map<std::wstring, RECT> elements;
    std::map<IDispatch*, RECT> objects;
    POINT ptScroll = {};
    bool HasDocument() override { return true; }
    bool SetElementText(const std::wstring&, const std::wstring&) override { return false; }
    bool ElementRectById(const std::wstring& strId, RECT& rc) override
    {
        const auto it = elements.find(strId);
        return it != elements.end() && (rc = it->second, true);
    }
    bool ElementRectOf(IDispatch* p, RECT& rc) override
    {
        const auto it = objects.find(p);
        return it != objects.end() && (rc = it->second, true);
    }
    bool PageScroll(POINT& pt) override { return pt = ptScroll, true; }
};

// Any IDispatch stands for an element object.
class CElement : public IDispatch
{
public:
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override { return *ppv = this, S_OK; }
    STDMETHODIMP_(ULONG) AddRef() override { return ++nRef; }
    STDMETHODIMP_(ULONG) Release() override { return --nRef; }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
    ULONG nRef = 0;
};
} // namespace

// Zones in registration order over a page window at screen (100, 50): the first zone containing
// the scrolled point wins; right and bottom edges are outside; a missing element is skipped.
TEST(DropZones, FirstRegisteredZoneUnderTheScrolledPointWins)
{
    HWND hPage = CreateWindowExW(0, L"Static", L"", WS_POPUP | WS_VISIBLE, 100, 50, 500, 400, nullptr, nullptr, nullptr, nullptr);
    CElement element;
    CFakePage page;
    page.elements = {{L"big", {0, 0, 200, 200}}, {L"inner", {50, 50, 100, 100}}, {L"far", {300, 900, 400, 1000}}};
    page.objects = {{&element, {250, 0, 300, 40}}};
    CDropZones zones;
    const auto add = [&zones](VARIANT var, const wchar_t* szInput) { return zones.Append(var, szInput); };
    CComVariant varGone(L"missing"), varBig(L"big"), varInner(L"inner"), varFar(L"far");
    CComVariant varNumber, varObject;
    varNumber.vt = VT_I4;
    varNumber.lVal = 7;
    varObject.vt = VT_DISPATCH;
    varObject.pdispVal = &element;
    element.AddRef();
    EXPECT_TRUE(add(varGone, L"gone"));
    EXPECT_TRUE(add(varBig, L"big"));
    EXPECT_TRUE(add(varInner, L"inner"));  // under "big": never wins
    EXPECT_TRUE(add(varFar, L"far"));
    EXPECT_TRUE(add(varObject, L"object"));
    EXPECT_FALSE(add(varNumber, L"number"));
    EXPECT_EQ(5u, zones.Count());

    const struct
    {
        POINT ptScreen;
        POINT ptScroll;
        const wchar_t* szExpected;  // nullptr: no zone
    } cases[] = {
        {{175, 125}, {0, 0}, L"big"},        // page (75, 75): inside both, the first registered
        {{299, 249}, {0, 0}, L"big"},        // page (199, 199): last pixel inside
        {{300, 150}, {0, 0}, nullptr},       // page (200, 100): the right edge is outside
        {{360, 60}, {0, 0}, L"object"},      // page (260, 10)
        {{450, 120}, {0, 850}, L"far"},      // page (350, 920) once scrolled
        {{175, 125}, {0, 850}, nullptr},     // "big" scrolled out of reach
        {{175, 125}, {40, 0}, L"big"},       // page (115, 75)
        {{175, 75}, {190, 0}, L"object"},    // page (265, 25)
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i)
    {
        page.ptScroll = cases[i].ptScroll;
        std::wstring strInput;
        const bool bHit = zones.HitTest(page, hPage, cases[i].ptScreen, strInput);
        EXPECT_EQ(cases[i].szExpected != nullptr, bHit) << "case " << i;
        if (bHit && cases[i].szExpected)
            EXPECT_EQ(cases[i].szExpected, strInput) << "case " << i;
    }
    zones.Clear();
    EXPECT_EQ(1u, element.nRef) << "only the test's own reference is left";
    DestroyWindow(hPage);
}
