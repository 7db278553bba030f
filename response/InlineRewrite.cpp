#include "response/InlineRewrite.h"

#include <windows.h>
#include <wininet.h>
#include <algorithm>
#include <iterator>
#include <utility>
#include <vector>

#include "ptl/InternetUrl.h"
#include "response/UrlFetch.h"

namespace
{
const size_t npos = std::wstring::npos;

// The answer being rewritten, with the places where fetched text was inserted. Fetched text is
// data: no later search may find a tag in it, or a script's code would be edited by the style
// sheet pass, or a resource would pull in further resources without end.
class CAnswerText
{
public:
    explicit CAnswerText(std::wstring& strText) : m_strText(strText) {}

    const std::wstring& Text() const { return m_strText; }

    // First occurrence at or after nFrom that does not start inside inserted resource text.
    size_t Find(const wchar_t* szWhat, size_t nFrom) const
    {
        for (size_t p = m_strText.find(szWhat, nFrom); p != npos; p = m_strText.find(szWhat, nFrom))
        {
            auto it = std::upper_bound(m_ranges.begin(), m_ranges.end(), std::make_pair(p, npos));
            if (it == m_ranges.begin() || p >= std::prev(it)->second)
                return p;
            nFrom = std::prev(it)->second;
        }
        return npos;
    }

    // Replaces nCount characters at nAt, moving the recorded ranges that follow.
    void Replace(size_t nAt, size_t nCount, const std::wstring& strWith)
    {
        m_strText.replace(nAt, nCount, strWith);
        for (auto& range : m_ranges)
            if (range.first >= nAt + nCount)
            {
                range.first = range.first - nCount + strWith.size();
                range.second = range.second - nCount + strWith.size();
            }
    }

    void MarkInserted(size_t nAt, size_t nCount)
    {
        const std::pair<size_t, size_t> range(nAt, nAt + nCount);
        m_ranges.insert(std::upper_bound(m_ranges.begin(), m_ranges.end(), range), range);
    }

private:
    std::wstring& m_strText;
    std::vector<std::pair<size_t, size_t>> m_ranges;  // [begin, end), sorted, disjoint
};

// End of the raw value of the attribute whose keyword starts at k: the nearer of the next blank
// and the next ">", or the end of the text.
size_t ValueEnd(const std::wstring& strText, size_t k)
{
    const size_t nBlank = strText.find(L' ', k);
    const size_t nClose = strText.find(L'>', k);
    return std::min(std::min(nBlank, nClose), strText.size());
}

// The raw value after the keyword at k, with the quote rule applied: a value that begins with a
// quote character loses its first and its last character, whatever the last one is.
std::wstring AttributeValue(const std::wstring& strText, size_t k, size_t nKeyword, size_t nEnd)
{
    std::wstring strValue = strText.substr(k + nKeyword, nEnd - (k + nKeyword));
    if (!strValue.empty() && (strValue[0] == L'"' || strValue[0] == L'\''))
        strValue = strValue.size() >= 2 ? strValue.substr(1, strValue.size() - 2) : std::wstring();
    return strValue;
}

// Resolves and fetches the attribute at k; empty when either step fails.
std::wstring FetchAttribute(const std::wstring& strText, size_t k, size_t nKeyword, size_t nEnd,
                            const std::wstring& strBase, const UrlTextFetcher& fetch)
{
    std::wstring strUrl;
    if (!ResolveResourceUrl(strBase, AttributeValue(strText, k, nKeyword, nEnd), strUrl))
        return std::wstring();
    return fetch(strUrl);
}

// The next occurrence of a text at or after a position, remembered while the answer does not
// change: the scan moves forward, so one search serves every tag up to the occurrence found.
// Searching afresh from every tag would take time in the square of the answer's length.
class CNextOccurrence
{
public:
    CNextOccurrence(const std::wstring& strText, const wchar_t* szWhat) : m_strText(strText), m_szWhat(szWhat) {}

    size_t From(size_t p)
    {
        if (!m_bKnown || (m_nAt != npos && m_nAt < p))
            m_nAt = m_strText.find(m_szWhat, p);
        m_bKnown = true;
        return m_nAt;
    }
    // The answer changed: the next call searches again.
    void Forget() { m_bKnown = false; }

private:
    const std::wstring& m_strText;
    const wchar_t* m_szWhat;
    size_t m_nAt = npos;
    bool m_bKnown = false;
};

// A tag found at p is one whose opening tag (up to g, its first ">") holds the keyword at k.
// Inserted text always follows a ">", so such a tag never reaches into fetched text.
void InlineScripts(CAnswerText& answer, const std::wstring& strBase, const UrlTextFetcher& fetch,
                   const RewriteGoOn& goOn)
{
    const std::wstring& strText = answer.Text();
    CNextOccurrence close(strText, L"</script>"), src(strText, L"src="), end(strText, L">");
    for (size_t p = answer.Find(L"<script ", 0); p != npos && (!goOn || goOn());)
    {
        size_t nNext = p + 1;
        const size_t c = close.From(p);
        const size_t s = src.From(p);
        // Without a later "</script>" or "src=" no tag from here on can have a source.
        if (c == npos || s == npos)
            break;
        const size_t g = end.From(p);
        // Only a src attribute of the opening tag counts: one found in the script's code would
        // yield an address made of code and an erase that cuts into the script.
        if (p < s && s < c && s < g)
        {
            const size_t nEnd = ValueEnd(strText, s);
            const std::wstring strCode = FetchAttribute(strText, s, 4, nEnd, strBase, fetch);
            if (!strCode.empty())
            {
                answer.Replace(g + 1, 0, L"\n<!--\n" + strCode + L"\n//-->\n");
                answer.MarkInserted(g + 7, strCode.size());
                answer.Replace(s, nEnd - s, std::wstring());
                nNext = g + 7 + strCode.size() - (nEnd - s);
                close.Forget();
                src.Forget();
                end.Forget();
            }
        }
        p = answer.Find(L"<script ", nNext);
    }
}

void InlineStyleSheets(CAnswerText& answer, const std::wstring& strBase, const UrlTextFetcher& fetch,
                       const RewriteGoOn& goOn)
{
    static const wchar_t szStyle[] = L"<style type=\"text/css\">\n";
    const std::wstring& strText = answer.Text();
    CNextOccurrence end(strText, L">"), href(strText, L"href=");
    for (size_t p = answer.Find(L"<link ", 0); p != npos && (!goOn || goOn());)
    {
        size_t nNext = p + 1;
        const size_t g = end.From(p);
        const size_t h = href.From(p);
        // Without a later ">" or "href=" no tag from here on can name a style sheet.
        if (g == npos || h == npos)
            break;
        if (p < h && h < g)
        {
            const std::wstring strSheet = FetchAttribute(strText, h, 5, ValueEnd(strText, h), strBase, fetch);
            if (!strSheet.empty())
            {
                answer.Replace(p, g - p + 1, szStyle + strSheet + L"</style>");
                answer.MarkInserted(p + wcslen(szStyle), strSheet.size());
                nNext = p + wcslen(szStyle) + strSheet.size() + 8;
                const size_t nEndLink = answer.Find(L"</link>", nNext);
                if (nEndLink != npos)
                    answer.Replace(nEndLink, 7, std::wstring());
                end.Forget();
                href.Forget();
            }
        }
        p = answer.Find(L"<link ", nNext);
    }
}

// Position just after the opening tag named by szOpen ("<head", "<html"): its first occurrence
// followed by ">", white space, "/" or the end (so "<header" is not taken), up to and including
// the tag's ">" (so attributes stay inside the tag), or the end of the text when the tag is not
// closed. npos when there is no such tag.
size_t AfterOpeningTag(const CAnswerText& answer, const wchar_t* szOpen)
{
    const std::wstring& strText = answer.Text();
    const size_t nOpen = wcslen(szOpen);
    for (size_t p = answer.Find(szOpen, 0); p != npos; p = answer.Find(szOpen, p + 1))
    {
        const size_t nAfter = p + nOpen;
        if (nAfter < strText.size() && !wcschr(L"> \t\r\n/", strText[nAfter]))
            continue;
        const size_t g = strText.find(L'>', nAfter);
        return g == npos ? strText.size() : g + 1;
    }
    return npos;
}

void InsertBase(CAnswerText& answer, const std::wstring& strBase)
{
    size_t nAt = AfterOpeningTag(answer, L"<head");
    if (nAt == npos)
        nAt = AfterOpeningTag(answer, L"<html");
    if (nAt == npos)
        nAt = 0;
    answer.Replace(nAt, 0, L"\n<base href=\"" + strBase + L"\">\n");
}

void AppendOnload(CAnswerText& answer)
{
    const std::wstring& strText = answer.Text();
    const size_t b = answer.Find(L"<body ", 0);
    if (b == npos)
        return;
    const size_t g = strText.find(L'>', b);
    const size_t o = strText.find(L"onload=", b);
    if (o == npos || g == npos || !(b < o && o < g))
        return;
    answer.Replace(strText.size(), 0, L"<script>" + AttributeValue(strText, o, 7, ValueEnd(strText, o)) + L"</script>");
}
}  // namespace

bool ResolveResourceUrl(const std::wstring& strBase, const std::wstring& strValue, std::wstring& strUrl)
{
    WCHAR szCombined[PTL::URL_BUFFER_CHARS];
    DWORD nLength = ARRAYSIZE(szCombined);
    if (!InternetCombineUrlW(strBase.c_str(), strValue.c_str(), szCombined, &nLength, ICU_BROWSER_MODE))
        return false;
    strUrl = szCombined;
    return PTL::IsHttpUrl(strUrl);
}

void RewriteInline(std::wstring& szResponse, const std::wstring& szActionUrl, const UrlTextFetcher& fetch,
                   const RewriteGoOn& goOn)
{
    if (szResponse.empty())
        return;
    CAnswerText answer(szResponse);
    InlineScripts(answer, szActionUrl, fetch, goOn);
    InlineStyleSheets(answer, szActionUrl, fetch, goOn);
    InsertBase(answer, szActionUrl);
    AppendOnload(answer);
}

void RewriteInline(std::wstring& szResponse, const std::wstring& szActionUrl, PTL::CInternetCancel* pCancel,
                   DWORD nTimeoutMs, bool bVerifyCertificates, DWORD nPageZone, const CRewriteBudget& budget,
                   const std::wstring& strPageUrl)
{
    CFetchLimits limits;
    limits.nPageZone = nPageZone;
    limits.strPageUrl = strPageUrl;
    limits.pCancel = pCancel;
    limits.nTimeoutMs = nTimeoutMs;
    limits.strCredentialOrigin = szActionUrl;
    limits.bVerifyCertificates = bVerifyCertificates;
    limits.nDeadlineTick = GetTickCount64() + budget.nMs;
    size_t nCharsLeft = budget.nChars;
    // Asked before every tag as well as before every fetch: an answer of nothing but tags
    // must not outlast the budget or a stop either.
    const RewriteGoOn goOn = [&] {
        return GetTickCount64() < limits.nDeadlineTick && !(pCancel && pCancel->IsCancelled());
    };
    RewriteInline(
        szResponse, szActionUrl,
        [&](const std::wstring& strUrl) {
            if (nCharsLeft == 0 || !goOn())
                return std::wstring();
            CFetchLimits one = limits;
            one.nMaxBytes = std::min(limits.nMaxBytes, nCharsLeft);
            std::wstring strText = FetchUrlText(strUrl, one);
            nCharsLeft -= std::min(nCharsLeft, strText.size());
            return strText;
        },
        goOn);
}

InlineAnswerStep MakeInlineAnswerStep(bool bVerifyCertificates, DWORD nPageZone, const std::wstring& strPageUrl)
{
    return [bVerifyCertificates, nPageZone, strPageUrl](std::wstring& strAnswer, const std::wstring& strActionUrl,
                                                        PTL::CInternetCancel& cancel, DWORD nReceiveTimeoutMs) {
        RewriteInline(strAnswer, strActionUrl, &cancel, std::min<DWORD>(nReceiveTimeoutMs, FETCH_TIMEOUT_MS),
                      bVerifyCertificates, nPageZone, CRewriteBudget(), strPageUrl);
    };
}
