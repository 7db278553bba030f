#include "filelist/MainListCtrl.h"
#include <commctrl.h>
#include <algorithm>
#include "filelist/LimitMessages.h"
#include "ptl/Bitmap.h"

namespace
{
// Row state bits kept when script changes a row's selection: focus, drop-highlight and the two
// bits above them.
const UINT KEPT_STATE_BITS = 0x39;

// Posted to the list window by UpdateSoon and by the thumbnail worker; list views leave the
// application's range alone.
const UINT WM_VIEW_UPDATE = WM_APP + 0x35;
const UINT WM_THUMBNAILS_ARRIVED = WM_APP + 0x36;

bool KeyHeld(int nVirtualKey) { return (GetKeyState(nVirtualKey) & 0x8000) != 0; }
}  // namespace

void CMainListCtrl::AttachWindow(HWND hWnd)
{
    SubclassWindow(hWnd);
    // The view asks for both states of every row: temporary entries listed before the window
    // existed are drawn dimmed from the first paint.
    Send(LVM_SETCALLBACKMASK, LVIS_SELECTED | LVIS_CUT);
    SetRowCount();
    m_thumbnails.SetTarget(hWnd, WM_THUMBNAILS_ARRIVED);
}

void CMainListCtrl::DetachWindow()
{
    UnsubclassWindow();
    OnFinalMessage();
}

void CMainListCtrl::OnFinalMessage()
{
    // No worker outlives the window it reports to.
    m_thumbnails.Stop();
    m_thumbnails.SetTarget(nullptr, 0);
}

void CMainListCtrl::SetShowThumbnails(bool bShow)
{
    if (bShow == m_bShowThumbnails)
        return;
    m_bShowThumbnails = bShow;
    if (!bShow)
        m_thumbnails.Stop(true);
    Invalidate(false);
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
        if (m_pViewOwner)
            m_pViewOwner->OnListViewUpdate();
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
    if (m_pViewOwner)
        m_pViewOwner->OnListViewUpdate();
}

bool CMainListCtrl::ProcessWindowMessage(UINT uMsg, WPARAM, LPARAM, LRESULT& lResult)
{
    if (uMsg == WM_THUMBNAILS_ARRIVED)
    {
        // One repaint for all that arrived meanwhile; the rows take their thumbnails as they paint.
        m_thumbnails.Arrived();
        InvalidateRect(Window(), nullptr, FALSE);
        lResult = 0;
        return true;
    }
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

void CMainListCtrl::OnGetDispInfo(NMLVDISPINFOW& info)
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
        item.iImage = RowThumbnail(nIndex, false) ? I_IMAGENONE : entry.nIconIndex;  // drawn after the row
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

// ---- thumbnails ---------------------------------------------------------------------------

bool CMainListCtrl::ThumbnailsShown() const
{
    return m_bShowThumbnails && HasWindow() && (GetWindowLongPtrW(Window(), GWL_STYLE) & LVS_TYPEMASK) == LVS_ICON;
}

std::shared_ptr<const CThumbnail> CMainListCtrl::RowThumbnail(size_t nRow, bool bRequest)
{
    if (!ThumbnailsShown() || nRow >= m_list.Count() || m_list.At(nRow).bTempFile)
        return nullptr;
    const FileEntry& entry = m_list.At(nRow);
    std::shared_ptr<const CThumbnail> pThumbnail =
        m_thumbnails.Find(entry.szFilePath, entry.nFileSize, entry.nWriteTime, bRequest);
    return pThumbnail && !pThumbnail->Empty() ? pThumbnail : nullptr;
}

LRESULT CMainListCtrl::OnCustomDraw(NMLVCUSTOMDRAW& draw)
{
    if (!ThumbnailsShown())
        return CCustomDrawListView::OnCustomDraw(draw);
    const size_t nRow = static_cast<size_t>(draw.nmcd.dwItemSpec);
    switch (draw.nmcd.dwDrawStage)
    {
    case CDDS_PREPAINT: {
        // Thumbnails take the size of the view's large icons, which follows the window's DPI.
        int cx = 0, cy = 0;
        ImageList_GetIconSize(reinterpret_cast<HIMAGELIST>(Send(LVM_GETIMAGELIST, LVSIL_NORMAL)), &cx, &cy);
        m_thumbnails.SetEdge(static_cast<UINT>(std::max(0, std::min(cx, cy))));
        return CDRF_NOTIFYITEMDRAW;
    }
    case CDDS_ITEMPREPAINT: {
        // Only rows on screen ask for their thumbnails: a view may go through rows it does not
        // show (this platform's icon view of owner data draws every row, clipped).
        RECT rcClient, rcShown;
        GetClientRect(Window(), &rcClient);
        if (!IntersectRect(&rcShown, &draw.nmcd.rc, &rcClient))
            return CDRF_NOTIFYSUBITEMDRAW;
        return CDRF_NOTIFYSUBITEMDRAW | (RowThumbnail(nRow, true) ? CDRF_NOTIFYPOSTPAINT : 0);
    }
    case CDDS_ITEMPOSTPAINT:
        if (const std::shared_ptr<const CThumbnail> pThumbnail = RowThumbnail(nRow, false))
            DrawThumbnail(draw.nmcd.hdc, nRow, *pThumbnail);
        return CDRF_DODEFAULT;
    default: return CDRF_DODEFAULT;
    }
}

void CMainListCtrl::DrawThumbnail(HDC hdc, size_t nRow, const CThumbnail& thumbnail)
{
    RECT rcIcon = {};
    rcIcon.left = LVIR_ICON;
    if (!Send(LVM_GETITEMRECT, static_cast<WPARAM>(nRow), reinterpret_cast<LPARAM>(&rcIcon)))
        return;
    const int w = static_cast<int>(thumbnail.nWidth), h = static_cast<int>(thumbnail.nHeight);
    const int x = (rcIcon.left + rcIcon.right - w) / 2, y = (rcIcon.top + rcIcon.bottom - h) / 2;
    // Composed over the list's background here (a picture with transparent parts shows the list
    // through them), a selected row's with the selection colour over a third of it, as the view
    // marks a selected icon.
    COLORREF crBack = static_cast<COLORREF>(Send(LVM_GETBKCOLOR));
    if (crBack == CLR_NONE)
        crBack = GetSysColor(COLOR_WINDOW);
    const bool bSelected = m_list.IsSelected(nRow);
    const COLORREF crMark = GetSysColor(COLOR_HIGHLIGHT);
    m_composed.resize(thumbnail.pixels.size());
    for (size_t i = 0; i < m_composed.size(); ++i)
    {
        const DWORD px = thumbnail.pixels[i], nAlpha = px >> 24;
        const auto Channel = [&](int nShift, BYTE nBack, BYTE nMark) {
            DWORD n = ((px >> nShift) & 0xFF) + nBack * (255 - nAlpha) / 255;
            if (bSelected)
                n = (2 * n + nMark) / 3;
            return n << nShift;
        };
        m_composed[i] = Channel(16, GetRValue(crBack), GetRValue(crMark)) |
                        Channel(8, GetGValue(crBack), GetGValue(crMark)) |
                        Channel(0, GetBValue(crBack), GetBValue(crMark));
    }
    BITMAPINFO info = PTL::TopDownPixels(w, h);
    SetDIBitsToDevice(hdc, x, y, static_cast<DWORD>(w), static_cast<DWORD>(h), 0, 0, 0, static_cast<UINT>(h),
                      m_composed.data(), &info, DIB_RGB_COLORS);
}
