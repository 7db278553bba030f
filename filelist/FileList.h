// The file list itself: the listed entries in display order, the selection set the list view
// draws from, the selection anchor and the per-entry update flag. Plain data with no window, so
// script can fill it before the control has one.
#pragma once
#include <windows.h>
#include <set>
#include <string>
#include <vector>
#include "filelist/FileEntry.h"

// A new entry: the path and texts cut to their fields, the size text made once and the icon
// looked up from the name alone. A non-null szFileID marks an entry that stands for a file the
// page knows only by that id.
FileEntry MakeFileEntry(const wchar_t* szPath, ULONG nFileSize, const wchar_t* szInputName, const wchar_t* szFileID);

class CFileList
{
public:
    size_t Count() const { return m_entries.size() - m_nGap; }
    bool Empty() const { return Count() == 0; }
    // Whether a script index names an entry.
    bool Has(LONGLONG nIndex) const { return nIndex >= 0 && static_cast<ULONGLONG>(nIndex) < Count(); }
    const FileEntry& At(size_t nIndex) const { return m_entries[Slot(nIndex)]; }
    FileEntry& At(size_t nIndex) { return m_entries[Slot(nIndex)]; }
    // A copy of the entries in order.
    std::vector<FileEntry> Entries() const;

    // bChosenByUser: the user picked the file (file dialog, drop), as opposed to script naming
    // a path. Only such entries may be handed to the shell at the page's request.
    void Append(const FileEntry& entry, bool bChosenByUser);
    bool ChosenByUser(size_t nIndex) const { return m_chosenByUser[Slot(nIndex)] != 0; }

    // Erases one entry; later entries move up. The selection set is not touched.
    void Erase(size_t nIndex);
    // Erases one entry as Erase does, cheaply when called with falling indices: only the entries
    // between two erased ones move, and the rest move once, when the list is next changed
    // otherwise. The selection set is not touched.
    void EraseFalling(size_t nIndex);
    // Erases one entry and keeps the selection with the entries: the erased index leaves the
    // set and every selected index above it moves down by one.
    void EraseKeepingSelection(size_t nIndex);
    // Removes every entry and empties the selection set.
    void Clear();

    // Moves the entry at nIndex by nOffset places; the entries between shift by one toward the
    // old place. Nothing happens (false) for a zero offset or when either end is outside the
    // list. The selection set stays with the row positions.
    bool Move(LONG nIndex, LONG nOffset);

    bool IsSelected(size_t nIndex) const { return m_selected.count(nIndex) != 0; }
    void SetSelected(size_t nIndex, bool bSelected);
    void ClearSelection() { m_selected.clear(); }
    void SelectRange(size_t nFirst, size_t nLast);
    size_t SelectedCount() const { return m_selected.size(); }
    // Selected indices in ascending order.
    std::vector<size_t> Selected() const { return {m_selected.begin(), m_selected.end()}; }

    size_t Anchor() const { return m_nAnchor; }
    void SetAnchor(size_t nIndex) { m_nAnchor = nIndex; }

    // While set, appending one entry also sets the view's row count; cleared during a batch so
    // the view is told once at its end.
    bool UpdateEachAppend() const { return m_bUpdateEachAppend; }
    void SetUpdateEachAppend(bool b) { m_bUpdateEachAppend = b; }

private:
    // Where an index's entry is stored: past the gap EraseFalling leaves, when there is one.
    size_t Slot(size_t nIndex) const { return nIndex < m_nGapAt ? nIndex : nIndex + m_nGap; }
    void CloseGap();

    std::vector<FileEntry> m_entries;
    std::vector<BYTE> m_chosenByUser;  // parallel to m_entries
    // Stored slots [m_nGapAt, m_nGapAt + m_nGap) hold erased entries.
    size_t m_nGapAt = 0;
    size_t m_nGap = 0;
    std::set<size_t> m_selected;
    size_t m_nAnchor = 0;
    bool m_bUpdateEachAppend = true;
};
