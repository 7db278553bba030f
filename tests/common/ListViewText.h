// A list view's column titles and cells as it shows them, read from any thread (a view that
// hangs gives "" after two seconds).
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>

inline std::wstring ListColumnTitle(HWND hList, int nColumn)
{
    wchar_t sz[128] = L"";
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT;
    column.pszText = sz;
    column.cchTextMax = 128;
    DWORD_PTR n = 0;
    SendMessageTimeoutW(hList, LVM_GETCOLUMNW, static_cast<WPARAM>(nColumn), reinterpret_cast<LPARAM>(&column),
                        SMTO_ABORTIFHUNG, 2000, &n);
    return sz;
}

inline std::wstring ListCellText(HWND hList, int nRow, int nColumn)
{
    wchar_t sz[512] = L"";
    LVITEMW item = {};
    item.iSubItem = nColumn;
    item.pszText = sz;
    item.cchTextMax = 512;
    DWORD_PTR n = 0;
    SendMessageTimeoutW(hList, LVM_GETITEMTEXTW, static_cast<WPARAM>(nRow), reinterpret_cast<LPARAM>(&item),
                        SMTO_ABORTIFHUNG, 2000, &n);
    return sz;
}
