// Robustness of the rewriting over generated and mutated answers with a fake fetcher whose
// resources themselves contain tags: every run ends, stays within the text, is repeatable, and
// fetches at most once per tag of the original answer.
#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "response/InlineRewrite.h"

namespace
{
const std::wstring strAction = L"http://srv.test/up/recv.php";
const std::wstring strBase = L"\n<base href=\"http://srv.test/up/recv.php\">\n";

const wchar_t* const aTokens[] = {
    L"<script ", L"</script>", L"src=", L"<link ", L"href=", L"</link>", L"<head", L"<head>",
    L"<html", L"<html>", L"<body ", L"onload=", L">", L" ", L"\"", L"'", L"a.js", L"s.css",
    L"init()", L"x", L"\n", L"<", L"/", L"file:///c:/x", L"//cdn.test/y.js", L"<!--", L"-->",
    L"<SCRIPT ", L"<header>", L"=",
};

// Resources full of the same tags, so a rewriter that searched inserted text would multiply.
const wchar_t* const aResources[] = {
    L"", L"var a;", L"<script src=a.js></script>", L"<link href=s.css></link>", L"src=a.js>",
    L"</script><script src='a.js'>", L"<body onload=x()>", L"href=\"s.css\" <link ",
};

size_t Count(const std::wstring& strText, const wchar_t* szWhat)
{
    size_t n = 0;
    for (size_t p = strText.find(szWhat); p != std::wstring::npos; p = strText.find(szWhat, p + 1))
        ++n;
    return n;
}

std::wstring Generate(std::mt19937& rng)
{
    std::uniform_int_distribution<size_t> count(0, 60), token(0, std::size(aTokens) - 1);
    std::wstring strText;
    for (size_t n = count(rng); n > 0; --n)
        strText += aTokens[token(rng)];
    return strText;
}

std::wstring Mutate(std::wstring strText, std::mt19937& rng)
{
    std::uniform_int_distribution<int> edits(1, 6), kind(0, 2);
    std::uniform_int_distribution<int> ch(0x20, 0x7e);
    for (int n = edits(rng); n > 0; --n)
    {
        const size_t nAt = strText.empty() ? 0 : rng() % (strText.size() + 1);
        switch (kind(rng))
        {
        case 0: strText.insert(nAt, 1, static_cast<wchar_t>(ch(rng))); break;
        case 1: if (nAt < strText.size()) strText.erase(nAt, 1 + rng() % 8); break;
        default: strText.insert(nAt, aTokens[rng() % std::size(aTokens)]); break;
        }
    }
    return strText;
}

std::wstring Rewrite(const std::wstring& strIn, bool bFetchFails, size_t& nFetches)
{
    nFetches = 0;
    std::wstring strText = strIn;
    RewriteInline(strText, strAction, [&](const std::wstring& strUrl) {
        ++nFetches;
        return bFetchFails ? std::wstring() : std::wstring(aResources[std::hash<std::wstring>()(strUrl) % std::size(aResources)]);
    });
    return strText;
}
} // namespace

TEST(RewriteSweep, GeneratedAndMutatedAnswers)
{
    const std::vector<std::wstring> seeds = {
        L"<html><head><script type=\"text/javascript\" src=\"a.js\"></script>"
        L"<link rel=\"stylesheet\" href=\"s.css\"></link></head><body onload=\"init()\">x</body></html>",
        L"<script src=a.js></script><script src=a.js></script><link href=s.css>",
    };
    std::mt19937 rng(20240611);
    for (int i = 0; i < 3000; ++i)
    {
        const std::wstring strIn = (i % 3 == 0) ? Generate(rng) : Mutate(seeds[i % 2], rng);
        const bool bFetchFails = (i % 5 == 0);
        size_t nFetches = 0, nFetchesAgain = 0;
        std::wstring strOut;
        try
        {
            strOut = Rewrite(strIn, bFetchFails, nFetches);
            EXPECT_EQ(strOut, Rewrite(strIn, bFetchFails, nFetchesAgain)) << "input " << i;
        }
        catch (const std::exception& e)
        {
            ADD_FAILURE() << "input " << i << " threw " << e.what();
            continue;
        }
        if (strIn.empty())
        {
            EXPECT_EQ(L"", strOut) << "input " << i;
            continue;
        }
        EXPECT_LE(nFetches, Count(strIn, L"<script ") + Count(strIn, L"<link ")) << "input " << i;

        if (bFetchFails)
        {
            // Without resources the only edits are the base element and the onload script at
            // the end: take both away and the answer is back.
            const size_t nBaseAt = strOut.find(strBase);
            ASSERT_NE(std::wstring::npos, nBaseAt) << "input " << i;
            std::wstring strRest = strOut.substr(0, nBaseAt) + strOut.substr(nBaseAt + strBase.size());
            ASSERT_EQ(0u, strRest.compare(0, strIn.size(), strIn)) << "input " << i;
            strRest.erase(0, strIn.size());
            if (!strRest.empty())
            {
                EXPECT_EQ(0u, strRest.find(L"<script>")) << "input " << i;
                EXPECT_EQ(strRest.size() - 9, strRest.rfind(L"</script>")) << "input " << i;
            }
        }
    }
}
