// The rewriting algorithm with a fake fetcher: the exact edits on whole answers, which addresses
// reach the fetcher, and that fetched text is inserted as data.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "response/InlineRewrite.h"

namespace
{
const std::wstring strAction = L"http://srv.test/up/recv.php";
const std::wstring strBase = L"\n<base href=\"http://srv.test/up/recv.php\">\n";

// Serves a fixed map of absolute addresses and records every request.
struct CFakeFetcher
{
    std::map<std::wstring, std::wstring> resources{
        {L"http://srv.test/up/a.js", L"CODE"},
        {L"http://srv.test/up/b.js", L"B();"},
        {L"http://srv.test/up/s.css", L"p{}"},
        {L"http://srv.test/lib/c.js", L"C();"},
        {L"http://cdn.test/x.js", L"X();"},
        {L"http://srv.test/up/nested.js", L"document.write('<script src=\"b.js\"></script>');"},
        {L"http://srv.test/up/nested.css", L"<link href=\"s.css\"></link>"},
    };
    std::vector<std::wstring> requests;

    UrlTextFetcher Fn()
    {
        return [this](const std::wstring& strUrl) {
            requests.push_back(strUrl);
            auto it = resources.find(strUrl);
            return it == resources.end() ? std::wstring() : it->second;
        };
    }
};

struct CRewriteCase
{
    const wchar_t* szIn;
    std::wstring strExpected;
};

void RunCases(const std::vector<CRewriteCase>& cases)
{
    for (size_t i = 0; i < cases.size(); ++i)
    {
        CFakeFetcher fetcher;
        std::wstring strText = cases[i].szIn;
        RewriteInline(strText, strAction, fetcher.Fn());
        EXPECT_EQ(cases[i].strExpected, strText) << "case " << i;
    }
}
} // namespace

TEST(InlineRewrite, ExternalScripts)
{
    RunCases({
        // Quoted src ending at the tag's ">": the blank before it stays.
        {L"<script type=\"text/javascript\" src=\"a.js\"></script>",
         strBase + L"<script type=\"text/javascript\" >\n<!--\nCODE\n//-->\n</script>"},
        // A value ended by a blank keeps that blank; apostrophes are quotes too.
        {L"<script src='a.js' defer></script>", strBase + L"<script  defer>\n<!--\nCODE\n//-->\n</script>"},
        {L"<script src=a.js></script>", strBase + L"<script >\n<!--\nCODE\n//-->\n</script>"},
        // Relative to the action's folder, to the host root, and protocol-relative.
        {L"<script src=\"/lib/c.js\"></script>", strBase + L"<script >\n<!--\nC();\n//-->\n</script>"},
        {L"<script src=\"//cdn.test/x.js\"></script>", strBase + L"<script >\n<!--\nX();\n//-->\n</script>"},
        // Two scripts: the second is found at its shifted position.
        {L"<script src=a.js></script><p>x</p><script src=b.js></script>",
         strBase + L"<script >\n<!--\nCODE\n//-->\n</script><p>x</p><script >\n<!--\nB();\n//-->\n</script>"},
        // A failed fetch leaves the tag alone and the next one is still handled.
        {L"<script src=gone.js></script><script src=b.js></script>",
         strBase + L"<script src=gone.js></script><script >\n<!--\nB();\n//-->\n</script>"},
        // Not recognised: capitals, no blank after the name, no src, src only in the code.
        {L"<SCRIPT SRC=a.js></SCRIPT>", strBase + L"<SCRIPT SRC=a.js></SCRIPT>"},
        {L"<script>src=a.js</script>", strBase + L"<script>src=a.js</script>"},
        {L"<script type=x>var n;</script>", strBase + L"<script type=x>var n;</script>"},
        {L"<script type=x>img.src=a.js;</script>", strBase + L"<script type=x>img.src=a.js;</script>"},
        {L"<script src=a.js>", strBase + L"<script src=a.js>"},
        // Fetched code is data: the script tag inside it is not fetched again.
        {L"<script src=nested.js></script>",
         strBase + L"<script >\n<!--\ndocument.write('<script src=\"b.js\"></script>');\n//-->\n</script>"},
    });
}

TEST(InlineRewrite, ExternalStyleSheets)
{
    RunCases({
        {L"<link rel=\"stylesheet\" href=\"s.css\"></link><p>",
         strBase + L"<style type=\"text/css\">\np{}</style><p>"},
        {L"<link href='s.css' rel=stylesheet />x", strBase + L"<style type=\"text/css\">\np{}</style>x"},
        // Only the first following "</link>" goes.
        {L"<link href=s.css></link></link>", strBase + L"<style type=\"text/css\">\np{}</style></link>"},
        // Every link with an href is replaced, whatever its rel says.
        {L"<link rel=icon href=s.css>", strBase + L"<style type=\"text/css\">\np{}</style>"},
        {L"<link rel=x>href=s.css", strBase + L"<link rel=x>href=s.css"},
        {L"<link href=gone.css>", strBase + L"<link href=gone.css>"},
        {L"<LINK HREF=s.css>", strBase + L"<LINK HREF=s.css>"},
        // A fetched sheet with link tags in it is inserted as it is and not searched again.
        {L"<link href=nested.css>", strBase + L"<style type=\"text/css\">\n<link href=\"s.css\"></link></style>"},
    });
}

TEST(InlineRewrite, BaseElement)
{
    RunCases({
        {L"<html><head><title>t</title></head></html>",
         L"<html><head>" + strBase + L"<title>t</title></head></html>"},
        {L"<html><body>x</body></html>", L"<html>" + strBase + L"<body>x</body></html>"},
        {L"<p>x</p>", strBase + L"<p>x</p>"},
        // Attributes stay inside the tag: the element goes after its ">".
        {L"<html lang=\"en\"><head profile=\"p\"><title>",
         L"<html lang=\"en\"><head profile=\"p\">" + strBase + L"<title>"},
        {L"<html lang=\"en\"><p>", L"<html lang=\"en\">" + strBase + L"<p>"},
        // "<header" is not the head; an unclosed head tag puts it at the end.
        {L"<html><body><header>h</header>", L"<html>" + strBase + L"<body><header>h</header>"},
        {L"<header>h</header>", strBase + L"<header>h</header>"},
        {L"x<head", L"x<head" + strBase},
        {L"<HEAD><HTML>", strBase + L"<HEAD><HTML>"},
    });
}

TEST(InlineRewrite, BodyOnload)
{
    RunCases({
        {L"<body onload=\"init()\">x</body>", strBase + L"<body onload=\"init()\">x</body><script>init()</script>"},
        // The value ends at the first blank; the quote rule takes the opening quote and the ";".
        {L"<body onload=\"init(); start()\">", strBase + L"<body onload=\"init(); start()\"><script>init()</script>"},
        {L"<body class=c onload=go()>", strBase + L"<body class=c onload=go()><script>go()</script>"},
        {L"<body class=c>onload=go()", strBase + L"<body class=c>onload=go()"},
        {L"<body>", strBase + L"<body>"},
        {L"<BODY onload=go()>", strBase + L"<BODY onload=go()>"},
        {L"<body onload=", strBase + L"<body onload="},
    });
}

TEST(InlineRewrite, WholeAnswer)
{
    RunCases({
        {L"<html><head><script type=\"text/javascript\" src=\"a.js\"></script>"
         L"<link rel=\"stylesheet\" href=\"s.css\"></link></head>"
         L"<body onload=\"init()\"><p>done</p></body></html>",
         L"<html><head>" + strBase +
             L"<script type=\"text/javascript\" >\n<!--\nCODE\n//-->\n</script>"
             L"<style type=\"text/css\">\np{}</style></head>"
             L"<body onload=\"init()\"><p>done</p></body></html><script>init()</script>"},
    });
}

TEST(InlineRewrite, OnlyHttpAddressesReachTheFetcher)
{
    static const struct
    {
        const wchar_t* szIn;
        const wchar_t* szRequested;  // nullptr: no request at all
    } cases[] = {
        {L"", nullptr},
        {L"<script src=\"file:///c:/secret.txt\"></script>", nullptr},
        {L"<script src=\"javascript:alert(1)\"></script>", nullptr},
        {L"<link href=\"ftp://srv.test/s.css\">", nullptr},
        {L"<link href=\"res://mshtml.dll/x.css\">", nullptr},
        {L"<script src=\"https://other.test/x.js\"></script>", L"https://other.test/x.js"},
        {L"<link href=\"HTTP://srv.test/s.css\">", L"http://srv.test/s.css"},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        CFakeFetcher fetcher;
        std::wstring strText = cases[i].szIn;
        RewriteInline(strText, strAction, fetcher.Fn());
        if (cases[i].szRequested)
        {
            ASSERT_EQ(1u, fetcher.requests.size()) << "case " << i;
            EXPECT_EQ(cases[i].szRequested, fetcher.requests[0]) << "case " << i;
        }
        else
        {
            EXPECT_TRUE(fetcher.requests.empty()) << "case " << i;
        }
    }
    // An empty answer is not touched at all, not even by the base element.
    std::wstring strEmpty;
    RewriteInline(strEmpty, strAction, [](const std::wstring&) { return std::wstring(L"x"); });
    EXPECT_EQ(L"", strEmpty);
}
