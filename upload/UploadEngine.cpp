#include "upload/UploadEngine.h"

#include <wininet.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <new>

#include "ptl/AddressSpace.h"
#include "ptl/InternetException.h"
#include "ptl/InternetHandle.h"
#include "ptl/InternetUrl.h"
#include "ptl/Text.h"
#include "upload/MultipartBody.h"
#include "upload/FileOpener.h"
#include "upload/UploadFile.h"

namespace
{
// The longest Location header taken from a redirect answer, in bytes.
const DWORD MAX_LOCATION_BYTES = 5120;
// From this many files on, they are opened ahead on a thread of their own: fewer do not repay
// starting it.
const size_t FILES_OPENED_AHEAD_FROM = 8;

// How one attempt ended; it alone decides whether another attempt or a second run follows.
enum class EAttempt
{
    Answered,
    Unavailable,  // answered with a status that asks to come back, while a retry is left
    Redirected,
    Unauthorized,
    Cancelled,
    Failed,
};

// The stage as the trace names it.
const wchar_t* StageName(EUploadStage nStage)
{
    switch (nStage)
    {
    case EUploadStage::Preparing:
    case EUploadStage::Connecting:
    case EUploadStage::Connected: return L"connecting";
    case EUploadStage::PreparingFile:
    case EUploadStage::SendingFile:
    case EUploadStage::SendingFields: return L"sending";
    case EUploadStage::Waiting: return L"waiting for the answer";
    case EUploadStage::Answered:
    case EUploadStage::Reading:
    case EUploadStage::Decoding: return L"reading the answer";
    case EUploadStage::Inline: return L"fetching inline resources";
    case EUploadStage::Done:
    case EUploadStage::Cancelled:
    case EUploadStage::Failed: break;
    }
    return L"";
}

EUploadOutcome OutcomeOf(EAttempt nResult)
{
    switch (nResult)
    {
    case EAttempt::Answered: return EUploadOutcome::Completed;
    case EAttempt::Redirected: return EUploadOutcome::Redirected;
    case EAttempt::Cancelled: return EUploadOutcome::Cancelled;
    case EAttempt::Unavailable:
    case EAttempt::Unauthorized:
    case EAttempt::Failed: break;
    }
    return EUploadOutcome::Failed;
}

const wchar_t* RetryReasonName(EUploadRetryReason nReason)
{
    switch (nReason)
    {
    case EUploadRetryReason::Connect: return L"no connection";
    case EUploadRetryReason::Lost: return L"connection lost";
    case EUploadRetryReason::Timeout: return L"time-out";
    case EUploadRetryReason::Status: return L"server busy or failing";
    }
    return L"";
}

// An answer that says the request may pass later: time-out, too many requests, server errors
// that are usually passing ones.
bool IsPassingStatus(DWORD nStatus)
{
    return nStatus == 408 || nStatus == 429 || nStatus == 500 || nStatus == 502 || nStatus == 503 || nStatus == 504;
}

// The wait a Retry-After value asks for (seconds, or an HTTP date), capped; false when it is
// neither.
bool ParseRetryAfter(const wchar_t* szValue, DWORD& nMs)
{
    while (*szValue == L' ')
        ++szValue;
    if (*szValue >= L'0' && *szValue <= L'9')
    {
        ULONGLONG nSeconds = 0;
        for (; *szValue >= L'0' && *szValue <= L'9' && nSeconds < UPLOAD_RETRY_AFTER_MAX_MS; ++szValue)
            nSeconds = nSeconds * 10 + static_cast<ULONGLONG>(*szValue - L'0');
        nMs = static_cast<DWORD>(std::min<ULONGLONG>(nSeconds * 1000, UPLOAD_RETRY_AFTER_MAX_MS));
        return true;
    }
    SYSTEMTIME when = {};
    FILETIME ftWhen = {}, ftNow = {};
    if (!*szValue || !InternetTimeToSystemTimeW(szValue, &when, 0) || !SystemTimeToFileTime(&when, &ftWhen))
        return false;
    GetSystemTimeAsFileTime(&ftNow);
    const auto ticks = [](const FILETIME& ft) {
        return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    };
    // A date gone by asks for no wait.
    const ULONGLONG nWhen = ticks(ftWhen), nNow = ticks(ftNow);
    nMs =
        nWhen <= nNow ? 0 : static_cast<DWORD>(std::min<ULONGLONG>((nWhen - nNow) / 10000, UPLOAD_RETRY_AFTER_MAX_MS));
    return true;
}

// The platform's text for an internet or system error, on one line.
std::wstring ErrorText(DWORD nError)
{
    if (nError == 0)
        return L"none";
    WCHAR szText[512] = L"";
    DWORD nLength = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   GetModuleHandleW(L"wininet.dll"), nError, 0, szText, ARRAYSIZE(szText), nullptr);
    if (nLength == 0)
        nLength = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, nError, 0, szText,
                                 ARRAYSIZE(szText), nullptr);
    std::wstring strText = nLength ? szText : L"no text";
    for (wchar_t& ch : strText)
        if (ch == L'\r' || ch == L'\n')
            ch = L' ';
    while (!strText.empty() && strText.back() == L' ')
        strText.pop_back();
    return strText;
}
}  // namespace

// One engine run (up to two runs of up to four attempts), shared by the engine and its thread
// so that a thread left behind by an abort still owns everything it touches.
class CUploadRun
{
public:
    // A write that the platform reported as done without taking any byte.
    class EWriteError
    {
    };
    // The stop request was seen before a chunk of file content.
    class ECancel
    {
    };
    // A file no longer yields the bytes that were counted for it (shrunk or gone), the body
    // does not fit the 32-bit length the request declares, or the answer exceeds its bound.
    class EBodyError
    {
    };
    // The action's address is in a network the page may not reach.
    class ERefused
    {
    };

    // The whole upload, on the worker thread: up to two runs of attempts, then the outcome.
    void Execute();

    CUploadRun(std::shared_ptr<CUploadState> pState, IUploadObserver& observer)
        : m_pState(std::move(pState)), m_pObserver(&observer), m_evRunnable(CreateEventW(nullptr, TRUE, TRUE, nullptr)),
          m_evStop(CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_pS(m_pState.get())
    {
        m_fields = S().FormFields.Fields();
        m_parts = S().UploadParts;
        m_strPageUrl = S().szPageUrl;
        m_strActionUrl = S().szActionUrl;
        m_bUnicode = S().bUseUnicode;
        m_bVerify = S().bVerifyCertificates;
        m_bPrivateNetworkRule = S().bPrivateNetworkRule;
        m_bCredentials = S().bSendCredentials;
        m_answerStep = S().AnswerStep;
        m_nConnectMs = S().nConnectTimeoutMs;
        m_nSendMs = S().nSendTimeoutMs;
        // What the receive time-out is in force: an administrator's setting before ours.
        m_nReceiveMs = PTL::ConfiguredTimeout(L"ReceiveTimeout", S().nReceiveTimeoutMs);
        m_nRetryCount = S().nRetryCount;
        m_nRetryDelayMs = S().nRetryDelayMs;
        m_nAnswerDeadlineMs = S().nAnswerDeadlineMs;
        m_strIdempotencyKey = MakeIdempotencyKey();
        m_cancel.Add(m_session);
        m_cancel.Add(m_connection);
        m_cancel.Add(m_request);
    }

    void Pause()
    {
        ResetEvent(m_evRunnable.Get());
        m_bPaused = true;
    }
    void Resume()
    {
        SetEvent(m_evRunnable.Get());
        m_bPaused = false;
    }

    // True when the network was cut too: the caller then also ends the blocked call.
    bool Cancel()
    {
        m_bCancelled = true;
        S().bStopRequested = true;
        SetEvent(m_evStop.Get());
        Resume();
        // A write blocked on a server that no longer reads would not reach the next chunk, nor
        // would a read from a server that trickles its answer.
        if (!MayStop())
            return false;
        m_cancel.Cancel();
        return true;
    }

    void Abort()
    {
        m_bAbort = true;
        S().bStopRequested = true;
        SetEvent(m_evStop.Get());
        m_cancel.Cancel();
        Resume();
    }

    // True while the user or the page may stop the run: until the last byte of the body is
    // written, and once the answer has been awaited longer than the receive time-out.
    bool MayStop() const
    {
        if (m_bSendingBody)
            return true;
        const ULONGLONG nSince = m_nAnswerAwaitedSince;
        return nSince != 0 && GetTickCount64() - nSince >= m_nReceiveMs;
    }

    // No observer call (nor the outcome's writing) starts after this returns; one under way is
    // waited for, serving the messages it may be sending to this thread (it never blocks on
    // anything else).
    void Detach()
    {
        m_pLeftAlone.reset(new (std::nothrow) CUploadState);
        if (m_pLeftAlone)
        {
            m_pLeftAlone->bStopRequested = true;
            m_pLeftAlone->bRunning = true;
            m_pS = m_pLeftAlone.get();
        }
        m_bDetached = true;
        PTL::CWait(INFINITE)
            .Until([this] { return m_nInCall == 0; })
            .Serving(PTL::EServe::SentMessages)
            .Polling(10)
            .Run();
    }

private:
    // Runs what reaches outside the run (observer calls, the outcome) unless it is detached.
    template <class F>
    void Guarded(F&& action)
    {
        ++m_nInCall;
        if (!m_bDetached)
            action();
        --m_nInCall;
    }
    template <class F>
    void Notify(F&& call)
    {
        Guarded([&] { call(*m_pObserver); });
    }
    void SetStatus(EUploadStage nStage)
    {
        Notify([nStage](IUploadObserver& o) { o.OnStatus(nStage); });
    }

    EAttempt RunUpload();
    EAttempt Attempt(const CMultipartBody& body);
    EAttempt AfterInternetFailure(const PTL::CInternetException& e);
    bool MayRetry(EAttempt nResult, EUploadRetryReason& nReason) const;
    enum class ERetryWait
    {
        Elapsed,  // the next attempt may start
        Stopped,  // a stop ended the wait
        Refused,  // the observer wants no more attempts
    };
    ERetryWait WaitToRetry(unsigned nRetry, EUploadRetryReason nReason);
    DWORD RetryAfterMs() const;
    void OpenSession();
    void StartRequest(const CMultipartBody& body);
    void SendFileParts(const CMultipartBody& body);
    void SendFormFields(const CMultipartBody& body);
    void ReadResponse();
    // What a redirect answer's Location does to the attempt.
    enum class ERedirect
    {
        None,     // no usable Location: the answer is read as one
        Taken,    // an http(s) address the page is sent to
        Refused,  // any other scheme: the attempt fails
    };
    ERedirect TakeRedirect();
    // What the observer hears of the bytes in the write block, once the write that carries them
    // has returned: progress is what the network took, not what was read from the files.
    enum class ENote
    {
        Stage,
        BeginFile,
        Content,
        EndFile,
    };
    void Note(ENote nKind, size_t nValue) { m_notes.push_back({nKind, nValue}); }
    void TellWritten();
    void Queue(const std::string& strBytes);
    // Writes the block, then tells the observer of what it carried; bLast: the body's end.
    void Flush(bool bLast = false);
    void Write(const BYTE* pBytes, DWORD nLength);
    void ThrowIfCancelled(PTL::CInternetHandle& handle, const wchar_t* szWhat);
    DWORD StatusCode() const;
    void Trace(EAttempt nResult);

    std::shared_ptr<CUploadState> m_pState;
    IUploadObserver* m_pObserver;
    std::atomic<bool> m_bDetached{false};
    std::atomic<int> m_nInCall{0};
    std::atomic<bool> m_bAbort{false};
    // Set until the body's last byte is written: a stop then also cuts the network under a
    // blocked write.
    std::atomic<bool> m_bSendingBody{false};
    // Tick count at which the body was out and the answer began to be awaited, 0 outside.
    std::atomic<ULONGLONG> m_nAnswerAwaitedSince{0};
    // The attempt failed on the network (a lost or refused connection, a failed write or read,
    // a time-out), at whatever stage: such a failure may pass.
    bool m_bNetworkFailure = false;
    bool m_bRefused = false;  // the action's network was refused: nothing was sent
    // Sent on every attempt of this upload, so that a receiver can tell a repeat from a new one.
    std::wstring m_strIdempotencyKey;
    // The user stopped the upload: unlike bStopRequested, which also marks a failed run, no
    // second run after 401 clears it.
    std::atomic<bool> m_bCancelled{false};
    PTL::CKernelHandle m_evRunnable;  // signalled while the worker may go on
    PTL::CKernelHandle m_evStop;      // signalled by a stop: ends a wait before a retry
    // Looked at before every chunk; only when it is set does the worker wait for the event,
    // since a wait is a call into the system even when the event is signalled.
    std::atomic<bool> m_bPaused{false};
    // The state the run reports to: the engine's, until the run is abandoned; then a private
    // one, so that a run that ends late cannot touch the next run's outcome and answer.
    std::atomic<CUploadState*> m_pS;
    std::unique_ptr<CUploadState> m_pLeftAlone;
    CUploadState& S() { return *m_pS.load(); }

    // The request as it stood at the start.
    std::vector<PostField> m_fields;
    std::vector<UploadPart> m_parts;
    std::wstring m_strPageUrl;
    std::wstring m_strActionUrl;
    bool m_bUnicode = false;
    bool m_bVerify = false;
    bool m_bPrivateNetworkRule = false;
    bool m_bCredentials = true;
    UploadAnswerStep m_answerStep;
    DWORD m_nConnectMs = 0;
    DWORD m_nSendMs = 0;
    DWORD m_nReceiveMs = 0;
    ULONG m_nRetryCount = 0;
    DWORD m_nRetryDelayMs = 0;
    DWORD m_nAnswerDeadlineMs = 0;

    // While a retry is left, a passing status ends the attempt without reading the answer;
    // m_nRetryAfterMs is then what the answer's Retry-After asked for, or MAXDWORD for nothing.
    bool m_bRetryLeft = false;
    DWORD m_nRetryAfterMs = MAXDWORD;

    PTL::CInternetCancel m_cancel;
    PTL::CInternetSession m_session;
    PTL::CHttpConnection m_connection;
    PTL::CHttpFile m_request;
    PTL::CUrlComponents m_url = {};

    // With many files, the attempt's files are opened ahead and closed after by another thread;
    // it lives to the attempt's end, so that closing the last files overlaps the answer.
    std::unique_ptr<CFileOpener> m_pOpener;

    // Bytes waiting for the next network write: part texts and chunks of content.
    std::unique_ptr<BYTE[]> m_pBlock;
    DWORD m_nBlock = 0;
    static constexpr DWORD BLOCK_CAPACITY = UPLOAD_WRITE_BLOCK + UPLOAD_CHUNK_SIZE;
    // The block is written once it holds this many bytes. It follows the link: a full block
    // written quickly doubles it, up to UPLOAD_WRITE_BLOCK, and a slow write halves it, so that
    // the progress shown and the stop stay close to what the network takes on any link.
    DWORD m_nWriteAt = UPLOAD_FIRST_WRITE_BLOCK;
    ULONGLONG m_nBlockSince = 0;  // tick count at which the block's first byte was queued
    // True when the block has waited long enough to be written before it is full.
    bool BlockOverdue() const { return m_nBlock > 0 && GetTickCount64() - m_nBlockSince >= UPLOAD_BLOCK_HOLD_MS; }
    struct CNote
    {
        ENote nKind;
        size_t nValue;
    };
    std::vector<CNote> m_notes;  // for the bytes in the block, in the order they were queued

    // For the outcome and the trace of a failed or cancelled upload.
    EUploadStage m_nStage = EUploadStage::Connecting;
    DWORD m_nError = 0;
    DWORD m_nStatus = 0;
    std::wstring m_strRefusedScheme;  // of a redirect that was not followed
};

void CUploadRun::Execute()
{
    EAttempt nResult = EAttempt::Failed;
    // No exception leaves the thread; out of memory ends the run as failed.
    for (int nRun = 0; nRun < UPLOAD_MAX_RUNS; ++nRun)
    {
        try
        {
            nResult = RunUpload();
        }
        catch (...)
        {
            m_request.Close();
            m_connection.Close();
            m_session.Close();
            S().bStopRequested = true;
            SetStatus(EUploadStage::Failed);
            nResult = EAttempt::Failed;
        }
        // Only a run whose attempts were all answered 401 earns the second run, unless the user
        // stopped the upload meanwhile: it then ends as cancelled.
        if (nResult == EAttempt::Unauthorized && m_bCancelled && !m_bAbort)
        {
            SetStatus(EUploadStage::Cancelled);
            nResult = EAttempt::Cancelled;
        }
        if (nResult != EAttempt::Unauthorized || m_bAbort)
            break;
    }
    Trace(nResult);
    m_pBlock.reset();
    CUploadResult result;
    result.nOutcome = OutcomeOf(nResult);
    result.nStage = m_nStage;
    result.nError = m_nError;
    result.nHttpStatus = m_nStatus;
    Guarded([&] { S().Result = result; });
    S().bRunning = false;
    Notify([](IUploadObserver& o) { o.OnFinished(); });
}

EAttempt CUploadRun::RunUpload()
{
    m_bSendingBody = false;
    S().szResponse.clear();
    S().strRawResponse.clear();
    S().szLocation.clear();
    S().bRunning = true;
    if (!m_bAbort && !m_bCancelled)
    {
        S().bStopRequested = false;  // a second run after 401 starts afresh
        ResetEvent(m_evStop.Get());
    }
    m_nStage = EUploadStage::Connecting;
    m_nError = 0;
    m_nStatus = 0;
    m_strRefusedScheme.clear();

    std::wstring strBoundary;
    bool bOpen = false;
    try
    {
        strBoundary = MakeBoundary();
        OpenSession();
        bOpen = true;
    }
    catch (const PTL::CInternetException& e)
    {
        m_nError = e.dwError;
    }
    catch (...)
    {
    }
    if (!bOpen)
    {
        SetStatus(EUploadStage::Failed);
        S().bStopRequested = true;
        m_connection.Close();
        m_session.Close();
        return EAttempt::Failed;
    }

    const CMultipartBody body(strBoundary, m_bUnicode);
    EAttempt nResult = EAttempt::Failed;
    int nUnauthorized = 0;
    unsigned nRetries = 0;
    for (;;)
    {
        m_bRetryLeft = nRetries < m_nRetryCount;
        nResult = Attempt(body);
        EUploadRetryReason nReason = EUploadRetryReason::Lost;
        if (m_bRetryLeft && !S().bStopRequested && MayRetry(nResult, nReason))
        {
            const ERetryWait nWait = WaitToRetry(++nRetries, nReason);
            if (nWait == ERetryWait::Elapsed)
                continue;
            // Refused by the observer: the upload fails as the attempt did.
            nResult = nWait == ERetryWait::Stopped ? EAttempt::Cancelled : EAttempt::Failed;
        }
        if (nResult == EAttempt::Cancelled)
            SetStatus(EUploadStage::Cancelled);
        else if (nResult == EAttempt::Failed)
        {
            SetStatus(EUploadStage::Failed);
            S().bStopRequested = true;
        }
        if (nResult != EAttempt::Unauthorized || S().bStopRequested || ++nUnauthorized >= UPLOAD_MAX_ATTEMPTS)
            break;
    }
    if (nResult == EAttempt::Unauthorized)
        S().bStopRequested = true;
    m_request.Close();
    m_connection.Close();
    m_session.Close();
    return nResult;
}

EAttempt CUploadRun::Attempt(const CMultipartBody& body)
{
    Notify([](IUploadObserver& o) { o.OnAttempt(); });
    // The status belongs to this attempt's request; one that cannot be read is 0.
    m_nStatus = 0;
    m_nError = 0;
    m_nRetryAfterMs = MAXDWORD;
    m_bNetworkFailure = false;
    m_notes.clear();
    EAttempt nResult = EAttempt::Failed;
    try
    {
        m_nStage = EUploadStage::Connecting;
        // Resolved afresh before every attempt, the closer to the platform's own look-up.
        if (m_bPrivateNetworkRule && !PTL::PrivateNetworkAllows(m_strActionUrl, m_strPageUrl))
        {
            m_bRefused = true;  // the refusal has written its own line
            throw ERefused();
        }
        m_bSendingBody = true;
        if (m_parts.size() >= FILES_OPENED_AHEAD_FROM)
            m_pOpener.reset(new CFileOpener(m_parts));
        StartRequest(body);
        m_nStage = EUploadStage::SendingFile;
        SendFileParts(body);
        SendFormFields(body);
        Queue(body.Closing());
        Flush(true);
        m_nStage = EUploadStage::Waiting;
        Notify([](IUploadObserver& o) { o.OnWaitBegin(); });
        if (!HttpEndRequestW(m_request, nullptr, 0, 0))
            throw PTL::CInternetException(m_request, L"Failed to end of http request");
        Notify([](IUploadObserver& o) { o.OnWaitEnd(); });
        // The request ended, yet without a status the peer dropped the connection before
        // answering: that is no answer, whatever the body read would give.
        m_nStatus = StatusCode();
        if (m_nStatus == 0)
            throw PTL::CInternetException(m_request, L"Failed to end of http request");
        const ERedirect nRedirect = PTL::IsRedirectStatus(m_nStatus) ? TakeRedirect() : ERedirect::None;
        if (nRedirect == ERedirect::Taken)
            nResult = EAttempt::Redirected;
        else if (nRedirect == ERedirect::Refused)
            nResult = EAttempt::Failed;
        else if (m_bRetryLeft && IsPassingStatus(m_nStatus))
        {
            m_nRetryAfterMs = RetryAfterMs();
            nResult = EAttempt::Unavailable;
        }
        else
        {
            m_nStage = EUploadStage::Reading;
            ReadResponse();
            nResult = EAttempt::Answered;
        }
    }
    catch (const PTL::CInternetException& e)
    {
        nResult = AfterInternetFailure(e);
    }
    catch (const ECancel&)
    {
        nResult = EAttempt::Cancelled;
    }
    catch (const EWriteError&)
    {
        // The peer took nothing more: the connection is gone, as with a failed write.
        m_nStatus = StatusCode();
        m_bNetworkFailure = true;
        nResult = m_cancel.IsCancelled() ? EAttempt::Cancelled : EAttempt::Failed;
    }
    catch (...)  // EBodyError, out of memory
    {
        m_nStatus = StatusCode();
        nResult = m_cancel.IsCancelled() ? EAttempt::Cancelled : EAttempt::Failed;
    }
    Notify([](IUploadObserver& o) { o.OnWaitEnd(); });
    // An attempt that broke off inside the body is no longer sending it; what its block held
    // never reached the network, so nobody hears of it.
    m_bSendingBody = false;
    m_nAnswerAwaitedSince = 0;
    m_nBlock = 0;
    m_notes.clear();
    if (nResult != EAttempt::Cancelled && StatusCode() == 401)
    {
        m_nStatus = 401;
        nResult = EAttempt::Unauthorized;
    }
    m_request.Close();
    m_pOpener.reset();
    return nResult;
}

EAttempt CUploadRun::AfterInternetFailure(const PTL::CInternetException& e)
{
    m_nError = e.dwError;
    // Handles closed by a stop from the other thread make the blocked call fail: that is the
    // stop, not a network failure. Once the body was out the server may have kept the upload,
    // so the user's stop of an overdue answer ends it as failed, not as if nothing was sent.
    if (m_cancel.IsCancelled())
        return m_nAnswerAwaitedSince != 0 && !m_bAbort ? EAttempt::Failed : EAttempt::Cancelled;
    m_nStatus = StatusCode();
    if (m_nStatus == 302)
    {
        const ERedirect nRedirect = TakeRedirect();
        if (nRedirect != ERedirect::None)
            return nRedirect == ERedirect::Taken ? EAttempt::Redirected : EAttempt::Failed;
    }
    if (m_nStatus == 401)
        return EAttempt::Unauthorized;
    m_bNetworkFailure = true;
    return EAttempt::Failed;
}

bool CUploadRun::MayRetry(EAttempt nResult, EUploadRetryReason& nReason) const
{
    if (nResult == EAttempt::Unavailable)
    {
        nReason = EUploadRetryReason::Status;
        return true;
    }
    // A failure with an answer's status (a refused redirect) would fail again; so would a file
    // that changed or an answer over its bound, which are no network failures.
    if (nResult != EAttempt::Failed || !m_bNetworkFailure || m_cancel.IsCancelled())
        return false;
    // Whatever the platform calls it and wherever it happened (connecting, writing the head, the
    // files or the fields, waiting or reading), the connection failed: the next may pass.
    if (m_nError == ERROR_INTERNET_TIMEOUT)
        nReason = EUploadRetryReason::Timeout;
    else if (m_nError == ERROR_INTERNET_CANNOT_CONNECT || m_nError == ERROR_INTERNET_NAME_NOT_RESOLVED)
        nReason = EUploadRetryReason::Connect;
    else
        nReason = EUploadRetryReason::Lost;
    return true;
}

DWORD CUploadRun::RetryAfterMs() const
{
    WCHAR szValue[128] = L"";
    DWORD nLength = sizeof(szValue) - sizeof(WCHAR);
    DWORD nMs = MAXDWORD;
    if (!m_request.QueryInfo(HTTP_QUERY_RETRY_AFTER, szValue, &nLength) || !ParseRetryAfter(szValue, nMs))
        return MAXDWORD;
    return nMs;
}

// Announces the wait before retry nRetry and waits, unless the observer refuses it.
CUploadRun::ERetryWait CUploadRun::WaitToRetry(unsigned nRetry, EUploadRetryReason nReason)
{
    DWORD nDelayMs = m_nRetryAfterMs;
    if (nDelayMs == MAXDWORD)
    {
        ULONGLONG nBase = m_nRetryDelayMs;
        for (unsigned i = 1; i < nRetry && nBase < UPLOAD_RETRY_MAX_DELAY_MS; ++i)
            nBase *= 2;
        nBase = std::min<ULONGLONG>(nBase, UPLOAD_RETRY_MAX_DELAY_MS);
        // A spread of up to a fifth either way, from a source that differs between clients.
        LARGE_INTEGER liNow = {};
        QueryPerformanceCounter(&liNow);
        const ULONGLONG nSeed = static_cast<ULONGLONG>(liNow.QuadPart) * 6364136223846793005ull + GetCurrentThreadId();
        const ULONGLONG nSpread = nBase / 5;
        nDelayMs = static_cast<DWORD>(nBase - nSpread + (nSpread ? (nSeed >> 33) % (2 * nSpread + 1) : 0));
    }
    const unsigned nAttempts = m_nRetryCount + 1;
    wchar_t szLine[512];
    _snwprintf(szLine, ARRAYSIZE(szLine) - 1,
               L"Pelora5: retrying an upload: attempt %u of %u failed (%ls, internet error %lu, HTTP status %lu), the "
               L"next in %lu ms\n",
               nRetry, nAttempts, RetryReasonName(nReason), static_cast<unsigned long>(m_nError),
               static_cast<unsigned long>(m_nStatus), static_cast<unsigned long>(nDelayMs));
    szLine[ARRAYSIZE(szLine) - 1] = L'\0';
    OutputDebugStringW(szLine);
    CUploadRetryWait wait;
    wait.nAttempt = nRetry + 1;
    wait.nAttempts = nAttempts;
    wait.nDelayMs = nDelayMs;
    wait.nReason = nReason;
    wait.nHttpStatus = m_nStatus;
    wait.hStop = m_evStop.Get();
    bool bGoOn = true;
    Notify([&](IUploadObserver& o) { bGoOn = o.OnRetryWait(wait); });
    if (S().bStopRequested)
        return ERetryWait::Stopped;
    if (!bGoOn)
    {
        OutputDebugStringW(L"Pelora5: the next upload attempt was refused; the upload fails\n");
        return ERetryWait::Refused;
    }
    return WaitForSingleObject(m_evStop.Get(), nDelayMs) == WAIT_TIMEOUT && !S().bStopRequested ? ERetryWait::Elapsed
                                                                                                : ERetryWait::Stopped;
}

DWORD CUploadRun::StatusCode() const
{
    DWORD nStatus = 0;
    m_request.QueryInfo(HTTP_QUERY_STATUS_CODE, nStatus);
    return nStatus;
}

void CUploadRun::ThrowIfCancelled(PTL::CInternetHandle& handle, const wchar_t* szWhat)
{
    if (!m_cancel.Check(handle))
    {
        SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
        throw PTL::CInternetException(nullptr, szWhat);
    }
}

void CUploadRun::OpenSession()
{
    SetStatus(EUploadStage::Preparing);
    PTL::CrackUrl(m_strActionUrl.c_str(), m_url);
    SetStatus(EUploadStage::Connecting);
    m_session.Open(L"Pelora5", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    ThrowIfCancelled(m_session, L"Failed to open an internet session");
    // Every stage has an end even where a stop cannot reach a blocked call.
    m_session.SetTimeouts(m_nConnectMs, m_nSendMs, m_nReceiveMs);
    if (!m_url.szHostName[0])
        throw PTL::CInternetException(nullptr, L"Failed to connect to server (%ls:%u)", m_url.szHostName,
                                      static_cast<unsigned>(m_url.nPort));
    m_connection.Connect(m_session, m_url.szHostName, m_url.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0);
    ThrowIfCancelled(m_connection, L"Failed to connect to server (%ls:%u)");
    m_connection.SetTimeouts(m_nConnectMs, m_nSendMs, m_nReceiveMs);
}

void CUploadRun::StartRequest(const CMultipartBody& body)
{
    m_nBlock = 0;
    const ULONGLONG nLength = body.ContentLength(m_parts, m_fields);
    if (nLength > MAXDWORD)
        throw EBodyError();

    static const wchar_t* ACCEPT_TYPES[] = {
        L"image/gif",
        L"image/x-xbitmap",
        L"image/jpeg",
        L"image/pjpeg",
        L"application/x-shockwave-flash",
        L"application/vnd.ms-excel",
        L"application/vnd.ms-powerpoint",
        L"application/msword,",
        L"*/*",
        nullptr,
    };
    const bool bSecure = m_url.nScheme == INTERNET_SCHEME_HTTPS;
    // Redirects are not followed by the platform: it would turn the POST into a GET, or
    // repeat it without its body, and report the result as an answer.
    DWORD nFlags = INTERNET_FLAG_FORMS_SUBMIT | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_CACHE_WRITE |
                   INTERNET_FLAG_NO_AUTO_REDIRECT;
    if (bSecure)
        nFlags |= INTERNET_FLAG_SECURE;
    if (!m_bCredentials)
        nFlags |= INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTH;
    const std::wstring strObject = std::wstring(m_url.szUrlPath) + m_url.szExtraInfo;
    m_request.OpenRequest(m_connection, L"POST", strObject.c_str(), L"HTTP/1.0",
                          m_strPageUrl.empty() ? nullptr : m_strPageUrl.c_str(), ACCEPT_TYPES, nFlags);
    ThrowIfCancelled(m_request, L"Failed to open http request (%ls %ls)");
    m_request.SetTimeouts(m_nConnectMs, m_nSendMs, m_nReceiveMs);
    if (bSecure && !m_bVerify)
    {
        DWORD nSecurity = SECURITY_FLAG_IGNORE_REVOCATION | SECURITY_FLAG_IGNORE_UNKNOWN_CA |
                          SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                          SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTPS | SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTP;
        m_request.SetOption(INTERNET_OPTION_SECURITY_FLAGS, &nSecurity, sizeof(nSecurity));
    }
    // The request offers compressed answers; let the platform undo the compression so the
    // answer reaches the page as the text the server meant.
    BOOL bDecode = TRUE;
    InternetSetOptionW(m_request, INTERNET_OPTION_HTTP_DECODING, &bDecode, sizeof(bDecode));

    const std::wstring strHeaders = L"Content-type: multipart/form-data; boundary=" + body.Boundary() +
                                    L"\r\nAccept-Encoding: gzip, deflate\r\nIdempotency-Key: " + m_strIdempotencyKey;
    INTERNET_BUFFERSW buffers = {};
    buffers.dwStructSize = sizeof(buffers);
    buffers.lpcszHeader = strHeaders.c_str();
    buffers.dwHeadersLength = static_cast<DWORD>(strHeaders.size());
    buffers.dwHeadersTotal = static_cast<DWORD>(strHeaders.size());
    buffers.dwBufferTotal = static_cast<DWORD>(nLength);
    if (!HttpSendRequestExW(m_request, &buffers, nullptr, 0, 0))
        throw PTL::CInternetException(m_request, L"Failed to send http request(Ex)");
    SetStatus(EUploadStage::Connected);
}

void CUploadRun::SendFileParts(const CMultipartBody& body)
{
    if (!m_pBlock)
        m_pBlock.reset(new BYTE[BLOCK_CAPACITY]);
    CFileOpener* const pOpener = m_pOpener.get();
    ULONGLONG nContent = 0;  // file bytes read so far
    for (size_t i = 0; i < m_parts.size(); ++i)
    {
        const UploadPart& part = m_parts[i];
        Note(ENote::Stage, static_cast<size_t>(EUploadStage::PreparingFile));
        const std::string strHeader = body.FilePartHeader(part);
        Note(ENote::BeginFile, i);
        Queue(strHeader);
        if (BlockOverdue())
            Flush();

        CUploadFile file;
        if (!pOpener)
            file.Open(part.szFilePath.c_str());
        else
        {
            PTL::CKernelHandle opened;
            if (!pOpener->Take(i, opened, [this] { return S().bStopRequested.load(); }))
                throw ECancel();
            file.Attach(std::move(opened));
        }
        const bool bOpen = file.IsOpen();
        Note(ENote::Stage, static_cast<size_t>(EUploadStage::SendingFile));
        if (bOpen)
        {
            ULONGLONG nRemaining = part.nSize;
            for (;;)
            {
                if (m_bPaused)
                    WaitForSingleObject(m_evRunnable.Get(), INFINITE);
                const DWORD nChunk =
                    static_cast<DWORD>(nRemaining < UPLOAD_CHUNK_SIZE ? nRemaining : UPLOAD_CHUNK_SIZE);
                if (nChunk == 0 || S().bStopRequested)
                    break;
                if (m_nBlock + nChunk > BLOCK_CAPACITY)
                    Flush();
                if (m_nBlock == 0)
                    m_nBlockSince = GetTickCount64();
                // The declared length counted nSize bytes; a file that now ends sooner
                // cannot be sent truthfully.
                if (file.Read(m_pBlock.get() + m_nBlock, nChunk) != nChunk)
                    throw EBodyError();
                m_nBlock += nChunk;
                Note(ENote::Content, nChunk);
                nRemaining -= nChunk;
                nContent += nChunk;
                if (m_nBlock >= m_nWriteAt || BlockOverdue())
                {
                    Flush();
                    if (pOpener)
                        pOpener->Sent(nContent);
                }
            }
            if (pOpener)
                pOpener->Give(file.Detach());
            file.Close();
            if (S().bStopRequested)
                throw ECancel();
        }
        else if (part.nSize != 0)
        {
            // Counted when the part was built but gone now.
            throw EBodyError();
        }
        Note(ENote::EndFile, i);
        Queue("\r\n");
    }
}

void CUploadRun::SendFormFields(const CMultipartBody& body)
{
    Note(ENote::Stage, static_cast<size_t>(EUploadStage::SendingFields));
    for (const PostField& field : m_fields)
        Queue(body.FieldPart(field));
}

void CUploadRun::Queue(const std::string& strBytes)
{
    if (!m_pBlock)
        m_pBlock.reset(new BYTE[BLOCK_CAPACITY]);
    const BYTE* pBytes = reinterpret_cast<const BYTE*>(strBytes.data());
    size_t nLeft = strBytes.size();
    while (nLeft > 0)
    {
        if (m_nBlock == 0)
            m_nBlockSince = GetTickCount64();
        const DWORD nTake = static_cast<DWORD>(std::min<size_t>(nLeft, BLOCK_CAPACITY - m_nBlock));
        memcpy(m_pBlock.get() + m_nBlock, pBytes, nTake);
        m_nBlock += nTake;
        pBytes += nTake;
        nLeft -= nTake;
        if (m_nBlock >= m_nWriteAt)
            Flush();
    }
}

void CUploadRun::Flush(bool bLast)
{
    // The user's question holds the worker here too, so that a Yes given while the last block
    // waits still stops the upload before the server has all of it.
    if (m_bPaused)
        WaitForSingleObject(m_evRunnable.Get(), INFINITE);
    if (S().bStopRequested)
        throw ECancel();
    if (m_nBlock > 0)
    {
        const ULONGLONG nStart = GetTickCount64();
        Write(m_pBlock.get(), m_nBlock);
        const ULONGLONG nMs = GetTickCount64() - nStart;
        if (nMs < UPLOAD_QUICK_WRITE_MS && m_nBlock >= m_nWriteAt)
            m_nWriteAt = std::min(m_nWriteAt * 2, UPLOAD_WRITE_BLOCK);
        else if (nMs > UPLOAD_SLOW_WRITE_MS)
            m_nWriteAt = std::max(m_nWriteAt / 2, UPLOAD_FIRST_WRITE_BLOCK);
    }
    m_nBlock = 0;
    if (bLast)
    {
        // The last byte is written: from here the server has the whole upload, and only an
        // answer that is overdue may still be stopped. Set before the dialog hears of it.
        m_nAnswerAwaitedSince = GetTickCount64();
        m_bSendingBody = false;
    }
    TellWritten();
}

void CUploadRun::TellWritten()
{
    for (const CNote& note : m_notes)
    {
        // A stopped upload reports nothing more, not even a write that ended as the stop came.
        if (S().bStopRequested)
            break;
        const size_t nValue = note.nValue;
        switch (note.nKind)
        {
        case ENote::Stage:
            m_nStage = static_cast<EUploadStage>(nValue);
            SetStatus(m_nStage);
            break;
        case ENote::BeginFile: Notify([nValue](IUploadObserver& o) { o.OnBeginFile(nValue); }); break;
        case ENote::Content: Notify([nValue](IUploadObserver& o) { o.OnProgress(static_cast<DWORD>(nValue)); }); break;
        case ENote::EndFile: Notify([nValue](IUploadObserver& o) { o.OnEndFile(nValue); }); break;
        }
    }
    m_notes.clear();
}

// Writes every byte, continuing after partial writes.
void CUploadRun::Write(const BYTE* pBytes, DWORD nLength)
{
    DWORD nDone = 0;
    while (nDone < nLength)
    {
        DWORD nWritten = 0;
        if (!InternetWriteFile(m_request, pBytes + nDone, nLength - nDone, &nWritten))
            throw PTL::CInternetException(m_request, L"Failed to write to network (%u bytes)", nLength - nDone);
        if (nWritten == 0)
            throw EWriteError();
        nDone += nWritten;
    }
}

void CUploadRun::ReadResponse()
{
    SetStatus(EUploadStage::Answered);
    S().szResponse.clear();
    S().strRawResponse.clear();
    SetStatus(EUploadStage::Reading);
    std::vector<char> block;
    size_t nAnswerBytes = 0;  // zero bytes included, so an answer of zeros is bounded too
    for (;;)
    {
        // A server that trickles its answer stays within the receive time-out of every read:
        // the whole answer has a deadline of its own.
        // A stop asked for while the answer was awaited takes effect once it is overdue.
        if (S().bStopRequested && MayStop())
        {
            SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
            throw PTL::CInternetException(nullptr, L"The overdue answer was stopped");
        }
        if (GetTickCount64() - m_nAnswerAwaitedSince > m_nAnswerDeadlineMs)
        {
            SetLastError(ERROR_INTERNET_TIMEOUT);
            throw PTL::CInternetException(nullptr, L"The answer took longer than %lu ms",
                                          static_cast<unsigned long>(m_nAnswerDeadlineMs));
        }
        DWORD nAvailable = 0;
        if (!InternetQueryDataAvailable(m_request, &nAvailable, 0, 0))
            throw PTL::CInternetException(m_request, L"Failed to query available data length");
        block.resize(static_cast<size_t>(nAvailable) + 1);
        DWORD nRead = 0;
        if (!InternetReadFile(m_request, block.data(), nAvailable, &nRead))
            throw PTL::CInternetException(m_request, L"Failed to read from network (%u bytes)", nAvailable);
        if (nRead == 0)
            break;
        // The answer is text: a zero byte ends what is kept of the block it arrives in.
        block[nRead] = '\0';
        S().strRawResponse.append(block.data());
        nAnswerBytes += nRead;
        if (nAnswerBytes > UPLOAD_MAX_ANSWER)
            throw EBodyError();
    }
    SetStatus(EUploadStage::Decoding);
    S().szResponse = PTL::DecodeText(S().strRawResponse, PTL::CharsetFor(m_bUnicode));
    if (m_answerStep && !S().szResponse.empty())
    {
        m_nStage = EUploadStage::Inline;
        m_answerStep(S().szResponse, m_strActionUrl, m_cancel, m_nReceiveMs);
        if (m_cancel.IsCancelled())
            throw ECancel();
    }
    SetStatus(EUploadStage::Done);
}

// A redirect answer carries a Location; it becomes szLocation, resolved against the action.
// The page is sent there, so only a web address is taken: a "javascript:" one would run the
// server's script in the page, others would open local files or programs.
CUploadRun::ERedirect CUploadRun::TakeRedirect()
{
    std::vector<WCHAR> location(MAX_LOCATION_BYTES / sizeof(WCHAR) + 1, L'\0');
    DWORD nLength = MAX_LOCATION_BYTES;
    if (!m_request.QueryInfo(HTTP_QUERY_LOCATION, location.data(), &nLength))
        return ERedirect::None;
    location.back() = L'\0';
    if (!location[0])
        return ERedirect::None;
    std::wstring strTarget = ResolveActionUrl(location.data(), m_strActionUrl.c_str());
    if (strTarget.empty())
        strTarget = location.data();
    if (!PTL::IsHttpUrl(strTarget))
    {
        const size_t nColon = strTarget.find(L':');
        m_strRefusedScheme = strTarget.substr(0, std::min<size_t>(nColon, 32));
        return ERedirect::Refused;
    }
    S().szLocation = strTarget;
    return ERedirect::Taken;
}

// One line on the debug output for an upload that failed, was stopped or was answered with an
// error status, so that whoever watches with a debugger sees where and why.
void CUploadRun::Trace(EAttempt nResult)
{
    if (m_bRefused)
        return;
    const wchar_t* szOutcome = nullptr;
    const EUploadOutcome nOutcome = OutcomeOf(nResult);
    if (nOutcome == EUploadOutcome::Cancelled)
        szOutcome = L"cancelled";
    else if (nOutcome == EUploadOutcome::Failed)
        szOutcome = L"failed";
    else if (nResult == EAttempt::Answered && m_nStatus >= 400)
        szOutcome = L"answered with an error";
    if (!szOutcome)
        return;
    // An answer that only redirected counts as a failure when its address was not followed.
    const std::wstring strWhy = m_strRefusedScheme.empty()
                                    ? std::wstring()
                                    : L", a redirect to a \"" + m_strRefusedScheme + L":\" address is not followed";
    wchar_t szLine[1024];
    _snwprintf(szLine, ARRAYSIZE(szLine) - 1,
               L"Pelora5: upload %ls while %ls: internet error %lu (%ls), HTTP status %lu%ls, %ls\n", szOutcome,
               StageName(m_nStage), static_cast<unsigned long>(m_nError), ErrorText(m_nError).c_str(),
               static_cast<unsigned long>(m_nStatus), strWhy.c_str(), m_strActionUrl.c_str());
    szLine[ARRAYSIZE(szLine) - 1] = L'\0';
    OutputDebugStringA(PTL::EncodeText(szLine).c_str());
}

// ---- the engine ------------------------------------------------------------------------------

CUploadEngine::CUploadEngine(IUploadObserver& observer)
    : m_pState(std::make_shared<CUploadState>()), m_observer(observer)
{
}

CUploadEngine::~CUploadEngine()
{
    if (m_pRun && !Abort())
        Abandon();
}

void CUploadEngine::Abandon()
{
    // The worker is still inside a platform call that the closed handles did not end.
    if (!m_pRun)
        return;
    m_pRun->Detach();
    m_thread.Release();
    m_pRun.reset();
    // The run ends here for whoever looks at the state: cancelled, as an abort leaves it, and a
    // new run may start at once.
    CUploadState& s = *m_pState;
    s.Result = CUploadResult();
    s.Result.nOutcome = EUploadOutcome::Cancelled;
    s.bRunning = false;
}

bool CUploadEngine::Start()
{
    CUploadState& s = *m_pState;
    if (s.bRunning)
        return false;
    Join();
    s.Result = CUploadResult();
    auto markFailed = [&s] { s.Result.nOutcome = EUploadOutcome::Failed; };
    // Called from window procedures and COM methods: nothing may be thrown from here.
    try
    {
        m_pRun = std::make_shared<CUploadRun>(m_pState, m_observer);
    }
    catch (...)
    {
        m_pRun.reset();
        markFailed();
        return false;
    }
    s.bStopRequested = false;
    // Set before the thread exists so that a second start in the meantime does nothing.
    s.bRunning = true;
    // The thread holds the run, so a thread left behind by an abort still owns what it touches.
    if (!m_thread.Start([pRun = m_pRun] { pRun->Execute(); }))
    {
        m_pRun.reset();
        s.bRunning = false;
        markFailed();
        return false;
    }
    return true;
}

void CUploadEngine::Join()
{
    m_thread.Join(INFINITE, PTL::EServe::SentMessages);
    m_pRun.reset();
}

bool CUploadEngine::MayStop() const { return m_pRun && m_pRun->MayStop(); }

void CUploadEngine::Cancel()
{
    if (!m_pRun)
    {
        m_pState->bStopRequested = true;
        return;
    }
    if (m_pRun->Cancel())
        m_thread.CancelIo();
}

bool CUploadEngine::Abort(DWORD nWaitMs)
{
    if (!m_pRun)
        return true;
    m_pRun->Abort();
    // Closed handles end a blocked call where the platform's internet library checks them;
    // where it does not, the call is still a wait on a socket of the worker's own, which
    // cancelling the worker's pending synchronous I/O ends, again while the worker may step
    // into one more call before it sees the stop.
    if (!m_thread.Join(nWaitMs, PTL::EServe::SentMessages, true))
        return false;
    Join();
    return true;
}

void CUploadEngine::Pause()
{
    if (m_pRun)
        m_pRun->Pause();
}

void CUploadEngine::Resume()
{
    if (m_pRun)
        m_pRun->Resume();
}
