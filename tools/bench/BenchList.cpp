// The file list with 10,000 files: times for adding them (one batch as a drop brings them, and
// one call per file as a script does), select all, the status refresh, scrolling to the end,
// and removing the selection while the page vetoes every tenth file. The control's list view sits in a window that reflects its notifications, as the
// control's window does, and every step ends with the view repainted. Every tenth file is a
// small picture. The steps run three times: in the report view, in the large-icon view, and in
// the large-icon view with thumbnails (their names prefixed "icon:" and "thumbs:").
//   pl5_bench_list.exe <folder for the files> [count]
// Prints one line per step: "step <name> ms <milliseconds> rows <rows listed after it>", then
// "thumbnails cache <bytes> of <limit> bytes, <count> files, <ms> ms with against <ms> ms without".
#include <windows.h>
#include <commctrl.h>
#include <olectl.h>
#include <cstdio>
#include <string>
#include <vector>
#include "control/PL5CtrlObject.h"
#include "ptl/Bitmap.h"
#include "ptl/ClassFactory.h"
#include "ptl/Dpi.h"
#include "ptl/Handle.h"
#include "ptl/Wait.h"

namespace
{
LRESULT CALLBACK ParentProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_NOTIFY && lParam)
        return SendMessageW(reinterpret_cast<NMHDR*>(lParam)->hwndFrom, OCM__BASE + uMsg, wParam, lParam);
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

// The page's handlers: every tenth removal is vetoed, everything else is let through.
class CVetoSink : public IDispatch
{
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID__IPL5CtrlEvents)
        {
            *ppv = static_cast<IDispatch*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT* p) override { return *p = 0, S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* pParams, VARIANT* pResult, EXCEPINFO*,
                        UINT*) override
    {
        ++nEvents;
        if (dispid == DISPID_ONBEFOREREMOVEITEM && pResult && pParams->cArgs == 1 && pParams->rgvarg[0].ulVal % 10 == 0)
        {
            pResult->vt = VT_BOOL;
            pResult->boolVal = VARIANT_FALSE;
        }
        return S_OK;
    }
    ULONG nEvents = 0;
};

double Now()
{
    LARGE_INTEGER li, liFrequency;
    QueryPerformanceCounter(&li);
    QueryPerformanceFrequency(&liFrequency);
    return 1000.0 * static_cast<double>(li.QuadPart) / static_cast<double>(liFrequency.QuadPart);
}

// A 96 by 64 BMP of one colour.
void WritePicture(const std::wstring& strPath, DWORD nColor)
{
    const BITMAPINFO info = PTL::TopDownPixels(96, 64);
    const std::vector<DWORD> pixels(96 * 64, nColor);
    const DWORD cbPixels = static_cast<DWORD>(pixels.size() * sizeof(DWORD));
    const BITMAPFILEHEADER file = {0x4D42, DWORD(sizeof(file) + sizeof(info.bmiHeader) + cbPixels), 0, 0,
                                   DWORD(sizeof(file) + sizeof(info.bmiHeader))};
    HANDLE h = CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    DWORD n = 0;
    WriteFile(h, &file, sizeof(file), &n, nullptr);
    WriteFile(h, &info.bmiHeader, sizeof(info.bmiHeader), &n, nullptr);
    WriteFile(h, pixels.data(), cbPixels, &n, nullptr);
    CloseHandle(h);
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
    {
        fwprintf(stderr, L"usage: pl5_bench_list <folder> [count]\n");
        return 2;
    }
    const std::wstring strFolder = argv[1];
    const size_t nFiles = argc > 2 ? static_cast<size_t>(_wtoi(argv[2])) : 10000;
    CreateDirectoryW(strFolder.c_str(), nullptr);
    std::vector<std::wstring> paths;
    for (size_t i = 0; i < nFiles; ++i)
    {
        paths.push_back(strFolder + L"\\f" + std::to_wstring(i) + (i % 10 ? L".txt" : L".bmp"));
        if (i % 10 == 0 && GetFileAttributesW(paths.back().c_str()) == INVALID_FILE_ATTRIBUTES)
            WritePicture(paths.back(), 0xFF000000 | static_cast<DWORD>(i * 2654435761u >> 8));
        else if (GetFileAttributesW(paths.back().c_str()) == INVALID_FILE_ATTRIBUTES)
        {
            const PTL::CKernelHandle file(
                CreateFileW(paths.back().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
            DWORD n = 0;
            WriteFile(file.Get(), "0123456789", static_cast<DWORD>(i % 10 + 1), &n, nullptr);
        }
    }

    OleInitialize(nullptr);
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ParentProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"PL5BenchParent";
    RegisterClassW(&wc);
    HWND hParent = CreateWindowExW(0, wc.lpszClassName, L"list bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 420,
                                   340, nullptr, nullptr, wc.hInstance, nullptr);
    HWND hStatus = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | CCS_BOTTOM, 0, 0, 0, 0, hParent,
                                   nullptr, wc.hInstance, nullptr);
    const int nParts[2] = {200, -1};
    SendMessageW(hStatus, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(nParts));

    PTL::CComPtr<IPL5Ctrl2> p;
    if (FAILED(PTL::CreateComObject<CPL5CtrlObject>(IID_IPL5Ctrl2, reinterpret_cast<void**>(&p))))
        return 3;
    auto* pCtrl = static_cast<CPL5Ctrl*>(p.Get());
    p->put_Language(PTL::CComBSTR(L"en"));
    CVetoSink sink;
    PTL::CComPtr<IConnectionPointContainer> pContainer;
    PTL::CComPtr<IConnectionPoint> pPoint;
    DWORD dwCookie = 0;
    if (SUCCEEDED(p.QueryInterface(&pContainer)) &&
        SUCCEEDED(pContainer->FindConnectionPoint(DIID__IPL5CtrlEvents, &pPoint)))
        pPoint->Advise(&sink, &dwCookie);
    // The list view of one pass, made in its view as the control's window makes it.
    HWND hList = nullptr;
    const auto makeList = [&](DWORD dwView) {
        if (hList)
        {
            pCtrl->MainList().DetachWindow();
            DestroyWindow(hList);
        }
        hList =
            CreateWindowExW(0, WC_LISTVIEWW, L"",
                            WS_CHILD | WS_VISIBLE | LVS_SHOWSELALWAYS | LVS_SHAREIMAGELISTS | LVS_OWNERDATA | dwView, 0,
                            0, 400, 280, hParent, reinterpret_cast<HMENU>(50001), wc.hInstance, nullptr);
        SendMessageW(hList, LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(PTL::SystemImageList(true, 96)));
        SendMessageW(hList, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(PTL::SystemImageList(false, 96)));
        pCtrl->MainList().AttachWindow(hList);
        LVCOLUMNW column = {};
        column.mask = LVCF_WIDTH;
        column.cx = 250;
        SendMessageW(hList, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
        column.cx = 110;
        SendMessageW(hList, LVM_INSERTCOLUMNW, 1, reinterpret_cast<LPARAM>(&column));
        PTL::ServePendingMessages();
    };
    // The list's deferred update also writes this window's status bar, as the control's own does.
    struct CRefresh : IListViewOwner
    {
        CPL5Ctrl* pCtrl;
        HWND hStatus;
        CRefresh(CPL5Ctrl* p, HWND h) : pCtrl(p), hStatus(h) {}
        void OnListViewUpdate() override
        {
            pCtrl->UpdateListView();
            ShowStatusTexts(pCtrl->StatusTexts(), hStatus, nullptr, L"");
        }
    } refresh(pCtrl, hStatus);
    pCtrl->MainList().SetViewOwner(&refresh);
    PTL::ServePendingMessages();

    double dPassMs = 0;
    std::wstring strPrefix;
    const auto step = [&](const wchar_t* szName, const std::function<void()>& fn) {
        const double t0 = Now();
        fn();
        pCtrl->MainList().FlushUpdate();
        UpdateWindow(hParent);
        UpdateWindow(hList);
        const double t1 = Now();
        PTL::ServePendingMessages();
        dPassMs += t1 - t0;
        wprintf(L"step %ls%ls ms %.1f rows %ld\n", strPrefix.c_str(), szName, t1 - t0,
                static_cast<long>(pCtrl->MainList().List().Count()));
        fflush(stdout);
    };
    const auto pass = [&](const wchar_t* szPrefix, DWORD dwView, bool bThumbnails) {
        strPrefix = szPrefix;
        dPassMs = 0;
        makeList(dwView);
        p->put_ShowThumbnails(bThumbnails ? VARIANT_TRUE : VARIANT_FALSE);
        step(L"add-batch", [&] { pCtrl->AddFiles(paths, L"file", true); });
        step(L"select-all", [&] { pCtrl->MainList().SelectAll(); });
        step(L"status-refresh", [&] { refresh.OnListViewUpdate(); });
        step(L"scroll-to-end", [&] { SendMessageW(hList, LVM_ENSUREVISIBLE, nFiles - 1, FALSE); });
        step(L"remove-selected-vetoing-10pct", [&] { p->RemoveSelectedFiles(); });
        step(L"remove-all", [&] { p->RemoveAllFiles(); });
        step(L"add-one-call-each", [&] {
            for (const std::wstring& strPath : paths)
                p->AddFile(PTL::CComBSTR(strPath.c_str()), nullptr);
        });
        step(L"remove-all-again", [&] { p->RemoveAllFiles(); });
        return dPassMs;
    };
    pass(L"", LVS_REPORT, false);
    const double dWithout = pass(L"icon:", LVS_ICON, false);
    const double dWith = pass(L"thumbs:", LVS_ICON, true);
    const CThumbnailLoader& thumbnails = pCtrl->MainList().Thumbnails();
    wprintf(L"thumbnails cache %lu of %lu bytes, %lu files, %.1f ms with against %.1f ms without\n",
            static_cast<unsigned long>(thumbnails.CacheBytes()), static_cast<unsigned long>(thumbnails.CacheLimit()),
            static_cast<unsigned long>(thumbnails.CacheCount()), dWith, dWithout);

    if (pPoint)
        pPoint->Unadvise(dwCookie);
    pCtrl->MainList().DetachWindow();
    DestroyWindow(hParent);
    p.Release();
    OleUninitialize();
    return 0;
}
