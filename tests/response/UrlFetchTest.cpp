// FetchUrlText and the worker's form of RewriteInline against resource_server.py, which serves
// on two local ports: two origins.
#include <gtest/gtest.h>

#include <windows.h>
#include <wininet.h>
#include <string>

#include "response/InlineRewrite.h"
#include "tests/common/ConfiguredTimeout.h"
#include "response/UrlFetch.h"

namespace
{
std::wstring Url(const wchar_t* szPath, const wchar_t* szPortVariable = L"PL5_RESOURCE_PORT")
{
    WCHAR szPort[16] = L"";
    GetEnvironmentVariableW(szPortVariable, szPort, ARRAYSIZE(szPort));
    return std::wstring(L"http://127.0.0.1:") + szPort + szPath;
}
std::wstring Url2(const wchar_t* szPath) { return Url(szPath, L"PL5_RESOURCE_PORT2"); }

}  // namespace

TEST(FetchUrlText, StatusBodyAndLimits)
{
    ASSERT_NE(L"http://127.0.0.1:/", Url(L"/")) << "run under resource_server.py";
    CFetchLimits small, quick, late, oneSecond;
    small.nMaxBytes = 65536;
    quick.nTimeoutMs = oneSecond.nTimeoutMs = 1000;
    quick.nDeadlineTick = GetTickCount64() + 3000;
    late.nDeadlineTick = GetTickCount64() - 1;
    const struct
    {
        std::wstring strUrl;
        CFetchLimits limits;
        std::wstring strExpected;
        DWORD nConfiguredReceiveMs = 0;  // set for the platform by the user or an administrator
    } cases[] = {
        {Url(L"/up/a.js"), {}, L"var a = 1;"},
        {Url(L"/missing.js"), {}, L""},           // 404, although it has a body
        {Url(L"/error.js"), {}, L"failed page"},  // any other status is read
        {Url(L"/nul.js"), {}, L"ab"},             // a block ends at its first zero byte
        {Url(L"/redirect?to=/up/a.js"), {}, L"var a = 1;"},
        {Url(L"/loop"), {}, L""},
        {Url(L"/redirect?to=file:///c:/windows/win.ini"), {}, L""},
        {L"file:///c:/windows/win.ini", {}, L""},
        {Url(L"/bytes?n=65536"), small, std::wstring(65536, L'x')},
        {Url(L"/bytes?n=65537"), small, L""},
        {Url(L"/slow.js"), quick, L""},     // no answer within the time-out
        {Url(L"/trickle.js"), quick, L""},  // answers, but not within the deadline
        {Url(L"/a.js"), late, L""},
        // The platform's configured time-out holds, shorter or longer than the fetch's own.
        {Url(L"/slow.js"), {}, L"", 1000},
        {Url(L"/slow.js"), oneSecond, L"late", 10000},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        const CConfiguredReceiveTimeout configured(cases[i].nConfiguredReceiveMs);
        EXPECT_EQ(cases[i].strExpected, FetchUrlText(cases[i].strUrl, cases[i].limits)) << "case " << i;
    }
    EXPECT_NE(std::wstring::npos, FetchUrlText(Url(L"/echo")).find(L"|agent=Marlune"));
}

TEST(FetchUrlText, CookiesOnlyForTheTargetOrigin)
{
    // Cookies belong to a host, whatever the port: both servers would receive this one.
    ASSERT_TRUE(InternetSetCookieW(Url(L"/").c_str(), L"pl5session", L"secret"));
    CFetchLimits target;
    target.strCredentialOrigin = Url(L"/up/recv.php");
    const struct
    {
        std::wstring strUrl;
        CFetchLimits limits;
        bool bCookie;
    } cases[] = {
        {Url(L"/echo"), target, true},
        {Url2(L"/echo"), target, false},
        {Url(L"/redirect?to=") + Url2(L"/echo"), target, false},  // every hop is judged on its own
        {Url(L"/echo"), {}, false},                               // no target: nobody is trusted
    };
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        const std::wstring strEcho = FetchUrlText(cases[i].strUrl, cases[i].limits);
        ASSERT_EQ(0u, strEcho.find(L"cookie=")) << "case " << i;
        EXPECT_EQ(cases[i].bCookie, strEcho.find(L"pl5session=secret") != std::wstring::npos) << "case " << i;
    }
}

TEST(FetchUrlText, RewriteWithRealResources)
{
    const std::wstring strAction = Url(L"/up/recv.php");
    std::wstring strAnswer =
        L"<html><head><script type=\"text/javascript\" src=\"a.js\"></script>"
        L"<script src=\"missing.js\"></script><script src=\"" +
        Url2(L"/a.js") +
        L"\"></script>"
        L"<link rel=\"stylesheet\" href=\"/css/s.css\"></link></head><body onload=\"init()\">done</body></html>";
    RewriteInline(strAnswer, strAction);
    EXPECT_EQ(L"<html><head>\n<base href=\"" + strAction +
                  L"\">\n"
                  L"<script type=\"text/javascript\" >\n<!--\nvar a = 1;\n//-->\n</script>"
                  L"<script src=\"missing.js\"></script><script >\n<!--\nvar a = 1;\n//-->\n</script>"
                  L"<style type=\"text/css\">\np { color: red; }</style></head>"
                  L"<body onload=\"init()\">done</body></html><script>init()</script>",
              strAnswer);
}

TEST(FetchUrlText, RewriteStaysWithinTheWholeAnswersBudget)
{
    const std::wstring strAction = Url(L"/up/recv.php");
    // Characters: two resources of 100 fit a budget of 250, the third no longer does.
    CRewriteBudget budget;
    budget.nChars = 250;
    std::wstring strAnswer;
    for (int i = 0; i < 3; ++i)
        strAnswer += L"<script src=\"bytes?n=100&i=" + std::to_wstring(i) + L"\"></script>";
    RewriteInline(strAnswer, strAction, nullptr, FETCH_TIMEOUT_MS, true, PTL::NO_ZONE, budget);
    const std::wstring strHundred(100, L'x');
    size_t nInlined = 0;
    for (size_t n = strAnswer.find(strHundred); n != std::wstring::npos; n = strAnswer.find(strHundred, n + 100))
        ++nInlined;
    EXPECT_EQ(2u, nInlined);
    EXPECT_NE(std::wstring::npos, strAnswer.find(L"src=\"bytes?n=100&i=2\"")) << "the third stays a tag";
    EXPECT_EQ(std::wstring::npos, strAnswer.find(L"src=\"bytes?n=100&i=1\""));

    // Time: the slow resource is cut at the budget's end, and nothing is fetched after it.
    budget = CRewriteBudget();
    budget.nMs = 1000;
    strAnswer = L"<script src=\"slow.js\"></script><script src=\"a.js\"></script>";
    const ULONGLONG nStart = GetTickCount64();
    RewriteInline(strAnswer, strAction, nullptr, FETCH_TIMEOUT_MS, true, PTL::NO_ZONE, budget);
    EXPECT_LT(GetTickCount64() - nStart, 3500u) << "slow.js answers after 4 s";
    EXPECT_NE(std::wstring::npos, strAnswer.find(L"<script src=\"slow.js\"></script><script src=\"a.js\"></script>"));
}
