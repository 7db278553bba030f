// Generated and mutated answers with resources that are full of tags themselves: every run ends
// without leaving the text, repeats exactly, fetches at most once per tag of the answer, and
// with failing fetches makes no edit but the base element and the onload script.
#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>

#include "response/InlineRewrite.h"

namespace
{
const wchar_t* const aTokens[] = {
    L"<script ", L"</script>", L"src=",    L"<link ", L"href=", L"</link>",      L"<head",
    L"<html>",   L"<body ",    L"onload=", L">",      L" ",     L"\"",           L"'",
    L"a.js",     L"init()",    L"x",       L"<",      L"/",     L"file:///c:/x", L"//cdn.test/y.js",
    L"<SCRIPT ", L"<header>",
};
const wchar_t* const aResources[] = {
    L"",
    L"var a;",
    L"<script src=a.js></script>",
    L"<link href=a.js></link>",
    L"src=a.js>",
    L"</script><script src='a.js'>",
    L"<body onload=x()>",
    L"<head>",
};

size_t Count(const std::wstring& strText, const wchar_t* szWhat)
{
    size_t n = 0;
    for (size_t p = strText.find(szWhat); p != std::wstring::npos; p = strText.find(szWhat, p + 1))
        ++n;
    return n;
}

std::wstring Rewrite(std::wstring strText, bool bFetchFails, size_t& nFetches)
{
    nFetches = 0;
    RewriteInline(strText, L"http://srv.test/up/recv.php", [&](const std::wstring& strUrl) {
        ++nFetches;
        return std::wstring(bFetchFails ? L"" : aResources[std::hash<std::wstring>()(strUrl) % std::size(aResources)]);
    });
    return strText;
}
}  // namespace

TEST(RewriteSweep, GeneratedAndMutatedAnswers)
{
    const std::wstring strSeed = L"<html><head><script type=\"t\" src=\"a.js\"></script><link rel=s href=a.js>"
                                 L"</link></head><body onload=\"init()\">x</body></html>";
    const std::wstring strBase = L"\n<base href=\"http://srv.test/up/recv.php\">\n";
    std::mt19937 rng(20240611);
    for (int i = 0; i < 3000; ++i)
    {
        std::wstring strIn = (i % 2) ? strSeed : std::wstring();
        for (int n = rng() % 40; n > 0; --n)  // random tokens, inserted anywhere, and cuts
        {
            const size_t nAt = rng() % (strIn.size() + 1);
            if (rng() % 4 == 0)
                strIn.erase(nAt, rng() % 6);
            else
                strIn.insert(nAt, aTokens[rng() % std::size(aTokens)]);
        }
        const bool bFetchFails = (i % 5 == 0);
        size_t nFetches = 0, nAgain = 0;
        std::wstring strOut;
        try
        {
            strOut = Rewrite(strIn, bFetchFails, nFetches);
            EXPECT_EQ(strOut, Rewrite(strIn, bFetchFails, nAgain)) << "input " << i;
        }
        catch (const std::exception& e)
        {
            ADD_FAILURE() << "input " << i << " threw " << e.what();
            continue;
        }
        EXPECT_LE(nFetches, Count(strIn, L"<script ") + Count(strIn, L"<link ")) << "input " << i;
        if (!bFetchFails || strIn.empty())
            continue;
        const size_t nBaseAt = strOut.find(strBase);
        ASSERT_NE(std::wstring::npos, nBaseAt) << "input " << i;
        std::wstring strRest = strOut.erase(nBaseAt, strBase.size());
        ASSERT_EQ(0, strRest.compare(0, strIn.size(), strIn)) << "input " << i;
        strRest.erase(0, strIn.size());
        EXPECT_TRUE(strRest.empty() ||
                    (strRest.find(L"<script>") == 0 && strRest.rfind(L"</script>") == strRest.size() - 9))
            << "input " << i;
    }
}
