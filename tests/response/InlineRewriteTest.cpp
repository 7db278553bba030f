// The rewriting with a fake fetcher: the exact edits on whole answers and which addresses may
// reach the fetcher at all.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "response/InlineRewrite.h"

namespace
{
const std::wstring strAction = L"http://srv.test/up/recv.php";
const std::wstring strBase = L"\n<base href=\"http://srv.test/up/recv.php\">\n";
const std::wstring strCode = L"\n<!--\nCODE\n//-->\n";  // a.js as placed in its script element

std::wstring Rewrite(const std::wstring& strIn, std::vector<std::wstring>* pRequests = nullptr)
{
    static const std::map<std::wstring, std::wstring> resources{
        {L"http://srv.test/up/a.js", L"CODE"},
        {L"http://srv.test/up/s.css", L"p{}"},
        {L"http://cdn.test/x.js", L"CODE"},
        {L"http://srv.test/up/nested.js", L"w('<script src=a.js></script><link href=s.css>');"},
    };
    std::wstring strText = strIn;
    RewriteInline(strText, strAction, [&](const std::wstring& strUrl) {
        if (pRequests)
            pRequests->push_back(strUrl);
        auto it = resources.find(strUrl);
        return it == resources.end() ? std::wstring() : it->second;
    });
    return strText;
}
}  // namespace

TEST(InlineRewrite, Edits)
{
    const struct
    {
        const wchar_t* szIn;
        std::wstring strExpected;
    } cases[] = {
        // Scripts: the src attribute goes, the blank before it and the character that ended it stay.
        {L"<script type=\"text/javascript\" src=\"a.js\"></script>",
         strBase + L"<script type=\"text/javascript\" >" + strCode + L"</script>"},
        {L"<script src='a.js' defer></script><p><script src=//cdn.test/x.js></script>",
         strBase + L"<script  defer>" + strCode + L"</script><p><script >" + strCode + L"</script>"},
        {L"<script src=gone.js></script>", strBase + L"<script src=gone.js></script>"},
        {L"<SCRIPT SRC=a.js></SCRIPT><script>src=a.js</script>",
         strBase + L"<SCRIPT SRC=a.js></SCRIPT><script>src=a.js</script>"},
        {L"<script type=x>img.src=a.js;</script>", strBase + L"<script type=x>img.src=a.js;</script>"},
        {L"<script src=a.js>", strBase + L"<script src=a.js>"},
        // Fetched text is data: the tags inside it are not fetched or replaced.
        {L"<script src=nested.js></script>",
         strBase + L"<script >\n<!--\nw('<script src=a.js></script><link href=s.css>');\n//-->\n</script>"},
        // Style sheets: the whole link tag and one following "</link>" go, whatever rel says.
        {L"<link rel=\"stylesheet\" href=\"s.css\"></link></link>",
         strBase + L"<style type=\"text/css\">\np{}</style></link>"},
        {L"<link href='s.css' rel=icon />x", strBase + L"<style type=\"text/css\">\np{}</style>x"},
        {L"<link rel=x>href=s.css<link href=gone.css>", strBase + L"<link rel=x>href=s.css<link href=gone.css>"},
        // The base element: after the head tag, else the html tag, else at the start.
        {L"<html><head><title>", L"<html><head>" + strBase + L"<title>"},
        {L"<html><body>", L"<html>" + strBase + L"<body>"},
        {L"<HEAD><p>", strBase + L"<HEAD><p>"},
        {L"<html lang=en><head id=h><title>", L"<html lang=en><head id=h>" + strBase + L"<title>"},
        {L"<html><header>", L"<html>" + strBase + L"<header>"},
        {L"x<head", L"x<head" + strBase},
        // The onload value, cut at the first blank, is repeated as a script at the end.
        {L"<body onload=\"init()\">x", strBase + L"<body onload=\"init()\">x<script>init()</script>"},
        {L"<body onload=\"init(); start()\">", strBase + L"<body onload=\"init(); start()\"><script>init()</script>"},
        {L"<body class=c>onload=go()", strBase + L"<body class=c>onload=go()"},
        {L"", L""},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].strExpected, Rewrite(cases[i].szIn)) << "case " << i;
}

TEST(InlineRewrite, OnlyHttpAddressesAreFetched)
{
    const struct
    {
        const wchar_t* szIn;
        const wchar_t* szRequested;
    } cases[] = {
        {L"<script src=\"file:///c:/secret.txt\"></script>", nullptr},
        {L"<script src=\"javascript:alert(1)\"></script>", nullptr},
        {L"<link href=\"ftp://srv.test/s.css\">", nullptr},
        {L"<link href=\"res://mshtml.dll/x.css\">", nullptr},
        {L"<script src=\"https://other.test/x.js\"></script>", L"https://other.test/x.js"},
        {L"<link href=\"../lib/s.css\">", L"http://srv.test/lib/s.css"},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        std::vector<std::wstring> requests;
        Rewrite(cases[i].szIn, &requests);
        EXPECT_EQ(cases[i].szRequested ? std::vector<std::wstring>{cases[i].szRequested} : std::vector<std::wstring>{},
                  requests)
            << "case " << i;
    }
}
