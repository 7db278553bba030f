// dragsource: drags files onto a screen point and drops them there, the way a person drags
// files from the shell: a press on the source's own small window, the system's drag loop
// (DoDragDrop) with a file drop list (CF_HDROP), the pointer moved in steps to the point, and
// the button let go there. Input goes through SendInput, so the drop targets see a real drag.
//   dragsource [--at X,Y] [--right] [--done FILE] file...
//   dragsource --make-link LINK TARGET    (a shell link to drag, made as the shell makes one)
// Without --at the files are dropped where the pointer is when the program starts. Prints
// "effect=copy" when a target took the drop, "effect=none" otherwise; exit code 0, 1 when
// nothing took it, 2 for a usage error, 3 when the drag could not start. With --done the same
// word is also written to FILE at the end, for callers that cannot wait for a process.
#include <windows.h>
#include <ole2.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>
#include "ptl/Handle.h"
#include "ptl/Wait.h"

namespace
{
// A DROPFILES block with wide names, as the shell makes it.
HGLOBAL MakeDropList(const std::vector<std::wstring>& files)
{
    size_t nChars = 1;
    for (const std::wstring& str : files)
        nChars += str.size() + 1;
    const size_t nBytes = sizeof(DROPFILES) + nChars * sizeof(WCHAR);
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, nBytes);
    if (!h)
        return nullptr;
    auto* pDrop = static_cast<DROPFILES*>(GlobalLock(h));
    pDrop->pFiles = sizeof(DROPFILES);
    pDrop->fWide = TRUE;
    auto* p = reinterpret_cast<WCHAR*>(pDrop + 1);
    for (const std::wstring& str : files)
    {
        memcpy(p, str.c_str(), (str.size() + 1) * sizeof(WCHAR));
        p += str.size() + 1;
    }
    GlobalUnlock(h);
    return h;
}

HGLOBAL CopyGlobal(HGLOBAL h)
{
    const SIZE_T n = GlobalSize(h);
    HGLOBAL hCopy = GlobalAlloc(GMEM_MOVEABLE, n);
    if (!hCopy)
        return nullptr;
    memcpy(GlobalLock(hCopy), GlobalLock(h), n);
    GlobalUnlock(h);
    GlobalUnlock(hCopy);
    return hCopy;
}

class CFileData final : public IDataObject
{
public:
    explicit CFileData(HGLOBAL hDrop) : m_drop(hDrop) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IDataObject)
        {
            *ppv = static_cast<IDataObject*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_nRef); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&m_nRef); }  // lives on main's stack

    STDMETHODIMP GetData(FORMATETC* pFormat, STGMEDIUM* pMedium) override
    {
        const HRESULT hr = QueryGetData(pFormat);
        if (hr != S_OK)
            return hr;
        pMedium->tymed = TYMED_HGLOBAL;
        pMedium->pUnkForRelease = nullptr;
        pMedium->hGlobal = CopyGlobal(m_drop.Get());
        return pMedium->hGlobal ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC* pFormat) override
    {
        if (!pFormat || pFormat->cfFormat != CF_HDROP)
            return DV_E_FORMATETC;
        return (pFormat->tymed & TYMED_HGLOBAL) ? S_OK : DV_E_TYMED;
    }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* pOut) override
    {
        pOut->ptd = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD dwDirection, IEnumFORMATETC** ppEnum) override
    {
        if (dwDirection != DATADIR_GET)
            return E_NOTIMPL;
        FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        return SHCreateStdEnumFmtEtc(1, &format, ppEnum);
    }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    LONG m_nRef = 1;
    PTL::CGlobalMemory m_drop;
};

class CSource final : public IDropSource
{
public:
    explicit CSource(DWORD dwButton) : m_dwButton(dwButton) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IDropSource)
        {
            *ppv = static_cast<IDropSource*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP QueryContinueDrag(BOOL bEscape, DWORD grfKeyState) override
    {
        if (bEscape)
            return DRAGDROP_S_CANCEL;
        return (grfKeyState & m_dwButton) ? S_OK : DRAGDROP_S_DROP;
    }
    STDMETHODIMP GiveFeedback(DWORD) override { return DRAGDROP_S_USEDEFAULTCURSORS; }

private:
    DWORD m_dwButton;
};

struct CDrag
{
    POINT ptTarget = {};
    bool bRight = false;
    IDataObject* pData = nullptr;
    HANDLE hStarted = nullptr;  // set when the press reached the source window
    HRESULT hr = E_FAIL;
    DWORD dwEffect = DROPEFFECT_NONE;
    bool bRan = false;
};
CDrag g_drag;

void SendMouse(DWORD dwFlags, LONG x = 0, LONG y = 0)
{
    INPUT input = {};
    input.type = INPUT_MOUSE;
    if (dwFlags & MOUSEEVENTF_MOVE)
    {
        // Absolute coordinates are 0..65535 over the primary screen; round up so the pointer
        // lands on the pixel itself, not the one before it.
        const LONG w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
        input.mi.dx = static_cast<LONG>((static_cast<LONGLONG>(x) * 65536 + w - 1) / w);
        input.mi.dy = static_cast<LONG>((static_cast<LONGLONG>(y) * 65536 + h - 1) / h);
        dwFlags |= MOUSEEVENTF_ABSOLUTE;
    }
    input.mi.dwFlags = dwFlags;
    SendInput(1, &input, sizeof(input));
}

void MoveTo(POINT pt) { SendMouse(MOUSEEVENTF_MOVE, pt.x, pt.y); }

LRESULT CALLBACK SourceProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if ((uMsg == WM_LBUTTONDOWN && !g_drag.bRight) || (uMsg == WM_RBUTTONDOWN && g_drag.bRight))
    {
        if (!g_drag.bRan)
        {
            g_drag.bRan = true;
            SetEvent(g_drag.hStarted);
            CSource source(g_drag.bRight ? MK_RBUTTON : MK_LBUTTON);
            g_drag.hr = DoDragDrop(g_drag.pData, &source, DROPEFFECT_COPY, &g_drag.dwEffect);
            PostQuitMessage(0);
        }
        return 0;
    }
    if (uMsg == WM_PAINT)
    {
        PAINTSTRUCT ps;
        HDC hdc = BeginPaint(hWnd, &ps);
        FillRect(hdc, &ps.rcPaint, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
        EndPaint(hWnd, &ps);
        return 0;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

bool ParsePoint(const wchar_t* sz, POINT& pt) { return swscanf(sz, L"%ld,%ld", &pt.x, &pt.y) == 2; }
}  // namespace

int MakeLink(const wchar_t* szLink, const wchar_t* szTarget)
{
    CoInitialize(nullptr);
    IShellLinkW* pLink = nullptr;
    IPersistFile* pFile = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(&pLink));
    if (SUCCEEDED(hr))
        hr = pLink->SetPath(szTarget);
    if (SUCCEEDED(hr))
        hr = pLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&pFile));
    if (SUCCEEDED(hr))
        hr = pFile->Save(szLink, TRUE);
    if (pFile)
        pFile->Release();
    if (pLink)
        pLink->Release();
    CoUninitialize();
    return SUCCEEDED(hr) ? 0 : 3;
}

int wmain(int argc, wchar_t** argv)
{
    if (argc == 4 && !wcscmp(argv[1], L"--make-link"))
        return MakeLink(argv[2], argv[3]);
    std::vector<std::wstring> files;
    std::wstring strDone;
    bool bAt = false;
    for (int i = 1; i < argc; ++i)
    {
        if (!wcscmp(argv[i], L"--at") && i + 1 < argc && ParsePoint(argv[i + 1], g_drag.ptTarget))
            bAt = true, ++i;
        else if (!wcscmp(argv[i], L"--done") && i + 1 < argc)
            strDone = argv[++i];
        else if (!wcscmp(argv[i], L"--right"))
            g_drag.bRight = true;
        else
        {
            WCHAR szFull[MAX_PATH * 4];
            const DWORD n = GetFullPathNameW(argv[i], ARRAYSIZE(szFull), szFull, nullptr);
            files.push_back(n && n < ARRAYSIZE(szFull) ? szFull : argv[i]);
        }
    }
    if (files.empty())
    {
        fwprintf(stderr, L"usage: dragsource [--at X,Y] [--right] file...\n");
        return 2;
    }
    if (!bAt)
        GetCursorPos(&g_drag.ptTarget);
    if (FAILED(OleInitialize(nullptr)))
        return 3;

    CFileData data(MakeDropList(files));
    g_drag.pData = &data;
    g_drag.hStarted = CreateEventW(nullptr, TRUE, FALSE, nullptr);

    // The source window sits in a corner away from the target, on top of everything.
    const int nScreenW = GetSystemMetrics(SM_CXSCREEN), nScreenH = GetSystemMetrics(SM_CYSCREEN);
    const int nSize = 40;
    const int x = g_drag.ptTarget.x < nScreenW / 2 ? nScreenW - nSize - 8 : 8;
    const int y = g_drag.ptTarget.y < nScreenH / 2 ? nScreenH - nSize - 8 : 8;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = SourceProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = L"PL5DragSource";
    RegisterClassW(&wc);
    HWND hWnd = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, wc.lpszClassName, L"drag source",
                                WS_POPUP | WS_VISIBLE, x, y, nSize, nSize, nullptr, nullptr, wc.hInstance, nullptr);
    if (!hWnd)
        return 3;
    UpdateWindow(hWnd);

    // The person's hand: onto the source, press, move to the target in steps, let go.
    const POINT ptSource = {x + nSize / 2, y + nSize / 2};
    const POINT ptTarget = g_drag.ptTarget;
    const DWORD dwDown = g_drag.bRight ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN;
    const DWORD dwUp = g_drag.bRight ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP;
    std::thread hand([=] {
        Sleep(300);
        MoveTo(ptSource);
        Sleep(150);
        SendMouse(dwDown);
        if (WaitForSingleObject(g_drag.hStarted, 5000) == WAIT_OBJECT_0)
        {
            const int nSteps = 12;
            for (int i = 1; i <= nSteps; ++i)
            {
                Sleep(40);
                MoveTo(POINT{ptSource.x + (ptTarget.x - ptSource.x) * i / nSteps,
                             ptSource.y + (ptTarget.y - ptSource.y) * i / nSteps});
            }
            // A last small move at the target so its DragOver sees the final point.
            Sleep(150);
            MoveTo(POINT{ptTarget.x + 1, ptTarget.y});
            Sleep(100);
            MoveTo(ptTarget);
            Sleep(300);
        }
        SendMouse(dwUp);
    });
    // The window's loop, until the drop quits it.
    PTL::CWait(15000).Serving(PTL::EServe::AllMessages).Run();
    hand.join();
    DestroyWindow(hWnd);
    if (!g_drag.bRan)
        fwprintf(stderr, L"dragsource: the press never reached the source window\n");
    const bool bCopied = g_drag.bRan && g_drag.hr == DRAGDROP_S_DROP && (g_drag.dwEffect & DROPEFFECT_COPY);
    const char* szEffect = bCopied ? "effect=copy\n" : "effect=none\n";
    printf("%s", szEffect);
    fflush(stdout);
    if (!strDone.empty())
    {
        // Written under another name and then renamed, so that a caller who sees the file sees it
        // whole and closed.
        const std::wstring strPart = strDone + L".part";
        {
            const PTL::CKernelHandle done(
                CreateFileW(strPart.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
            DWORD n = 0;
            WriteFile(done.Get(), szEffect, static_cast<DWORD>(strlen(szEffect)), &n, nullptr);
        }
        MoveFileExW(strPart.c_str(), strDone.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    OleUninitialize();
    ExitProcess(!g_drag.bRan ? 3 : bCopied ? 0 : 1);
}
