// CMainListCtrl: the control's file list and the owner-data list view that shows it. The model
// exists from the control's construction; the view window only from the control window's
// creation, and every view operation here does nothing until a window is attached. The view
// keeps no rows of its own: it asks for every row's text, icon, selected and cut state.
#pragma once
#include <windows.h>
#include <functional>
#include "filelist/FileList.h"
#include "filelist/Thumbnails.h"
#include "ptl/CustomDrawListView.h"

// Told when the list's deferred view update runs, to refresh what shows the list's state (the
// status texts, the background picture of an empty list).
class IListViewOwner
{
public:
    virtual void OnListViewUpdate() = 0;

protected:
    ~IListViewOwner() = default;
};

class CMainListCtrl : public PTL::CCustomDrawListView<CMainListCtrl>
{
    friend class PTL::CCustomDrawListView<CMainListCtrl>;

public:
    CFileList& List() { return m_list; }
    const CFileList& List() const { return m_list; }

    // The list view window made by the control window; not owned (it dies with its parent).
    // Attaching gives the view the rows that were listed before it existed.
    void AttachWindow(HWND hWnd);
    void DetachWindow();

    bool ShowFullPath() const { return m_bShowFullPath; }
    void SetShowFullPath(bool b) { m_bShowFullPath = b; }
    // In the large-icon view, pictures are shown by thumbnails of the icons' size instead of
    // their icons; turning it off forgets the thumbnails.
    void SetShowThumbnails(bool bShow);
    const CThumbnailLoader& Thumbnails() const { return m_thumbnails; }

    // ---- view updates (nothing without a window) ----
    // Tells the owner-data view how many rows the model has, now.
    void SetRowCount();
    // The row count and the owner's update, once, when the page's thread next serves its messages:
    // a script that adds or removes files one call at a time changes the list thousands of
    // times in a row, and each row count or status text costs the view a re-measure and a
    // redraw. Without a window the owner's update runs at once.
    void UpdateSoon();
    // Does a pending UpdateSoon now (before the view's own state is read).
    void FlushUpdate();
    void SetViewOwner(IListViewOwner* pOwner) { m_pViewOwner = pOwner; }
    // Marks the view for repainting; with bNow it repaints before returning.
    void Invalidate(bool bNow);
    void RedrawRows(size_t nFirst, size_t nLast);
    // Writes a row's selected state, leaving its focus, drop-highlight and the two state bits
    // above them as they are.
    void SetRowSelected(size_t nIndex, bool bSelected);

    // Appends one ready-made entry; while the per-entry update flag is set the view learns the
    // new row count at once.
    void AppendEntry(const FileEntry& entry, bool bChosenByUser);

    // Every entry selected, one repaint.
    void SelectAll();

    // For the keyboard: the list shows its focus rectangle, on the focused row, else on the
    // first selected row, else on the first row (which focus alone does not select).
    void ShowFocusedRow();

    // The text column 0 shows for an entry: the whole path or its file name part.
    const wchar_t* NameText(const FileEntry& entry) const;

private:
    bool ProcessWindowMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult);
    // ---- reflected notifications ----
    void OnGetDispInfo(NMLVDISPINFOW& info);
    void OnItemChanged(const NMLISTVIEW& change);
    void OnClick(const NMITEMACTIVATE& click);
    LRESULT OnCustomDraw(NMLVCUSTOMDRAW& draw);
    void OnFinalMessage();

    // ---- thumbnails ----
    bool ThumbnailsShown() const;
    // The row's thumbnail when it has one to show (with bRequest, a row not tried yet is asked for).
    std::shared_ptr<const CThumbnail> RowThumbnail(size_t nRow, bool bRequest);
    // Draws the row's thumbnail centred where its icon would be, over the list's background.
    void DrawThumbnail(HDC hdc, size_t nRow, const CThumbnail& thumbnail);

    CFileList m_list;
    bool m_bShowFullPath = false;
    bool m_bShowThumbnails = false;
    CThumbnailLoader m_thumbnails;
    std::vector<DWORD> m_composed;  // one thumbnail over the background, as it goes to the screen
    bool m_bUpdateDue = false;      // UpdateSoon was asked for
    IListViewOwner* m_pViewOwner = nullptr;
    bool m_bUpdatePosted = false;  // and its message is on its way
};
