// FetchUrlText and the worker's form of RewriteInline against real servers on two local ports.
#include <gtest/gtest.h>

#include <windows.h>
#include <wininet.h>
#include <string>

#include "response/InlineRewrite.h"
#include "response/UrlFetch.h"

namespace
{
std::wstring Port(const wchar_t* szVariable)
{
    WCHAR szPort[16] = L"";
    GetEnvironmentVariableW(szVariable, szPort, ARRAYSIZE(szPort));
    return szPort;
}

class FetchTest : public testing::Test
{
protected:
    void SetUp() override
    {
        strPort = Port(L"PL5_RESOURCE_PORT");
        strPort2 = Port(L"PL5_RESOURCE_PORT2");
        ASSERT_FALSE(strPort.empty() || strPort2.empty()) << "run under resource_server.py";
    }
    std::wstring Url(const std::wstring& strPath) const { return L"http://127.0.0.1:" + strPort + strPath; }
    std::wstring Url2(const std::wstring& strPath) const { return L"http://127.0.0.1:" + strPort2 + strPath; }

    std::wstring strPort, strPort2;
};
} // namespace

TEST_F(FetchTest, StatusAndBody)
{
    const struct
    {
        std::wstring strUrl;
        const wchar_t* szExpected;
    } cases[] = {
        {Url(L"/up/a.js"), L"var a = 1;"},
        {Url(L"/missing.js"), L""},             // 404: nothing, although it has a body
        {Url(L"/error.js"), L"failed page"},    // any other status is read
        {Url(L"/nul.js"), L"ab"},               // a block ends at its first zero byte
        {Url(L"/bytes?n=0"), L""},
        {Url(L"/redirect?to=/up/a.js"), L"var a = 1;"},
        {Url(L"/redirect?to=") + Url2(L"/s.css"), L"p { color: red; }"},
        {Url(L"/loop"), L""},
        {Url(L"/redirect?to=file:///c:/windows/win.ini"), L""},
        {L"file:///c:/windows/win.ini", L""},
        {L"ftp://127.0.0.1:" + strPort + L"/a.js", L""},
        {L"http://127.0.0.1:1/a.js", L""},     // nobody listens
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].szExpected, FetchUrlText(cases[i].strUrl)) << "case " << i;

    EXPECT_NE(std::wstring::npos, FetchUrlText(Url(L"/echo")).find(L"|agent=Marlune"));
}

TEST_F(FetchTest, Limits)
{
    CFetchLimits limits;
    limits.nMaxBytes = 65536;
    EXPECT_EQ(65536u, FetchUrlText(Url(L"/bytes?n=65536"), limits).size());
    EXPECT_EQ(L"", FetchUrlText(Url(L"/bytes?n=65537"), limits));
    EXPECT_EQ(L"", FetchUrlText(Url(L"/bytes?n=1000000"), limits));

    // A server that does not answer in time, and one that answers too slowly as a whole.
    CFetchLimits quick;
    quick.nTimeoutMs = 1000;
    EXPECT_EQ(L"", FetchUrlText(Url(L"/slow.js"), quick));
    quick.nDeadlineTick = GetTickCount64() + 2000;
    EXPECT_EQ(L"", FetchUrlText(Url(L"/trickle.js"), quick));
    quick.nDeadlineTick = GetTickCount64() - 1;
    EXPECT_EQ(L"", FetchUrlText(Url(L"/a.js"), quick));
}

TEST_F(FetchTest, CookiesOnlyForTheTargetOrigin)
{
    // Cookies belong to a host, whatever the port: both servers would receive this one.
    ASSERT_TRUE(InternetSetCookieW(Url(L"/").c_str(), L"pl5session", L"secret"));
    CFetchLimits limits;
    limits.strCredentialOrigin = Url(L"/up/recv.php");

    const struct
    {
        std::wstring strUrl;
        bool bCookie;
    } cases[] = {
        {Url(L"/echo"), true},
        {Url2(L"/echo"), false},
        {Url(L"/redirect?to=") + Url2(L"/echo"), false},  // every hop is judged on its own
    };
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        const std::wstring strEcho = FetchUrlText(cases[i].strUrl, limits);
        ASSERT_EQ(0u, strEcho.find(L"cookie=")) << "case " << i;
        EXPECT_EQ(cases[i].bCookie, strEcho.find(L"pl5session=secret") != std::wstring::npos)
            << "case " << i << ": " << testing::PrintToString(strEcho);
        EXPECT_NE(std::wstring::npos, strEcho.find(L"|auth=|")) << "case " << i;
    }
    // Without a target origin nothing is trusted.
    EXPECT_EQ(std::wstring::npos, FetchUrlText(Url(L"/echo")).find(L"pl5session"));
}

TEST_F(FetchTest, RewriteWithRealResources)
{
    std::wstring strAnswer =
        L"<html><head><script type=\"text/javascript\" src=\"a.js\"></script>"
        L"<script src=\"missing.js\"></script>"
        L"<script src=\"" + Url2(L"/a.js") + L"\"></script>"
        L"<link rel=\"stylesheet\" href=\"/css/s.css\"></link></head>"
        L"<body onload=\"init()\">done</body></html>";
    const std::wstring strAction = Url(L"/up/recv.php");
    RewriteInline(strAnswer, strAction);
    EXPECT_EQ(L"<html><head>\n<base href=\"" + strAction + L"\">\n"
              L"<script type=\"text/javascript\" >\n<!--\nvar a = 1;\n//-->\n</script>"
              L"<script src=\"missing.js\"></script>"
              L"<script >\n<!--\nvar a = 1;\n//-->\n</script>"
              L"<style type=\"text/css\">\np { color: red; }</style></head>"
              L"<body onload=\"init()\">done</body></html><script>init()</script>",
              strAnswer);
}
