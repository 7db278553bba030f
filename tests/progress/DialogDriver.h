// Finds the progress dialog and its question box from a second thread and uses them as a user
// would: reads captions, texts, list cells and positions, presses Esc and answers the question.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

namespace Driver
{
inline std::wstring ClassOf(HWND hWnd)
{
    wchar_t sz[64] = L"";
    GetClassNameW(hWnd, sz, 64);
    return sz;
}

inline std::wstring TextOf(HWND hWnd)
{
    wchar_t sz[1024] = L"";
    DWORD_PTR n = 0;
    if (hWnd)
        SendMessageTimeoutW(hWnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(sz), SMTO_ABORTIFHUNG, 2000, &n);
    return sz;
}

inline std::wstring Text(HWND hDialog, int nId) { return TextOf(GetDlgItem(hDialog, nId)); }

inline bool IsShown(HWND hDialog, int nId)
{
    const HWND h = GetDlgItem(hDialog, nId);
    return h && (GetWindowLongPtrW(h, GWL_STYLE) & WS_VISIBLE);
}

inline RECT WindowRect(HWND hWnd)
{
    RECT rc = {};
    GetWindowRect(hWnd, &rc);
    return rc;
}

inline int Height(const RECT& rc) { return rc.bottom - rc.top; }

// Polls every 10 ms until fnDone is true or the time is up.
inline bool WaitUntil(const std::function<bool()>& fnDone, DWORD nMilliseconds)
{
    const ULONGLONG nEnd = GetTickCount64() + nMilliseconds;
    for (;;)
    {
        if (fnDone())
            return true;
        if (GetTickCount64() >= nEnd)
            return false;
        Sleep(10);
    }
}

struct CFind
{
    HWND hOwner;  // null: any owner
    bool bWithList;
    HWND hFound;
};

inline BOOL CALLBACK OnTopLevel(HWND hWnd, LPARAM lParam)
{
    auto* pFind = reinterpret_cast<CFind*>(lParam);
    DWORD nProcess = 0;
    GetWindowThreadProcessId(hWnd, &nProcess);
    if (nProcess != GetCurrentProcessId() || ClassOf(hWnd) != L"#32770" || !IsWindowVisible(hWnd))
        return TRUE;
    if (pFind->hOwner && GetWindow(hWnd, GW_OWNER) != pFind->hOwner)
        return TRUE;
    if ((GetDlgItem(hWnd, 1201) != nullptr) != pFind->bWithList)
        return TRUE;
    pFind->hFound = hWnd;
    return FALSE;
}

// The progress dialog (the dialog of this process with the upload list), once it is shown.
inline HWND WaitForProgressDialog(DWORD nMilliseconds)
{
    CFind find = {nullptr, true, nullptr};
    WaitUntil([&] {
        EnumWindows(OnTopLevel, reinterpret_cast<LPARAM>(&find));
        return find.hFound != nullptr;
    }, nMilliseconds);
    return find.hFound;
}

// A message box owned by the dialog.
inline HWND WaitForMessageBox(HWND hOwner, DWORD nMilliseconds)
{
    CFind find = {hOwner, false, nullptr};
    WaitUntil([&] {
        EnumWindows(OnTopLevel, reinterpret_cast<LPARAM>(&find));
        return find.hFound != nullptr;
    }, nMilliseconds);
    return find.hFound;
}

// The text of a message box: its static with id 0xFFFF.
inline std::wstring MessageText(HWND hBox) { return Text(hBox, 0xFFFF); }

// Presses a key in the dialog, at its focused control as the keyboard would.
inline void PressKey(HWND hDialog, WPARAM nKey)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    HWND hTarget = hDialog;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(hDialog, nullptr), &info) && info.hwndFocus &&
        (info.hwndFocus == hDialog || IsChild(hDialog, info.hwndFocus)))
        hTarget = info.hwndFocus;
    const UINT nScan = MapVirtualKeyW(static_cast<UINT>(nKey), MAPVK_VK_TO_VSC);
    PostMessageW(hTarget, WM_KEYDOWN, nKey, static_cast<LPARAM>(1 | (nScan << 16)));
    PostMessageW(hTarget, WM_KEYUP, nKey, static_cast<LPARAM>(1 | (nScan << 16) | (1u << 30) | (1u << 31)));
}

inline void PressButton(HWND hBox, int nId) { PostMessageW(GetDlgItem(hBox, nId), BM_CLICK, 0, 0); }

// One cell of the dialog's list as the view shows it.
inline std::wstring ListCell(HWND hDialog, int nRow, int nColumn)
{
    wchar_t sz[512] = L"";
    LVITEMW item = {};
    item.iSubItem = nColumn;
    item.pszText = sz;
    item.cchTextMax = 512;
    DWORD_PTR n = 0;
    SendMessageTimeoutW(GetDlgItem(hDialog, 1201), LVM_GETITEMTEXTW, static_cast<WPARAM>(nRow),
                        reinterpret_cast<LPARAM>(&item), SMTO_ABORTIFHUNG, 2000, &n);
    return sz;
}

inline std::wstring ColumnTitle(HWND hDialog, int nColumn)
{
    wchar_t sz[128] = L"";
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT;
    column.pszText = sz;
    column.cchTextMax = 128;
    DWORD_PTR n = 0;
    SendMessageTimeoutW(GetDlgItem(hDialog, 1201), LVM_GETCOLUMNW, static_cast<WPARAM>(nColumn),
                        reinterpret_cast<LPARAM>(&column), SMTO_ABORTIFHUNG, 2000, &n);
    return sz;
}

// Records every distinct text a control shows while fnStop is false.
inline std::vector<std::wstring> TextHistory(HWND hDialog, int nId, const std::function<bool()>& fnStop)
{
    std::vector<std::wstring> history;
    while (!fnStop() && IsWindow(hDialog))
    {
        const std::wstring str = Text(hDialog, nId);
        if (IsWindow(hDialog) && (history.empty() || history.back() != str))
            history.push_back(str);
        Sleep(20);
    }
    return history;
}
} // namespace Driver
