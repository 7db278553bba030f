// The upload worker and its state: sends one request (file parts, form fields, closing
// delimiter) on a thread of its own, retries on 401, stops on request, and leaves the outcome in
// flags for the dialog and the page.
//
// TDialog is the class that derives from CUploadThread<TDialog> (the progress dialog, or a
// recording class in tests). The worker calls, on its own thread:
//   HWND m_hWnd                      the dialog window, or null (timers 1 and 10, WM_CLOSE)
//   void SetStatusText(UINT nId)     status line, by language string id
//   void ResetTotalSent()            start of every attempt
//   void BeginFile(int nIndex)       before a file part's header is written
//   void AddProgress(DWORD nBytes)   after each chunk of file content
//   void EndFile(int nIndex)         after a file's content was written and the file closed
//   void ResetWaitTicks()            right before timer 10 starts (waiting for the answer)
// and, optionally (the default does nothing):
//   void MakeInlineResponse(std::wstring& strResponse)   rewrite a non-empty answer
// TDialog's destructor must stop and join a running worker (bStopRequested, ResumeWorker,
// JoinWorker) before its own members go, since the worker calls into them.
#pragma once
#include <windows.h>
#include <wininet.h>
#include <process.h>

#include <atomic>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "lang/LangIds.h"
#include "lang/LangTable.h"
#include "ptl/InternetException.h"
#include "ptl/InternetHandle.h"
#include "ptl/InternetUrl.h"
#include "upload/KernelHandle.h"
#include "upload/MultipartBody.h"
#include "upload/UploadFile.h"
#include "upload/UploadRequest.h"

namespace PTL
{

// Timers on the dialog window: progress texts (started by whoever starts the worker) and the
// wait blink while the answer is awaited.
enum : UINT_PTR
{
    UPLOAD_TIMER_REFRESH = 1,
    UPLOAD_TIMER_WAIT = 10,
};

constexpr DWORD UPLOAD_CHUNK_SIZE = 51200;
constexpr DWORD UPLOAD_HEAD_ROOM = 8192;  // queued part texts sent together with a chunk
constexpr int UPLOAD_MAX_ATTEMPTS = 4;
// Longest answer taken: a server that sends more (or never stops) fails the upload instead of
// exhausting the page's memory.
constexpr size_t UPLOAD_MAX_ANSWER = 64u << 20;

template <class TDialog>
class CUploadThread
{
public:
    // A write that the platform reported as done without taking any byte.
    class EWriteError
    {
    };
    // The user or script asked to stop while file content was being sent.
    class ECancel
    {
    };
    // A file no longer yields the bytes that were counted for it (shrunk or gone), the body
    // does not fit the 32-bit length the request declares, or the answer exceeds its bound.
    class EBodyError
    {
    };

    CUploadThread() : m_evRunnable(CreateEventW(nullptr, TRUE, TRUE, nullptr)) {}
    CUploadThread(const CUploadThread&) = delete;
    CUploadThread& operator=(const CUploadThread&) = delete;

    // A worker still running is asked to stop and waited for: it uses this object.
    ~CUploadThread()
    {
        bStopRequested = true;
        ResumeWorker();
        JoinWorker();
    }

    // Starts a worker for the request as it stands now. The fields, parts, addresses and the
    // encoding are copied for the run, so script may append fields or list files meanwhile.
    // Whoever calls this has already started timer 1 and the progress clock. Returns false when
    // a run is under way or the thread cannot be started.
    bool StartWorker()
    {
        if (bRunning)
            return false;
        JoinWorker();
        // Called from window procedures and COM methods: nothing may be thrown from here.
        try
        {
            m_runFields = FormFields.Fields();
            m_runParts = UploadParts;
            m_strRunPageUrl = szPageUrl;
            m_strRunActionUrl = szActionUrl;
        }
        catch (...)
        {
            MarkNotStarted();
            return false;
        }
        m_bRunUnicode = bUseUnicode;
        m_bRunInline = bMakeInline;
        m_bRunVerify = bVerifyCertificates;
        m_nRuns = 0;
        bStopRequested = false;
        ResumeWorker();
        // Set before the thread exists so that a second start in the meantime does nothing.
        bRunning = true;
        PL5Lang::BeginUpload();
        unsigned nId = 0;
        const uintptr_t hNew = _beginthreadex(nullptr, 0, &CUploadThread::ThreadProc, this, 0, &nId);
        if (!hNew)
        {
            bRunning = false;
            PL5Lang::EndUpload();
            MarkNotStarted();
            return false;
        }
        hThread.Reset(reinterpret_cast<HANDLE>(hNew));
        nThreadId = nId;
        return true;
    }

    // Waits until the worker thread has ended and releases it. Nothing happens when none runs.
    // The dialog calls it on its own thread after the worker posted WM_CLOSE; the worker never
    // sends to the dialog after that post.
    void JoinWorker()
    {
        if (!hThread.IsValid())
            return;
        WaitForSingleObject(hThread.Get(), INFINITE);
        hThread.Close();
        nThreadId = 0;
        PL5Lang::EndUpload();
    }

    bool HasWorker() const { return hThread.IsValid(); }

    // Holds the worker at the next chunk boundary, where it holds nothing the dialog's thread
    // needs, until ResumeWorker. Used while the cancel question is open.
    void PauseWorker() { ResetEvent(m_evRunnable.Get()); }
    void ResumeWorker() { SetEvent(m_evRunnable.Get()); }

    // ---- state shared with the dialog and the control ----
    CKernelHandle hThread;
    unsigned nThreadId = 0;

    CInternetSession session;
    CHttpConnection connection;
    CHttpFile request;

    bool bUseUnicode = false;
    // Set by the machine's policy: an HTTPS target must present a valid certificate. Without it
    // certificate problems do not stop the upload (intranet servers with their own certificates).
    bool bVerifyCertificates = false;
    std::atomic<bool> bSendingFiles{false};
    std::wstring szPageUrl;
    std::wstring szActionUrl;
    CFormFields FormFields;
    std::vector<UploadPart> UploadParts;

    std::atomic<bool> bRunning{false};
    std::atomic<bool> bStopRequested{false};
    std::atomic<bool> bCompleted{false};
    std::atomic<bool> bRedirected{false};
    std::atomic<bool> bCancelled{false};
    std::atomic<bool> bFailed{false};
    bool bMakeInline = false;

    std::wstring szResponse;
    std::string strRawResponse;
    std::wstring szLocation;
    std::wstring szBoundary;

    // Default for the optional dialog hook: the answer stays as received.
    void MakeInlineResponse(std::wstring&) {}

protected:
    static unsigned __stdcall ThreadProc(void* pParam)
    {
        CUploadThread* pThis = static_cast<CUploadThread*>(pParam);
        // A run that ends cancelled or failed is not repeated even if an earlier attempt of it
        // was answered 401: only a run whose attempts all ended with 401 earns the second run.
        if (pThis->RunUploadGuarded() == 401 && !pThis->bCancelled)
            pThis->RunUploadGuarded();
        pThis->bRunning = false;
        const HWND hWnd = pThis->Dlg().m_hWnd;
        if (hWnd && IsWindow(hWnd))
        {
            KillTimer(hWnd, UPLOAD_TIMER_REFRESH);
            PostMessageW(hWnd, WM_CLOSE, 0, 0);
        }
        return 0;
    }

    // One run; no exception leaves it (out of memory ends the run as failed).
    DWORD RunUploadGuarded()
    {
        try
        {
            return RunUpload();
        }
        catch (...)
        {
            CloseAll();
            bCompleted = false;
            bRedirected = false;
            bFailed = true;
            bStopRequested = true;
            SetStatus(IDS_UPLOAD_FAILED);
            return 0;
        }
    }

    // One run of up to four attempts; the result is the last HTTP status read (0 when none).
    DWORD RunUpload()
    {
        bSendingFiles = false;
        bCompleted = false;
        bRedirected = false;
        bCancelled = false;
        bFailed = false;
        szResponse.clear();
        strRawResponse.clear();
        szLocation.clear();
        bRunning = true;
        if (m_nRuns++ > 0)
            bStopRequested = false;  // the second run after 401 starts afresh

        DWORD nStatus = 0;
        try
        {
            szBoundary = MakeBoundary();
            OpenSession();
        }
        catch (...)
        {
            bFailed = true;
            SetStatus(IDS_UPLOAD_FAILED);
            bStopRequested = true;
            CloseAll();
            return 0;
        }

        const CMultipartBody body(szBoundary, m_bRunUnicode);
        for (int nAttempt = 0; nAttempt < UPLOAD_MAX_ATTEMPTS;)
        {
            bool bGood = false;
            // The status belongs to this attempt's request; one that cannot be read is 0, never
            // the previous attempt's.
            nStatus = 0;
            Dlg().ResetTotalSent();
            try
            {
                StartRequest(body);
                SendFileParts(body);
                SendFormFields(body);
                Dlg().ResetWaitTicks();
                SetDialogTimer(UPLOAD_TIMER_WAIT, 500);
                SendClosing(body);
                if (!HttpEndRequestW(request, nullptr, 0, 0))
                    throw CInternetException(request, L"Failed to end of http request");
                KillDialogTimer(UPLOAD_TIMER_WAIT);
                // The request ended, yet without a status the peer dropped the connection before
                // answering: that is no answer, whatever the body read would give.
                if (!request.QueryInfo(HTTP_QUERY_STATUS_CODE, nStatus) || nStatus == 0)
                    throw CInternetException(request, L"Failed to end of http request");
                if (IsRedirectStatus(nStatus) && TakeRedirect())
                    nAttempt = UPLOAD_MAX_ATTEMPTS - 1;
                else
                    ReadResponse();
                bGood = true;
            }
            catch (const CInternetException&)
            {
                request.QueryInfo(HTTP_QUERY_STATUS_CODE, nStatus);
                if (nStatus == 302 && TakeRedirect())
                {
                    bGood = true;
                    nAttempt = UPLOAD_MAX_ATTEMPTS - 1;
                }
                else if (nStatus != 401)
                {
                    bFailed = true;
                    SetStatus(IDS_UPLOAD_FAILED);
                    bStopRequested = true;
                    nAttempt = UPLOAD_MAX_ATTEMPTS - 1;
                }
            }
            catch (const ECancel&)
            {
                bCancelled = true;
                SetStatus(IDS_UPLOAD_CANCELLED);
                nAttempt = UPLOAD_MAX_ATTEMPTS - 2;
            }
            catch (...)  // EWriteError, EBodyError, out of memory
            {
                request.QueryInfo(HTTP_QUERY_STATUS_CODE, nStatus);
                bFailed = true;
                SetStatus(IDS_UPLOAD_FAILED);
                bStopRequested = true;
                nAttempt = UPLOAD_MAX_ATTEMPTS - 2;
            }
            KillDialogTimer(UPLOAD_TIMER_WAIT);
            // An attempt that broke off inside the file parts is no longer sending them.
            bSendingFiles = false;
            request.QueryInfo(HTTP_QUERY_STATUS_CODE, nStatus);
            if (nStatus == 401)
            {
                bGood = false;
                bCompleted = false;
            }
            request.Close();
            if (nAttempt == UPLOAD_MAX_ATTEMPTS - 1 && !bCompleted)
            {
                bStopRequested = true;
                bFailed = true;
            }
            if (bGood || bStopRequested)
                break;
            ++nAttempt;
        }
        CloseAll();
        return nStatus;
    }

    void OpenSession()
    {
        SetStatus(IDS_STAGE_PREPARING);
        CrackUrl(m_strRunActionUrl.c_str(), m_url);
        SetStatus(IDS_STAGE_CONNECTING);
        session.Open(L"Pelora5", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        if (!m_url.szHostName[0])
            throw CInternetException(nullptr, L"Failed to connect to server (%ls:%u)", m_url.szHostName,
                                     static_cast<unsigned>(m_url.nPort));
        connection.Connect(session, m_url.szHostName, m_url.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0);
    }

    void StartRequest(const CMultipartBody& body)
    {
        m_strPending.clear();
        const ULONGLONG nLength = body.ContentLength(m_runParts, m_runFields);
        if (nLength > MAXDWORD)
            throw EBodyError();

        static const wchar_t* ACCEPT_TYPES[] = {
            L"image/gif", L"image/x-xbitmap", L"image/jpeg", L"image/pjpeg", L"application/x-shockwave-flash",
            L"application/vnd.ms-excel", L"application/vnd.ms-powerpoint", L"application/msword,", L"*/*",
            nullptr,
        };
        const bool bSecure = m_url.nScheme == INTERNET_SCHEME_HTTPS;
        // Redirects are not followed by the platform: it would turn the POST into a GET, or
        // repeat it without its body, and report the result as an answer.
        DWORD nFlags = INTERNET_FLAG_FORMS_SUBMIT | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_CACHE_WRITE |
                       INTERNET_FLAG_NO_AUTO_REDIRECT;
        if (bSecure)
            nFlags |= INTERNET_FLAG_SECURE;
        const std::wstring strObject = std::wstring(m_url.szUrlPath) + m_url.szExtraInfo;
        request.OpenRequest(connection, L"POST", strObject.c_str(), L"HTTP/1.0",
                            m_strRunPageUrl.empty() ? nullptr : m_strRunPageUrl.c_str(), ACCEPT_TYPES, nFlags);
        if (bSecure && !m_bRunVerify)
        {
            DWORD nSecurity = SECURITY_FLAG_IGNORE_REVOCATION | SECURITY_FLAG_IGNORE_UNKNOWN_CA |
                              SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                              SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTPS | SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTP;
            request.SetOption(INTERNET_OPTION_SECURITY_FLAGS, &nSecurity, sizeof(nSecurity));
        }
        // The request offers compressed answers; let the platform undo the compression so the
        // answer reaches the page as the text the server meant.
        BOOL bDecode = TRUE;
        InternetSetOptionW(request, INTERNET_OPTION_HTTP_DECODING, &bDecode, sizeof(bDecode));

        const std::wstring strHeaders =
            L"Content-type: multipart/form-data; boundary=" + szBoundary + L"\r\nAccept-Encoding: gzip, deflate";
        INTERNET_BUFFERSW buffers = {};
        buffers.dwStructSize = sizeof(buffers);
        buffers.lpcszHeader = strHeaders.c_str();
        buffers.dwHeadersLength = static_cast<DWORD>(strHeaders.size());
        buffers.dwHeadersTotal = static_cast<DWORD>(strHeaders.size());
        buffers.dwBufferTotal = static_cast<DWORD>(nLength);
        if (!HttpSendRequestExW(request, &buffers, nullptr, 0, 0))
            throw CInternetException(request, L"Failed to send http request(Ex)");
        SetStatus(IDS_STAGE_CONNECTED);
    }

    // Part headers, line ends, fields and the closing delimiter are queued and go out with the
    // next chunk of file content or at the end, so that a small file costs one network write
    // instead of three; the bytes on the wire are the same.
    void SendFileParts(const CMultipartBody& body)
    {
        bSendingFiles = true;
        // The content buffer, with room in front of it for the queued bytes.
        std::vector<BYTE> buffer(UPLOAD_HEAD_ROOM + UPLOAD_CHUNK_SIZE);
        BYTE* const pChunk = buffer.data() + UPLOAD_HEAD_ROOM;
        for (size_t i = 0; i < m_runParts.size(); ++i)
        {
            const UploadPart& part = m_runParts[i];
            SetStatus(IDS_STAGE_PREPARE_FILES);
            const std::string strHeader = body.FilePartHeader(part);
            Dlg().BeginFile(static_cast<int>(i));
            Queue(strHeader);

            CUploadFile file;
            const bool bOpen = file.Open(part.szFilePath.c_str());
            SetStatus(IDS_STAGE_SENDING);
            if (bOpen)
            {
                ULONGLONG nRemaining = part.nSize;
                for (;;)
                {
                    WaitWhilePaused();
                    const DWORD nChunk = static_cast<DWORD>(nRemaining < UPLOAD_CHUNK_SIZE ? nRemaining : UPLOAD_CHUNK_SIZE);
                    if (nChunk == 0 || bStopRequested)
                        break;
                    // The declared length counted nSize bytes; a file that now ends sooner
                    // cannot be sent truthfully.
                    if (file.Read(pChunk, nChunk) != nChunk)
                        throw EBodyError();
                    if (m_strPending.size() > UPLOAD_HEAD_ROOM)
                        Flush();
                    const DWORD nQueued = static_cast<DWORD>(m_strPending.size());
                    memcpy(pChunk - nQueued, m_strPending.data(), nQueued);
                    m_strPending.clear();
                    Write(pChunk - nQueued, nQueued + nChunk);
                    Dlg().AddProgress(nChunk);
                    nRemaining -= nChunk;
                }
                file.Close();
                if (bStopRequested)
                    throw ECancel();
            }
            else if (part.nSize != 0)
            {
                // Counted when the part was built but gone now.
                throw EBodyError();
            }
            Dlg().EndFile(static_cast<int>(i));
            Queue("\r\n");
        }
    }

    void SendFormFields(const CMultipartBody& body)
    {
        bSendingFiles = false;
        SetStatus(IDS_STAGE_PROCESSING);
        for (const PostField& field : m_runFields)
            Queue(body.FieldPart(field));
    }

    void SendClosing(const CMultipartBody& body)
    {
        Queue(body.Closing());
        Flush();
    }

    void Queue(const std::string& strBytes)
    {
        m_strPending += strBytes;
        if (m_strPending.size() >= UPLOAD_CHUNK_SIZE)
            Flush();
    }

    void Flush()
    {
        if (!m_strPending.empty())
            Write(m_strPending.data(), static_cast<DWORD>(m_strPending.size()));
        m_strPending.clear();
    }

    // Writes every byte, continuing after partial writes.
    void Write(const void* pData, DWORD nLength)
    {
        const BYTE* pBytes = static_cast<const BYTE*>(pData);
        DWORD nDone = 0;
        while (nDone < nLength)
        {
            DWORD nWritten = 0;
            if (!InternetWriteFile(request, pBytes + nDone, nLength - nDone, &nWritten))
                throw CInternetException(request, L"Failed to write to network (%u bytes)", nLength - nDone);
            if (nWritten == 0)
                throw EWriteError();
            nDone += nWritten;
        }
    }

    void ReadResponse()
    {
        SetStatus(IDS_STAGE_PROCESSING);
        szResponse.clear();
        strRawResponse.clear();
        SetStatus(IDS_STAGE_ASKING);
        size_t nAnswerBytes = 0;  // zero bytes included, so an answer of zeros is bounded too
        for (;;)
        {
            DWORD nAvailable = 0;
            if (!InternetQueryDataAvailable(request, &nAvailable, 0, 0))
                throw CInternetException(request, L"Failed to query available data length");
            std::vector<char> block(static_cast<size_t>(nAvailable) + 1);
            DWORD nRead = 0;
            if (!InternetReadFile(request, block.data(), nAvailable, &nRead))
                throw CInternetException(request, L"Failed to read from network (%u bytes)", nAvailable);
            if (nRead == 0)
                break;
            // The answer is text: a zero byte ends what is kept of the block it arrives in.
            block[nRead] = '\0';
            strRawResponse.append(block.data());
            nAnswerBytes += nRead;
            if (nAnswerBytes > UPLOAD_MAX_ANSWER)
                throw EBodyError();
        }
        SetStatus(IDS_STAGE_RESULT);
        szResponse = DecodeWireText(strRawResponse, m_bRunUnicode);
        if (m_bRunInline && !szResponse.empty())
            Dlg().MakeInlineResponse(szResponse);
        bCompleted = true;
        SetStatus(IDS_STAGE_DONE);
    }

    // A redirect answer carries a Location; it becomes szLocation, resolved against the action.
    bool TakeRedirect()
    {
        std::vector<WCHAR> location(5120 / sizeof(WCHAR) + 1, L'\0');
        DWORD nLength = 5120;
        if (!request.QueryInfo(HTTP_QUERY_LOCATION, location.data(), &nLength))
            return false;
        location.back() = L'\0';
        if (!location[0])
            return false;
        szLocation = ResolveActionUrl(location.data(), m_strRunActionUrl.c_str());
        if (szLocation.empty())
            szLocation = location.data();
        bRedirected = true;
        bCompleted = true;
        return true;
    }

    static bool IsRedirectStatus(DWORD nStatus)
    {
        return nStatus == 301 || nStatus == 302 || nStatus == 303 || nStatus == 307 || nStatus == 308;
    }

    // A run that could not start is failed; nothing of an earlier run's outcome may remain.
    void MarkNotStarted()
    {
        bCompleted = false;
        bRedirected = false;
        bCancelled = false;
        bFailed = true;
    }

    void WaitWhilePaused() { WaitForSingleObject(m_evRunnable.Get(), INFINITE); }

    void CloseAll()
    {
        request.Close();
        connection.Close();
        session.Close();
    }

    void SetStatus(UINT nId) { Dlg().SetStatusText(nId); }

    void SetDialogTimer(UINT_PTR nTimer, UINT nMilliseconds)
    {
        const HWND hWnd = Dlg().m_hWnd;
        if (hWnd && IsWindow(hWnd))
            SetTimer(hWnd, nTimer, nMilliseconds, nullptr);
    }
    void KillDialogTimer(UINT_PTR nTimer)
    {
        const HWND hWnd = Dlg().m_hWnd;
        if (hWnd && IsWindow(hWnd))
            KillTimer(hWnd, nTimer);
    }

    TDialog& Dlg() { return static_cast<TDialog&>(*this); }

private:
    CKernelHandle m_evRunnable;  // signalled while the worker may go on
    std::vector<PostField> m_runFields;
    std::vector<UploadPart> m_runParts;
    std::wstring m_strRunPageUrl;
    std::wstring m_strRunActionUrl;
    bool m_bRunUnicode = false;
    bool m_bRunInline = false;
    bool m_bRunVerify = false;
    int m_nRuns = 0;
    std::string m_strPending;  // bytes queued for the next write
    CUrlComponents m_url = {};
};
} // namespace PTL
