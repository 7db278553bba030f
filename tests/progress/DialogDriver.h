// Works the progress dialog and its question box from a second thread as a user would, through
// the dialog watcher's finding and reading: reads captions, texts, list cells and positions,
// presses Esc and answers the question.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include "lang/LangIds.h"
#include "tests/common/ListViewText.h"
#include "tools/host/DialogWatcher.h"

#include <functional>
#include <string>
#include <vector>

namespace Driver
{
using Host::WaitUntil;

inline std::wstring TextOf(HWND hWnd) { return Host::WindowText(hWnd); }

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

// The progress dialog (the dialog of this process with the upload list), once it is shown.
inline HWND WaitForProgressDialog(DWORD nMilliseconds)
{
    return Host::WaitForDialog([](HWND hWnd) { return GetDlgItem(hWnd, IDC_UPLOAD_LIST) != nullptr; }, nMilliseconds);
}

// A message box owned by the dialog.
inline HWND WaitForMessageBox(HWND hOwner, DWORD nMilliseconds)
{
    return Host::WaitForDialog(
        [hOwner](HWND hWnd) { return GetWindow(hWnd, GW_OWNER) == hOwner && !GetDlgItem(hWnd, IDC_UPLOAD_LIST); },
        nMilliseconds);
}

inline void PressKey(HWND hDialog, WPARAM nKey) { Host::PressDialogKey(hDialog, nKey); }

inline void PressButton(HWND hBox, int nId) { PostMessageW(GetDlgItem(hBox, nId), BM_CLICK, 0, 0); }

inline std::wstring ListCell(HWND hDialog, int nRow, int nColumn)
{
    return ListCellText(GetDlgItem(hDialog, IDC_UPLOAD_LIST), nRow, nColumn);
}

inline std::wstring ColumnTitle(HWND hDialog, int nColumn)
{
    return ListColumnTitle(GetDlgItem(hDialog, IDC_UPLOAD_LIST), nColumn);
}

// Records every distinct text a control shows until fnStop is true (at most 30 s).
inline std::vector<std::wstring> TextHistory(HWND hDialog, int nId, const std::function<bool()>& fnStop)
{
    std::vector<std::wstring> history;
    WaitUntil(
        [&] {
            if (fnStop() || !IsWindow(hDialog))
                return true;
            const std::wstring str = Text(hDialog, nId);
            if (IsWindow(hDialog) && (history.empty() || history.back() != str))
                history.push_back(str);
            return false;
        },
        30000);
    return history;
}
}  // namespace Driver
