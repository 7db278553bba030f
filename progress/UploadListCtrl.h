// The progress dialog's list of the upload's files: an owner-data report view (IDC_UPLOAD_LIST of
// the dialog) over its own sequence of FileEntry records, with name, size and state columns and
// the system's file icons. The dialog reflects the view's notifications back to it, so the view
// answers its own display-information requests (through PTL::CCustomDrawListView).
//
// The records are touched only on the dialog's thread; the worker changes a file's state by
// asking the dialog's thread to do it.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "filelist/FileEntry.h"
#include "ptl/CustomDrawListView.h"

class CUploadListCtrl : public PTL::CCustomDrawListView<CUploadListCtrl>
{
    friend class PTL::CCustomDrawListView<CUploadListCtrl>;

public:
    // Takes over the view window: its item count follows the records, and temporary entries
    // show the cut (dimmed) state.
    bool Attach(HWND hList);
    void Detach() { UnsubclassWindow(); }
    HWND Handle() const { return Window(); }

    // Multiple selection, the system's file icons and the three columns (strings 101 to 103).
    void SetupView();

    const std::vector<FileEntry>& Entries() const { return m_entries; }
    size_t Count() const { return m_entries.size(); }
    void SetEntries(const std::vector<FileEntry>& entries);
    void Append(const FileEntry& entry);

    // The entry's nUploadState (0 waiting, 1 being sent, 2 done); out-of-range indexes are
    // ignored. Redrawing is separate, so a caller decides when the row shows the change.
    void SetState(size_t nIndex, LONG nState);
    void ResetStates();
    void RedrawItem(size_t nIndex);
    void RedrawAll();

    // The text of one cell as the view shows it (column 0 name, 1 size, 2 state).
    std::wstring CellText(size_t nIndex, int nColumn) const;

private:
    void OnGetDispInfo(NMLVDISPINFOW& info) const;
    void SyncItemCount();

    std::vector<FileEntry> m_entries;
};
