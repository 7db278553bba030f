#include "progress/UploadDlg.h"
#include "progress/LabelFit.h"

#include <shlwapi.h>

#include "lang/LangIds.h"
#include "lang/LangTable.h"
#include "response/InlineRewrite.h"
#include "upload/UploadRequest.h"

namespace
{
// Sent by the worker so that the dialog's thread changes the list and the texts for a file.
enum : UINT
{
    WM_PL5_BEGIN_FILE = WM_APP + 0x51,
    WM_PL5_END_FILE = WM_APP + 0x52,
};

const UINT REFRESH_MS = 500;

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
} // namespace

CUploadDlg::CUploadDlg() : m_progress(TicksPerSecond()) {}

CUploadDlg::~CUploadDlg()
{
    // The worker uses this object: stop it, cut it off from the window (its messages then fail
    // at once) and wait for it, serving any message it is sending meanwhile.
    bStopRequested = true;
    ResumeWorker();
    const HWND hWnd = m_hWnd.exchange(nullptr);
    if (hWnd && IsWindow(hWnd))
    {
        SetWindowLongPtrW(hWnd, DWLP_USER, 0);
        m_list.Detach();
        ::DestroyWindow(hWnd);
    }
    WaitForWorker();
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
    const RECT rcList = ChildRect(hWnd, hList);
    const int nDelta = nHeight - (rcList.bottom - rcList.top);
    if (nDelta == 0)
        return;
    SetWindowPos(hList, nullptr, 0, 0, rcList.right - rcList.left, nHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
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
    const HWND hWnd = m_hWnd;
    RECT rc = {};
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
    szPageUrl = strPageUrl;
    szActionUrl = strActionUrl;
    m_list.SetEntries(files);
    ::BuildUploadParts(files, bInputTypeArray, bInputNameFixed, UploadParts);
    ResetProgress();
}

bool CUploadDlg::DoModal(HWND hOwner)
{
    // The pack's block is only read while the dialog is made; the language table keeps it
    // while an upload is counted.
    PL5Lang::BeginUpload();
    const PL5Lang::CLangBlock* pBlock = PL5Lang::FindDialog(IDD_UPLOAD);
    INT_PTR nResult = -1;
    if (pBlock && !pBlock->data.empty())
        nResult = CTemplateDialogImpl::DoModal(pBlock->data.data(), hOwner);
    PL5Lang::EndUpload();
    // A dialog that ended before its worker (its window was taken down from outside) must
    // leave no worker behind.
    if (HasWorker())
    {
        bStopRequested = true;
        ResumeWorker();
        WaitForWorker();
    }
    return nResult != -1 && nResult != 0;
}

EUploadOutcome CUploadDlg::Outcome() const
{
    if (bRedirected)
        return EUploadOutcome::Redirect;
    if (bCompleted && !bCancelled && !bFailed)
        return EUploadOutcome::Complete;
    if (bCancelled && !bCompleted && !bFailed)
        return EUploadOutcome::Cancel;
    return EUploadOutcome::Error;
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
    UploadParts.push_back(MakeUploadPart(L"file", entry.szFilePath));
}

bool CUploadDlg::StartChildUpload(const std::wstring& strPageUrl, const std::wstring& strActionUrl)
{
    if (bRunning || !IsChild() || m_bRunPending)
        return false;
    szPageUrl = strPageUrl;
    szActionUrl = strActionUrl;
    ResetProgress();
    m_list.RedrawAll();
    StartRun();
    return true;
}

UINT CUploadDlg::ChildReport() const
{
    // A redirect is complete here: the page stays, the event tells it the upload arrived.
    if (bCompleted && !bCancelled && !bFailed)
        return WM_UPLOAD_COMPLETE;
    if (bCancelled && !bCompleted && !bFailed)
        return WM_UPLOAD_CANCEL;
    return WM_UPLOAD_ERROR;
}

void CUploadDlg::StartRun()
{
    const HWND hWnd = m_hWnd;
    SetTimer(hWnd, PTL::UPLOAD_TIMER_REFRESH, REFRESH_MS, nullptr);
    StartClock();
    m_bRunPending = true;
    if (!StartWorker())
    {
        // No thread: the run ends at once, as failed, through the usual close.
        KillTimer(hWnd, PTL::UPLOAD_TIMER_REFRESH);
        PostMessageW(hWnd, WM_CLOSE, 0, 0);
    }
}

void CUploadDlg::WaitForWorker()
{
    const HANDLE hWorker = hThread.Get();
    if (hWorker)
    {
        // Serve messages the worker is sending (to a window of this thread) while waiting, so a
        // worker caught inside such a call can still finish.
        while (MsgWaitForMultipleObjects(1, &hWorker, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1)
        {
            MSG msg;
            PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    }
    JoinWorker();
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
        if (wParam == PTL::UPLOAD_TIMER_REFRESH)
            RefreshProgressTexts();
        else if (wParam == PTL::UPLOAD_TIMER_WAIT)
            OnWaitTick();
        else
            return FALSE;
        return TRUE;
    case WM_CLOSE:
        OnCloseRequest();
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL)
        {
            OnCloseRequest();
            return TRUE;
        }
        if (LOWORD(wParam) == IDOK)
            return TRUE;  // Enter does nothing
        return ReflectNotifications(uMsg, wParam, lParam, lResult);
    case WM_PL5_BEGIN_FILE:
        OnBeginFile(static_cast<size_t>(wParam));
        return TRUE;
    case WM_PL5_END_FILE:
        OnEndFile(static_cast<size_t>(wParam));
        return TRUE;
    case WM_DESTROY:
        m_list.Detach();
        return FALSE;
    default:
        return ReflectNotifications(uMsg, wParam, lParam, lResult);
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
    FitDialogLabels(hWnd);
    if (!bSilent && !UploadParts.empty())
    {
        SetTitle(strTitle);
        SetListHeight(nListHeight);
    }
    else
    {
        // Nothing to show (silent, or only form fields): the dialog runs without a size.
        SetWindowPos(hWnd, nullptr, 0, 0, 0, 0, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    m_list.SetupView();
    SendDlgItemMessageW(hWnd, IDC_FILE_PROGRESS, PBM_SETRANGE32, 0, 100);
    SendDlgItemMessageW(hWnd, IDC_TOTAL_PROGRESS, PBM_SETRANGE32, 0, 100);

    if (IsModeless())
        return;  // child mode: StartChildUpload starts each upload

    // The template's sample values ("temp.file") would stand for a file that is not sent.
    SetItemText(IDC_CURRENT_FILE, std::wstring());
    SetItemText(IDC_FILE_COUNT, L"0 / " + std::to_wstring(m_list.Count()));
    RefreshProgressTexts();
    StartRun();
}

void CUploadDlg::OnCloseRequest()
{
    if (bRunning)
    {
        // The worker may still send to this window, so it is never waited for here. Only while
        // file content goes out can the user stop it; the worker's own WM_CLOSE ends the dialog.
        if (!m_bAsking && !bStopRequested && !bCompleted && !bRedirected && bSendingFiles)
            AskToCancel();
        return;
    }
    if (!m_bRunPending)
        return;  // a late WM_CLOSE of a run already handled
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
    PauseWorker();
    RefreshProgressTexts();
    const int nAnswer = MessageBoxW(m_hWnd, PL5Lang::GetString(IDS_CANCEL_QUESTION).c_str(),
                                    PL5Lang::MessageCaption().c_str(), MB_YESNO | MB_ICONQUESTION);
    if (nAnswer == IDYES && bRunning)
        bStopRequested = true;
    // The time the question was open is no sending time.
    StartClock();
    ResumeWorker();
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
    KillTimer(hWnd, PTL::UPLOAD_TIMER_REFRESH);
    KillTimer(hWnd, PTL::UPLOAD_TIMER_WAIT);
    // bRunning is clear: the worker only kills its timer and posts WM_CLOSE before it ends.
    WaitForWorker();
    if (IsModeless())
        PostMessageW(GetParent(hWnd), ChildReport(), 0, 0);
    else
        EndDialog(1);
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

void CUploadDlg::SetStatusText(UINT nId)
{
    if (m_hWnd.load())
        SetItemText(IDC_STATUS_TEXT, PL5Lang::GetString(nId));
}

void CUploadDlg::BeginFile(int nIndex)
{
    const HWND hWnd = m_hWnd;
    if (hWnd && nIndex >= 0)
        SendMessageW(hWnd, WM_PL5_BEGIN_FILE, static_cast<WPARAM>(nIndex), 0);
}

void CUploadDlg::EndFile(int nIndex)
{
    const HWND hWnd = m_hWnd;
    if (hWnd && nIndex >= 0)
        SendMessageW(hWnd, WM_PL5_END_FILE, static_cast<WPARAM>(nIndex), 0);
}

void CUploadDlg::AddProgress(DWORD nBytes)
{
    m_progress.Add(nBytes, Now());
    const HWND hWnd = m_hWnd;
    if (!hWnd)
        return;
    // A bar is only told a position it does not show yet.
    const int nFile = m_progress.nFilePercent;
    if (m_nFileBarPos.exchange(nFile) != nFile)
        SendDlgItemMessageW(hWnd, IDC_FILE_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(nFile), 0);
    const int nTotal = m_progress.nTotalPercent;
    if (m_nTotalBarPos.exchange(nTotal) != nTotal)
        SendDlgItemMessageW(hWnd, IDC_TOTAL_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(nTotal), 0);
}

void CUploadDlg::MakeInlineResponse(std::wstring& strResponse)
{
    RewriteInline(strResponse, szActionUrl);
}

void CUploadDlg::OnBeginFile(size_t nIndex)
{
    if (nIndex >= m_list.Count())
        return;
    const FileEntry& entry = m_list.Entries()[nIndex];
    m_list.SetState(nIndex, UPLOAD_STATE_SENDING);
    SetItemText(IDC_CURRENT_FILE, PathFindFileNameW(entry.szFilePath));
    // The listed size is unsigned: a file of 2 GiB or more keeps its true size.
    m_progress.BeginFile(static_cast<LONGLONG>(entry.nFileSize));
    RefreshProgressTexts();
    m_list.RedrawItem(nIndex);
    SetItemText(IDC_FILE_COUNT, std::to_wstring(nIndex + 1) + L" / " + std::to_wstring(m_list.Count()));
}

void CUploadDlg::OnEndFile(size_t nIndex)
{
    if (nIndex >= m_list.Count())
        return;
    m_list.SetState(nIndex, UPLOAD_STATE_DONE);
    RefreshProgressTexts();
    m_list.RedrawItem(nIndex);
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

void CUploadDlg::StartClock()
{
    m_progress.StartClock(Now());
}

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
