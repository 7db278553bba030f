// CMainListCtrl: the control's file list and the owner-data list view that shows it. The model
// exists from the control's construction; the view window only from the control window's
// creation, and every view operation here does nothing until a window is attached.
#pragma once
#include <windows.h>
#include "filelist/FileList.h"

class CMainListCtrl
{
public:
    CFileList& List() { return m_list; }
    const CFileList& List() const { return m_list; }

    // The list view window made by the control window; not owned (it dies with its parent).
    // Attaching gives the view the rows that were listed before it existed.
    void AttachWindow(HWND hWnd);
    void DetachWindow() { m_hWnd = nullptr; }
    HWND Window() const { return m_hWnd; }
    bool HasWindow() const { return m_hWnd && IsWindow(m_hWnd); }

    bool ShowFullPath() const { return m_bShowFullPath; }
    void SetShowFullPath(bool b) { m_bShowFullPath = b; }

    // ---- view updates (nothing without a window) ----
    // Tells the owner-data view how many rows the model has.
    void SetRowCount();
    // Marks the view for repainting; with bNow it repaints before returning.
    void Invalidate(bool bNow);
    void RedrawRows(size_t nFirst, size_t nLast);
    // Writes a row's selected state, leaving its focus, drop-highlight and the two state bits
    // above them as they are.
    void SetRowSelected(size_t nIndex, bool bSelected);

    // Appends one ready-made entry; while the per-entry update flag is set the view learns the
    // new row count at once.
    void AppendEntry(const FileEntry& entry, bool bChosenByUser);

private:
    CFileList m_list;
    HWND m_hWnd = nullptr;
    bool m_bShowFullPath = false;
};
