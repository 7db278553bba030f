// The upload worker against real servers on 127.0.0.1: the recording server checks the bytes
// and plays faults, PHP's receiver parses the same uploads independently.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <regex>
#include <set>

#include "tests/common/TestData.h"
#include "tests/upload/ImportSlot.h"
#include "tests/upload/RecordingDialog.h"
#include "tests/upload/TestServers.h"
#include "tests/upload/UploadTestFiles.h"
#include "ptl/Text.h"
#include "upload/UploadRequest.h"

namespace
{
const wchar_t PAGE_URL[] = L"http://127.0.0.1/pages/form.html";

std::string Narrow(const std::wstring& str, UINT nCodePage)
{
    if (nCodePage == CP_UTF8)
        return PTL::EncodeText(str);
    std::string strOut(
        static_cast<size_t>(WideCharToMultiByte(nCodePage, 0, str.c_str(), -1, nullptr, 0, nullptr, nullptr)), '\0');
    WideCharToMultiByte(nCodePage, 0, str.c_str(), -1, &strOut[0], static_cast<int>(strOut.size()), nullptr, nullptr);
    strOut.pop_back();
    return strOut;
}

// What the body must be, written out independently of the product's body code.
struct CExpectedFile
{
    std::string strField, strPath, strType, strContent;
};
std::string ExpectedBody(const std::string& strBoundary, const std::vector<CExpectedFile>& files,
                         const std::vector<std::pair<std::string, std::string>>& fields)
{
    std::string strBody;
    for (const CExpectedFile& file : files)
        strBody += "--" + strBoundary + "\r\nContent-Disposition: form-data; name=\"" + file.strField +
                   "\"; filename=\"" + file.strPath + "\"\r\nContent-Type: " + file.strType + "\r\n\r\n" +
                   file.strContent + "\r\n";
    for (const auto& field : fields)
        strBody += "--" + strBoundary + "\r\nContent-Disposition: form-data; name=\"" + field.first + "\"\r\n\r\n" +
                   field.second + "\r\n";
    return strBody + "--" + strBoundary + "--\r\n";
}

class UploadWorker : public CServerTest
{
protected:
    void SetUp() override
    {
        CServerTest::SetUp();
        m_types.Add(L".pl5txt", L"text/plain");
        m_types.Add(L".pl5img", L"image/x-pl5");
    }

    // Lists a new file with that content under the input name.
    std::wstring List(const std::wstring& strName, const std::string& strContent, const wchar_t* szInput = L"file")
    {
        const std::wstring strPath = m_dir.WriteFile(strName, strContent);
        m_entries.push_back(ListedFile(strPath, szInput, strContent.size()));
        return strPath;
    }

    void Prepare(CRecordingDlg& dlg, const std::wstring& strAction, bool bArray = false, bool bFixed = false)
    {
        dlg.szPageUrl = PAGE_URL;
        dlg.szActionUrl = strAction;
        BuildUploadParts(m_entries, bArray, bFixed, dlg.UploadParts);
    }

    CTempDir m_dir;
    CContentTypeKeys m_types;
    std::vector<FileEntry> m_entries;
};
}  // namespace

TEST_F(UploadWorker, SendsExactBytesHeadersAndStages)
{
    const std::string strBig = PatternBytes(120000, 1);
    const std::wstring strBig16 = List(L"big.pl5img", strBig, L"pic");
    const std::wstring strSmall16 = List(L"small.pl5txt", "hello", L"pic");
    CRecordingDlg dlg;
    // Fields appended before the files were listed still go after them.
    dlg.FormFields.Append(L"a", L"1");
    dlg.FormFields.Append(L"say \"hi\"", L"x,y");
    Prepare(dlg, RecordUrl(L"/up/load.php?x=1&y=2"));
    dlg.Run();

    EXPECT_STREQ("received", OutcomeName(dlg.Outcome()));
    ASSERT_EQ(1, RecordServer::Count());
    const CRecordedRequest request = RecordServer::Request(0);
    EXPECT_EQ("POST /up/load.php?x=1&y=2 HTTP/1.0", request.RequestLine());
    const std::string strBoundary = request.Boundary();
    ASSERT_EQ(39u, strBoundary.size()) << request.strHead;
    // A quote in a name goes as %22.
    const std::string strExpected = TestData("worker_exact_bytes.body", {{"BOUNDARY", strBoundary},
                                                                         {"BIG_PATH", PTL::EncodeText(strBig16)},
                                                                         {"BIG_BYTES", strBig},
                                                                         {"SMALL_PATH", PTL::EncodeText(strSmall16)}});
    EXPECT_TRUE(strExpected == request.strBody)
        << "body differs; got " << request.strBody.size() << " bytes, expected " << strExpected.size();
    EXPECT_EQ(std::to_string(strExpected.size()), request.Header("Content-Length"));
    EXPECT_EQ(L"received " + std::to_wstring(strExpected.size()) + L" bytes", dlg.szResponse);

    static const struct
    {
        const char* szName;
        const char* szValue;
    } headers[] = {
        {"User-Agent", "Pelora5"},
        {"Referer", "http://127.0.0.1/pages/form.html"},
        {"Accept-Encoding", "gzip, deflate"},
        {"Accept", "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
                   "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword,, */*"},
    };
    for (size_t i = 0; i < std::size(headers); ++i)
        EXPECT_EQ(headers[i].szValue, request.Header(headers[i].szName)) << "header " << headers[i].szName;

    const std::vector<std::string> expectedCalls = {
        "stage preparing", "stage connecting", "attempt",        "stage connected", "stage file",   "begin 0",
        "stage sending",   "progress 51200",   "progress 51200", "progress 17600",  "end 0",        "stage file",
        "begin 1",         "stage sending",    "progress 5",     "end 1",           "stage fields", "wait",
        "stage answered",  "stage reading",    "stage decoding", "stage done",
    };
    EXPECT_EQ(expectedCalls, dlg.calls);
    EXPECT_EQ((std::vector<LONG>{UPLOAD_STATE_DONE, UPLOAD_STATE_DONE}), dlg.states);
}

TEST_F(UploadWorker, EmptyRequestIsTheClosingDelimiterOnly)
{
    CRecordingDlg dlg;
    Prepare(dlg, RecordUrl(L"/empty"));
    dlg.Run();
    EXPECT_STREQ("received", OutcomeName(dlg.Outcome()));
    const CRecordedRequest request = RecordServer::Request(0);
    EXPECT_EQ("--" + request.Boundary() + "--\r\n", request.strBody);
    EXPECT_EQ("45", request.Header("Content-Length"));
    EXPECT_EQ(0, dlg.Count("begin 0"));
    EXPECT_EQ(0, dlg.nProgressCalls.load());
}

TEST_F(UploadWorker, PhpParsesNamesFilesAndFields)
{
    const std::string strDoc1 = PatternBytes(70000, 2), strImg = PatternBytes(3, 3), strDoc2;
    List(L"d1.pl5txt", strDoc1, L"doc");
    List(L"i1.pl5img", strImg, L"img");
    List(L"d2.bin", strDoc2, L"doc");

    static const struct
    {
        bool bArray;
        bool bFixed;
        const char* szExpected;  // the files as PHP lists them
    } cases[] = {{false, false, "worker_php_numbered.txt"}, {true, false, "worker_php_array.txt"}};
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        CRecordingDlg dlg;
        dlg.bUseUnicode = true;
        dlg.FormFields.Append(L"title", L"two docs");
        dlg.FormFields.Append(L"title", L"again");
        Prepare(dlg, PhpUrl(L"/receive?case=" + std::to_wstring(i)), cases[i].bArray, cases[i].bFixed);
        // Fields stay for every later upload of the same request.
        for (int nRun = 0; nRun < 2; ++nRun)
        {
            dlg.Run();
            ASSERT_STREQ("received", OutcomeName(dlg.Outcome())) << "case " << i;
            std::string strAnswer = PTL::EncodeText(dlg.szResponse);
            // Paths and checksums vary with the machine; compare the rest.
            std::string strNormalised;
            for (size_t nLine = 0, nNext; nLine < strAnswer.size(); nLine = nNext + 1)
            {
                nNext = strAnswer.find('\n', nLine);
                if (nNext == std::string::npos)
                    nNext = strAnswer.size();
                std::string strLine = strAnswer.substr(nLine, nNext - nLine);
                const size_t nPath = strLine.find("full_path=\"");
                if (nPath != std::string::npos)
                    strLine.erase(nPath + 11, strLine.find('"', nPath + 11) - (nPath + 11));
                const size_t nMd5 = strLine.find("md5=");
                if (nMd5 != std::string::npos)
                    strLine.replace(nMd5 + 4, strLine.find(' ', nMd5) - (nMd5 + 4), "*");
                strNormalised += strLine + "\n";
            }
            EXPECT_NE(std::string::npos, strNormalised.find(TestData(cases[i].szExpected))) << "case " << i << "\n"
                                                                                            << strAnswer;
            EXPECT_NE(std::string::npos, strNormalised.find("fields: 1\n  title = \"again\"\n"))
                << "case " << i << " run " << nRun << "\n"
                << strAnswer;
        }
    }
    // The checksums themselves, for the numbered upload.
    CRecordingDlg dlg;
    Prepare(dlg, PhpUrl(L"/receive"));
    dlg.Run();
    const std::string strAnswer = PTL::EncodeText(dlg.szResponse);
    EXPECT_NE(std::string::npos, strAnswer.find("size=0 md5=d41d8cd98f00b204e9800998ecf8427e")) << strAnswer;
    EXPECT_NE(std::string::npos, strAnswer.find("fields: 0")) << strAnswer;
}

TEST_F(UploadWorker, OutcomesOfAnswersAndFaults)
{
    const std::string strLarge = PatternBytes(3 * 1024 * 1024, 4);
    static const struct
    {
        const char* szScript;
        bool bLargeFile;
        const char* szOutcome;
        int nRequests;
        const wchar_t* szResponse;  // null: not checked
        const wchar_t* szLocation;  // relative to the recording server when it starts with "/"
    } cases[] = {
        {R"([{"status":200,"body":"fine"}])", false, "received", 1, L"fine", L""},
        {R"([{"status":404,"body":"not here"}])", false, "received", 1, L"not here", L""},
        {R"([{"status":500,"body":"<h1>boom</h1>"}])", false, "received", 1, L"<h1>boom</h1>", L""},
        {"worker_unauthorized_then_fine.json", false, "received", 2, L"second", L""},
        {R"([{"status":302,"headers":[["Location","/next?a=1"]]}])", false, "redirected", 1, nullptr, L"/next?a=1"},
        {R"([{"status":303,"headers":[["Location","http://example.test/done"]]}])", false, "redirected", 1, nullptr,
         L"http://example.test/done"},
        {R"([{"status":307,"headers":[["Location","again"]]}])", false, "redirected", 1, nullptr, L"/up/again"},
        {R"([{"status":301,"headers":[["Location","/moved"]]}])", false, "redirected", 1, nullptr, L"/moved"},
        {R"([{"status":308,"headers":[["Location","/kept"]]}])", false, "redirected", 1, nullptr, L"/kept"},
        {R"([{"status":302,"body":"nowhere"}])", false, "received", 1, L"nowhere", L""},
        {R"([{"status":200,"body_hex":"6265666f7265006166746572"}])", false, "received", 1, L"before", L""},
        {"worker_gzip_answer.json", false, "received", 1, L"compressed answer", L""},
        {R"([{"fault":"reset","after":1000}])", true, "failed", 1, L"", L""},
        {R"([{"fault":"reset"}])", false, "failed", 1, L"", L""},
        {R"([{"fault":"close"}])", false, "failed", 1, L"", L""},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        RecordServer::Reset();
        RecordServer::Script(cases[i].szScript);
        m_entries.clear();
        List(L"f" + std::to_wstring(i) + L".pl5txt", cases[i].bLargeFile ? strLarge : std::string("content"));
        CRecordingDlg dlg;
        // Wine does not end a send blocked on a connection the server reset; the send time-out
        // does, and need not be a minute long here.
        dlg.state.nSendTimeoutMs = 5000;
        Prepare(dlg, RecordUrl(L"/up/x.php"));
        dlg.Run();

        EXPECT_STREQ(cases[i].szOutcome, OutcomeName(dlg.Outcome())) << "case " << i;
        EXPECT_EQ(cases[i].nRequests, RecordServer::Count()) << "case " << i;
        if (cases[i].szResponse)
        {
            EXPECT_EQ(cases[i].szResponse, dlg.szResponse) << "case " << i;
        }
        const std::wstring strLocation =
            cases[i].szLocation[0] == L'/' ? RecordUrl(cases[i].szLocation) : cases[i].szLocation;
        EXPECT_EQ(strLocation, dlg.szLocation) << "case " << i;
        EXPECT_EQ(strcmp(cases[i].szOutcome, "failed") == 0 ? 1 : 0, dlg.Count("stage failed")) << "case " << i;
        // Every request carried its whole body, also the one repeated after 401.
        for (int n = 0; n < RecordServer::Count() && strcmp(cases[i].szOutcome, "failed") != 0; ++n)
        {
            const CRecordedRequest request = RecordServer::Request(n);
            EXPECT_EQ(request.Header("Content-Length"), std::to_string(request.strBody.size())) << "case " << i;
            EXPECT_EQ("POST /up/x.php HTTP/1.0", request.RequestLine()) << "case " << i;
        }
    }
}

// Answered 401 every time, the upload fails after two runs; a stop asked for while the first
// answer is awaited holds, and no second run starts.
TEST_F(UploadWorker, UnauthorizedOnEveryAttemptEndsFailedAfterTwoRuns)
{
    const struct
    {
        bool bCancel;
        const char* szOutcome;
        int nRequests;
        int nRuns;
    } cases[] = {{false, "failed", 8, 2}, {true, "cancelled", 1, 1}};
    List(L"x.pl5txt", "data");
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        RecordServer::Reset();
        RecordServer::Script("worker_unauthorized_every_time.json");
        CRecordingDlg dlg;
        CKernelHandle evWaiting(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        dlg.onCall = [&evWaiting](CRecordingDlg&, const std::string& strCall) {
            if (strCall == "wait")
                SetEvent(evWaiting.Get());
        };
        Prepare(dlg, RecordUrl(L"/auth"));
        ASSERT_TRUE(dlg.StartWorker()) << "case " << i;
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(evWaiting.Get(), 20000)) << "case " << i;
        if (cases[i].bCancel)
            dlg.engine.Cancel();
        dlg.JoinWorker();
        EXPECT_STREQ(cases[i].szOutcome, OutcomeName(dlg.Outcome())) << "case " << i;
        EXPECT_EQ(cases[i].nRequests, RecordServer::Count()) << "case " << i;
        EXPECT_EQ(cases[i].nRequests, dlg.Count("attempt")) << "case " << i;
        EXPECT_EQ(cases[i].nRuns, dlg.Count("stage preparing")) << "case " << i;  // each run opens its own session
    }
}

TEST_F(UploadWorker, FilesChangedAfterListing)
{
    const std::string strContent = PatternBytes(150000, 5);
    static const struct
    {
        const char* szChange;
        const char* szOutcome;
    } cases[] = {
        {"shrink", "failed"},       {"remove", "failed"},
        {"grow", "received"},        // the bytes counted when listed are sent, no more
        {"empty-gone", "received"},  // counted as empty and gone: header and line end only
        {"locked", "failed"},        // held by a program that lets nobody read: not sent as empty
    };
    // Each followed by enough files for them to be opened ahead on another thread.
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        RecordServer::Reset();
        m_entries.clear();
        const std::string strChange = cases[i].szChange;
        const std::wstring strName = L"c" + std::to_wstring(i) + L".pl5txt";
        const std::wstring strPath = List(strName, strChange == "empty-gone" ? std::string() : strContent);
        std::vector<CExpectedFile> others;
        for (int n = 0; n < 8; ++n)
        {
            const std::string strOther = PatternBytes(100 + n, n);
            const std::wstring strOtherPath = List(strName + std::to_wstring(n), strOther);
            others.push_back(
                {"file" + std::to_string(n + 2), PTL::EncodeText(strOtherPath), "application/octet-stream", strOther});
        }
        CKernelHandle lock;
        if (strChange == "locked")
            lock.Reset(CreateFileW(strPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_EQ(strChange == "locked", lock.IsValid()) << "case " << i;
        CRecordingDlg dlg;
        Prepare(dlg, RecordUrl(L"/changed"));
        if (strChange == "shrink")
            m_dir.WriteFile(strName, strContent.substr(0, 100000));
        else if (strChange == "grow")
            m_dir.WriteFile(strName, strContent + "more");
        else if (!lock.IsValid())
            DeleteFileW(strPath.c_str());
        dlg.Run();

        EXPECT_STREQ(cases[i].szOutcome, OutcomeName(dlg.Outcome())) << "case " << i;
        if (strcmp(cases[i].szOutcome, "received") == 0)
        {
            const CRecordedRequest request = RecordServer::Request(0);
            const std::string strSent = strChange == "grow" ? strContent : std::string();
            std::vector<CExpectedFile> files = {{"file1", PTL::EncodeText(strPath), "text/plain", strSent}};
            files.insert(files.end(), others.begin(), others.end());
            EXPECT_EQ(ExpectedBody(request.Boundary(), files, {}), request.strBody) << "case " << i;
        }
        else
        {
            EXPECT_EQ(0, dlg.Count("end 0")) << "case " << i;
            EXPECT_EQ(EUploadStage::Failed, dlg.stages.back()) << "case " << i;
        }
    }
}

TEST_F(UploadWorker, HttpsWithSelfSignedCertificate)
{
    const std::string strContent = PatternBytes(60000, 6);
    const std::wstring strPath = List(L"s.pl5txt", strContent);
    CRecordingDlg dlg;
    dlg.FormFields.Append(L"k", L"v");
    Prepare(dlg, RecordTlsUrl(L"/secure?q=1"));
    dlg.Run();
    ASSERT_STREQ("received", OutcomeName(dlg.Outcome()));
    const CRecordedRequest request = RecordServer::Request(0);
    EXPECT_EQ("POST /secure?q=1 HTTP/1.0", request.RequestLine());
    EXPECT_TRUE(ExpectedBody(request.Boundary(), {{"file1", PTL::EncodeText(strPath), "text/plain", strContent}},
                             {{"k", "v"}}) == request.strBody);
}

namespace
{
// The worker's waits, seen at the program's import of WaitForSingleObject: a wait without end
// on the worker's thread is where a pause holds it.
std::atomic<DWORD> g_nHeldThread{0};
HANDLE g_evHeld = nullptr;
using WaitFn = DWORD(WINAPI*)(HANDLE, DWORD);
const WaitFn g_pRealWait =
    reinterpret_cast<WaitFn>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "WaitForSingleObject"));
DWORD WINAPI NoticingWait(HANDLE h, DWORD nMs)
{
    if (nMs == INFINITE && GetCurrentThreadId() == g_nHeldThread)
        SetEvent(g_evHeld);
    return g_pRealWait(h, nMs);
}
}  // namespace

// Held after the first chunk, the worker goes on when resumed, and stops before the next chunk
// when cancelled: a stop acts within one chunk, not at the end of the file.
TEST_F(UploadWorker, PauseHoldsTheWorkerAndAStopActsBeforeTheNextChunk)
{
    List(L"p.pl5txt", PatternBytes(5 * 51200, 10));
    // nChunks -1: as many as had been written when the worker was held.
    const struct
    {
        bool bCancel;
        int nChunks;
        const char* szOutcome;
    } cases[] = {{false, 5, "received"}, {true, -1, "cancelled"}};
    for (const auto& c : cases)
    {
        RecordServer::Reset();
        CRecordingDlg dlg;
        CKernelHandle evHeld(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        g_evHeld = evHeld.Get();
        CImportSwap swap("kernel32.dll", "WaitForSingleObject", reinterpret_cast<void*>(&NoticingWait));
        ASSERT_TRUE(swap.Installed());
        dlg.onCall = [](CRecordingDlg& d, const std::string& strCall) {
            if (strCall == "progress 51200" && d.nProgressCalls == 1)
            {
                g_nHeldThread = GetCurrentThreadId();
                d.PauseWorker();
            }
        };
        Prepare(dlg, RecordUrl(L"/pause"));
        dlg.states.assign(1, UPLOAD_STATE_WAITING);
        ASSERT_TRUE(dlg.StartWorker());
        // Once the worker waits, the chunks of the write that was out are reported, no more.
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(evHeld.Get(), 20000)) << c.bCancel;
        const int nHeld = dlg.nProgressCalls.load();
        EXPECT_TRUE(nHeld >= 1 && nHeld < 5) << nHeld;
        EXPECT_TRUE(dlg.bRunning);
        g_nHeldThread = 0;
        if (c.bCancel)
            dlg.engine.Cancel();
        else
            dlg.ResumeWorker();
        dlg.JoinWorker();
        EXPECT_STREQ(c.szOutcome, OutcomeName(dlg.Outcome()));
        EXPECT_EQ(c.nChunks < 0 ? nHeld : c.nChunks, dlg.nProgressCalls.load()) << c.bCancel;
    }
}

TEST_F(UploadWorker, Utf8AnswerWithAnsiDecoding)
{
    RecordServer::Script(R"([{"status":200,"body":"caf\u00e9"},{"status":200,"body":"caf\u00e9"}])");
    CRecordingDlg dlg;
    Prepare(dlg, RecordUrl(L"/answer"));
    dlg.bUseUnicode = true;
    dlg.Run();
    EXPECT_EQ(L"caf\xE9", dlg.szResponse);
    dlg.bUseUnicode = false;
    dlg.Run();
    // Decoded in the ANSI code page, the two UTF-8 bytes become other characters.
    WCHAR szExpected[16] = L"";
    MultiByteToWideChar(CP_ACP, 0, "caf\xC3\xA9", -1, szExpected, ARRAYSIZE(szExpected));
    EXPECT_EQ(szExpected, dlg.szResponse);
    EXPECT_NE(L"caf\xE9", dlg.szResponse);
}

// The Korean cases need code page 949 and a Unix locale that can name such files; the test
// program runs them separately under a generated ko_KR.UTF-8 locale.
TEST_F(UploadWorker, KoreanFileNames)
{
    ASSERT_EQ(949u, GetACP()) << "run under the ko_KR.UTF-8 locale (PL5_KOREAN_LOCALE=1)";
    const std::wstring strName = L"\xD55C\xAE00 \xBB38\xC11C.pl5txt";  // "Korean document"
    const std::string strContent = PatternBytes(20000, 11);
    const std::wstring strPath = List(strName, strContent);
    const std::wstring strValue = L"\xAC12";

    for (const bool bUnicode : {true, false})
    {
        const UINT nCodePage = bUnicode ? CP_UTF8 : 949;
        // The recording server sees the bytes of the chosen encoding, declared exactly.
        RecordServer::Reset();
        CRecordingDlg dlg;
        dlg.bUseUnicode = bUnicode;
        dlg.FormFields.Append(L"memo", strValue.c_str());
        Prepare(dlg, RecordUrl(L"/korean"));
        dlg.Run();
        ASSERT_STREQ("received", OutcomeName(dlg.Outcome())) << "unicode " << bUnicode;
        const CRecordedRequest request = RecordServer::Request(0);
        EXPECT_TRUE(ExpectedBody(request.Boundary(), {{"file1", Narrow(strPath, nCodePage), "text/plain", strContent}},
                                 {{"memo", Narrow(strValue, nCodePage)}}) == request.strBody)
            << "unicode " << bUnicode;
        EXPECT_EQ(std::to_string(request.strBody.size()), request.Header("Content-Length"));

        // PHP echoes the names back in the same encoding, which the worker decodes again.
        CRecordingDlg php;
        php.bUseUnicode = bUnicode;
        php.FormFields.Append(L"memo", strValue.c_str());
        Prepare(php, PhpUrl(L"/korean"));
        php.Run();
        ASSERT_STREQ("received", OutcomeName(php.Outcome()));
        EXPECT_NE(std::wstring::npos, php.szResponse.find(L"name=\"" + strName + L"\"")) << "unicode " << bUnicode;
        EXPECT_NE(std::wstring::npos, php.szResponse.find(L"size=20000")) << "unicode " << bUnicode;
        EXPECT_NE(std::wstring::npos, php.szResponse.find(L"memo = \"" + strValue + L"\"")) << "unicode " << bUnicode;
    }
}

// Asked to retry, the engine sends the whole request again after failures that may pass, after
// a wait it announces; with no retry, or for other answers, the upload ends as it always did.
TEST_F(UploadWorker, RetriesFailuresThatMayPass)
{
    const std::string strContent = PatternBytes(70000, 12);
    const std::wstring strPath = List(L"r.pl5txt", strContent);
    static const struct
    {
        const char* szScript;  // in tests/data; null: nothing listens
        ULONG nRetries;
        const char* szOutcome;
        const wchar_t* szResponse;
        std::vector<std::string> retries;
        DWORD nMinDelay, nMaxDelay;  // of every wait
        int nRounds = 1;             // a row whose result must not depend on timing runs often
    } cases[] = {
        {"retry_resets.json", 3, "received", L"third", {"2/4 lost", "3/4 lost"}, 80, 240},
        // The connection lost at every stage of the request: right after its head, in the
        // middle of the body, and closed without an answer once the body is in.
        {"retry_resets_after_head.json", 3, "received", L"third", {"2/4 lost", "3/4 lost"}, 80, 240, 5},
        {"retry_resets_mid_body.json", 3, "received", L"third", {"2/4 lost", "3/4 lost"}, 80, 240, 5},
        {"retry_closes.json", 3, "received", L"third", {"2/4 lost", "3/4 lost"}, 80, 240, 5},
        {"retry_resets.json", 0, "failed", L"", {}, 0, 0},
        {"retry_busy.json", 3, "received", L"third", {"2/4 status", "3/4 status"}, 1000, 1000},
        {"retry_busy.json", 0, "received", L"busy", {}, 0, 0},  // the answer reaches the page, as it always did
        {"retry_busy_until_a_date.json", 1, "received", L"now", {"2/2 status"}, 0, 0},
        {"retry_not_found.json", 3, "received", L"not here", {}, 0, 0},
        {nullptr, 1, "failed", L"", {"2/2 connect"}, 80, 120},
    };
    std::set<std::string> keys;
    for (size_t i = 0; i < std::size(cases); ++i)
        for (int nRound = 0; nRound < cases[i].nRounds; ++nRound)
        {
            CRecordingDlg dlg;
            dlg.state.nRetryCount = cases[i].nRetries;
            dlg.state.nRetryDelayMs = 100;
            Prepare(dlg, RecordServer::ScriptedUrl(cases[i].szScript, L"/retry"));
            dlg.Run();
            EXPECT_STREQ(cases[i].szOutcome, OutcomeName(dlg.Outcome())) << "case " << i;
            EXPECT_EQ(cases[i].szResponse, dlg.szResponse) << "case " << i;
            EXPECT_EQ(cases[i].retries, dlg.retries) << "case " << i;
            for (DWORD nDelay : dlg.retryDelays)
                EXPECT_TRUE(nDelay >= cases[i].nMinDelay && nDelay <= cases[i].nMaxDelay)
                    << "case " << i << ": " << nDelay;
            // Every attempt sent the whole request, from the file, under the upload's one key.
            ASSERT_EQ(cases[i].szScript ? static_cast<int>(cases[i].retries.size()) + 1 : 0, RecordServer::Count())
                << "case " << i << " round " << nRound;
            for (int n = 0; n < RecordServer::Count(); ++n)
            {
                const CRecordedRequest request = RecordServer::Request(n);
                if (TestData(cases[i].szScript).find("\"after\"") == std::string::npos)
                {
                    EXPECT_TRUE(ExpectedBody(request.Boundary(),
                                             {{"file1", PTL::EncodeText(strPath), "text/plain", strContent}},
                                             {}) == request.strBody)
                        << "case " << i << " request " << n;
                }
                EXPECT_TRUE(std::regex_match(
                    request.Header("Idempotency-Key"),
                    std::regex(R"("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")")))
                    << "case " << i << ": " << request.Header("Idempotency-Key");
                EXPECT_EQ(RecordServer::Request(0).Header("Idempotency-Key"), request.Header("Idempotency-Key"))
                    << "case " << i << " request " << n;
            }
            if (RecordServer::Count() > 0)
            {
                EXPECT_TRUE(keys.insert(RecordServer::Request(0).Header("Idempotency-Key")).second)
                    << "case " << i << ": a key is never used by two uploads";
            }
        }
}
