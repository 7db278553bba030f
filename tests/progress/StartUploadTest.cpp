// StartUpload of the control object itself (made in-process): what script receives for a
// redirect answer, a second StartUpload while the dialog runs, and child-mode uploads of a
// control activated in a container (files listed before its window, removals, deactivation).
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "control/PL5Ctrl.h"
#include "filelist/Format.h"
#include "lang/LangIds.h"
#include "tests/common/ActiveControl.h"
#include "tests/common/ListViewText.h"
#include "tests/control/EventSink.h"
#include "tests/common/InProcessControl.h"
#include "ptl/ClassFactory.h"
#include "tests/common/TestData.h"
#include "ptl/Wait.h"
#include "tests/upload/TestServers.h"
#include "tests/upload/UploadTestFiles.h"

using PTL::CComPtr;

namespace
{
// A StartUpload made by a page timer while the dialog runs.
IPL5Ctrl* g_pNested = nullptr;
HRESULT g_hrNested = E_FAIL;
BSTR g_bstrNested = reinterpret_cast<BSTR>(1);
void CALLBACK OnTimer(HWND, UINT, UINT_PTR nId, DWORD)
{
    KillTimer(nullptr, nId);
    g_hrNested = g_pNested->StartUpload(&g_bstrNested);
}
}  // namespace

class StartUpload : public CServerTest
{
protected:
    void SetUp() override
    {
        CServerTest::SetUp();
        m_p = NewInProcessControl();
        AdviseSink(m_p, &m_sink);
        SetText(m_p, &IPL5Ctrl::put_Language, L"en");
    }

    // StartUpload to the recording server's path; the result, or none.
    std::wstring Upload(const std::wstring& strPath, bool* pbResult = nullptr)
    {
        return UploadTo(m_p, RecordUrl(strPath), pbResult);
    }

    CRecordingSink m_sink;  // outlives the control that holds it
    CComPtr<IPL5Ctrl> m_p;
};

TEST_F(StartUpload, RedirectAnswerGivesNoEventAndNoResult)
{
    PTL::CComBSTR bstrName(L"k"), bstrValue(L"v");
    VARIANT varName, varValue;
    varName.vt = varValue.vt = VT_BSTR;
    varName.bstrVal = bstrName;
    varValue.bstrVal = bstrValue;
    ASSERT_EQ(S_OK, m_p->AppendPostData(varName, varValue));

    // The page is sent on (here: it has no document, so nothing happens) and told nothing.
    RecordServer::Script("[{\"status\": 302, \"headers\": [[\"Location\", \"/next.html\"]], \"body\": \"moved\"}]");
    bool bResult = true;
    Upload(L"/post", &bResult);
    EXPECT_FALSE(bResult);
    EXPECT_TRUE(m_sink.calls.empty()) << "first event " << m_sink.calls[0].dispid;
    ASSERT_EQ(1, RecordServer::Count());

    // The next answer is an ordinary one: result and event, with the field sent again.
    const std::wstring strResult = Upload(L"/post");
    EXPECT_EQ(0u, strResult.find(L"received ")) << strResult;
    ASSERT_EQ(1u, m_sink.calls.size());
    EXPECT_EQ(10, m_sink.calls[0].dispid);
    EXPECT_EQ(strResult, m_sink.calls[0].args[0].bstrVal);
    EXPECT_NE(std::string::npos, RecordServer::Request(1).strBody.find("name=\"k\"\r\n\r\nv\r\n"));
}

TEST_F(StartUpload, SecondStartWhileTheDialogRunsDoesNothing)
{
    RecordServer::Script("[{\"delay\": 1.0, \"body\": \"first\"}]");
    g_pNested = m_p;
    SetTimer(nullptr, 0, 300, OnTimer);
    EXPECT_EQ(L"first", Upload(L"/slow"));
    EXPECT_EQ(S_OK, g_hrNested);
    EXPECT_EQ(nullptr, g_bstrNested) << "the nested call returned no result";
    EXPECT_EQ(1, RecordServer::Count()) << "only one request was made";
    EXPECT_EQ(1u, m_sink.calls.size());
    g_pNested = nullptr;
}

TEST_F(StartUpload, InlineResponseReachesResultAndEvent)
{
    ASSERT_EQ(S_OK, m_p->put_MakeInlineResponse(VARIANT_TRUE));
    // The answer names a script and a style sheet on the same server, a script the server does
    // not have, and a script of another origin (PHP's receiver on its own port).
    const std::string strOther = "http://127.0.0.1:" + std::to_string(PhpPort()) + "/receive.php";
    RecordServer::Script(TestData("start_inline_response.json", {{"OTHER_SCRIPT", strOther}}));
    const std::wstring strResult = Upload(L"/form/post");

    EXPECT_NE(std::wstring::npos, strResult.find(L"var nInlined = 1;")) << strResult;
    EXPECT_NE(std::wstring::npos, strResult.find(L"body { color: navy }")) << strResult;
    EXPECT_EQ(std::wstring::npos, strResult.find(L"<link")) << "the style sheet became a style element";
    EXPECT_EQ(std::wstring::npos, strResult.find(L"not here")) << "a 404 resource inlines nothing";
    EXPECT_NE(std::wstring::npos, strResult.find(L"files: 0")) << "the other origin's text was inlined";
    EXPECT_NE(std::wstring::npos, strResult.find(L"<base ")) << strResult;

    ASSERT_EQ(1u, m_sink.calls.size());
    EXPECT_EQ(strResult, m_sink.calls[0].args[0].bstrVal);
    ASSERT_EQ(4, RecordServer::Count());
    EXPECT_EQ("GET /form/app.js HTTP/1.1", RecordServer::Request(1).RequestLine());
    EXPECT_EQ("GET /form/missing.js HTTP/1.1", RecordServer::Request(2).RequestLine());
    EXPECT_EQ("GET /form/site.css HTTP/1.1", RecordServer::Request(3).RequestLine());
}

TEST_F(StartUpload, HundredUploadsInARowLeaveNoHandlesBehind)
{
    // Every upload opens internet handles, a thread, a dialog and its timers and the file; none
    // of them may outlive its upload.
    const CTempDir dir;
    const std::wstring strFile = dir.WriteFile(L"each.bin", PatternBytes(70000, 3));
    ASSERT_EQ(S_OK, m_p->put_SilentMode(VARIANT_TRUE));
    ASSERT_EQ(S_OK, m_p->AddFile(PTL::CComBSTR(strFile.c_str()), nullptr));
    auto handles = [] {
        DWORD n = 0;
        GetProcessHandleCount(GetCurrentProcess(), &n);
        return n;
    };
    for (int i = 0; i < 3; ++i)  // first uses load libraries and caches
        Upload(L"/warm");
    const DWORD nBefore = handles();
    const DWORD nUserBefore = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    const DWORD nGdiBefore = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(0u, Upload(L"/again").find(L"received ")) << "upload " << i;
    EXPECT_LE(handles(), nBefore + 4) << "before: " << nBefore;
    EXPECT_LE(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS), nUserBefore + 2);
    EXPECT_LE(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), nGdiBefore + 2);
    size_t nCompleted = 0;
    for (const auto& call : m_sink.calls)
        nCompleted += call.dispid == 10;
    EXPECT_EQ(103u, nCompleted);
}

namespace
{
HWND ChildDialog(HWND hWnd)
{
    for (HWND h = GetWindow(hWnd, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT))
        if (GetDlgItem(h, IDC_UPLOAD_LIST))
            return h;
    return nullptr;
}

// The names in the embedded dialog's list, as it shows them.
std::vector<std::wstring> ChildRows(HWND hWnd)
{
    const HWND hList = GetDlgItem(ChildDialog(hWnd), IDC_UPLOAD_LIST);
    std::vector<std::wstring> rows;
    const int nRows = static_cast<int>(SendMessageW(hList, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < nRows; ++i)
        rows.push_back(ListCellText(hList, i, 0));
    return rows;
}

// Serves the thread's messages until the sink has heard nCalls events; at most nMs.
bool WaitForEvents(const CRecordingSink& sink, size_t nCalls, DWORD nMs = 20000)
{
    return PTL::PumpUntil([&] { return sink.calls.size() >= nCalls; }, nMs);
}

// The file names (without their folder) of a recorded multipart body, in order.
std::vector<std::string> SentNames(const CRecordedRequest& request)
{
    std::vector<std::string> names;
    const std::string& s = request.strBody;
    for (size_t n = s.find("filename=\""); n != std::string::npos; n = s.find("filename=\"", n + 1))
    {
        const std::string strPath = s.substr(n + 10, s.find('"', n + 10) - n - 10);
        names.push_back(strPath.substr(strPath.rfind('\\') + 1));
    }
    return names;
}
}  // namespace

// A child-mode control in a container; files are listed before its window exists.
class ChildModeUpload : public CServerTest
{
protected:
    void Activate(const std::vector<std::wstring>& before)
    {
        m_pActive.reset(new CActiveControl({0, 0, 460, 400}, [&before](CPL5Ctrl& control) {
            SetText(&control, &IPL5Ctrl::put_Language, L"en");
            control.put_ChildMode(VARIANT_TRUE);
            for (const std::wstring& strPath : before)
                control.AddFile(PTL::CComBSTR(strPath.c_str()), nullptr);
        }));
        AdviseSink(m_pActive->pControl, &m_sink);
        SetText(m_pActive->pControl, &IPL5Ctrl::put_Action, RecordUrl(L"/child"));
    }
    // Starts an upload, which returns at once, and waits for its event.
    DISPID Upload()
    {
        const size_t nBefore = m_sink.calls.size();
        PTL::CComBSTR bstrResult;
        EXPECT_EQ(S_OK, m_pActive->pControl->StartUpload(&bstrResult));
        EXPECT_EQ(nullptr, bstrResult.Get());
        EXPECT_EQ(nBefore, m_sink.calls.size()) << "no event before StartUpload returns";
        return WaitForEvents(m_sink, nBefore + 1) ? m_sink.calls.back().dispid : 0;
    }

    const CTempDir m_dir;
    CRecordingSink m_sink;
    std::unique_ptr<CActiveControl> m_pActive;
};

TEST_F(ChildModeUpload, FilesListedBeforeTheWindowAndRemovalsReachTheEmbeddedUpload)
{
    const std::wstring strFirst = m_dir.WriteFile(L"first.bin", PatternBytes(3000, 1));
    const std::wstring strSecond = m_dir.WriteFile(L"second.bin", PatternBytes(5000, 2));
    Activate({strFirst, strSecond});
    ASSERT_TRUE(ChildDialog(m_pActive->hWnd));
    m_pActive->pControl->AddFile(PTL::CComBSTR(m_dir.WriteFile(L"third.bin", PatternBytes(700, 3)).c_str()), nullptr);
    EXPECT_EQ((std::vector<std::wstring>{L"first.bin", L"second.bin", L"third.bin"}), ChildRows(m_pActive->hWnd));

    ASSERT_EQ(DISPID_ONUPLOADCOMPLETE, Upload());
    ASSERT_EQ(1, RecordServer::Count());
    EXPECT_EQ((std::vector<std::string>{"first.bin", "second.bin", "third.bin"}), SentNames(RecordServer::Request(0)));
    EXPECT_NE(std::string::npos, RecordServer::Request(0).strBody.find(PatternBytes(5000, 2)));
    wchar_t szTotal[128] = L"";
    GetDlgItemTextW(ChildDialog(m_pActive->hWnd), IDC_TOTAL_BYTES, szTotal, 128);
    EXPECT_EQ(FormatByteProgress(8700, 8700, 100), szTotal);

    // Removals by script reach the embedded list and what the next upload sends.
    m_pActive->pControl->RemoveFromIndex(1);
    EXPECT_EQ((std::vector<std::wstring>{L"first.bin", L"third.bin"}), ChildRows(m_pActive->hWnd));
    ASSERT_EQ(DISPID_ONUPLOADCOMPLETE, Upload());
    EXPECT_EQ((std::vector<std::string>{"first.bin", "third.bin"}), SentNames(RecordServer::Request(1)));
    m_pActive->pControl->RemoveAllFiles();
    EXPECT_TRUE(ChildRows(m_pActive->hWnd).empty());
    ASSERT_EQ(DISPID_ONUPLOADCOMPLETE, Upload());
    EXPECT_TRUE(SentNames(RecordServer::Request(2)).empty());
}

TEST_F(ChildModeUpload, DeactivationEndsTheRunAndTheControlUploadsAgainWhenShown)
{
    Activate({m_dir.WriteFile(L"kept.bin", PatternBytes(4000, 4))});
    // The server keeps the answer back: the worker is waiting for it when the window goes.
    RecordServer::Script("[{\"delay\": 20, \"body\": \"late\"}]");
    PTL::CComBSTR bstrResult;
    ASSERT_EQ(S_OK, m_pActive->pControl->StartUpload(&bstrResult));
    PTL::PumpUntil([] { return RecordServer::Count() != 0; }, 20000);
    ASSERT_EQ(1, RecordServer::Count());

    const ULONGLONG nStart = GetTickCount64();
    EXPECT_EQ(S_OK, m_pActive->Deactivate());
    EXPECT_LT(GetTickCount64() - nStart, UPLOAD_ABORT_WAIT_MS + 4000u) << "the worker is stopped within its bound";
    ASSERT_EQ(1u, m_sink.calls.size()) << "the run ended, and the page was told";
    EXPECT_EQ(DISPID_ONUPLOADERROR, m_sink.calls[0].dispid);

    // Without its window the control starts nothing (no modal dialog either).
    EXPECT_EQ(S_OK, m_pActive->pControl->StartUpload(&bstrResult));
    EXPECT_EQ(1, RecordServer::Count());
    EXPECT_EQ(1u, m_sink.calls.size());
    // No upload is counted any more: the language can change.
    SetText(m_pActive->pControl, &IPL5Ctrl::put_Language, L"ko");

    // Shown again, it is in child mode with its files, and uploads.
    m_pActive->Activate();
    const HWND hDialog = ChildDialog(m_pActive->hWnd);
    ASSERT_TRUE(hDialog);
    EXPECT_EQ(L"파일 이름", ListColumnTitle(GetDlgItem(hDialog, IDC_UPLOAD_LIST), 0));
    EXPECT_EQ(std::vector<std::wstring>{L"kept.bin"}, ChildRows(m_pActive->hWnd));
    EXPECT_EQ(DISPID_ONUPLOADCOMPLETE, Upload());
    ASSERT_EQ(2, RecordServer::Count());
    EXPECT_EQ(std::vector<std::string>{"kept.bin"}, SentNames(RecordServer::Request(1)));
}

TEST_F(ChildModeUpload, OutcomesReachThePageAsEventsAndTheDialogTakesTheFocus)
{
    Activate({m_dir.WriteFile(L"one.bin", PatternBytes(2000, 5))});
    const HWND hDialog = ChildDialog(m_pActive->hWnd);
    SetFocus(m_pActive->hWnd);
    EXPECT_TRUE(GetFocus() == hDialog || IsChild(hDialog, GetFocus())) << "the focus went elsewhere";

    const struct
    {
        const char* szCase;
        std::wstring strAction;
        const char* szScript;
        bool bCancelAfterTheBody;
        DISPID dispid;
        const wchar_t* szAnswer;
    } cases[] = {
        {"no server", L"http://127.0.0.1:" + std::to_wstring(UnusedPort()) + L"/none", nullptr, false,
         DISPID_ONUPLOADERROR, nullptr},
        {"redirect", RecordUrl(L"/moved"), R"([{"status": 302, "headers": [["Location", "/next.html"]], "body": "m"}])",
         false, DISPID_ONUPLOADCOMPLETE, L""},
        // The whole body is out when the server has it: a stop asked for then changes nothing.
        {"cancel after the file parts", RecordUrl(L"/late"), R"([{"hold": 20, "body": "kept"}])", true,
         DISPID_ONUPLOADCOMPLETE, L"kept"},
    };
    for (const auto& c : cases)
    {
        RecordServer::Reset();
        if (c.szScript)
            RecordServer::Script(c.szScript);
        SetText(m_pActive->pControl, &IPL5Ctrl::put_Action, c.strAction);
        const size_t nBefore = m_sink.calls.size();
        PTL::CComBSTR bstrResult;
        ASSERT_EQ(S_OK, m_pActive->pControl->StartUpload(&bstrResult)) << c.szCase;
        if (c.bCancelAfterTheBody)
        {
            PTL::PumpUntil([] { return RecordServer::Count() != 0; }, 20000);
            EXPECT_EQ(S_OK, m_pActive->pControl->UploadCancel());
            RecordServer::Release();
        }
        ASSERT_TRUE(WaitForEvents(m_sink, nBefore + 1)) << c.szCase;
        ASSERT_EQ(nBefore + 1, m_sink.calls.size()) << c.szCase;
        EXPECT_EQ(c.dispid, m_sink.calls.back().dispid) << c.szCase;
        if (c.szAnswer)
        {
            ASSERT_EQ(1u, m_sink.calls.back().args.size()) << c.szCase;
            EXPECT_STREQ(c.szAnswer, m_sink.calls.back().args[0].bstrVal) << c.szCase;
        }
    }

    // A pack change asked for while the upload runs is made once the upload has ended.
    const HWND hList = GetDlgItem(m_pActive->hWnd, CPL5Ctrl::ID_FILE_LIST);
    RecordServer::Reset();
    RecordServer::Script(R"([{"hold": 20, "body": "held"}])");
    SetText(m_pActive->pControl, &IPL5Ctrl::put_Action, RecordUrl(L"/held"));
    const size_t nBefore = m_sink.calls.size();
    PTL::CComBSTR bstrResult;
    ASSERT_EQ(S_OK, m_pActive->pControl->StartUpload(&bstrResult));
    PTL::PumpUntil([] { return RecordServer::Count() != 0; }, 20000);
    SetText(m_pActive->pControl, &IPL5Ctrl::put_Language, L"ko");
    EXPECT_EQ(L"Name", ListColumnTitle(hList, 0)) << "the pack stays while the upload runs";
    RecordServer::Release();
    ASSERT_TRUE(WaitForEvents(m_sink, nBefore + 1));
    PTL::PumpUntil([&] { return ListColumnTitle(hList, 0) == L"파일 이름"; }, 5000);
    EXPECT_EQ(L"파일 이름", ListColumnTitle(hList, 0));
}
