// CUploadDlg: the window that shows and controls one upload (current file, rate, per-file and
// overall progress with time left, file counter, status line, the list of the upload's files)
// and the upload's state and worker, which it inherits. The control owns one for its life.
//
// Modal: StartUpload prepares the upload (PrepareUpload) and runs the dialog (DoModal); the
// dialog's initialisation starts the worker and the dialog ends when the worker has ended.
// Child: the dialog is created once inside the control's window (Create); StartChildUpload
// starts each upload and the end is reported to the parent window as WM_USER+1 (complete),
// WM_USER+2 (cancel) or WM_USER+3 (error).
//
// Threads: the window and the upload list belong to the dialog's thread. The worker writes the
// progress counters (atomics) and asks the dialog's thread, by sent messages, to change the
// list and the texts; RefreshProgressTexts therefore runs on the dialog's thread only. The
// dialog never waits for a worker that may still send it a message: it waits only after the
// worker has cleared bRunning, and serves sent messages while it waits.
#pragma once
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "filelist/FileEntry.h"
#include "progress/Progress.h"
#include "progress/UploadListCtrl.h"
#include "ptl/TemplateDialog.h"
#include "ptl/UploadThread.h"

// Reports of a child-mode upload's end to the control window.
enum : UINT
{
    WM_UPLOAD_COMPLETE = WM_USER + 1,
    WM_UPLOAD_CANCEL = WM_USER + 2,
    WM_UPLOAD_ERROR = WM_USER + 3,
};

// How an upload ended, as the page is told.
enum class EUploadOutcome
{
    Complete,
    Redirect,
    Cancel,
    Error,
};

class CUploadDlg : public PTL::CTemplateDialogImpl<CUploadDlg>, public PTL::CUploadThread<CUploadDlg>
{
public:
    // The caption suffix of the default program title, the one that keeps "Powered by" shown.
    static constexpr const wchar_t* DEFAULT_TITLE_SUFFIX = L" - Pelora";

    CUploadDlg();
    ~CUploadDlg();

    // ---- settings, copied in by the control ----
    bool bSilent = false;      // SilentMode at the start of a modal upload
    SHORT nListHeight = -1;    // DialogListHeight; -1 keeps the template's
    std::wstring strTitle;     // caption suffix: " - " + ProgramTitle, or empty

    // Stores the suffix; with the window made, hides "Powered by" (and shortens the dialog by
    // it) unless the suffix is the default one, and shows the template's caption plus suffix.
    void SetTitle(const std::wstring& strSuffix);
    // Stores the height; with the window made and a height of 0 or more, gives the list that
    // height and the dialog the same change of height.
    void SetListHeight(SHORT nHeight);

    // ---- modal upload ----
    // The upload list becomes a copy of the files, one part per file is built under the form
    // field naming rule, the counters start from zero and the addresses are stored.
    void PrepareUpload(const std::vector<FileEntry>& files, bool bInputTypeArray, bool bInputNameFixed,
                       const std::wstring& strPageUrl, const std::wstring& strActionUrl);
    // Runs the dialog from template 102 of the active language pack until the upload has
    // ended. False when the dialog could not be made; the worker has not run then.
    bool DoModal(HWND hOwner);
    // The outcome of the last modal upload: a redirect first, then the flags.
    EUploadOutcome Outcome() const;

    // ---- child mode ----
    // Makes the dialog a child window of the control's window from a restyled copy of
    // template 102; no worker starts until StartChildUpload.
    HWND Create(HWND hParent);
    bool IsChild() const { return IsModeless() && m_hWnd.load() != nullptr; }
    // A file listed in child mode joins the upload list at once, as a part named "file".
    void AppendFile(const FileEntry& entry);
    // Starts an upload of the parts as they stand; false when one runs or no child exists.
    bool StartChildUpload(const std::wstring& strPageUrl, const std::wstring& strActionUrl);
    // Which of WM_UPLOAD_COMPLETE, _CANCEL or _ERROR reports the last child-mode upload.
    UINT ChildReport() const;

    // ---- called by the worker, on its thread ----
    void SetStatusText(UINT nId);
    void ResetTotalSent() { m_progress.ResetTotalSent(); }
    void BeginFile(int nIndex);
    void AddProgress(DWORD nBytes);
    void EndFile(int nIndex);
    void ResetWaitTicks() { nWaitTicks = 0; }
    void MakeInlineResponse(std::wstring& strResponse);

    // ---- progress ----
    void ResetProgress();
    void StartClock();
    void RefreshProgressTexts();

    const CUploadProgress& Progress() const { return m_progress; }
    const std::wstring& RateText() const { return strRateText; }
    const CUploadListCtrl& UploadList() const { return m_list; }

    BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult);

private:
    void OnInitDialog();
    void OnCloseRequest();
    void AskToCancel();
    void OnWaitTick();
    void OnBeginFile(size_t nIndex);
    void OnEndFile(size_t nIndex);
    void FinishRun();
    void StartRun();
    void WaitForWorker();
    void HidePoweredBy();
    void ResizeDialogBy(int nDelta);
    void SetItemText(int nId, const std::wstring& strText);
    static LONGLONG Now();

    std::vector<DWORD> m_childTemplate;  // restyled copy of template 102 for child mode
    CUploadListCtrl m_list;
    CUploadProgress m_progress;
    std::wstring strRateText;            // the last rate text shown
    std::wstring m_strBaseCaption;       // the template's caption, before any suffix
    std::atomic<int> nWaitTicks{0};      // ticks of the wait blink (timer 10)
    std::atomic<int> m_nFileBarPos{-1};  // positions last sent to the bars
    std::atomic<int> m_nTotalBarPos{-1};
    bool m_bRunPending = false;          // a run was started whose end is not yet handled
    bool m_bAsking = false;              // the cancel question is open
    bool m_bCloseDeferred = false;       // the worker ended while the question was open
};
