// CUploadDlg: the window that shows and controls one upload (current file, rate, per-file and
// overall progress with time left, file counter, status line, the list of the upload's files).
// It holds the upload engine and observes it. The control owns one for its life.
//
// Modal: StartUpload prepares the upload (PrepareUpload) and runs it (DoModal): the worker
// starts and the page is held; an upload still running after half a second gets its dialog,
// which shows what the worker has done so far and ends when the worker has ended. A silent
// upload, one without files and one that ends sooner make no window at all.
// Child: the dialog is created once inside the control's window (Create); StartChildUpload
// starts each upload and the end is reported to the parent window as WM_USER+1 (complete),
// WM_USER+2 (cancel) or WM_USER+3 (error).
//
// Threads: the window and the upload list belong to the dialog's thread. The worker writes the
// progress counters (atomics) and posts the changes of the list, the status line and the wait
// timer to the dialog's thread; it never waits for that thread, so a chunk costs no message.
// The refresh timer reads the counters and moves the bars and texts.
#pragma once
#include <windows.h>

#include <atomic>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "filelist/FileEntry.h"
#include "progress/Progress.h"
#include "progress/UploadListCtrl.h"
#include "ptl/Handle.h"
#include "ptl/TemplateDialog.h"
#include "upload/UploadEngine.h"

// Reports of a child-mode upload's end to the control window.
enum : UINT
{
    WM_UPLOAD_COMPLETE = WM_USER + 1,
    WM_UPLOAD_CANCEL = WM_USER + 2,
    WM_UPLOAD_ERROR = WM_USER + 3,
};

// Timers on the dialog window: progress texts and bars, the wait blink while the answer is
// awaited, and worker news held back until the last showing is old enough.
enum : UINT_PTR
{
    UPLOAD_TIMER_REFRESH = 1,
    UPLOAD_TIMER_WAIT = 10,
    UPLOAD_TIMER_NEWS = 11,
    UPLOAD_TIMER_RETRY = 12,  // the count down of the wait before another attempt
};

// What the dialog asks of the control that owns it, on the dialog's thread: the page's word
// before each wait for another attempt (false ends the upload as failed), and a reference that
// keeps the owner alive while a message the dialog handles may call page script, which may take
// the owner off its page (null while the owner is going).
class IUploadDlgOwner
{
public:
    virtual bool AllowRetry(const CUploadRetryWait& wait) = 0;
    virtual PTL::CComPtr<IUnknown> HoldForScript() = 0;

protected:
    ~IUploadDlgOwner() = default;
};

class CUploadDlg : public PTL::CTemplateDialogImpl<CUploadDlg>, private IUploadObserver
{
    // First member: the destructor stops it before anything it reports to goes.
    CUploadEngine m_engine{*this};

public:
    // The caption suffix of the default program title, the one that keeps "Powered by" shown.
    static constexpr const wchar_t* DEFAULT_TITLE_SUFFIX = L" - Pelora";

    CUploadDlg();
    ~CUploadDlg();

    // ---- the request and the outcome, as the control and the page see them ----
    // The extra form fields: they stay for every later upload until script clears them.
    CFormFields& FormFields() { return m_engine.State().FormFields; }
    // For the uploads that start from now on: the texts' encoding, whether the server's
    // certificate must be valid, and the step after the answer (empty for none).
    void SetRequestOptions(bool bUseUnicode, bool bVerifyCertificates, UploadAnswerStep answerStep);
    // For the uploads that start from now on: whether the action may not be in a more private
    // network than the page's (a page its zone guards).
    void SetPrivateNetworkRule(bool bApplies) { m_engine.State().bPrivateNetworkRule = bApplies; }
    // For the uploads that start from now on: false sends them without the user's cookies and
    // without logging on automatically (a page's upload to a site other than its own).
    void SetSendCredentials(bool bSend) { m_engine.State().bSendCredentials = bSend; }
    // For the uploads that start from now on: the attempts after a failed one, the first wait,
    // and who is asked before each wait (empty: nobody, the upload goes on).
    void SetRetry(ULONG nCount, DWORD nDelayMs, bool bAskOwner);
    // The control that owns the dialog, for as long as the dialog lives.
    void SetOwner(IUploadDlgOwner* pOwner) { m_pOwner = pOwner; }
    size_t PartCount() const { return m_engine.State().UploadParts.size(); }
    bool IsRunning() const { return m_engine.State().bRunning; }
    // How the last upload ended, its answer and the address a redirect named; read while no
    // upload runs.
    const CUploadResult& Result() const { return m_engine.State().Result; }
    const std::wstring& Response() const { return m_engine.State().szResponse; }
    const std::wstring& Location() const { return m_engine.State().szLocation; }

    // ---- settings, copied in by the control ----
    bool bSilent = false;    // SilentMode at the start of a modal upload
    SHORT nListHeight = -1;  // DialogListHeight; -1 keeps the template's
    std::wstring strTitle;   // caption suffix: " - " + ProgramTitle, or empty

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
    // Runs the upload until it has ended, shown in the dialog from template 102 of the active
    // language pack once it has run for half a second, or without any window when silent or
    // without files. False when the dialog
    // could not be made (the worker is stopped then) or a quit message ended the wait.
    bool DoModal(HWND hOwner);

    // ---- child mode ----
    // Makes the dialog a child window of the control's window from a restyled copy of
    // template 102; no worker starts until StartChildUpload.
    HWND Create(HWND hParent);
    bool IsChild() const { return IsModeless() && m_hWnd.load() != nullptr; }
    // A file listed in child mode joins the upload list at once, as a part named "file".
    void AppendFile(const FileEntry& entry);
    // The upload list and the file parts become the given files in order, each waiting, as if
    // appended one by one: for files listed before the window existed and after removals.
    void SetChildFiles(const std::vector<FileEntry>& files);
    // The control's window goes: a run under way ends here (the worker stopped within the
    // engine's bound, the language table released), then the window is destroyed and the list
    // emptied. True when a run was ended so, whose outcome no report will give.
    bool DestroyChild();
    // Starts an upload of the parts as they stand; false when one runs or no child exists. A
    // run that has ended but whose end was not yet handled is reported first.
    bool StartChildUpload(const std::wstring& strPageUrl, const std::wstring& strActionUrl);
    // A child-mode upload's end as it was when its run ended: the report message
    // (WM_UPLOAD_COMPLETE, _CANCEL or _ERROR) and the answer, whatever starts next.
    struct CChildReport
    {
        UINT nMessage = WM_UPLOAD_ERROR;
        std::wstring strResponse;
    };
    // Queues a report and posts its message to the control's window; false when neither was done.
    bool PostChildReport(UINT nMessage, const std::wstring& strResponse = std::wstring());
    // The oldest report not yet taken, in the order of the messages; false when none is left.
    bool TakeChildReport(CChildReport& report);
    // Stops a child-mode upload without a question (script's UploadCancel): before the next
    // chunk, or at once when a write blocks; the end is reported as usual.
    void Cancel() { m_engine.Cancel(); }
    bool HasWorker() const { return m_engine.HasWorker(); }

    // ---- progress ----
    void ResetProgress();
    void StartClock();
    void RefreshProgressTexts();

    const CUploadProgress& Progress() const { return m_progress; }
    const std::wstring& RateText() const { return strRateText; }
    const CUploadListCtrl& UploadList() const { return m_list; }

    BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult);
    // The owner held while the dialog handles a message (its retry question calls page script).
    PTL::CComPtr<IUnknown> HoldOwner() { return m_pOwner ? m_pOwner->HoldForScript() : PTL::CComPtr<IUnknown>(); }

private:
    void OnInitDialog();
    // Names the texts and bars for assistive technology after their captions.
    void LabelForAssistiveTechnology();
    void OnCloseRequest();
    void OnRunEnded();
    void AskToCancel();
    void OnWaitTick();
    void OnWorkerNews();
    void ShowWorkerNews();
    void ShowBars();
    void FinishRun();
    // Which report message the run that ended gets.
    UINT ChildReport() const;
    // Enables the page window a modal run disabled.
    void ReleasePage();
    // Starts the worker; with the window made, also the refresh timer.
    void StartRun();
    // Serves the page's messages while the worker runs, for at most nLimitMs (INFINITE: until
    // it ends); Quit when a quit message came, which is posted again for the outer loop.
    enum class EHold
    {
        Ended,
        Running,
        Quit,
    };
    EHold HoldPage(DWORD nLimitMs);
    // The window made while the worker runs takes up what the worker did before it existed.
    void CatchUpWithRun();
    void StopWorker();
    void HidePoweredBy();
    void ResizeDialogBy(int nDelta);
    // Child mode: spreads the template's layout over the whole client area of cx by cy pixels.
    void FillChild(int cx, int cy);
    void SetItemText(int nId, const std::wstring& strText);
    static LONGLONG Now();

    // IUploadObserver, on the worker's thread
    void OnStatus(EUploadStage nStage) override;
    void OnAttempt() override;
    void OnBeginFile(size_t nIndex) override;
    void OnProgress(DWORD nBytes) override;
    void OnEndFile(size_t nIndex) override;
    void OnWaitBegin() override;
    void OnWaitEnd() override;
    void OnFinished() override;
    bool OnRetryWait(const CUploadRetryWait& wait) override;
    void Post(UINT nMsg, WPARAM wParam);
    // On the dialog's thread: asks the question the worker waits on, if it still waits.
    void AnswerRetryQuestion();
    void ShowRetryWait();
    void PostNews();

    IUploadDlgOwner* m_pOwner = nullptr;
    std::vector<DWORD> m_childTemplate;       // restyled copy of template 102 for child mode
    std::deque<CChildReport> m_childReports;  // posted to the control, not yet taken
    CUploadListCtrl m_list;
    CUploadProgress m_progress;
    std::wstring strRateText;           // the last rate text shown
    std::wstring m_strBaseCaption;      // the template's caption, before any suffix
    std::atomic<int> nWaitTicks{0};     // ticks of the wait blink (timer 10)
    std::vector<LONGLONG> m_fileSizes;  // the listed sizes, taken for the worker at the start
    // What the worker has reached, for the dialog's thread to show: files begun and ended (as
    // counts) and the stage's text. One message at a time is on its way, however fast files go.
    std::atomic<size_t> m_nFilesBegun{0};
    std::atomic<size_t> m_nFilesEnded{0};
    std::atomic<UINT> m_nStatusId{0};
    std::atomic<bool> m_bNewsPosted{false};
    std::atomic<bool> m_bWaiting{false};  // between OnWaitBegin and OnWaitEnd
    ULONGLONG m_nNewsShownAt = 0;         // tick count of the last showing
    size_t m_nShownBegun = 0;
    size_t m_nShownEnded = 0;
    UINT m_nShownStatus = 0;
    int m_nFileBarPos = -1;  // positions last given to the bars
    int m_nTotalBarPos = -1;
    HWND m_hHeldPage = nullptr;     // the page's window, disabled by a modal run
    bool m_bLangHeld = false;       // the language table is kept for a run
    bool m_bRunPending = false;     // a run was started whose end is not yet handled
    bool m_bAsking = false;         // the cancel question is open
    bool m_bCloseDeferred = false;  // the worker ended while the question was open
    // Child mode: the template's margins right of and below the list, in pixels; -1 before the
    // dialog is made.
    int m_nRightMargin = -1;
    int m_nBottomMargin = -1;

    // The wait before another attempt: the question the worker waits on (written by the worker
    // before it raises m_bQuestionPending), the answer, and what the status line counts down.
    bool m_bAskRetry = false;  // the owner is asked before each wait
    CUploadRetryWait m_question;
    std::atomic<bool> m_bQuestionPending{false};
    std::atomic<bool> m_bRetryAllowed{true};
    PTL::CKernelHandle m_evQuestion{CreateEventW(nullptr, FALSE, FALSE, nullptr)};  // for a run without window
    PTL::CKernelHandle m_evAnswer{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<bool> m_bRetryWaiting{false};  // from the wait's announcement to the next attempt
    std::atomic<unsigned> m_nRetryAttempt{0};
    std::atomic<unsigned> m_nRetryAttempts{0};
    std::atomic<ULONGLONG> m_nRetryDue{0};  // tick count at which the next attempt starts
};
