#include "progress/UploadListCtrl.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <string>

#include "lang/LangIds.h"
#include "lang/LangTable.h"
#include "ptl/Dpi.h"
#include "ptl/TemplateDialog.h"

bool CUploadListCtrl::Attach(HWND hList)
{
    if (!SubclassWindow(hList))
        return false;
    // The view asks for the cut state of every row, like the control's own list.
    SendMessageW(Window(), LVM_SETCALLBACKMASK, LVIS_CUT, 0);
    SyncItemCount();
    return true;
}

void CUploadListCtrl::SetupView()
{
    if (!Window())
        return;
    SetWindowLongPtrW(Window(), GWL_STYLE,
                      GetWindowLongPtrW(Window(), GWL_STYLE) & ~static_cast<LONG_PTR>(LVS_SINGLESEL));

    // The system image lists are shared (LVS_SHAREIMAGELISTS): the view never destroys them.
    const UINT nDpi = PTL::WindowDpi(Window());
    SendMessageW(Window(), LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(PTL::SystemImageList(false, nDpi)));
    SendMessageW(Window(), LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(PTL::SystemImageList(true, nDpi)));

    static const struct
    {
        UINT nTitle;
        int nWidth;  // pixels at 96 DPI
        int nFormat;
    } COLUMNS[] = {
        {IDS_COLUMN_NAME, 225, LVCFMT_LEFT},
        {IDS_COLUMN_SIZE, 110, LVCFMT_RIGHT},
        {IDS_COLUMN_STATUS, 65, LVCFMT_CENTER},
    };
    for (int i = 0; i < 3; ++i)
    {
        std::wstring strTitle = PL5Lang::GetString(COLUMNS[i].nTitle);
        LVCOLUMNW column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = COLUMNS[i].nFormat;
        column.cx = PTL::ScaleForDpi(COLUMNS[i].nWidth, nDpi);
        column.pszText = &strTitle[0];
        column.iSubItem = i;
        SendMessageW(Window(), LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
    // The list is sized in dialog units, which do not grow exactly with the DPI: the name column
    // gives up what the three would take beyond the list's width and a vertical scroll bar.
    RECT rc = {};
    GetClientRect(Window(), &rc);
    int nTotal = PTL::SystemMetricForDpi(SM_CXVSCROLL, nDpi);
    for (int i = 0; i < 3; ++i)
        nTotal += static_cast<int>(SendMessageW(Window(), LVM_GETCOLUMNWIDTH, i, 0));
    if (nTotal > rc.right)
        SendMessageW(Window(), LVM_SETCOLUMNWIDTH, 0,
                     MAKELPARAM(PTL::ScaleForDpi(COLUMNS[0].nWidth, nDpi) - (nTotal - rc.right), 0));
}

void CUploadListCtrl::SetEntries(const std::vector<FileEntry>& entries)
{
    m_entries = entries;
    SyncItemCount();
}

void CUploadListCtrl::Append(const FileEntry& entry)
{
    m_entries.push_back(entry);
    m_entries.back().nUploadState = UPLOAD_STATE_WAITING;
    SyncItemCount();
}

void CUploadListCtrl::SetState(size_t nIndex, LONG nState)
{
    if (nIndex < m_entries.size())
        m_entries[nIndex].nUploadState = nState;
}

void CUploadListCtrl::ResetStates()
{
    for (FileEntry& entry : m_entries)
        entry.nUploadState = UPLOAD_STATE_WAITING;
}

void CUploadListCtrl::RedrawItem(size_t nIndex)
{
    if (Window() && nIndex < m_entries.size())
        SendMessageW(Window(), LVM_REDRAWITEMS, nIndex, nIndex);
}

void CUploadListCtrl::RedrawAll()
{
    if (Window())
        InvalidateRect(Window(), nullptr, TRUE);
}

std::wstring CUploadListCtrl::CellText(size_t nIndex, int nColumn) const
{
    if (nIndex >= m_entries.size())
        return std::wstring();
    const FileEntry& entry = m_entries[nIndex];
    switch (nColumn)
    {
    case 0: return PathFindFileNameW(entry.szFilePath);
    case 1: return entry.szFileSize;
    case 2: {
        LONG nState = entry.nUploadState;
        if (nState < UPLOAD_STATE_WAITING || nState > UPLOAD_STATE_DONE)
            nState = UPLOAD_STATE_WAITING;
        return PL5Lang::GetString(IDS_STATE_WAITING + static_cast<UINT>(nState));
    }
    default: return std::wstring();
    }
}

void CUploadListCtrl::OnGetDispInfo(NMLVDISPINFOW& info) const
{
    LVITEMW& item = info.item;
    // A request beyond the list (the count is being changed) stays unanswered.
    if (item.iItem < 0 || static_cast<size_t>(item.iItem) >= m_entries.size())
        return;
    const FileEntry& entry = m_entries[static_cast<size_t>(item.iItem)];
    if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0)
        lstrcpynW(item.pszText, CellText(static_cast<size_t>(item.iItem), item.iSubItem).c_str(), item.cchTextMax);
    if ((item.mask & LVIF_IMAGE) && item.iSubItem == 0)
        item.iImage = entry.nIconIndex;
    if (item.mask & LVIF_STATE)
    {
        item.state &= ~LVIS_CUT;
        if (entry.bTempFile && (item.stateMask & LVIS_CUT))
            item.state |= LVIS_CUT;
    }
}

void CUploadListCtrl::SyncItemCount()
{
    if (Window())
        SendMessageW(Window(), LVM_SETITEMCOUNT, m_entries.size(), LVSICF_NOSCROLL);
}
