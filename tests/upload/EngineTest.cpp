// The upload engine's own promises, against the recording server: large network writes with a
// report per chunk, a stop that ends every stage within a second, and one debug-output line
// for an upload that did not end well.
#include <winsock2.h>
#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include "tests/common/KnownDifference.h"
#include "tests/upload/ImportSlot.h"
#include "tests/upload/RecordingDialog.h"
#include "tests/upload/TestServers.h"
#include "tests/upload/UploadTestFiles.h"
#include "response/InlineRewrite.h"
#include "upload/FileOpener.h"
#include "upload/UploadRequest.h"
#include "ptl/Wait.h"

namespace
{
// ---- the network writes the engine makes, seen at its import of InternetWriteFile ----------
using WriteFn = BOOL(WINAPI*)(HINTERNET, LPCVOID, DWORD, LPDWORD);
WriteFn s_pRealWrite = nullptr;
std::vector<DWORD>* s_pWrites = nullptr;

BOOL WINAPI CountingWrite(HINTERNET hFile, LPCVOID pBuffer, DWORD nLength, LPDWORD pnWritten)
{
    if (s_pWrites)
        s_pWrites->push_back(nLength);
    return s_pRealWrite(hFile, pBuffer, nLength, pnWritten);
}

// Routes the program's InternetWriteFile through CountingWrite while in scope.
class CWriteCounter
{
public:
    explicit CWriteCounter(std::vector<DWORD>& writes)
        : m_swap("wininet.dll", "InternetWriteFile", reinterpret_cast<void*>(&CountingWrite))
    {
        s_pRealWrite = m_swap.Original<WriteFn>();
        s_pWrites = &writes;
    }
    ~CWriteCounter() { s_pWrites = nullptr; }
    bool Installed() const { return m_swap.Installed(); }

private:
    CImportSwap m_swap;
};

// ---- the debug output of this process, seen as the exception OutputDebugStringA raises ------
std::mutex s_debugLock;
std::vector<std::string> s_debugLines;

LONG CALLBACK CaptureDebugString(EXCEPTION_POINTERS* pInfo)
{
    const EXCEPTION_RECORD* pRecord = pInfo->ExceptionRecord;
    if (pRecord->ExceptionCode == DBG_PRINTEXCEPTION_C && pRecord->NumberParameters >= 2)
    {
        std::lock_guard<std::mutex> lock(s_debugLock);
        s_debugLines.emplace_back(reinterpret_cast<const char*>(pRecord->ExceptionInformation[1]));
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

std::vector<std::string> UploadTraceLines()
{
    std::lock_guard<std::mutex> lock(s_debugLock);
    std::vector<std::string> lines;
    for (const std::string& str : s_debugLines)
        if (str.compare(0, 16, "Pelora5: upload ") == 0)
            lines.push_back(str);
    return lines;
}

class UploadEngine : public CServerTest
{
protected:
    void Prepare(CRecordingDlg& dlg, const std::wstring& strAction)
    {
        dlg.szPageUrl = L"http://127.0.0.1/pages/form.html";
        dlg.szActionUrl = strAction;
        BuildUploadParts(m_entries, false, false, dlg.UploadParts);
    }

    void List(const std::wstring& strName, const std::string& strContent)
    {
        m_entries.push_back(ListedFile(m_dir.WriteFile(strName, strContent), L"file", strContent.size()));
    }

    CTempDir m_dir;
    std::vector<FileEntry> m_entries;
};

bool WaitFor(const std::function<bool()>& fnDone, DWORD nMilliseconds)
{
    return PTL::CWait(nMilliseconds).Until(fnDone).Polling(10).Run().Done();
}
}  // namespace

TEST_F(UploadEngine, WritesLargeBlocksWhileReportingEveryChunk)
{
    const size_t nBig = 3 * UPLOAD_WRITE_BLOCK + 12345;
    List(L"big.bin", PatternBytes(nBig, 21));
    for (int i = 0; i < 30; ++i)
        List(L"s" + std::to_wstring(i) + L".bin", PatternBytes(1000 + 997 * i, 22 + i));
    CRecordingDlg dlg;
    dlg.FormFields.Append(L"after", std::wstring(70000, L'x').c_str());
    Prepare(dlg, RecordUrl(L"/blocks"));

    std::vector<DWORD> writes;
    {
        CWriteCounter counter(writes);
        ASSERT_TRUE(counter.Installed());
        dlg.Run();
    }
    ASSERT_STREQ("received", OutcomeName(dlg.Outcome()));
    const CRecordedRequest request = RecordServer::Request(0);

    // The writes start small and grow while the link takes them quickly, up to full blocks;
    // every write but the last carries at least the first block, and together they are the body.
    ASSERT_GE(writes.size(), 2u);
    size_t nWritten = 0;
    DWORD nLargest = 0;
    for (size_t i = 0; i < writes.size(); ++i)
    {
        nWritten += writes[i];
        nLargest = std::max(nLargest, writes[i]);
        if (i + 1 < writes.size())
        {
            EXPECT_GE(writes[i], UPLOAD_FIRST_WRITE_BLOCK) << "write " << i;
        }
    }
    EXPECT_GE(nLargest, UPLOAD_WRITE_BLOCK);
    EXPECT_EQ(request.strBody.size(), nWritten);
    EXPECT_EQ(std::to_string(nWritten), request.Header("Content-Length"));

    // The observer still hears of every chunk of 51200 bytes, file by file.
    size_t nChunks = 0;
    for (const FileEntry& entry : m_entries)
        nChunks += (entry.nFileSize + UPLOAD_CHUNK_SIZE - 1) / UPLOAD_CHUNK_SIZE;
    EXPECT_EQ(static_cast<int>(nChunks), dlg.nProgressCalls.load());
    EXPECT_EQ(static_cast<int>(nBig / UPLOAD_CHUNK_SIZE), dlg.Count("progress 51200"));
}

// Files opened ahead are held against writers, so only those the upload will soon reach are:
// at the rate sent so far, a file four seconds away stays free and one a second away is opened.
TEST(FileOpener, HoldsOnlyFilesTheUploadWillSoonReach)
{
    CTempDir dir;
    // The first file counts 1 GiB: the second begins far beyond what may be opened ahead.
    const ULONGLONG nFirst = 1ULL << 30;
    std::vector<UploadPart> parts(3);
    for (int i = 0; i < 3; ++i)
    {
        parts[i].szFilePath = dir.WriteFile(L"o" + std::to_wstring(i) + L".bin", std::string(10, 'a' + i));
        parts[i].nSize = i == 0 ? nFirst : 10;
    }
    const std::wstring strProbe = dir.WriteFile(L"probe.bin", "p");
    auto open = [](const std::wstring& strPath, DWORD nAccess) {
        return CKernelHandle(CreateFileW(strPath.c_str(), nAccess, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    };
    auto writable = [&](size_t i) { return open(parts[i].szFilePath, GENERIC_WRITE).IsValid(); };
    const ULONGLONG nBefore = GetTickCount64();
    CFileOpener opener(parts);
    const ULONGLONG nMade = GetTickCount64();
    // The opener closes what it is given on its own thread, in the turn that also opens what
    // may be opened: once a second file given after the first is closed, the opener has done
    // all it was going to do with what it was told before.
    auto settled = [&] {
        for (int i = 0; i < 2; ++i)
        {
            CKernelHandle probe = open(strProbe, GENERIC_READ);
            ASSERT_TRUE(probe.IsValid());
            opener.Give(std::move(probe));
            ASSERT_TRUE(WaitFor([&] { return open(strProbe, GENERIC_READ).IsValid(); }, 5000))
                << "the opener closes what it is given";
        }
    };
    CKernelHandle first;
    ASSERT_TRUE(opener.Take(0, first, [] { return false; }));
    EXPECT_TRUE(first.IsValid());
    settled();
    EXPECT_TRUE(writable(1)) << "held long before the upload reaches it";
    // A rate needs time to pass: a quarter of a second.
    while (GetTickCount64() < nMade + 250)
        Sleep(10);
    // Counted from after the opener began, the rate is at least the opener's own.
    ULONGLONG nElapsed = GetTickCount64() - nMade;
    const ULONGLONG nFourSecondsAway = nFirst * nElapsed / (nElapsed + 4000);
    opener.Sent(nFourSecondsAway);
    settled();
    EXPECT_TRUE(writable(1)) << "held four seconds before the upload reaches it, at " << nFourSecondsAway
                             << " bytes in " << nElapsed << " ms";
    // Counted from before it began, at most the opener's own.
    nElapsed = GetTickCount64() - nBefore;
    const ULONGLONG nOneSecondAway = nFirst * nElapsed / (nElapsed + 1000);
    opener.Sent(nOneSecondAway);
    settled();
    EXPECT_FALSE(writable(1)) << "not opened a second before the upload reaches it, at " << nOneSecondAway
                              << " bytes in " << nElapsed << " ms";
    CKernelHandle second;
    ASSERT_TRUE(opener.Take(1, second, [] { return false; }));
    EXPECT_TRUE(second.IsValid());
    EXPECT_FALSE(writable(1)) << "the file being sent is held";
    opener.Give(std::move(first));
    opener.Give(std::move(second));
}

// Each case stalls the upload at one stage. The stop gives the caller back within its bound of a
// second, long before the session's time-out (the control going away must not hang the page); a worker that the platform keeps inside a
// blocked call ends by itself at the session's time-out, cancelled and calling nobody.
TEST_F(UploadEngine, StopReleasesEveryStageWithinASecond)
{
    // A listener whose queue is full: the next connection is never taken.
    WSADATA wsa;
    ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &wsa));
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
    ASSERT_EQ(0, listen(listener, 0));
    int nLength = sizeof(address);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &nLength);
    std::vector<SOCKET> fillers;
    for (int i = 0; i < 3; ++i)
    {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        u_long nNonBlocking = 1;
        ioctlsocket(s, FIONBIO, &nNonBlocking);
        connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        fillers.push_back(s);
    }
    // The queue is full once the fillers are connected (writable), not when they are sent.
    for (SOCKET s : fillers)
    {
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(s, &writable);
        timeval limit = {10, 0};
        select(0, nullptr, &writable, nullptr, &limit);
    }
    const std::wstring strFullQueue = L"http://127.0.0.1:" + std::to_wstring(ntohs(address.sin_port)) + L"/full";

    List(L"large.bin", PatternBytes(32 * 1024 * 1024, 30));
    const DWORD TIMEOUT_MS = 3000;
    static const struct
    {
        const char* szStage;
        const char* szScript;  // null: the full queue
        bool bInline;
        const char* szReached;  // the observer call after which the upload is stalled
        int nStalled;           // requests the server has taken when it stalls (it records them then)
        bool bUserCancel;       // the user's Yes rather than the control going away
        const char* szOutcome = "cancelled";
    } cases[] = {
        {"connecting", nullptr, false, "stage connecting", 0, false},
        {"sending", "engine_stall_while_sending.json", false, "progress 51200", 1, true},
        {"sending", "engine_stall_while_sending.json", false, "progress 51200", 1, false},
        {"waiting", R"([{"delay":8}])", false, "wait", 1, false},
        {"reading", R"([{"fault":"stall_answer","seconds":8}])", false, "stage reading", 1, false},
        {"inline", "engine_inline_script_never_answers.json", true, "stage decoding", 2, false},
        {"retry wait", R"([{"status":503,"headers":[["Retry-After","30"]]}])", false, "retry", 1, true},
        // An answer that trickles within every read's time-out: once it is overdue the user may
        // stop it, and the upload fails, since the server has the whole of it.
        {"overdue", R"([{"fault":"trickle","interval":0.3,"seconds":20}])", false, "stage reading", 1, true, "failed"},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        RecordServer::Reset();
        std::wstring strAction = RecordUrl(L"/stall");
        if (cases[i].szScript)
            RecordServer::Script(cases[i].szScript);
        else
            strAction = strFullQueue;

        CRecordingDlg dlg;
        if (cases[i].bInline)
            dlg.state.AnswerStep = MakeInlineAnswerStep(false, PTL::NO_ZONE);
        if (!strcmp(cases[i].szReached, "retry"))
            dlg.state.nRetryCount = 2;  // its wait is 30 s
        dlg.state.nConnectTimeoutMs = dlg.state.nSendTimeoutMs = dlg.state.nReceiveTimeoutMs = TIMEOUT_MS;
        Prepare(dlg, strAction);
        std::atomic<bool> bReached{false}, bCalledAfter{false}, bStopped{false};
        const std::string strReached = cases[i].szReached;
        dlg.onCall = [&](CRecordingDlg&, const std::string& strCall) {
            if (strCall == strReached)
                bReached = true;
            if (bStopped && strCall.compare(0, 8, "progress") == 0)
                bCalledAfter = true;
        };
        ASSERT_TRUE(dlg.StartWorker()) << "case " << i;
        // The worker has reached its last call before the stall and the server is stalling.
        ASSERT_TRUE(WaitFor([&] { return bReached.load() && RecordServer::Count() >= cases[i].nStalled; }, 20000))
            << "case " << i;
        ASSERT_TRUE(dlg.bRunning) << "case " << i << " ended before the stop";
        if (!strcmp(cases[i].szStage, "overdue"))
        {
            ASSERT_TRUE(WaitFor([&] { return dlg.engine.MayStop(); }, TIMEOUT_MS + 2000)) << "case " << i;
        }

        CKernelHandle hThread;
        HANDLE hDuplicate = nullptr;
        DuplicateHandle(GetCurrentProcess(), dlg.engine.Thread(), GetCurrentProcess(), &hDuplicate, SYNCHRONIZE, FALSE,
                        0);
        hThread.Reset(hDuplicate);
        const auto start = std::chrono::steady_clock::now();
        if (cases[i].bUserCancel)
            dlg.engine.Cancel();
        else if (!dlg.engine.Abort(1000))
            dlg.engine.Abandon();
        bStopped = true;
        const auto nMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        // Back before the session's own time-out could have ended the stalled call.
        EXPECT_LT(nMs, TIMEOUT_MS) << "case " << i << " " << cases[i].szStage;

        // However the platform ends the blocked call, the worker is gone by the time-out.
        PL5_EXPECT_TRUE_TODO_WINE_IF(
            !strcmp(cases[i].szStage, "connecting"),
            WaitForSingleObject(hThread.Get(), TIMEOUT_MS + 3000) == WAIT_OBJECT_0,
            "Wine keeps a connect to a host that never accepts for its own time-out, not ours");
        if (cases[i].bUserCancel)
        {
            // The user's cancel ends the upload where it stood: no new attempt, the cancel status.
            dlg.JoinWorker();
            EXPECT_EQ(1, dlg.Count("attempt")) << "case " << i;
            EXPECT_EQ(strcmp(cases[i].szOutcome, "failed") ? EUploadStage::Cancelled : EUploadStage::Failed,
                      dlg.stages.back())
                << "case " << i;
        }
        EXPECT_STREQ(cases[i].szOutcome, OutcomeName(dlg.Outcome())) << "case " << i << " " << cases[i].szStage;
        EXPECT_FALSE(dlg.bRunning) << "case " << i;
        EXPECT_FALSE(bCalledAfter) << "case " << i << " no chunk after the stop";
    }
    for (SOCKET s : fillers)
        closesocket(s);
    closesocket(listener);
}

TEST_F(UploadEngine, FailuresLeaveOneDebugLine)
{
    PVOID pHandler = AddVectoredExceptionHandler(1, CaptureDebugString);
    List(L"t.bin", PatternBytes(200000, 40));
    // The outcome carries what the line says: the stage, the error and the status. (Where a reset
    // is noticed, and with which error, is the platform's choice.)
    static const struct
    {
        const char* szScript;  // null: nothing listens
        const char* szLine;    // what the line says, after "Pelora5: upload "
        EUploadOutcome nOutcome;
        bool bExact;  // the stage and the error below are the only ones possible
        EUploadStage nStage;
        DWORD nError, nHttpStatus;
    } cases[] = {
        {nullptr, "failed while connecting: internet error 12029 (", EUploadOutcome::Failed, true,
         EUploadStage::Connecting, 12029, 0},
        {R"([{"fault":"reset","after":1000}])", "failed while ", EUploadOutcome::Failed, false, {}, 0, 0},
        {R"([{"status":500,"body":"broken"}])",
         "answered with an error while reading the answer: internet error 0 (none), HTTP status 500",
         EUploadOutcome::Completed, true, EUploadStage::Reading, 0, 500},
        {R"([{"status":200,"body":"fine"}])", nullptr, EUploadOutcome::Completed, true, EUploadStage::Reading, 0, 200},
        // Each read comes within its time-out, the whole answer not within its deadline.
        {R"([{"fault":"trickle","interval":0.2,"seconds":30}])",
         "failed while reading the answer: internet error 12002 (", EUploadOutcome::Failed, true, EUploadStage::Reading,
         12002, 200},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        const std::wstring strAction = RecordServer::ScriptedUrl(cases[i].szScript, L"/traced");
        {
            std::lock_guard<std::mutex> lock(s_debugLock);
            s_debugLines.clear();
        }
        CRecordingDlg dlg;
        dlg.state.nAnswerDeadlineMs = 1500;
        Prepare(dlg, strAction);
        dlg.Run();
        const CUploadResult& result = dlg.state.Result;
        EXPECT_STREQ(OutcomeName(cases[i].nOutcome), OutcomeName(result.nOutcome)) << "case " << i;
        EXPECT_EQ(cases[i].nHttpStatus, result.nHttpStatus) << "case " << i;
        if (cases[i].bExact)
        {
            EXPECT_EQ(cases[i].nStage, result.nStage) << "case " << i;
            EXPECT_EQ(cases[i].nError, result.nError) << "case " << i;
        }
        const std::vector<std::string> lines = UploadTraceLines();
        if (!cases[i].szLine)
        {
            EXPECT_TRUE(lines.empty()) << "case " << i << ": " << (lines.empty() ? "" : lines[0]);
            continue;
        }
        ASSERT_EQ(1u, lines.size()) << "case " << i;
        EXPECT_NE(std::string::npos, lines[0].find(std::string("Pelora5: upload ") + cases[i].szLine))
            << "case " << i << ": " << lines[0];
        const std::string strAsciiAction(strAction.begin(), strAction.end());
        EXPECT_NE(std::string::npos, lines[0].find(strAsciiAction)) << "case " << i << ": " << lines[0];
    }
    RemoveVectoredExceptionHandler(pHandler);
}
