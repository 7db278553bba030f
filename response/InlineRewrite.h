// Rewriting an upload's HTML answer into a self-contained text: external scripts and style
// sheets are fetched and placed inline, a base element makes relative addresses resolve against
// the upload target, and the body's onload handler is repeated as a script at the end.
//
// The searches are literal and case-sensitive ("<script ", "</script>", "src=", "<link ",
// "href=", "<body ", "onload="), so tags in capitals or without the blank are left alone.
// Fetched text is inserted as data: it is never searched again, which keeps the rewriting finite
// whatever the resources contain.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include "response/UrlFetch.h"

// Fetches one absolute http(s) address; the body as text, or empty when the fetch failed.
using UrlTextFetcher = std::function<std::wstring(const std::wstring& strUrl)>;

// Asked before each tag of the scan; false ends the search for tags where it stands (the tags
// left stay unchanged, as after failed fetches).
using RewriteGoOn = std::function<bool()>;

// Rewrites szResponse in place with the given fetcher. An empty answer is left as it is.
// Addresses are resolved against szActionUrl; those that do not resolve to http or https are
// never handed to the fetcher and their tags stay unchanged, as after a failed fetch. The time
// taken grows with the answer's length, apart from the fetches.
void RewriteInline(std::wstring& szResponse, const std::wstring& szActionUrl, const UrlTextFetcher& fetch,
                   const RewriteGoOn& goOn = nullptr);

// What all the fetches of one answer may take together: a hostile answer with many slow or
// large resources must not hold the worker for the sum of the per-fetch limits.
struct CRewriteBudget
{
    ULONGLONG nMs = 120000;
    size_t nChars = 32 * 1024 * 1024;
};

// The upload worker's form: fetches through FetchUrlText with the upload target as the only
// origin that receives credentials, within the budget for the whole answer, which the scan keeps
// as well as the fetches. A cancel from another thread ends the fetch under way and the scan;
// each fetch's connect, send and receive wait at most nTimeoutMs. bVerifyCertificates as for the
// upload itself; nPageZone, when given, the page's zone, above which no fetch may reach, and
// strPageUrl the page's address, whose network a limited page's fetches may not leave for a more
// private one (CFetchLimits).
void RewriteInline(std::wstring& szResponse, const std::wstring& szActionUrl, PTL::CInternetCancel* pCancel = nullptr,
                   DWORD nTimeoutMs = FETCH_TIMEOUT_MS, bool bVerifyCertificates = true, DWORD nPageZone = PTL::NO_ZONE,
                   const CRewriteBudget& budget = CRewriteBudget(), const std::wstring& strPageUrl = std::wstring());

// The rewriting as the step an upload takes after its answer: the form above, with each fetch's
// waits bounded by the upload's receive time-out where that is shorter than FETCH_TIMEOUT_MS.
using InlineAnswerStep = std::function<void(std::wstring& strAnswer, const std::wstring& strActionUrl,
                                            PTL::CInternetCancel& cancel, DWORD nReceiveTimeoutMs)>;
InlineAnswerStep MakeInlineAnswerStep(bool bVerifyCertificates, DWORD nPageZone,
                                      const std::wstring& strPageUrl = std::wstring());

// An attribute value as taken from a tag (up to the nearer blank or ">", one pair of enclosing
// quote characters removed) combined with the base address in browser mode. False when
// combining fails or the result is not http or https.
bool ResolveResourceUrl(const std::wstring& strBase, const std::wstring& strValue, std::wstring& strUrl);
