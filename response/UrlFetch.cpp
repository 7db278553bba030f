#include "response/UrlFetch.h"

#include <wininet.h>
#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "ptl/InternetHandle.h"
#include "ptl/AddressSpace.h"
#include "ptl/InternetUrl.h"
#include "ptl/UrlZone.h"
#include "ptl/Text.h"

namespace
{
const wchar_t szFetchAgent[] = L"Marlune";
const DWORD nReadBlock = 16384;

DWORD RemainingMs(const CFetchLimits& limits)
{
    if (limits.nDeadlineTick == 0)
        return limits.nTimeoutMs;
    const ULONGLONG nNow = GetTickCount64();
    if (nNow >= limits.nDeadlineTick)
        return 0;
    return static_cast<DWORD>(std::min<ULONGLONG>(limits.nTimeoutMs, limits.nDeadlineTick - nNow));
}

// The Location of a redirect answer resolved against the address that gave it, or empty.
std::wstring RedirectTarget(const PTL::CHttpFile& file, const std::wstring& strFrom)
{
    std::vector<WCHAR> location(PTL::URL_BUFFER_CHARS, L'\0');
    DWORD nLength = static_cast<DWORD>(location.size() * sizeof(WCHAR));
    if (!file.QueryInfo(HTTP_QUERY_LOCATION, location.data(), &nLength) || location[0] == L'\0')
        return std::wstring();
    location.back() = L'\0';
    WCHAR szTarget[PTL::URL_BUFFER_CHARS];
    DWORD nTarget = ARRAYSIZE(szTarget);
    if (!InternetCombineUrlW(strFrom.c_str(), location.data(), szTarget, &nTarget, ICU_BROWSER_MODE))
        return std::wstring();
    return szTarget;
}

// Reads the body block by block into bytes, each block up to its first zero byte. False when a
// limit is hit or a read fails: a body cut short is not used.
bool ReadBody(const PTL::CHttpFile& file, const CFetchLimits& limits, std::string& bytes)
{
    std::vector<char> block(nReadBlock);
    size_t nReceived = 0;  // counts the zero bytes too, so a body of zeros is bounded as well
    for (;;)
    {
        if (limits.nDeadlineTick != 0 && GetTickCount64() >= limits.nDeadlineTick)
            return false;
        DWORD nAvailable = 0;
        if (!InternetQueryDataAvailable(file, &nAvailable, 0, 0))
            return false;
        DWORD nRead = 0;
        if (!InternetReadFile(file, block.data(), std::min<DWORD>(nAvailable, nReadBlock), &nRead))
            return false;
        if (nRead == 0)
            return true;
        nReceived += nRead;
        if (nReceived > limits.nMaxBytes)
            return false;
        bytes.append(block.data(), std::find(block.data(), block.data() + nRead, '\0'));
    }
}

// Sends a GET of an http(s) address. The request is built through a connection rather than by
// address in one call because only then do the time-outs reach the request on every platform.
bool SendGet(HINTERNET hSession, const std::wstring& strUrl, DWORD nFlags, DWORD nTimeout, bool bVerify,
             PTL::CInternetCancel* pCancel, PTL::CHttpConnection& connection, PTL::CHttpFile& file)
{
    PTL::CUrlComponents parts;
    if (!PTL::CrackUrl(strUrl.c_str(), parts) ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS))
        return false;
    if (parts.nScheme == INTERNET_SCHEME_HTTPS)
        nFlags |= INTERNET_FLAG_SECURE;
    connection.Connect(hSession, parts.szHostName, parts.nPort, parts.szUserName[0] ? parts.szUserName : nullptr,
                       parts.szPassword[0] ? parts.szPassword : nullptr, INTERNET_SERVICE_HTTP, 0);
    if (pCancel && !pCancel->Check(connection))
        return false;
    connection.SetTimeouts(nTimeout, nTimeout, nTimeout);
    const std::wstring strObject = std::wstring(parts.szUrlPath) + parts.szExtraInfo;
    const wchar_t* aAccept[] = {L"*/*", nullptr};
    file.OpenRequest(connection, L"GET", strObject.c_str(), nullptr, nullptr, aAccept, nFlags);
    if (pCancel && !pCancel->Check(file))
        return false;
    file.SetTimeouts(nTimeout, nTimeout, nTimeout);
    if (parts.nScheme == INTERNET_SCHEME_HTTPS && !bVerify)
    {
        DWORD nSecurity = SECURITY_FLAG_IGNORE_REVOCATION | SECURITY_FLAG_IGNORE_UNKNOWN_CA |
                          SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
        file.SetOption(INTERNET_OPTION_SECURITY_FLAGS, &nSecurity, sizeof(nSecurity));
    }
    return HttpSendRequestW(file, nullptr, 0, nullptr, 0) != FALSE;
}

std::wstring Fetch(const std::wstring& strUrl, const CFetchLimits& limits)
{
    PTL::CInternetSession session;
    const PTL::CInternetCancel::CScope sessionScope(limits.pCancel, session);
    session.Open(szFetchAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (limits.pCancel && !limits.pCancel->Check(session))
        return std::wstring();

    std::wstring strCurrent = strUrl;
    for (int nHop = 0;; ++nHop)
    {
        if (!PTL::IsHttpUrl(strCurrent))
            return std::wstring();
        if (limits.nPageZone != PTL::NO_ZONE && PTL::RaisesZone(strCurrent, limits.nPageZone))
        {
            OutputDebugStringW(L"Pelora5: an inline fetch to a more trusted zone than the page's was refused\n");
            return std::wstring();
        }
        // Every hop, redirects included, is checked against the page's network.
        if (limits.nPageZone != PTL::NO_ZONE && PTL::IsLimitedZone(limits.nPageZone) &&
            !PTL::PrivateNetworkAllows(strCurrent, limits.strPageUrl))
            return std::wstring();
        const DWORD nTimeout = RemainingMs(limits);
        if (nTimeout == 0)
            return std::wstring();

        DWORD nFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_AUTO_REDIRECT;
        const bool bTargetOrigin = PTL::IsSameOrigin(strCurrent, limits.strCredentialOrigin);
        if (!bTargetOrigin)
            nFlags |= INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTH;
        const bool bVerify = limits.bVerifyCertificates || !bTargetOrigin;

        PTL::CHttpConnection connection;
        PTL::CHttpFile file;
        const PTL::CInternetCancel::CScope connectionScope(limits.pCancel, connection);
        const PTL::CInternetCancel::CScope fileScope(limits.pCancel, file);
        if (!SendGet(session, strCurrent, nFlags, nTimeout, bVerify, limits.pCancel, connection, file))
            return std::wstring();
        DWORD nStatus = 0;
        file.QueryInfo(HTTP_QUERY_STATUS_CODE, nStatus);
        if (nStatus == 404)
            return std::wstring();
        if (PTL::IsRedirectStatus(nStatus))
        {
            std::wstring strTarget = RedirectTarget(file, strCurrent);
            if (!strTarget.empty())
            {
                if (nHop >= limits.nMaxRedirects)
                    return std::wstring();
                strCurrent = strTarget;
                continue;
            }
        }
        std::string bytes;
        if (!ReadBody(file, limits, bytes))
            return std::wstring();
        return PTL::DecodeText(bytes, PTL::ECharset::Ansi);
    }
}
}  // namespace

std::wstring FetchUrlText(const std::wstring& strUrl, const CFetchLimits& limits)
{
    try
    {
        return Fetch(strUrl, limits);
    }
    catch (const PTL::CInternetException&)
    {
        return std::wstring();
    }
    catch (const std::bad_alloc&)
    {
        return std::wstring();
    }
}
