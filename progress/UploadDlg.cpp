#include "progress/UploadDlg.h"
#include "progress/LabelFit.h"

#include <shlwapi.h>

#include <algorithm>
#include <new>
#include <initializer_list>
#include <utility>

#include "filelist/LimitMessages.h"
#include "lang/LangIds.h"
#include "lang/LangTable.h"
#include "ptl/Accessible.h"
#include "ptl/Dpi.h"
#include "ptl/Text.h"
#include "upload/UploadRequest.h"

namespace
{
// Posted by the worker so that the dialog's thread changes the list, the texts and the timers.
enum : UINT
{
    WM_PL5_NEWS = WM_APP + 0x51,   // files begun or ended, a new stage
    WM_PL5_WAIT = WM_APP + 0x54,   // wParam 1: the answer is awaited, 0: it came
    WM_PL5_RETRY = WM_APP + 0x55,  // wParam 0: a question waits for an answer, 1: the wait begins
    WM_PL5_ENDED = WM_APP + 0x56,  // the worker has ended (or never started)
};

// How often the count down of the wait before another attempt is redrawn.
const UINT RETRY_TICK_MS = 250;

const UINT REFRESH_MS = 500;
// An upload still running after this long gets its dialog; a shorter one ends without a window.
const DWORD DIALOG_DELAY_MS = 500;

// Files and stages are shown at most this often: small files can begin a thousand times a
// second, and redrawing the texts and rows for each would take the worker's processor time.
const ULONGLONG NEWS_MS = 100;

LONGLONG TicksPerSecond()
{
    LARGE_INTEGER li = {};
    QueryPerformanceFrequency(&li);
    return li.QuadPart;
}

RECT ChildRect(HWND hDialog, HWND hChild)
{
    RECT rc = {};
    GetWindowRect(hChild, &rc);
    MapWindowPoints(HWND_DESKTOP, hDialog, reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

// The string the status line shows for a stage.
UINT StageTextId(EUploadStage nStage)
{
    switch (nStage)
    {
    case EUploadStage::Preparing: return IDS_STAGE_PREPARING;
    case EUploadStage::Connecting: return IDS_STAGE_CONNECTING;
    case EUploadStage::Connected: return IDS_STAGE_CONNECTED;
    case EUploadStage::PreparingFile: return IDS_STAGE_PREPARE_FILES;
    case EUploadStage::SendingFile: return IDS_STAGE_SENDING;
    case EUploadStage::SendingFields:
    case EUploadStage::Waiting:
    case EUploadStage::Answered: return IDS_STAGE_PROCESSING;
    case EUploadStage::Reading: return IDS_STAGE_ASKING;
    case EUploadStage::Decoding:
    case EUploadStage::Inline: return IDS_STAGE_RESULT;
    case EUploadStage::Done: return IDS_STAGE_DONE;
    case EUploadStage::Cancelled: return IDS_UPLOAD_CANCELLED;
    case EUploadStage::Failed: return IDS_UPLOAD_FAILED;
    }
    return IDS_STAGE_PROCESSING;
}

// Every file of a child-mode upload is a part named "file".
UploadPart ChildModePart(const FileEntry& entry) { return MakeUploadPart(L"file", entry.szFilePath); }
}  // namespace

CUploadDlg::CUploadDlg() : m_progress(TicksPerSecond()) {}

CUploadDlg::~CUploadDlg()
{
    // The worker reports to this object: cut it off from the window, then end it at whatever
    // stage it is, within the engine's bound.
    const HWND hWnd = m_hWnd.exchange(nullptr);
    if (hWnd && IsWindow(hWnd))
    {
        SetWindowLongPtrW(hWnd, DWLP_USER, 0);
        m_list.Detach();
        ::DestroyWindow(hWnd);
    }
    StopWorker();
}

LONGLONG CUploadDlg::Now()
{
    LARGE_INTEGER li = {};
    QueryPerformanceCounter(&li);
    return li.QuadPart;
}

// ---- settings --------------------------------------------------------------------------------

void CUploadDlg::SetTitle(const std::wstring& strSuffix)
{
    strTitle = strSuffix;
    const HWND hWnd = m_hWnd;
    if (!hWnd || !m_list.Handle())
        return;
    if (strSuffix != DEFAULT_TITLE_SUFFIX)
        HidePoweredBy();
    // From the template's caption each time, so a second title replaces the first.
    SetWindowTextW(hWnd, (m_strBaseCaption + strSuffix).c_str());
}

void CUploadDlg::HidePoweredBy()
{
    const HWND hWnd = m_hWnd;
    const HWND hPowered = GetDlgItem(hWnd, IDC_POWERED_BY);
    if (!hPowered || !(GetWindowLongPtrW(hPowered, GWL_STYLE) & WS_VISIBLE))
        return;  // hidden for good already: the dialog is not shortened twice
    const RECT rcList = ChildRect(hWnd, m_list.Handle());
    const RECT rcPowered = ChildRect(hWnd, hPowered);
    ShowWindow(hPowered, SW_HIDE);
    const int nGap = rcPowered.bottom - rcList.bottom;
    if (nGap > 0)
        ResizeDialogBy(-nGap);
}

void CUploadDlg::SetListHeight(SHORT nHeight)
{
    nListHeight = nHeight;
    const HWND hWnd = m_hWnd;
    const HWND hList = m_list.Handle();
    // -1 keeps the template's layout; other negative heights mean nothing a list could have.
    if (!hWnd || !hList || nHeight < 0)
        return;
    // Page pixels, scaled as the page's own elements are.
    const int nPixels = PTL::ScaleForDpi(nHeight, PTL::WindowDpi(hWnd));
    const RECT rcList = ChildRect(hWnd, hList);
    const int nDelta = nPixels - (rcList.bottom - rcList.top);
    if (nDelta == 0)
        return;
    SetWindowPos(hList, nullptr, 0, 0, rcList.right - rcList.left, nPixels, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (const HWND hPowered = GetDlgItem(hWnd, IDC_POWERED_BY))
    {
        const RECT rcPowered = ChildRect(hWnd, hPowered);
        SetWindowPos(hPowered, nullptr, rcPowered.left, rcPowered.top + nDelta, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ResizeDialogBy(nDelta);
}

void CUploadDlg::ResizeDialogBy(int nDelta)
{
    // A child dialog fills the control: its size is the control's layout, and its controls
    // take what was given up. Shrunk from the control's height instead of its template's, it
    // would cut off its own list.
    const HWND hWnd = m_hWnd;
    RECT rc = {};
    if (IsModeless())
    {
        GetClientRect(hWnd, &rc);
        FillChild(rc.right, rc.bottom);
        return;
    }
    GetWindowRect(hWnd, &rc);
    int nHeight = rc.bottom - rc.top + nDelta;
    if (nHeight < 0)
        nHeight = 0;
    SetWindowPos(hWnd, nullptr, 0, 0, rc.right - rc.left, nHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---- preparing and running ------------------------------------------------------------------

void CUploadDlg::PrepareUpload(const std::vector<FileEntry>& files, bool bInputTypeArray, bool bInputNameFixed,
                               const std::wstring& strPageUrl, const std::wstring& strActionUrl)
{
    m_engine.State().szPageUrl = strPageUrl;
    m_engine.State().szActionUrl = strActionUrl;
    m_list.SetEntries(files);
    ::BuildUploadParts(files, bInputTypeArray, bInputNameFixed, m_engine.State().UploadParts);
    ResetProgress();
}

bool CUploadDlg::DoModal(HWND hOwner)
{
    // The pack's block is only read while the dialog is made; the language table keeps it
    // while an upload is counted.
    PL5Lang::BeginUpload();
    bool bRan = false;
    const bool bShown = !bSilent && PartCount() > 0;
    const PL5Lang::CLangBlock* pBlock = bShown ? PL5Lang::FindDialog(IDD_UPLOAD) : nullptr;
    if (!bShown || (pBlock && !pBlock->data.empty()))
    {
        // The page is held as a modal dialog holds it: its window disabled, its messages served.
        const HWND hRoot = hOwner ? GetAncestor(hOwner, GA_ROOT) : nullptr;
        m_hHeldPage = hRoot && !EnableWindow(hRoot, FALSE) ? hRoot : nullptr;
        StartRun();
        // Making and showing the dialog takes longer than a small upload: it is made only for
        // an upload still running after DIALOG_DELAY_MS, and then catches up with the worker.
        const EHold nHold = HoldPage(bShown ? DIALOG_DELAY_MS : INFINITE);
        if (nHold == EHold::Ended)
        {
            FinishRun();
            bRan = true;
        }
        else if (nHold == EHold::Running)
        {
            const INT_PTR nResult = CTemplateDialogImpl::DoModal(pBlock->data.data(), hOwner);
            bRan = nResult != -1 && nResult != 0;
        }
        ReleasePage();
    }
    PL5Lang::EndUpload();
    // A dialog that ended before its worker (its window was taken down from outside) must
    // leave no worker behind.
    StopWorker();
    m_bRunPending = false;
    return bRan;
}

CUploadDlg::EHold CUploadDlg::HoldPage(DWORD nLimitMs)
{
    const ULONGLONG nStart = GetTickCount64();
    for (;;)
    {
        const HANDLE handles[] = {m_engine.Thread(), m_evQuestion.Get()};
        if (!handles[0])
            return EHold::Ended;
        // Painting waits for the first DIALOG_DELAY_MS, as it waits while a script runs: a
        // short upload returns before the page's drawing could take its time. After that the
        // page is painted as under any modal dialog.
        const ULONGLONG nElapsed = GetTickCount64() - nStart;
        const bool bPaint = nElapsed >= DIALOG_DELAY_MS;
        if (nLimitMs != INFINITE && nElapsed >= nLimitMs)
            return EHold::Running;
        ULONGLONG nWaitMs = nLimitMs == INFINITE ? INFINITE : nLimitMs - nElapsed;
        if (!bPaint)
            nWaitMs = std::min<ULONGLONG>(nWaitMs, DIALOG_DELAY_MS - nElapsed);
        const DWORD nWait = MsgWaitForMultipleObjects(2, handles, FALSE, static_cast<DWORD>(nWaitMs),
                                                      bPaint ? QS_ALLINPUT : QS_ALLINPUT & ~QS_PAINT);
        if (nWait == WAIT_OBJECT_0)
            return EHold::Ended;
        if (nWait == WAIT_OBJECT_0 + 1)
        {
            // No window yet: the page is asked about another attempt from here.
            AnswerRetryQuestion();
            continue;
        }
        if (nWait == WAIT_TIMEOUT)
            continue;
        if (nWait != WAIT_OBJECT_0 + 2)
            return EHold::Ended;
        const UINT nFilter = bPaint ? 0 : PM_QS_INPUT | PM_QS_POSTMESSAGE | PM_QS_SENDMESSAGE;
        for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | nFilter);)
        {
            if (msg.message == WM_QUIT)
            {
                // As a modal dialog does: the quit ends the run and is left for the outer loop.
                PostQuitMessage(static_cast<int>(msg.wParam));
                return EHold::Quit;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

void CUploadDlg::SetRequestOptions(bool bUseUnicode, bool bVerifyCertificates, UploadAnswerStep answerStep)
{
    CUploadState& s = m_engine.State();
    s.bUseUnicode = bUseUnicode;
    s.bVerifyCertificates = bVerifyCertificates;
    s.AnswerStep = std::move(answerStep);
}

void CUploadDlg::SetRetry(ULONG nCount, DWORD nDelayMs, bool bAskOwner)
{
    CUploadState& s = m_engine.State();
    s.nRetryCount = nCount;
    s.nRetryDelayMs = nDelayMs;
    m_bAskRetry = bAskOwner;
}

void CUploadDlg::FillChild(int cx, int cy)
{
    const HWND hWnd = m_hWnd;
    const HWND hList = m_list.Handle();
    if (!hWnd || !hList || m_nRightMargin < 0)
        return;
    // Dialog units do not grow exactly with the DPI, so the template's layout rarely fits the
    // control's box: the texts, bars and list take the width it has, and the list its height
    // unless the page set one.
    const RECT rcList = ChildRect(hWnd, hList);
    const HWND hPowered = GetDlgItem(hWnd, IDC_POWERED_BY);
    const bool bPowered = hPowered && (GetWindowLongPtrW(hPowered, GWL_STYLE) & WS_VISIBLE);
    const int dx = cx - m_nRightMargin - rcList.right;
    const int dy = nListHeight < 0 ? cy - m_nBottomMargin - (bPowered ? ChildRect(hWnd, hPowered) : rcList).bottom : 0;
    if (dx == 0 && dy == 0)
        return;
    static const int WIDER[] = {IDC_CURRENT_FILE, IDC_TRANSFER_RATE, IDC_FILE_BYTES,     IDC_FILE_PROGRESS,
                                IDC_FILE_COUNT,   IDC_TOTAL_BYTES,   IDC_TOTAL_PROGRESS, IDC_STATUS_TEXT};
    static const int RIGHT[] = {IDC_FILE_TIME_LEFT, IDC_TOTAL_TIME_LEFT, IDC_HIDE_LIST};
    static const int CORNER[] = {IDOK, IDCANCEL, IDC_POWERED_BY};
    const auto Shift = [hWnd](int nId, int nLeft, int nTop, int nWidth, int nHeight) {
        const HWND hChild = GetDlgItem(hWnd, nId);
        if (!hChild)
            return;
        const RECT rc = ChildRect(hWnd, hChild);
        SetWindowPos(hChild, nullptr, rc.left + nLeft, rc.top + nTop, std::max(0, int(rc.right - rc.left) + nWidth),
                     std::max(0, int(rc.bottom - rc.top) + nHeight), SWP_NOZORDER | SWP_NOACTIVATE);
    };
    for (int nId : WIDER)
        Shift(nId, 0, 0, dx, 0);
    for (int nId : RIGHT)
        Shift(nId, dx, 0, 0, 0);
    for (int nId : CORNER)
        Shift(nId, dx, dy, 0, 0);
    Shift(IDC_UPLOAD_LIST, 0, 0, dx, dy);
    // The name column takes the width the list gained or gave up.
    const int nName = static_cast<int>(SendMessageW(hList, LVM_GETCOLUMNWIDTH, 0, 0));
    SendMessageW(hList, LVM_SETCOLUMNWIDTH, 0, MAKELPARAM(std::max(0, nName + dx), 0));
    InvalidateRect(hWnd, nullptr, TRUE);
}

HWND CUploadDlg::Create(HWND hParent)
{
    if (m_hWnd)
        return m_hWnd;
    const PL5Lang::CLangBlock* pBlock = PL5Lang::FindDialog(IDD_UPLOAD);
    if (!pBlock || pBlock->data.empty())
        return nullptr;
    // Embedded in the control: no frame, no caption, a visible child.
    m_childTemplate = PTL::RestyleDialogTemplate(pBlock->data.data(), pBlock->data.size(),
                                                 WS_POPUP | WS_CHILD | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME,
                                                 WS_CHILD | WS_VISIBLE, WS_EX_TOOLWINDOW);
    if (m_childTemplate.empty())
        return nullptr;
    return CTemplateDialogImpl::Create(m_childTemplate.data(), hParent);
}

void CUploadDlg::AppendFile(const FileEntry& entry)
{
    m_list.Append(entry);
    m_engine.State().UploadParts.push_back(ChildModePart(entry));
}

void CUploadDlg::SetChildFiles(const std::vector<FileEntry>& files)
{
    std::vector<FileEntry> entries = files;
    std::vector<UploadPart> parts;
    for (FileEntry& entry : entries)
    {
        entry.nUploadState = UPLOAD_STATE_WAITING;
        parts.push_back(ChildModePart(entry));
    }
    m_list.SetEntries(entries);
    m_engine.State().UploadParts.swap(parts);
    m_list.RedrawAll();
}

bool CUploadDlg::DestroyChild()
{
    const bool bEnded = m_bRunPending;
    m_bRunPending = false;
    m_bCloseDeferred = false;
    m_childReports.clear();
    // No window will take the worker's last message: it is stopped here, not waited for later.
    StopWorker();
    DestroyWindow();
    // A window made later starts as the first one did, and takes the listed files then.
    SetChildFiles({});
    return bEnded;
}

bool CUploadDlg::StartChildUpload(const std::wstring& strPageUrl, const std::wstring& strActionUrl)
{
    if (IsRunning() || !IsChild())
        return false;
    // The worker has ended and its close is still on its way: the run's report goes first,
    // from the run's own outcome and answer, before the next run replaces them.
    if (m_bRunPending && !m_bAsking)
        FinishRun();
    if (m_bRunPending)
        return false;
    m_engine.State().szPageUrl = strPageUrl;
    m_engine.State().szActionUrl = strActionUrl;
    ResetProgress();
    m_list.RedrawAll();
    StartRun();
    return true;
}

bool CUploadDlg::PostChildReport(UINT nMessage, const std::wstring& strResponse)
{
    const HWND hWnd = m_hWnd;
    CChildReport report;
    report.nMessage = nMessage;
    try
    {
        report.strResponse = strResponse;
        m_childReports.push_back(std::move(report));
    }
    catch (const std::bad_alloc&)
    {
        return false;  // an answer that cannot be kept is not delivered
    }
    if (hWnd && PostMessageW(GetParent(hWnd), nMessage, 0, 0))
        return true;
    m_childReports.pop_back();
    return false;
}

bool CUploadDlg::TakeChildReport(CChildReport& report)
{
    if (m_childReports.empty())
        return false;
    report = std::move(m_childReports.front());
    m_childReports.pop_front();
    return true;
}

UINT CUploadDlg::ChildReport() const
{
    // A redirect is complete here: the page stays, the event tells it the upload arrived.
    switch (Result().nOutcome)
    {
    case EUploadOutcome::Completed:
    case EUploadOutcome::Redirected: return WM_UPLOAD_COMPLETE;
    case EUploadOutcome::Cancelled: return WM_UPLOAD_CANCEL;
    case EUploadOutcome::None:
    case EUploadOutcome::Failed: break;
    }
    return WM_UPLOAD_ERROR;
}

void CUploadDlg::StartRun()
{
    const HWND hWnd = m_hWnd;
    if (hWnd)
        SetTimer(hWnd, UPLOAD_TIMER_REFRESH, REFRESH_MS, nullptr);
    StartClock();
    m_bRunPending = true;
    // The worker reads the sizes while script may list more files in child mode.
    m_fileSizes.clear();
    for (const FileEntry& entry : m_list.Entries())
        m_fileSizes.push_back(static_cast<LONGLONG>(entry.nFileSize));
    m_nFilesBegun = m_nFilesEnded = m_nShownBegun = m_nShownEnded = 0;
    m_nStatusId = m_nShownStatus = 0;
    m_bNewsPosted = false;
    m_bWaiting = false;
    m_bRetryWaiting = false;
    m_bQuestionPending = false;
    if (!m_bLangHeld)
    {
        PL5Lang::BeginUpload();
        m_bLangHeld = true;
    }
    if (!m_engine.Start() && hWnd)
    {
        // No thread: the run ends at once, as failed, through the usual end.
        KillTimer(hWnd, UPLOAD_TIMER_REFRESH);
        PostMessageW(hWnd, WM_PL5_ENDED, 0, 0);
    }
}

void CUploadDlg::CatchUpWithRun()
{
    // The worker started before the window existed, and what it posted then went nowhere.
    // It reads the window before each post and this thread stored it before these reads, so
    // whatever was lost is seen here (and what was not may arrive twice, which is harmless).
    const HWND hWnd = m_hWnd;
    SetTimer(hWnd, UPLOAD_TIMER_REFRESH, REFRESH_MS, nullptr);
    if (m_bWaiting)
    {
        nWaitTicks = 0;
        SetTimer(hWnd, UPLOAD_TIMER_WAIT, REFRESH_MS, nullptr);
    }
    ShowWorkerNews();
    if (m_bQuestionPending)
        PostMessageW(hWnd, WM_PL5_RETRY, 0, 0);
    if (m_bRetryWaiting)
        ShowRetryWait();
    if (!IsRunning())
        PostMessageW(hWnd, WM_PL5_ENDED, 0, 0);
}

void CUploadDlg::StopWorker()
{
    if (m_engine.HasWorker() && !m_engine.Abort())
        m_engine.Abandon();
    if (m_bLangHeld)
    {
        PL5Lang::EndUpload();
        m_bLangHeld = false;
    }
}

// ---- window --------------------------------------------------------------------------------

BOOL CUploadDlg::ProcessWindowMessage(HWND, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult)
{
    lResult = 0;
    switch (uMsg)
    {
    case WM_INITDIALOG:
        OnInitDialog();
        lResult = TRUE;
        return TRUE;
    case WM_TIMER:
        if (wParam == UPLOAD_TIMER_REFRESH)
        {
            RefreshProgressTexts();
            ShowBars();
        }
        else if (wParam == UPLOAD_TIMER_WAIT)
            OnWaitTick();
        else if (wParam == UPLOAD_TIMER_RETRY)
            ShowRetryWait();
        else if (wParam == UPLOAD_TIMER_NEWS)
        {
            KillTimer(m_hWnd, UPLOAD_TIMER_NEWS);
            ShowWorkerNews();
        }
        else
            return FALSE;
        return TRUE;
    case WM_CLOSE: OnCloseRequest(); return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL)
        {
            OnCloseRequest();
            return TRUE;
        }
        if (LOWORD(wParam) == IDOK)
            return TRUE;  // Enter does nothing
        return ReflectNotifications(uMsg, wParam, lParam, lResult);
    case WM_PL5_NEWS: OnWorkerNews(); return TRUE;
    case WM_PL5_ENDED: OnRunEnded(); return TRUE;
    case WM_PL5_WAIT:
        if (wParam)
        {
            nWaitTicks = 0;
            SetTimer(m_hWnd, UPLOAD_TIMER_WAIT, REFRESH_MS, nullptr);
        }
        else
            KillTimer(m_hWnd, UPLOAD_TIMER_WAIT);
        return TRUE;
    case WM_PL5_RETRY:
        if (wParam)
        {
            // Every file goes again: the rows wait, the bars start from zero.
            m_list.ResetStates();
            m_list.RedrawAll();
            m_nShownBegun = m_nShownEnded = 0;
            ShowBars();
            ShowRetryWait();
        }
        else
            AnswerRetryQuestion();
        return TRUE;
    case WM_SIZE:
        if (IsModeless())
            FillChild(LOWORD(lParam), HIWORD(lParam));
        return FALSE;
    case WM_DESTROY: m_list.Detach(); return FALSE;
    default: return ReflectNotifications(uMsg, wParam, lParam, lResult);
    }
}

void CUploadDlg::OnInitDialog()
{
    const HWND hWnd = m_hWnd;
    WCHAR szCaption[256] = L"";
    GetWindowTextW(hWnd, szCaption, 256);
    m_strBaseCaption = szCaption;
    m_nFileBarPos = -1;
    m_nTotalBarPos = -1;

    m_list.Attach(GetDlgItem(hWnd, IDC_UPLOAD_LIST));
    if (IsModeless())
    {
        RECT rcClient = {};
        GetClientRect(hWnd, &rcClient);
        const RECT rcList = ChildRect(hWnd, m_list.Handle());
        const HWND hPowered = GetDlgItem(hWnd, IDC_POWERED_BY);
        m_nRightMargin = rcClient.right - rcList.right;
        m_nBottomMargin = rcClient.bottom - (hPowered ? ChildRect(hWnd, hPowered) : rcList).bottom;
    }
    FitDialogLabels(hWnd);
    LabelForAssistiveTechnology();
    SetTitle(strTitle);
    SetListHeight(nListHeight);
    m_list.SetupView();
    SendDlgItemMessageW(hWnd, IDC_FILE_PROGRESS, PBM_SETRANGE32, 0, 100);
    SendDlgItemMessageW(hWnd, IDC_TOTAL_PROGRESS, PBM_SETRANGE32, 0, 100);

    if (IsModeless())
        return;  // child mode: StartChildUpload starts each upload

    // The template's sample values ("temp.file") would stand for a file that is not sent.
    SetItemText(IDC_CURRENT_FILE, std::wstring());
    SetItemText(IDC_FILE_COUNT, L"0 / " + std::to_wstring(m_list.Count()));
    RefreshProgressTexts();
    CatchUpWithRun();
}

void CUploadDlg::LabelForAssistiveTechnology()
{
    const HWND hWnd = m_hWnd;
    // A text is read as its caption's name with the text as its value ("Transfer Rate",
    // "12.5KB/s"); a bar by the caption that heads its group, with its percentage.
    std::wstring strCurrentFile, strAllFiles;
    for (HWND hLabel : DialogLabels(hWnd))
    {
        const HWND hValue = LabelledControl(hWnd, hLabel);
        if (!hValue)
            continue;
        PTL::CAccessibleFacts facts;
        facts.strName = PTL::NameFromLabel(PTL::WindowText(hLabel));
        facts.nRole = ROLE_SYSTEM_STATICTEXT;
        facts.value = PTL::EAccessibleValue::WindowText;
        PTL::AnnotateWindow(hValue, facts);
        if (hValue == GetDlgItem(hWnd, IDC_CURRENT_FILE))
            strCurrentFile = facts.strName;
        else if (hValue == GetDlgItem(hWnd, IDC_FILE_COUNT))
            strAllFiles = facts.strName;
    }
    for (const auto& bar :
         {std::make_pair(IDC_FILE_PROGRESS, strCurrentFile), std::make_pair(IDC_TOTAL_PROGRESS, strAllFiles)})
    {
        PTL::CAccessibleFacts facts;
        facts.strName = bar.second;
        facts.nRole = ROLE_SYSTEM_PROGRESSBAR;
        facts.value = PTL::EAccessibleValue::ProgressPercent;
        PTL::AnnotateWindow(GetDlgItem(hWnd, bar.first), facts);
    }
}

void CUploadDlg::OnCloseRequest()
{
    if (IsRunning())
    {
        // The worker may still send to this window, so it is never waited for here. Only while
        // the body goes out, another attempt is awaited or the answer is overdue can the user
        // stop it; the worker's own WM_PL5_ENDED ends the dialog.
        if (!m_bAsking && !m_engine.State().bStopRequested && (m_engine.MayStop() || m_bRetryWaiting))
            AskToCancel();
        return;
    }
    OnRunEnded();
}

void CUploadDlg::OnRunEnded()
{
    // A late message of a run already handled (a child run finished early for the next one).
    if (IsRunning() || !m_bRunPending)
        return;
    if (m_bAsking)
    {
        m_bCloseDeferred = true;  // finish once the question is answered
        return;
    }
    FinishRun();
}

void CUploadDlg::AskToCancel()
{
    m_bAsking = true;
    // The worker stops at its next chunk boundary, where it holds nothing this thread needs;
    // messages it sends before it gets there are served by the question's own message loop.
    m_engine.Pause();
    RefreshProgressTexts();
    const int nAnswer = MessageBoxW(m_hWnd, PL5Lang::GetString(IDS_CANCEL_QUESTION).c_str(),
                                    PL5Lang::MessageCaption().c_str(), MB_YESNO | MB_ICONQUESTION);
    if (nAnswer == IDYES && IsRunning())
        m_engine.Cancel();
    // The time the question was open is no sending time.
    StartClock();
    m_engine.Resume();
    m_bAsking = false;
    if (m_bCloseDeferred)
    {
        m_bCloseDeferred = false;
        OnCloseRequest();
    }
}

void CUploadDlg::FinishRun()
{
    m_bRunPending = false;
    const HWND hWnd = m_hWnd;
    if (hWnd)
    {
        KillTimer(hWnd, UPLOAD_TIMER_REFRESH);
        KillTimer(hWnd, UPLOAD_TIMER_WAIT);
        KillTimer(hWnd, UPLOAD_TIMER_NEWS);
        KillTimer(hWnd, UPLOAD_TIMER_RETRY);
    }
    // bRunning is clear: the worker only posts WM_PL5_ENDED before it ends.
    m_engine.Join();
    if (m_bLangHeld)
    {
        PL5Lang::EndUpload();
        m_bLangHeld = false;
    }
    // The final files and figures, which the timers may not have shown.
    ShowWorkerNews();
    RefreshProgressTexts();
    ShowBars();
    if (!hWnd)
        return;
    if (IsModeless())
        PostChildReport(ChildReport(), Response());
    else
    {
        // The page is enabled while the dialog still stands: the activation then goes back to
        // the page as the dialog goes, not to another application's window.
        ReleasePage();
        EndDialog(1);
    }
}

void CUploadDlg::ReleasePage()
{
    if (m_hHeldPage)
        EnableWindow(m_hHeldPage, TRUE);
    m_hHeldPage = nullptr;
}

void CUploadDlg::OnWaitTick()
{
    const int nTicks = ++nWaitTicks;
    // The first five seconds of waiting keep the stage's text; then it blinks every half second.
    if (nTicks <= 10)
        return;
    SetItemText(IDC_STATUS_TEXT, nTicks % 2 == 0 ? PL5Lang::GetString(IDS_STAGE_PROCESSING) : std::wstring());
}

void CUploadDlg::SetItemText(int nId, const std::wstring& strText)
{
    const HWND hWnd = m_hWnd;
    if (hWnd)
        SetDlgItemTextW(hWnd, nId, strText.c_str());
}

// ---- worker calls ----------------------------------------------------------------------------

void CUploadDlg::Post(UINT nMsg, WPARAM wParam)
{
    const HWND hWnd = m_hWnd;
    if (hWnd)
        PostMessageW(hWnd, nMsg, wParam, 0);
}

void CUploadDlg::PostNews()
{
    if (!m_bNewsPosted.exchange(true))
        Post(WM_PL5_NEWS, 0);
}

void CUploadDlg::OnStatus(EUploadStage nStage)
{
    m_nStatusId = StageTextId(nStage);
    PostNews();
}

void CUploadDlg::OnBeginFile(size_t nIndex)
{
    // The counters first, on this thread, so that the chunks that follow count for this file.
    m_progress.BeginFile(nIndex < m_fileSizes.size() ? m_fileSizes[nIndex] : 0);
    m_nFilesBegun = nIndex + 1;
    PostNews();
}

void CUploadDlg::OnProgress(DWORD nBytes) { m_progress.Add(nBytes, Now()); }

void CUploadDlg::OnEndFile(size_t nIndex)
{
    m_nFilesEnded = nIndex + 1;
    PostNews();
}

void CUploadDlg::OnWaitBegin()
{
    m_bWaiting = true;
    Post(WM_PL5_WAIT, 1);
}

void CUploadDlg::OnWaitEnd()
{
    m_bWaiting = false;
    Post(WM_PL5_WAIT, 0);
}

void CUploadDlg::OnFinished() { Post(WM_PL5_ENDED, 0); }

void CUploadDlg::OnAttempt()
{
    m_bRetryWaiting = false;
    m_progress.ResetTotalSent();
}

bool CUploadDlg::OnRetryWait(const CUploadRetryWait& wait)
{
    // The user may stop the upload from here on, while the page is asked too.
    m_bRetryWaiting = true;
    if (m_bAskRetry && m_pOwner)
    {
        // The page answers on the dialog's thread; this thread waits for it, or for a stop.
        m_question = wait;
        ResetEvent(m_evAnswer.Get());
        m_bRetryAllowed = true;
        m_bQuestionPending = true;
        SetEvent(m_evQuestion.Get());
        Post(WM_PL5_RETRY, 0);
        const HANDLE handles[] = {m_evAnswer.Get(), wait.hStop};
        WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        // A stop that came first leaves no question for the page.
        m_bQuestionPending = false;
        if (!m_bRetryAllowed)
        {
            m_bRetryWaiting = false;
            return false;
        }
    }
    m_nRetryAttempt = wait.nAttempt;
    m_nRetryAttempts = wait.nAttempts;
    m_nRetryDue = GetTickCount64() + wait.nDelayMs;
    m_progress.ResetTotalSent();
    m_progress.nFilePercent = 0;
    m_nFilesBegun = 0;
    m_nFilesEnded = 0;
    Post(WM_PL5_RETRY, 1);
    return true;
}

void CUploadDlg::AnswerRetryQuestion()
{
    if (!m_bQuestionPending.exchange(false))
        return;  // answered already, or the worker was stopped meanwhile
    const CUploadRetryWait wait = m_question;
    m_bRetryAllowed = !m_pOwner || m_pOwner->AllowRetry(wait);
    SetEvent(m_evAnswer.Get());
}

void CUploadDlg::ShowRetryWait()
{
    const HWND hWnd = m_hWnd;
    if (!hWnd)
        return;
    if (!m_bRetryWaiting)
    {
        // The next attempt began: its stage shows again.
        KillTimer(hWnd, UPLOAD_TIMER_RETRY);
        m_nShownStatus = 0;
        ShowWorkerNews();
        return;
    }
    const ULONGLONG nNow = GetTickCount64();
    const ULONGLONG nDue = m_nRetryDue;
    const unsigned nSeconds = nDue > nNow ? static_cast<unsigned>((nDue - nNow + 999) / 1000) : 0;
    SetItemText(IDC_STATUS_TEXT, FormatPackText(PL5Lang::GetString(IDS_STAGE_RETRYING).c_str(), nSeconds,
                                                m_nRetryAttempt.load(), m_nRetryAttempts.load()));
    SetTimer(hWnd, UPLOAD_TIMER_RETRY, RETRY_TICK_MS, nullptr);
}

void CUploadDlg::OnWorkerNews()
{
    // The flag stays set while the news waits, so the worker posts nothing more meanwhile.
    const ULONGLONG nSince = GetTickCount64() - m_nNewsShownAt;
    if (nSince < NEWS_MS)
        SetTimer(m_hWnd, UPLOAD_TIMER_NEWS, static_cast<UINT>(NEWS_MS - nSince), nullptr);
    else
        ShowWorkerNews();
}

void CUploadDlg::ShowWorkerNews()
{
    // Cleared first: news that comes while this runs posts the next message.
    m_bNewsPosted = false;
    m_nNewsShownAt = GetTickCount64();
    const UINT nStatus = m_nStatusId;
    // The wait before another attempt has its own line.
    if (nStatus != m_nShownStatus && !m_bRetryWaiting)
    {
        m_nShownStatus = nStatus;
        SetItemText(IDC_STATUS_TEXT, PL5Lang::GetString(nStatus));
    }
    const size_t nCount = m_list.Count();
    const size_t nBegun = std::min(m_nFilesBegun.load(), nCount);
    const size_t nEnded = std::min(m_nFilesEnded.load(), nCount);
    if (nBegun < m_nShownBegun)
        m_nShownBegun = m_nShownEnded = 0;  // a new attempt sends every file again
    if (nBegun == m_nShownBegun && nEnded == m_nShownEnded)
        return;
    for (size_t i = m_nShownBegun; i < nBegun; ++i)
        m_list.SetState(i, i < nEnded ? UPLOAD_STATE_DONE : UPLOAD_STATE_SENDING);
    for (size_t i = m_nShownEnded; i < nEnded && i < m_nShownBegun; ++i)
        m_list.SetState(i, UPLOAD_STATE_DONE);
    const size_t nFirst = std::min(m_nShownBegun, m_nShownEnded);
    for (size_t i = nFirst; i < std::max(nBegun, nEnded); ++i)
        m_list.RedrawItem(i);
    if (nBegun != m_nShownBegun && nBegun > 0)
    {
        SetItemText(IDC_CURRENT_FILE, PathFindFileNameW(m_list.Entries()[nBegun - 1].szFilePath));
        SetItemText(IDC_FILE_COUNT, std::to_wstring(nBegun) + L" / " + std::to_wstring(nCount));
    }
    m_nShownBegun = nBegun;
    m_nShownEnded = nEnded;
    RefreshProgressTexts();
    ShowBars();
}

void CUploadDlg::ShowBars()
{
    const HWND hWnd = m_hWnd;
    if (!hWnd)
        return;
    // A bar is only told a position it does not show yet.
    const int nFile = m_progress.nFilePercent;
    if (nFile != m_nFileBarPos)
    {
        m_nFileBarPos = nFile;
        SendDlgItemMessageW(hWnd, IDC_FILE_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(nFile), 0);
    }
    const int nTotal = m_progress.nTotalPercent;
    if (nTotal != m_nTotalBarPos)
    {
        m_nTotalBarPos = nTotal;
        SendDlgItemMessageW(hWnd, IDC_TOTAL_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(nTotal), 0);
    }
}

// ---- progress ----------------------------------------------------------------------------------

void CUploadDlg::ResetProgress()
{
    LONGLONG nTotal = 0;
    for (const FileEntry& entry : m_list.Entries())
        nTotal += static_cast<LONGLONG>(entry.nFileSize);
    m_progress.Reset(nTotal);
    m_list.ResetStates();
    m_nFileBarPos = -1;
    m_nTotalBarPos = -1;
}

void CUploadDlg::StartClock() { m_progress.StartClock(Now()); }

void CUploadDlg::RefreshProgressTexts()
{
    const CProgressTexts texts = m_progress.Texts(PL5Lang::GetString(IDS_TIME_LEFT));
    strRateText = texts.strRate;
    SetItemText(IDC_TRANSFER_RATE, texts.strRate);
    SetItemText(IDC_FILE_BYTES, texts.strFileBytes);
    SetItemText(IDC_TOTAL_BYTES, texts.strTotalBytes);
    SetItemText(IDC_FILE_TIME_LEFT, texts.strFileLeft);
    SetItemText(IDC_TOTAL_TIME_LEFT, texts.strTotalLeft);
}
