// The upload engine: sends one request (file parts, form fields, closing delimiter) on a thread
// of its own, repeats it after 401 (and, when asked, after failures that may pass), stops when
// asked, and leaves one outcome value in its state. It reports to an observer (the progress
// dialog, a test, the benchmark) and owns its thread: the start, the join and the abort all live
// here.
//
// Speed: file content is read in 51200-byte chunks, each preceded by a look at the stop request,
// but the chunks and the part texts between them go to the network in blocks of up to
// UPLOAD_WRITE_BLOCK bytes: a write call costs about the same whatever its size, so fewer and
// larger writes are what makes the transfer fast. Each chunk is reported once the write that
// carries it has returned, so the progress shown is what the network took.
//
// Stopping: Abort (and the destructor) closes the internet handles from the calling thread and
// cancels the worker's pending I/O, which ends a connect, write or read that blocks on them
// where the platform allows it; the session has explicit time-outs for where it does not. A
// worker that still has not ended when the bound runs out is left to finish on its own at its
// time-out: it holds its own state and a reference to its module, and calls no observer.
#pragma once
#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ptl/Handle.h"
#include "ptl/Thread.h"
#include "upload/UploadRequest.h"

constexpr DWORD UPLOAD_CHUNK_SIZE = 51200;
constexpr DWORD UPLOAD_WRITE_BLOCK = 4 * 1024 * 1024;
// The first write's block; it doubles after each full block written within UPLOAD_QUICK_WRITE_MS
// and halves after a write slower than UPLOAD_SLOW_WRITE_MS.
constexpr DWORD UPLOAD_FIRST_WRITE_BLOCK = 64 * 1024;
constexpr ULONGLONG UPLOAD_QUICK_WRITE_MS = 250;
constexpr ULONGLONG UPLOAD_SLOW_WRITE_MS = 1000;
// Bytes wait in the block at most this long before they are written, however slowly the files
// open or read, so that the progress shown never stands still behind them.
constexpr ULONGLONG UPLOAD_BLOCK_HOLD_MS = 100;
constexpr int UPLOAD_MAX_ATTEMPTS = 4;
// Runs of up to UPLOAD_MAX_ATTEMPTS attempts each: only a run whose every attempt was answered
// 401 is followed by another, with a session of its own.
constexpr int UPLOAD_MAX_RUNS = 2;
// Longest answer taken: a server that sends more (or never stops) fails the upload instead of
// exhausting the page's memory.
constexpr size_t UPLOAD_MAX_ANSWER = 64u << 20;
// Time-outs of the upload's session, where none is configured for the platform. The answer may
// take a while: the server processes the whole upload before it answers.
constexpr DWORD UPLOAD_CONNECT_TIMEOUT_MS = 30000;
constexpr DWORD UPLOAD_SEND_TIMEOUT_MS = 60000;
constexpr DWORD UPLOAD_RECEIVE_TIMEOUT_MS = 120000;
// The whole answer must have come within this time of the body's end, however it trickles.
constexpr DWORD UPLOAD_ANSWER_DEADLINE_MS = 10 * 60000;
// Automatic retry of a failed attempt, when asked for: the first wait, doubled for each retry up
// to the longest, each spread by up to a fifth either way so that many clients do not return
// together. A server's Retry-After sets the wait instead, up to its own bound.
constexpr DWORD UPLOAD_RETRY_DELAY_MS = 1000;
constexpr DWORD UPLOAD_RETRY_MAX_DELAY_MS = 60000;
constexpr DWORD UPLOAD_RETRY_AFTER_MAX_MS = 10 * 60000;
// How long an abort waits for the worker before leaving it to end on its own.
constexpr DWORD UPLOAD_ABORT_WAIT_MS = 1000;

// Where a run stands, in the order a run passes through them. OnStatus reports each as it is
// reached (Waiting and Inline excepted: OnWaitBegin tells the first, the second belongs to the
// answer step); a failed or cancelled run's outcome names the one it was in.
enum class EUploadStage
{
    Preparing,      // the target address is read and a session opens
    Connecting,     // the connection to the server is made
    Connected,      // the request's head is out
    PreparingFile,  // a file part's header
    SendingFile,    // a file's content
    SendingFields,  // the form fields and the closing delimiter
    Waiting,        // the body is out; the answer is awaited
    Answered,       // the answer has begun
    Reading,        // the answer is read
    Decoding,       // the answer is decoded into text
    Inline,         // the answer step (the inline rewriting) runs
    Done,           // the answer is there
    Cancelled,      // the run ends cancelled
    Failed,         // the run ends failed
};

// How a run ended.
enum class EUploadOutcome
{
    None,        // no run has ended yet, or one is under way
    Completed,   // answered (whatever the status); the answer is in szResponse
    Redirected,  // answered with a redirect to a web address, which is in szLocation
    Cancelled,   // stopped by Cancel, Abort or Abandon
    Failed,      // no usable answer: the stage, error and status say where and why
};

// Why a failed attempt is tried again.
enum class EUploadRetryReason
{
    Connect,  // the connection could not be made
    Lost,     // the connection was lost before the whole answer had come
    Timeout,  // a send or receive time-out
    Status,   // the server answered 408, 429, 500, 502, 503 or 504
};

// The wait before another attempt, as the observer is told of it.
struct CUploadRetryWait
{
    unsigned nAttempt = 0;   // the attempt that follows (2 for the first retry)
    unsigned nAttempts = 0;  // all attempts the upload may make
    DWORD nDelayMs = 0;
    EUploadRetryReason nReason = EUploadRetryReason::Lost;
    DWORD nHttpStatus = 0;   // the failed attempt's answer, 0 for none
    HANDLE hStop = nullptr;  // signalled when the upload is stopped
};

// The one value a run leaves behind, set once by the worker as it ends (or by Abandon).
struct CUploadResult
{
    EUploadOutcome nOutcome = EUploadOutcome::None;
    EUploadStage nStage = EUploadStage::Preparing;  // the stage a failed or cancelled run was in
    DWORD nError = 0;                               // the internet or system error, 0 for none
    DWORD nHttpStatus = 0;                          // the last answer's status, 0 for none
};

// What the engine tells whoever shows the upload. All calls come on the worker thread, in this
// order per attempt: OnAttempt, then per file OnBeginFile, OnProgress per chunk, OnEndFile; then
// OnWaitBegin/OnWaitEnd around the wait for the answer; OnStatus at every stage; OnFinished once
// at the very end, after which the engine makes no call.
namespace PTL
{
class CInternetCancel;
}

class IUploadObserver
{
public:
    virtual void OnStatus(EUploadStage nStage) = 0;
    virtual void OnAttempt() = 0;  // an attempt starts: every file is sent again
    virtual void OnBeginFile(size_t nIndex) = 0;
    virtual void OnProgress(DWORD nBytes) = 0;  // one chunk of file content went out
    virtual void OnEndFile(size_t nIndex) = 0;
    virtual void OnWaitBegin() = 0;  // the body is out; the answer is awaited
    virtual void OnWaitEnd() = 0;
    virtual void OnFinished() = 0;
    // An attempt failed in a way that may pass: the next starts after the wait, unless the
    // upload is stopped meanwhile or this returns false, which ends the upload as failed.
    // Followed by OnAttempt. A call that waits for someone's answer also ends on wait.hStop.
    virtual bool OnRetryWait(const CUploadRetryWait& /*wait*/) { return true; }

protected:
    ~IUploadObserver() = default;
};

// Run on the worker thread after a whole, non-empty answer was read and decoded, before the run
// ends (the inline rewriting of the answer): it may change the answer. It stays stoppable: a
// Cancel or Abort closes the internet handles registered with cancel, and a step that returns
// with cancel set ends the run cancelled. nReceiveTimeoutMs is the upload's own receive time-out.
// The engine keeps a copy per run, so a worker left behind never refers to its maker.
using UploadAnswerStep = std::function<void(std::wstring& strAnswer, const std::wstring& strActionUrl,
                                            PTL::CInternetCancel& cancel, DWORD nReceiveTimeoutMs)>;

// The request, the two flags both threads look at, the outcome and the answer. The request fields
// are copied when a run starts, so script may change them meanwhile; the outcome and the answer
// are written by the worker and read after it has ended.
struct CUploadState
{
    std::wstring szPageUrl;
    std::wstring szActionUrl;
    CFormFields FormFields;
    std::vector<UploadPart> UploadParts;
    bool bUseUnicode = false;
    // Set by the machine's policy: an HTTPS target must present a valid certificate. Without it
    // certificate problems do not stop the upload (intranet servers with their own certificates).
    bool bVerifyCertificates = false;
    // Set for a page its zone limits: the action may not be in a more private network than
    // the page (PTL::PrivateNetworkAllows), checked before every attempt connects.
    bool bPrivateNetworkRule = false;
    // False: the request goes without the user's cookies and without automatic logon, as a
    // page's request to a site other than its own must.
    bool bSendCredentials = true;
    UploadAnswerStep AnswerStep;  // empty: the answer is taken as it came
    DWORD nConnectTimeoutMs = UPLOAD_CONNECT_TIMEOUT_MS;
    DWORD nSendTimeoutMs = UPLOAD_SEND_TIMEOUT_MS;
    DWORD nReceiveTimeoutMs = UPLOAD_RECEIVE_TIMEOUT_MS;
    DWORD nAnswerDeadlineMs = UPLOAD_ANSWER_DEADLINE_MS;
    // Attempts after a failed one (0: a failure ends the upload) and the first wait before one.
    ULONG nRetryCount = 0;
    DWORD nRetryDelayMs = UPLOAD_RETRY_DELAY_MS;

    std::atomic<bool> bRunning{false};        // a run is under way
    std::atomic<bool> bStopRequested{false};  // the worker stops before its next chunk

    CUploadResult Result;
    std::wstring szResponse;
    std::string strRawResponse;
    std::wstring szLocation;
};

class CUploadRun;

class CUploadEngine
{
public:
    explicit CUploadEngine(IUploadObserver& observer);
    // Aborts a running worker, within UPLOAD_ABORT_WAIT_MS.
    ~CUploadEngine();
    CUploadEngine(const CUploadEngine&) = delete;
    CUploadEngine& operator=(const CUploadEngine&) = delete;

    CUploadState& State() { return *m_pState; }
    const CUploadState& State() const { return *m_pState; }

    // Starts a worker for the request as it stands. False when one runs or no thread starts
    // (the outcome is then failed).
    bool Start();
    // Waits for the worker to end, serving messages sent to this thread's windows, and
    // releases it. For a worker known to be ending (it has called OnFinished) or in tests.
    void Join();
    bool HasWorker() const { return m_thread.IsValid(); }
    HANDLE Thread() const { return m_thread.Handle(); }

    // True while the user may be asked about a stop: until the body's last byte is written, and
    // once the answer is overdue (awaited longer than the receive time-out).
    bool MayStop() const;

    // The user's or script's stop: the worker stops before its next chunk. While MayStop, a
    // write or read that blocks is abandoned too; a stop of an overdue answer ends the run as
    // failed, since the server may have kept the upload. Otherwise the run goes on.
    void Cancel();
    // Ends the run at whatever stage it is, waiting at most nWaitMs for the worker; the outcome
    // is cancelled. True when the worker has ended.
    bool Abort(DWORD nWaitMs = UPLOAD_ABORT_WAIT_MS);

    // For a worker that Abort could not end: no observer call starts after this returns, the
    // state shows the run ended as cancelled (the worker no longer writes to it), and the
    // worker finishes on its own at its time-out, holding everything it needs.
    void Abandon();

    // Holds the worker before its next chunk, where it holds nothing another thread needs.
    void Pause();
    void Resume();

private:
    std::shared_ptr<CUploadState> m_pState;
    std::shared_ptr<CUploadRun> m_pRun;
    IUploadObserver& m_observer;
    PTL::CThread m_thread;
};
