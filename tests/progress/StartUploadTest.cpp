// StartUpload of the control object itself (made in-process): what script receives for a
// redirect answer, and a second StartUpload while the dialog runs.
#include <gtest/gtest.h>

#include <windows.h>

#include "control/PL5Ctrl.h"
#include "tests/control/EventSink.h"
#include "tests/common/InProcessControl.h"
#include "ptl/ClassFactory.h"
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
} // namespace

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

    CComPtr<IPL5Ctrl> m_p;
    CRecordingSink m_sink;
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
    RecordServer::Script(
        "[{\"headers\": [[\"Content-Type\", \"text/html\"]], \"body\": \"<html><head>"
        "<script src=\\\"app.js\\\"></script><script src=\\\"missing.js\\\"></script>"
        "<script src=\\\"" + strOther + "\\\"></script>"
        "<link rel=\\\"stylesheet\\\" href=\\\"site.css\\\"></head><body>done</body></html>\"}, "
        "{\"body\": \"var nInlined = 1;\"}, "
        "{\"status\": 404, \"body\": \"not here\"}, "
        "{\"body\": \"body { color: navy }\"}]");
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
