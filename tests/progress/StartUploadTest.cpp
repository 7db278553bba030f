// StartUpload of the control object itself (made in-process): what script receives for a
// redirect answer, and a second StartUpload while the dialog runs.
#include <gtest/gtest.h>

#include <windows.h>

#include "control/PL5Ctrl.h"
#include "control/EventSink.h"
#include "ptl/ClassFactory.h"
#include "tests/upload/TestServers.h"

using PTL::CComPtr;

namespace
{
CComPtr<IPL5Ctrl> NewControl()
{
    CComPtr<IPL5Ctrl> p;
    EXPECT_EQ(S_OK, PTL::CComObject<CPL5Ctrl>::Create(IID_IPL5Ctrl, reinterpret_cast<void**>(&p)));
    return p;
}

void Advise(IPL5Ctrl* p, IDispatch* pSink)
{
    CComPtr<IConnectionPointContainer> pContainer;
    ASSERT_EQ(S_OK, p->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&pContainer)));
    CComPtr<IConnectionPoint> pPoint;
    ASSERT_EQ(S_OK, pContainer->FindConnectionPoint(DIID__IPL5CtrlEvents, &pPoint));
    DWORD dwCookie = 0;
    ASSERT_EQ(S_OK, pPoint->Advise(pSink, &dwCookie));
}

void SetText(IPL5Ctrl* p, HRESULT (STDMETHODCALLTYPE IPL5Ctrl::*put)(BSTR), const std::wstring& str)
{
    PTL::CComBSTR bstr(str.c_str());
    ASSERT_EQ(S_OK, (p->*put)(bstr));
}

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

class StartUpload : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!ServersAvailable())
            GTEST_SKIP() << "run through tests/servers/with_servers.sh";
        RecordServer::Reset();
    }
};

TEST_F(StartUpload, RedirectAnswerGivesNoEventAndNoResult)
{
    CComPtr<IPL5Ctrl> p = NewControl();
    CRecordingSink sink;
    Advise(p, &sink);
    SetText(p, &IPL5Ctrl::put_Language, L"en");
    SetText(p, &IPL5Ctrl::put_Action, RecordUrl(L"/post"));
    PTL::CComBSTR bstrName(L"k"), bstrValue(L"v");
    VARIANT varName, varValue;
    varName.vt = varValue.vt = VT_BSTR;
    varName.bstrVal = bstrName;
    varValue.bstrVal = bstrValue;
    ASSERT_EQ(S_OK, p->AppendPostData(varName, varValue));

    // The page is sent on (here: it has no document, so nothing happens) and told nothing.
    RecordServer::Script("[{\"status\": 302, \"headers\": [[\"Location\", \"/next.html\"]], \"body\": \"moved\"}]");
    BSTR bstr = nullptr;
    EXPECT_EQ(S_OK, p->StartUpload(&bstr));
    EXPECT_EQ(nullptr, bstr);
    EXPECT_TRUE(sink.calls.empty()) << "first event " << sink.calls[0].dispid;
    ASSERT_EQ(1, RecordServer::Count());

    // The next answer is an ordinary one: result and event, with the field sent again.
    EXPECT_EQ(S_OK, p->StartUpload(&bstr));
    PTL::CComBSTR result;
    *&result = bstr;
    ASSERT_NE(nullptr, result.Get());
    EXPECT_EQ(0, wcsncmp(result.Get(), L"received ", 9)) << result.Get();
    ASSERT_EQ(1u, sink.calls.size());
    EXPECT_EQ(10, sink.calls[0].dispid);
    EXPECT_STREQ(result.Get(), sink.calls[0].args[0].bstrVal);
    EXPECT_NE(std::string::npos, RecordServer::Request(1).strBody.find("name=\"k\"\r\n\r\nv\r\n"));
}

TEST_F(StartUpload, SecondStartWhileTheDialogRunsDoesNothing)
{
    CComPtr<IPL5Ctrl> p = NewControl();
    CRecordingSink sink;
    Advise(p, &sink);
    SetText(p, &IPL5Ctrl::put_Language, L"en");
    SetText(p, &IPL5Ctrl::put_Action, RecordUrl(L"/slow"));
    RecordServer::Script("[{\"delay\": 1.0, \"body\": \"first\"}]");

    g_pNested = p;
    SetTimer(nullptr, 0, 300, OnTimer);
    BSTR bstr = nullptr;
    EXPECT_EQ(S_OK, p->StartUpload(&bstr));
    PTL::CComBSTR result;
    *&result = bstr;
    EXPECT_STREQ(L"first", result.Get());
    EXPECT_EQ(S_OK, g_hrNested);
    EXPECT_EQ(nullptr, g_bstrNested) << "the nested call returned no result";
    EXPECT_EQ(1, RecordServer::Count()) << "only one request was made";
    EXPECT_EQ(1u, sink.calls.size());
    g_pNested = nullptr;
}

TEST_F(StartUpload, InlineResponseReachesResultAndEvent)
{
    CComPtr<IPL5Ctrl> p = NewControl();
    CRecordingSink sink;
    Advise(p, &sink);
    SetText(p, &IPL5Ctrl::put_Language, L"en");
    SetText(p, &IPL5Ctrl::put_Action, RecordUrl(L"/form/post"));
    ASSERT_EQ(S_OK, p->put_MakeInlineResponse(VARIANT_TRUE));
    // The answer names a script; its text, fetched from the same server, ends up inside.
    RecordServer::Script(
        "[{\"headers\": [[\"Content-Type\", \"text/html\"]], "
        "\"body\": \"<html><head><script src=\\\"app.js\\\"></script></head><body>done</body></html>\"}, "
        "{\"body\": \"var nInlined = 1;\"}]");
    BSTR bstr = nullptr;
    EXPECT_EQ(S_OK, p->StartUpload(&bstr));
    PTL::CComBSTR result;
    *&result = bstr;
    ASSERT_NE(nullptr, result.Get());
    const std::wstring strResult = result.Get();
    EXPECT_NE(std::wstring::npos, strResult.find(L"var nInlined = 1;")) << strResult;
    ASSERT_EQ(1u, sink.calls.size());
    EXPECT_EQ(strResult, sink.calls[0].args[0].bstrVal);
    EXPECT_EQ("GET /form/app.js HTTP/1.1", RecordServer::Request(1).RequestLine());
}
