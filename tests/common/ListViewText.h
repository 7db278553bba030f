// A list view's column titles and cells as it shows them, read from any thread (a view that
// hangs gives "" after two seconds).
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>

namespace ListViewTextDetail
{
// Sends a text request whose structure points at szText; returns what the view wrote there.
template <class T, size_t N>
std::wstring Ask(HWND hList, UINT nMessage, WPARAM wParam, T& request, wchar_t (&szText)[N])
{
    request.pszText = szText;
    request.cchTextMax = static_cast<int>(N);
    DWORD_PTR nResult = 0;
    SendMessageTimeoutW(hList, nMessage, wParam, reinterpret_cast<LPARAM>(&request), SMTO_ABORTIFHUNG, 2000, &nResult);
    return szText;
}
}  // namespace ListViewTextDetail

inline std::wstring ListColumnTitle(HWND hList, int nColumn)
{
    wchar_t sz[128] = L"";
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT;
    return ListViewTextDetail::Ask(hList, LVM_GETCOLUMNW, static_cast<WPARAM>(nColumn), column, sz);
}

inline std::wstring ListCellText(HWND hList, int nRow, int nColumn)
{
    wchar_t sz[512] = L"";
    LVITEMW item = {};
    item.iSubItem = nColumn;
    return ListViewTextDetail::Ask(hList, LVM_GETITEMTEXTW, static_cast<WPARAM>(nRow), item, sz);
}
