// The control's file list methods: adding, removing, moving and reading back files.
#include "control/PL5Ctrl.h"
#include "filelist/PathSafety.h"
#include "control/ScriptValues.h"
#include "filelist/FileDialog.h"
#include "filelist/FileMeasure.h"
#include "filelist/LimitMessages.h"
#include "lang/LangIds.h"
#include "lang/LangTable.h"

#include <new>

using namespace PL5Script;

namespace
{
const size_t MAX_FILE_PATH = sizeof(FileEntry::szFilePath) / sizeof(WCHAR);  // terminator included

// Gives the page's thread one pending message, so a long batch does not freeze the page. A quit
// request is put back for the loop that owns it. Painting is let through at most a few times a
// second, and messages of the application's range (the list's coalesced view update among them)
// wait for the page's own loop: a script adding files one call at a time would otherwise
// re-measure and repaint the list and the status bar once per file, which costs far more than
// listing the file.
void DispatchOnePendingMessage()
{
    static DWORD s_dwLastPaint = 0;
    const DWORD PAINT_INTERVAL_MS = 250;
    const DWORD dwNow = GetTickCount();
    UINT nQueues = PM_QS_INPUT | PM_QS_POSTMESSAGE | PM_QS_SENDMESSAGE;
    if (dwNow - s_dwLastPaint >= PAINT_INTERVAL_MS)
    {
        nQueues |= PM_QS_PAINT;
        s_dwLastPaint = dwNow;
    }
    MSG msg;
    if (!PeekMessageW(&msg, nullptr, 0, WM_APP - 1, PM_REMOVE | nQueues) &&
        !PeekMessageW(&msg, nullptr, 0xC000, 0xFFFF, PM_REMOVE | nQueues))
        return;
    if (msg.message == WM_QUIT)
    {
        PostQuitMessage(static_cast<int>(msg.wParam));
        return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}
}  // namespace

// ---- refreshes and helpers ------------------------------------------------------------------

void CPL5Ctrl::AfterListChange()
{
    // With a window, the row count, the status bar and the background follow once the script's
    // run of calls is over (UpdateSoon); the page's own mirror elements at once.
    RefreshStatusMirrors();
    m_list.UpdateSoon();
}

void CPL5Ctrl::UpdateListView()
{
    RefreshStatusBar();
    RefreshStatusMirrors();
    RefreshBackground();
}

void CPL5Ctrl::ShowListMessage(const std::wstring& strText) const
{
    const std::wstring strCaption = PL5Lang::MessageCaption();
    MessageBoxW(MessageOwner(), strText.c_str(), strCaption.c_str(), MB_ICONINFORMATION);
}

std::wstring CPL5Ctrl::EffectiveInputName(BSTR bstrInputName) const
{
    const std::wstring strGiven = TextOf(bstrInputName);
    return strGiven.empty() ? m_props.strInputName : strGiven;
}

bool CPL5Ctrl::UploadRunningInChildMode() const { return m_props.bChildMode && m_uploadDlg.IsRunning(); }

std::vector<FileEntry> CPL5Ctrl::ListedFiles() const { return m_list.List().Entries(); }

void CPL5Ctrl::FollowListInChildMode()
{
    if (m_uploadDlg.IsChild() && !m_uploadDlg.IsRunning())
        m_uploadDlg.SetChildFiles(ListedFiles());
}

// ---- AddFiles -------------------------------------------------------------------------------

bool CPL5Ctrl::AddFiles(const std::vector<std::wstring>& paths, const std::wstring& strInputName, bool bChosenByUser)
{
    // Also for the user's own drops and choices: a page that is not allowed gets no file.
    if (!SiteAllowed())
        return false;
    // The refusal messages are the pack's texts.
    EnsureLanguage();
    // Measure: what cannot be opened as a file is left out without a word.
    std::vector<CMeasuredFile> candidates, oversize;
    ULONGLONG liBatchTotal = 0;
    for (const std::wstring& strPath : paths)
    {
        // A path longer than an entry holds would be cut to another name, and the upload would
        // send some other file or none: such a path is left out like one that cannot be opened.
        ULONGLONG liLength = 0, nWriteTime = 0;
        if (strPath.size() >= MAX_FILE_PATH || !MeasureFile(strPath.c_str(), liLength, &nWriteTime))
            continue;
        if (liLength > m_props.nMaxUnitFileSize)
            oversize.push_back({strPath, liLength, nWriteTime});
        else
        {
            candidates.push_back({strPath, liLength, nWriteTime});
            liBatchTotal += liLength;
        }
    }

    // Ask the page about every candidate; only an explicit true keeps it.
    std::vector<CMeasuredFile> kept;
    for (const CMeasuredFile& file : candidates)
    {
        VARIANT_BOOL vbKeep = VARIANT_TRUE;
        Fire_OnBeforeAddFile(file.strPath.c_str(), &vbKeep);
        if (vbKeep == VARIANT_TRUE)
            kept.push_back(file);
        else
            liBatchTotal -= file.liLength;
    }

    // The limits refuse the whole batch, so a page never gets half of what the user chose.
    // (Read after the events: a handler may have changed the list or the limits.)
    if (static_cast<ULONGLONG>(m_nListedTotal) + liBatchTotal > m_props.nMaxTotalFileSize)
    {
        ShowListMessage(TotalSizeExceededText(m_props.nMaxTotalFileSize, m_nListedTotal, liBatchTotal));
        return false;
    }
    CFileList& list = m_list.List();
    if (m_props.nMaxFileCount != NO_COUNT_LIMIT &&
        static_cast<ULONGLONG>(list.Count()) + kept.size() > m_props.nMaxFileCount)
    {
        ShowListMessage(TooManyFilesText(m_props.nMaxFileCount, list.Count(), kept.size()));
        return false;
    }
    if (!oversize.empty())
        ShowListMessage(FileTooLargeText(m_props.nMaxUnitFileSize, oversize));

    list.SetUpdateEachAppend(false);
    for (const CMeasuredFile& file : kept)
    {
        // Kept lengths are at most MaxUnitFileSize, so they fit 32 bits.
        const ULONG nSize = static_cast<ULONG>(file.liLength);
        FileEntry entry = MakeFileEntry(file.strPath.c_str(), nSize, strInputName.c_str(), nullptr);
        entry.nWriteTime = file.nWriteTime;
        m_list.AppendEntry(entry, bChosenByUser);
        m_nListedTotal += nSize;
        // Child mode: the embedded dialog's upload list, the request's file part, the grand total.
        if (m_uploadDlg.IsChild())
            m_uploadDlg.AppendFile(entry);
        Fire_OnAddFile(entry.szFilePath, nSize);
        DispatchOnePendingMessage();
    }
    list.SetUpdateEachAppend(true);
    AfterListChange();
    return true;
}

// ---- getters --------------------------------------------------------------------------------

STDMETHODIMP CPL5Ctrl::get_GetCount(LONG* pVal) { return GetNumber(static_cast<LONG>(m_list.List().Count()), pVal); }

STDMETHODIMP CPL5Ctrl::get_GetFileName(LONG nItem, BSTR* pVal)
{
    const CFileList& list = m_list.List();
    return GetText(list.Has(nItem) ? list.At(static_cast<size_t>(nItem)).szFilePath : L"", pVal);
}

STDMETHODIMP CPL5Ctrl::get_GetFileSize(LONG nItem, LONG* pVal)
{
    if (!pVal)
        return E_POINTER;
    const CFileList& list = m_list.List();
    if (list.Has(nItem))
        *pVal = static_cast<LONG>(list.At(static_cast<size_t>(nItem)).nFileSize);
    return S_OK;
}

STDMETHODIMP CPL5Ctrl::get_GetFileID(LONG nItem, BSTR* pVal)
{
    const CFileList& list = m_list.List();
    return GetText(list.Has(nItem) ? list.At(static_cast<size_t>(nItem)).szFileID : L"", pVal);
}

STDMETHODIMP CPL5Ctrl::get_IsTempFile(LONG nItem, VARIANT_BOOL* pVal)
{
    const CFileList& list = m_list.List();
    return GetFlag(list.Has(nItem) && list.At(static_cast<size_t>(nItem)).bTempFile, pVal);
}

STDMETHODIMP CPL5Ctrl::get_SelectState(LONG nIdx, VARIANT_BOOL* pVal)
{
    const CFileList& list = m_list.List();
    return GetFlag(list.Has(nIdx) && list.IsSelected(static_cast<size_t>(nIdx)), pVal);
}

STDMETHODIMP CPL5Ctrl::put_SelectState(LONG nIdx, VARIANT_BOOL newVal)
{
    CFileList& list = m_list.List();
    if (!list.Has(nIdx))
        return S_OK;
    const bool bSelected = FlagFrom(newVal);
    list.SetSelected(static_cast<size_t>(nIdx), bSelected);
    m_list.SetRowSelected(static_cast<size_t>(nIdx), bSelected);
    return S_OK;
}

// ---- adding ---------------------------------------------------------------------------------

STDMETHODIMP CPL5Ctrl::AddFile(BSTR bstrFileName, BSTR bstrInputName)
{
    if (UploadRunningInChildMode() || !SiteAllowed())
        return S_OK;
    const std::wstring strPath = TextOf(bstrFileName);
    if (!ScriptPathAllowed(strPath))
        return S_OK;
    AddFiles({strPath}, EffectiveInputName(bstrInputName), false);
    return S_OK;
}

STDMETHODIMP CPL5Ctrl::AddTempFile(BSTR bstrFileName, ULONG nFileSize, BSTR bstrFileID)
{
    if (m_props.bChildMode)
        return S_OK;
    const std::wstring strPath = TextOf(bstrFileName);
    if (!SiteAllowed())
        return S_FALSE;
    // On a limited page the entry is a name the page gives, nothing more: its part is sent
    // without content, so nothing of the user's disk is read and there is nothing to ask about.
    const bool bNameOnly = ZoneLimited();
    if (bNameOnly ? !ScriptPathReachable(strPath) : !ScriptPathAllowed(strPath))
        return S_FALSE;
    const CFileList& list = m_list.List();
    if (m_props.nMaxFileCount != NO_COUNT_LIMIT && list.Count() >= m_props.nMaxFileCount)
        return S_FALSE;
    if (nFileSize > m_props.nMaxUnitFileSize)
        return S_FALSE;
    if (static_cast<ULONGLONG>(m_nListedTotal) + nFileSize > m_props.nMaxTotalFileSize)
        return S_FALSE;
    const std::wstring strId = TextOf(bstrFileID);
    FileEntry entry = MakeFileEntry(strPath.c_str(), nFileSize, L"", bstrFileID ? strId.c_str() : nullptr);
    entry.bNameOnly = bNameOnly ? 1 : 0;
    m_list.AppendEntry(entry, false);
    m_nListedTotal += nFileSize;
    AfterListChange();
    return S_OK;
}

STDMETHODIMP CPL5Ctrl::OpenFile(BSTR bstrInputName)
{
    if (UploadRunningInChildMode() || !SiteAllowed())
        return S_OK;
    EnsureLanguage();
    const std::wstring strInputName = EffectiveInputName(bstrInputName);
    const std::wstring strFilter = MakeDialogFilter(m_filters.Pairs(), PL5Lang::GetString(IDS_ALL_FILES));
    CFileDialogEx dialog(true,
                         OFN_ALLOWMULTISELECT | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_ENABLETEMPLATE |
                             OFN_ENABLETEMPLATEHANDLE,
                         strFilter, GetActiveWindow(), PL5Lang::FindDialog(IDD_FILE_PANEL));
    if (dialog.DoModal() != IDOK)
        return S_OK;
    AddFiles(dialog.SelectedPaths(), strInputName, true);
    return S_OK;
}

STDMETHODIMP CPL5Ctrl::SelectSingleFile(BSTR bstrFilterName, BSTR bstrFilterExt, VARIANT* pVal)
{
    if (!pVal)
        return E_POINTER;
    VariantInit(pVal);
    if (!SiteAllowed())
        return S_OK;
    EnsureLanguage();
    std::vector<CFilterPair> filter = {{TextOf(bstrFilterName), TextOf(bstrFilterExt)}};
    if (filter[0].strName.empty() || filter[0].strPattern.empty())
        filter.clear();  // the catch-all "All files"
    CFileDialogEx dialog(true, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                         MakeDialogFilter(filter, PL5Lang::GetString(IDS_ALL_FILES)), GetActiveWindow());
    if (dialog.DoModal() != IDOK)
        return S_OK;
    // The page asked for a file: it gets the chosen path (the list is not changed).
    pVal->vt = VT_BSTR;
    pVal->bstrVal = SysAllocString(dialog.Result());
    if (!pVal->bstrVal)
    {
        pVal->vt = VT_EMPTY;
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

STDMETHODIMP CPL5Ctrl::AppendFilter(VARIANT bstrName, VARIANT bstrExt)
{
    m_filters.AppendFrom(bstrName, bstrExt);
    return S_OK;
}

STDMETHODIMP CPL5Ctrl::ClearFilter()
{
    m_filters.Clear();
    return S_OK;
}

// ---- removing and moving --------------------------------------------------------------------

STDMETHODIMP CPL5Ctrl::RemoveAllFiles()
{
    // Cleared with or without the list window: a page that empties the list before the control
    // is shown must not upload the old files.
    Fire_OnRemoveItems();
    m_nListedTotal = 0;
    m_list.List().Clear();
    FollowListInChildMode();
    AfterListChange();
    return S_OK;
}

STDMETHODIMP CPL5Ctrl::RemoveSelectedFiles()
{
    CFileList& list = m_list.List();
    std::vector<size_t> marked;
    for (size_t nIndex : list.Selected())
    {
        VARIANT_BOOL vbRemove = VARIANT_TRUE;
        Fire_OnBeforeRemoveItem(static_cast<UINT>(nIndex), &vbRemove);
        if (vbRemove != VARIANT_FALSE)
            marked.push_back(nIndex);
    }
    // The entries go from the highest index down, each heard of by the page right after it
    // went: a handler sees the list as it is at that step, and the indices below it still name
    // the same entries. A handler that shortened the list meanwhile leaves indices that are
    // gone: those are skipped.
    list.ClearSelection();
    for (auto it = marked.rbegin(); it != marked.rend(); ++it)
    {
        if (*it >= list.Count())
            continue;
        const std::wstring strPath = list.At(*it).szFilePath;
        m_nListedTotal -= list.At(*it).nFileSize;
        list.EraseFalling(*it);
        Fire_OnAfterRemoveItem(strPath.c_str());
    }
    FollowListInChildMode();
    AfterListChange();
    return S_OK;
}

STDMETHODIMP CPL5Ctrl::RemoveFromIndex(UINT nItem)
{
    CFileList& list = m_list.List();
    if (nItem >= list.Count())
        return S_OK;
    m_nListedTotal -= list.At(nItem).nFileSize;
    list.EraseKeepingSelection(nItem);
    FollowListInChildMode();
    AfterListChange();
    return S_OK;
}

STDMETHODIMP CPL5Ctrl::MoveItem(LONG nIdx, LONG nMoveTo)
{
    if (!m_list.List().Move(nIdx, nMoveTo))
        return S_OK;
    FollowListInChildMode();
    const LONG nTarget = nIdx + nMoveTo;  // in range: Move checked it
    m_list.RedrawRows(static_cast<size_t>(nMoveTo < 0 ? nTarget : nIdx),
                      static_cast<size_t>(nMoveTo < 0 ? nIdx : nTarget));
    return S_OK;
}

// ---- ExcuteLocalFile's rule ----------------------------------------------------------------

bool CPL5Ctrl::MayExecute(const wchar_t* szPath) const
{
    // A page may only open web addresses and the files the user put into the list; anything
    // else (a program, a UNC path, a document of the page's choosing, a path the page listed
    // itself) would let any page run code on the user's machine. Even among the user's files,
    // programs, scripts, links and network paths are never opened at a page's request.
    const std::wstring strPath = szPath ? szPath : L"";
    auto startsWith = [&strPath](const wchar_t* szPrefix) {
        const size_t n = wcslen(szPrefix);
        return strPath.size() >= n && _wcsnicmp(strPath.c_str(), szPrefix, n) == 0;
    };
    if (startsWith(L"http://") || startsWith(L"https://"))
        return true;
    if (strPath.empty() || IsNetworkOrDevicePath(strPath) || IsDangerousToOpen(strPath))
        return false;
    const CFileList& list = m_list.List();
    for (size_t i = 0; i < list.Count(); ++i)
        if (list.ChosenByUser(i) && !list.At(i).bTempFile && _wcsicmp(list.At(i).szFilePath, strPath.c_str()) == 0)
            return true;
    return false;
}
