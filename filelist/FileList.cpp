#include "filelist/FileList.h"
#include <shellapi.h>
#include "filelist/Format.h"

FileEntry MakeFileEntry(const wchar_t* szPath, ULONG nFileSize, const wchar_t* szInputName, const wchar_t* szFileID)
{
    FileEntry entry = {};
    entry.bTempFile = szFileID ? 1 : 0;
    CopyField(entry.szFilePath, szPath);
    entry.nFileSize = nFileSize;
    CopyField(entry.szFileSize, FormatSizeText(nFileSize, 2).c_str());
    CopyField(entry.szInputName, szInputName);
    CopyField(entry.szFileID, szFileID);
    entry.nUploadState = UPLOAD_STATE_WAITING;

    // The icon of the file's type, from its name as if it were a normal file: no disk access,
    // so a temporary entry or a slow network path costs nothing here.
    SHFILEINFOW info = {};
    const DWORD_PTR nResult = SHGetFileInfoW(entry.szFilePath, FILE_ATTRIBUTE_NORMAL, &info, sizeof(info),
                                             SHGFI_SYSICONINDEX | SHGFI_USEFILEATTRIBUTES | SHGFI_SMALLICON);
    entry.nIconIndex = nResult ? info.iIcon : 0;
    return entry;
}

std::vector<FileEntry> CFileList::Entries() const
{
    std::vector<FileEntry> entries;
    entries.reserve(Count());
    entries.assign(m_entries.begin(), m_entries.begin() + static_cast<ptrdiff_t>(m_nGapAt));
    entries.insert(entries.end(), m_entries.begin() + static_cast<ptrdiff_t>(m_nGapAt + m_nGap), m_entries.end());
    return entries;
}

void CFileList::CloseGap()
{
    if (m_nGap == 0)
        return;
    for (size_t i = m_nGapAt + m_nGap; i < m_entries.size(); ++i)
    {
        m_entries[i - m_nGap] = m_entries[i];
        m_chosenByUser[i - m_nGap] = m_chosenByUser[i];
    }
    m_entries.resize(m_entries.size() - m_nGap);
    m_chosenByUser.resize(m_entries.size());
    m_nGapAt = m_nGap = 0;
}

void CFileList::EraseFalling(size_t nIndex)
{
    if (nIndex >= m_nGapAt)
        CloseGap();
    if (m_nGap == 0)
        m_nGapAt = nIndex + 1;
    // The entries between this one and the gap move up across it; the gap then starts here.
    for (size_t i = m_nGapAt; i-- > nIndex + 1;)
    {
        m_entries[i + m_nGap] = m_entries[i];
        m_chosenByUser[i + m_nGap] = m_chosenByUser[i];
    }
    m_nGapAt = nIndex;
    ++m_nGap;
}

void CFileList::Append(const FileEntry& entry, bool bChosenByUser)
{
    CloseGap();
    m_entries.push_back(entry);
    m_chosenByUser.push_back(bChosenByUser ? 1 : 0);
}

void CFileList::Erase(size_t nIndex)
{
    CloseGap();
    m_entries.erase(m_entries.begin() + static_cast<ptrdiff_t>(nIndex));
    m_chosenByUser.erase(m_chosenByUser.begin() + static_cast<ptrdiff_t>(nIndex));
}

void CFileList::EraseKeepingSelection(size_t nIndex)
{
    Erase(nIndex);
    std::set<size_t> shifted;
    for (size_t n : m_selected)
        if (n != nIndex)
            shifted.insert(n > nIndex ? n - 1 : n);
    m_selected.swap(shifted);
}

void CFileList::Clear()
{
    m_nGapAt = m_nGap = 0;
    m_entries.clear();
    m_chosenByUser.clear();
    m_selected.clear();
}

bool CFileList::Move(LONG nIndex, LONG nOffset)
{
    const LONGLONG nTarget = static_cast<LONGLONG>(nIndex) + nOffset;
    if (nOffset == 0 || !Has(nIndex) || !Has(nTarget))
        return false;
    CloseGap();
    const size_t nFrom = static_cast<size_t>(nIndex);
    const size_t nTo = static_cast<size_t>(nTarget);
    const FileEntry entry = m_entries[nFrom];
    const BYTE bChosen = m_chosenByUser[nFrom];
    if (nTo > nFrom)
    {
        // Down: the copy goes after the target, then the old copy above it goes.
        m_entries.insert(m_entries.begin() + static_cast<ptrdiff_t>(nTo) + 1, entry);
        m_chosenByUser.insert(m_chosenByUser.begin() + static_cast<ptrdiff_t>(nTo) + 1, bChosen);
        Erase(nFrom);
    }
    else
    {
        // Up: the copy goes before the target; the old copy is now one further down.
        m_entries.insert(m_entries.begin() + static_cast<ptrdiff_t>(nTo), entry);
        m_chosenByUser.insert(m_chosenByUser.begin() + static_cast<ptrdiff_t>(nTo), bChosen);
        Erase(nFrom + 1);
    }
    return true;
}

void CFileList::SetSelected(size_t nIndex, bool bSelected)
{
    if (bSelected)
        m_selected.insert(nIndex);
    else
        m_selected.erase(nIndex);
}

void CFileList::SelectRange(size_t nFirst, size_t nLast)
{
    if (nFirst > nLast)
        std::swap(nFirst, nLast);
    for (size_t n = nFirst; n <= nLast && n < Count(); ++n)
        m_selected.insert(n);
}
