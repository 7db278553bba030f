#include "filelist/MainListCtrl.h"
#include <commctrl.h>

namespace
{
// Row state bits kept when script changes a row's selection: focus, drop-highlight and the two
// bits above them.
const UINT KEPT_STATE_BITS = 0x39;
} // namespace

void CMainListCtrl::AttachWindow(HWND hWnd)
{
    m_hWnd = hWnd;
    SetRowCount();
}

void CMainListCtrl::SetRowCount()
{
    if (HasWindow())
        SendMessageW(m_hWnd, LVM_SETITEMCOUNT, static_cast<WPARAM>(m_list.Count()), 0);
}

void CMainListCtrl::Invalidate(bool bNow)
{
    if (!HasWindow())
        return;
    InvalidateRect(m_hWnd, nullptr, TRUE);
    if (bNow)
        UpdateWindow(m_hWnd);
}

void CMainListCtrl::RedrawRows(size_t nFirst, size_t nLast)
{
    if (HasWindow())
        SendMessageW(m_hWnd, LVM_REDRAWITEMS, static_cast<WPARAM>(nFirst), static_cast<LPARAM>(nLast));
}

void CMainListCtrl::SetRowSelected(size_t nIndex, bool bSelected)
{
    if (!HasWindow())
        return;
    const UINT nKept = static_cast<UINT>(
        SendMessageW(m_hWnd, LVM_GETITEMSTATE, static_cast<WPARAM>(nIndex), KEPT_STATE_BITS));
    LVITEMW item = {};
    item.stateMask = KEPT_STATE_BITS | LVIS_SELECTED;
    item.state = (nKept & KEPT_STATE_BITS) | (bSelected ? LVIS_SELECTED : 0);
    SendMessageW(m_hWnd, LVM_SETITEMSTATE, static_cast<WPARAM>(nIndex), reinterpret_cast<LPARAM>(&item));
}

void CMainListCtrl::AppendEntry(const FileEntry& entry, bool bChosenByUser)
{
    m_list.Append(entry, bChosenByUser);
    if (m_list.UpdateEachAppend())
        SetRowCount();
}
