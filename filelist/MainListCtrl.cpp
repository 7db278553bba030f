#include "filelist/MainListCtrl.h"
#include <commctrl.h>
#include "filelist/LimitMessages.h"

namespace
{
// Row state bits kept when script changes a row's selection: focus, drop-highlight and the two
// bits above them.
const UINT KEPT_STATE_BITS = 0x39;

// Posted to the list window by UpdateSoon; list views leave the application's range alone.
const UINT WM_VIEW_UPDATE = WM_APP + 0x35;

bool KeyHeld(int nVirtualKey) { return (GetKeyState(nVirtualKey) & 0x8000) != 0; }
}  // namespace

void CMainListCtrl::AttachWindow(HWND hWnd)
{
    SubclassWindow(hWnd);
    // The view asks for both states of every row: temporary entries listed before the window
    // existed are drawn dimmed from the first paint.
    Send(LVM_SETCALLBACKMASK, LVIS_SELECTED | LVIS_CUT);
    SetRowCount();
}

void CMainListCtrl::SetRowCount()
{
    // Rows are kept where they are: a growing list does not jump back to its first row.
    Send(LVM_SETITEMCOUNT, static_cast<WPARAM>(m_list.Count()), LVSICF_NOSCROLL);
}

void CMainListCtrl::UpdateSoon()
{
    if (!HasWindow())
    {
        if (fnViewUpdate)
            fnViewUpdate();
        return;
    }
    m_bUpdateDue = true;
    if (!m_bUpdatePosted)
        m_bUpdatePosted = PostMessageW(Window(), WM_VIEW_UPDATE, 0, 0) != FALSE;
    if (!m_bUpdatePosted)
        FlushUpdate();  // a full queue: late is worse than slow
}

void CMainListCtrl::FlushUpdate()
{
    if (!m_bUpdateDue)
        return;
    m_bUpdateDue = false;
    SetRowCount();
    if (fnViewUpdate)
        fnViewUpdate();
}

bool CMainListCtrl::ProcessWindowMessage(UINT uMsg, WPARAM, LPARAM, LRESULT& lResult)
{
    if (uMsg != WM_VIEW_UPDATE)
        return false;
    m_bUpdatePosted = false;
    FlushUpdate();
    lResult = 0;
    return true;
}

void CMainListCtrl::Invalidate(bool bNow)
{
    if (!HasWindow())
        return;
    InvalidateRect(Window(), nullptr, TRUE);
    if (bNow)
        UpdateWindow(Window());
}

void CMainListCtrl::RedrawRows(size_t nFirst, size_t nLast)
{
    Send(LVM_REDRAWITEMS, static_cast<WPARAM>(nFirst), static_cast<LPARAM>(nLast));
}

void CMainListCtrl::SetRowSelected(size_t nIndex, bool bSelected)
{
    if (!HasWindow())
        return;
    const UINT nKept = static_cast<UINT>(Send(LVM_GETITEMSTATE, static_cast<WPARAM>(nIndex), KEPT_STATE_BITS));
    LVITEMW item = {};
    item.stateMask = KEPT_STATE_BITS | LVIS_SELECTED;
    item.state = (nKept & KEPT_STATE_BITS) | (bSelected ? LVIS_SELECTED : 0);
    Send(LVM_SETITEMSTATE, static_cast<WPARAM>(nIndex), reinterpret_cast<LPARAM>(&item));
}

void CMainListCtrl::AppendEntry(const FileEntry& entry, bool bChosenByUser)
{
    m_list.Append(entry, bChosenByUser);
    if (m_list.UpdateEachAppend())
        UpdateSoon();
}

void CMainListCtrl::SelectAll()
{
    m_list.ClearSelection();
    if (!m_list.Empty())
        m_list.SelectRange(0, m_list.Count() - 1);
    Invalidate(false);
}

void CMainListCtrl::ShowFocusedRow()
{
    if (!HasWindow())
        return;
    // Focus that arrives by the keyboard shows its cues, in this list only.
    Send(WM_UPDATEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS));
    FlushUpdate();
    if (m_list.Empty() || Send(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED) >= 0)
        return;
    const std::vector<size_t> selected = m_list.Selected();
    LVITEMW item = {};
    item.stateMask = LVIS_FOCUSED;
    item.state = LVIS_FOCUSED;
    Send(LVM_SETITEMSTATE, selected.empty() ? 0 : selected.front(), reinterpret_cast<LPARAM>(&item));
}

const wchar_t* CMainListCtrl::NameText(const FileEntry& entry) const
{
    return m_bShowFullPath ? entry.szFilePath : FileNamePart(entry.szFilePath);
}

void CMainListCtrl::OnGetDispInfo(NMLVDISPINFOW& info) const
{
    LVITEMW& item = info.item;
    // The view may ask for a row while its count is being changed: such rows stay unanswered
    // (an empty text, no state).
    if (item.iItem < 0 || static_cast<size_t>(item.iItem) >= m_list.Count())
    {
        if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0)
            item.pszText[0] = L'\0';
        if (item.mask & LVIF_STATE)
            item.state &= ~(LVIS_SELECTED | LVIS_CUT);
        return;
    }
    const size_t nIndex = static_cast<size_t>(item.iItem);
    const FileEntry& entry = m_list.At(nIndex);
    if ((item.mask & LVIF_IMAGE) && item.iSubItem == 0)
        item.iImage = entry.nIconIndex;
    if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0)
    {
        const wchar_t* szText = item.iSubItem == 0 ? NameText(entry) : item.iSubItem == 1 ? entry.szFileSize : L"";
        lstrcpynW(item.pszText, szText, item.cchTextMax);
    }
    if (item.mask & LVIF_STATE)
    {
        item.state &= ~(LVIS_SELECTED | LVIS_CUT);
        if ((item.stateMask & LVIS_SELECTED) && m_list.IsSelected(nIndex))
            item.state |= LVIS_SELECTED;
        if ((item.stateMask & LVIS_CUT) && entry.bTempFile)
            item.state |= LVIS_CUT;
    }
}

void CMainListCtrl::OnClick(const NMITEMACTIVATE& click)
{
    FlushUpdate();
    const int i = click.iItem;
    // The page's OnItemClick handler (fired by the control's window before this) may have
    // shortened the list.
    if (i >= 0 && static_cast<size_t>(i) >= m_list.Count())
        return;
    const size_t nRow = static_cast<size_t>(i);
    if (i >= 0 && KeyHeld(VK_SHIFT))
    {
        m_list.ClearSelection();
        m_list.SelectRange(m_list.Anchor(), nRow);
        Invalidate(false);
    }
    else if (i >= 0 && KeyHeld(VK_CONTROL))
    {
        m_list.SetAnchor(nRow);
        m_list.SetSelected(nRow, !m_list.IsSelected(nRow));
        RedrawRows(nRow, nRow);
    }
    else if (i >= 0)
    {
        m_list.ClearSelection();
        m_list.SetAnchor(nRow);
        m_list.SetSelected(nRow, true);
        Invalidate(false);
    }
    else if (m_list.SelectedCount() == 0)  // what the view reports: it asks the model
    {
        m_list.ClearSelection();
        Invalidate(false);
    }
}

void CMainListCtrl::OnItemChanged(const NMLISTVIEW& change)
{
    // A Shift range is made by the click handler from the anchor, not row by row.
    if (KeyHeld(VK_SHIFT))
        return;
    FlushUpdate();
    if (change.iItem < 0)
    {
        m_list.ClearSelection();
        Invalidate(false);
        return;
    }
    const size_t nRow = static_cast<size_t>(change.iItem);
    if (!(change.uChanged & LVIF_STATE) || nRow >= m_list.Count() || KeyHeld(VK_CONTROL))
        return;
    // The view's count of selected rows comes from the model (selected is a callback state),
    // and asking the view for it costs a request per row; a row that the view is selecting
    // right now counts too, or the first row reached by the keyboard after the selection was
    // emptied would never be taken.
    if (m_list.SelectedCount() == 0 && !(change.uNewState & LVIS_SELECTED))
        return;
    if (change.uOldState & LVIS_FOCUSED)
        m_list.SetSelected(nRow, true);
    else if (change.uNewState & LVIS_FOCUSED)
    {
        m_list.SetAnchor(nRow);
        m_list.SetSelected(nRow, true);
    }
    else
        m_list.SetSelected(nRow, (change.uNewState & LVIS_SELECTED) != 0);
}
