#include "ptl/UrlZone.h"

#include <shlwapi.h>

#include <cstring>

#include "ptl/ComPtr.h"
#include "ptl/Handle.h"

namespace PTL
{
namespace
{
// The part of a saved page searched for its mark: browsers write it before the document's first
// tag, after at most a document type line.
const DWORD SAVED_MARK_SEARCH_BYTES = 4096;
const char SAVED_MARK[] = "saved from url=(";

bool HasScheme(const std::wstring& strUrl, const wchar_t* szScheme)
{
    const size_t n = wcslen(szScheme);
    return strUrl.size() > n && _wcsnicmp(strUrl.c_str(), szScheme, n) == 0 && strUrl[n] == L':';
}

// Where a zone stands in the system's order of trust: higher is more trusted. Zones the system
// cannot tell, and custom ones, rank with the Internet.
int TrustRank(DWORD nZone)
{
    switch (nZone)
    {
    case URLZONE_LOCAL_MACHINE: return 4;
    case URLZONE_TRUSTED: return 3;
    case URLZONE_INTRANET: return 2;
    case URLZONE_UNTRUSTED: return 0;
    default: return 1;
    }
}

// The zone the container reports for its document, from the security id its host security
// manager gives (scheme, host and, in the last four bytes, the zone).
DWORD ContainerZone(IUnknown* pSite)
{
    CComPtr<IServiceProvider> pServices;
    CComPtr<IInternetHostSecurityManager> pManager;
    if (!pSite || FAILED(pSite->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&pServices))) ||
        !pServices ||
        FAILED(pServices->QueryService(SID_SInternetHostSecurityManager, IID_IInternetHostSecurityManager,
                                       reinterpret_cast<void**>(&pManager))) ||
        !pManager)
        return NO_ZONE;
    BYTE abId[MAX_SIZE_SECURITY_ID] = {};
    DWORD cbId = sizeof(abId);
    if (FAILED(pManager->GetSecurityId(abId, &cbId, 0)) || cbId < sizeof(DWORD) || cbId > sizeof(abId))
        return NO_ZONE;
    DWORD nZone = NO_ZONE;
    memcpy(&nZone, abId + cbId - sizeof(DWORD), sizeof(DWORD));
    // Anything but one of the five zones is no answer this code can read.
    return nZone <= URLZONE_UNTRUSTED ? nZone : NO_ZONE;
}
}  // namespace

DWORD UrlZone(const std::wstring& strUrl, DWORD dwFlags)
{
    // The security manager also serves threads that never joined an apartment (the upload's
    // worker): such a thread joins the free-threaded one for the call.
    const HRESULT hrInit = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    DWORD nZone = NO_ZONE;
    {
        CComPtr<IInternetSecurityManager> pManager;
        if (!strUrl.empty() && SUCCEEDED(CoInternetCreateSecurityManager(nullptr, &pManager, 0)) && pManager &&
            FAILED(pManager->MapUrlToZone(strUrl.c_str(), &nZone, dwFlags)))
            nZone = NO_ZONE;
    }
    if (SUCCEEDED(hrInit))
        CoUninitialize();
    return nZone;
}

std::wstring SavedFromUrl(const std::wstring& strFilePath)
{
    const CKernelHandle file(CreateFileW(strFilePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return std::wstring();
    char abText[SAVED_MARK_SEARCH_BYTES + 1] = {};
    DWORD nRead = 0;
    if (!ReadFile(file.Get(), abText, SAVED_MARK_SEARCH_BYTES, &nRead, nullptr))
        return std::wstring();
    // The mark: "<!-- saved from url=(0023)http://example.com/ -->", the digits the length of the
    // address. A NUL in the text (a page in UTF-16) ends the search, as it ends the mark's reader.
    const char* pMark = StrStrIA(abText, SAVED_MARK);
    if (!pMark)
        return std::wstring();
    const char* p = pMark + sizeof(SAVED_MARK) - 1;
    size_t nLength = 0;
    for (int i = 0; i < 4; ++i, ++p)
    {
        if (*p < '0' || *p > '9')
            return std::wstring();
        nLength = nLength * 10 + static_cast<size_t>(*p - '0');
    }
    if (*p++ != ')' || nLength == 0 || static_cast<size_t>(abText + nRead - p) < nLength)
        return std::wstring();
    std::wstring strUrl;
    for (size_t i = 0; i < nLength; ++i)
    {
        const unsigned char c = static_cast<unsigned char>(p[i]);
        if (c <= ' ' || c >= 0x7F)
            return std::wstring();
        strUrl += static_cast<wchar_t>(c);
    }
    return strUrl;
}

DWORD PageZone(const std::wstring& strPageUrl, IUnknown* pSite)
{
    const DWORD nContainerZone = ContainerZone(pSite);
    if (nContainerZone != NO_ZONE)
        return nContainerZone;
    if (HasScheme(strPageUrl, L"http") || HasScheme(strPageUrl, L"https"))
        return UrlZone(strPageUrl);
    if (!HasScheme(strPageUrl, L"file"))
        return URLZONE_INTERNET;
    wchar_t szPath[MAX_PATH * 4] = L"";
    DWORD nChars = static_cast<DWORD>(sizeof(szPath) / sizeof(szPath[0]));
    if (SUCCEEDED(PathCreateFromUrlW(strPageUrl.c_str(), szPath, &nChars, 0)))
    {
        const std::wstring strSavedFrom = SavedFromUrl(szPath);
        // The mark names the zone the page's content came from; one naming a local file or a
        // scheme of its own puts the page among Internet pages, as browsers do.
        if (!strSavedFrom.empty())
        {
            const DWORD nZone = UrlZone(strSavedFrom);
            return nZone == URLZONE_LOCAL_MACHINE || nZone == NO_ZONE ? URLZONE_INTERNET : nZone;
        }
    }
    return UrlZone(strPageUrl, MUTZ_REQUIRESAVEDFILECHECK);
}

bool IsLimitedZone(DWORD nZone) { return TrustRank(nZone) <= TrustRank(URLZONE_INTERNET); }

bool RaisesZone(const std::wstring& strTarget, DWORD nPageZone)
{
    if (!IsLimitedZone(nPageZone))
        return false;
    const DWORD nTarget = UrlZone(strTarget);
    return nTarget == NO_ZONE || TrustRank(nTarget) > TrustRank(nPageZone);
}
}  // namespace PTL
