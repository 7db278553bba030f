#include "progress/UploadListCtrl.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <string>

#include "lang/LangIds.h"
#include "lang/LangTable.h"
#include "ptl/TemplateDialog.h"

namespace
{
const UINT_PTR SUBCLASS_ID = 1201;
} // namespace

bool CUploadListCtrl::Attach(HWND hList)
{
    Detach();
    if (!hList || !SetWindowSubclass(hList, &SubclassProc, SUBCLASS_ID, reinterpret_cast<DWORD_PTR>(this)))
        return false;
    m_hWnd = hList;
    // The view asks for the cut state of every row, like the control's own list.
    SendMessageW(m_hWnd, LVM_SETCALLBACKMASK, LVIS_CUT, 0);
    SyncItemCount();
    return true;
}

void CUploadListCtrl::Detach()
{
    if (!m_hWnd)
        return;
    RemoveWindowSubclass(m_hWnd, &SubclassProc, SUBCLASS_ID);
    m_hWnd = nullptr;
}

void CUploadListCtrl::SetupView()
{
    if (!m_hWnd)
        return;
    SetWindowLongPtrW(m_hWnd, GWL_STYLE, GetWindowLongPtrW(m_hWnd, GWL_STYLE) & ~static_cast<LONG_PTR>(LVS_SINGLESEL));

    // The system image lists are shared (LVS_SHAREIMAGELISTS): the view never destroys them.
    SHFILEINFOW info = {};
    const UINT nFlags = SHGFI_SYSICONINDEX | SHGFI_USEFILEATTRIBUTES;
    const auto hSmall = reinterpret_cast<HIMAGELIST>(
        SHGetFileInfoW(L"*.*", FILE_ATTRIBUTE_NORMAL, &info, sizeof(info), nFlags | SHGFI_SMALLICON));
    const auto hLarge = reinterpret_cast<HIMAGELIST>(
        SHGetFileInfoW(L"*.*", FILE_ATTRIBUTE_NORMAL, &info, sizeof(info), nFlags | SHGFI_LARGEICON));
    SendMessageW(m_hWnd, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(hSmall));
    SendMessageW(m_hWnd, LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(hLarge));

    static const struct
    {
        UINT nTitle;
        int nWidth;
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
        column.cx = COLUMNS[i].nWidth;
        column.pszText = &strTitle[0];
        column.iSubItem = i;
        SendMessageW(m_hWnd, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
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
    if (m_hWnd && nIndex < m_entries.size())
        SendMessageW(m_hWnd, LVM_REDRAWITEMS, nIndex, nIndex);
}

void CUploadListCtrl::RedrawAll()
{
    if (m_hWnd)
        InvalidateRect(m_hWnd, nullptr, TRUE);
}

std::wstring CUploadListCtrl::CellText(size_t nIndex, int nColumn) const
{
    if (nIndex >= m_entries.size())
        return std::wstring();
    const FileEntry& entry = m_entries[nIndex];
    switch (nColumn)
    {
    case 0:
        return PathFindFileNameW(entry.szFilePath);
    case 1:
        return entry.szFileSize;
    case 2:
    {
        LONG nState = entry.nUploadState;
        if (nState < UPLOAD_STATE_WAITING || nState > UPLOAD_STATE_DONE)
            nState = UPLOAD_STATE_WAITING;
        return PL5Lang::GetString(IDS_STATE_WAITING + static_cast<UINT>(nState));
    }
    default:
        return std::wstring();
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
    if (m_hWnd)
        SendMessageW(m_hWnd, LVM_SETITEMCOUNT, m_entries.size(), LVSICF_NOSCROLL);
}

LRESULT CALLBACK CUploadListCtrl::SubclassProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                               DWORD_PTR pData)
{
    auto* pThis = reinterpret_cast<CUploadListCtrl*>(pData);
    switch (uMsg)
    {
    case OCM_NOTIFY:
    {
        auto* pHeader = reinterpret_cast<NMHDR*>(lParam);
        try
        {
            if (pHeader && pHeader->code == LVN_GETDISPINFOW)
                pThis->OnGetDispInfo(*reinterpret_cast<NMLVDISPINFOW*>(lParam));
        }
        catch (...)
        {
            // Out of memory for a cell's text: the cell stays empty until the next paint.
        }
        return 0;
    }
    case WM_NCDESTROY:
        pThis->Detach();
        break;
    default:
        break;
    }
    return DefSubclassProc(hWnd, uMsg, wParam, lParam);
}
