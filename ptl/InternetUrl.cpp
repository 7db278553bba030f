#include "ptl/InternetUrl.h"

#include <cwctype>
#include <string>
#include <vector>

namespace PTL
{
bool CrackUrl(const wchar_t* szUrl, CUrlComponents& components)
{
    ZeroMemory(&components, sizeof(components));
    if (!szUrl)
        return false;

    std::vector<WCHAR> canonical(URL_BUFFER_CHARS);
    DWORD nLength = static_cast<DWORD>(canonical.size());
    if (!InternetCanonicalizeUrlW(szUrl, canonical.data(), &nLength, ICU_BROWSER_MODE))
    {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return false;
        // The reported size may or may not count the terminator; one more costs nothing.
        canonical.assign(nLength + 1, L'\0');
        nLength = static_cast<DWORD>(canonical.size());
        if (!InternetCanonicalizeUrlW(szUrl, canonical.data(), &nLength, ICU_BROWSER_MODE))
            return false;
    }

    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszScheme = components.szScheme;
    parts.dwSchemeLength = ARRAYSIZE(components.szScheme);
    parts.lpszHostName = components.szHostName;
    parts.dwHostNameLength = ARRAYSIZE(components.szHostName);
    parts.lpszUserName = components.szUserName;
    parts.dwUserNameLength = ARRAYSIZE(components.szUserName);
    parts.lpszPassword = components.szPassword;
    parts.dwPasswordLength = ARRAYSIZE(components.szPassword);
    parts.lpszUrlPath = components.szUrlPath;
    parts.dwUrlPathLength = ARRAYSIZE(components.szUrlPath);
    parts.lpszExtraInfo = components.szExtraInfo;
    parts.dwExtraInfoLength = ARRAYSIZE(components.szExtraInfo);
    if (!InternetCrackUrlW(canonical.data(), 0, 0, &parts))
    {
        ZeroMemory(&components, sizeof(components));
        return false;
    }
    components.nScheme = parts.nScheme;
    components.nPort = parts.nPort;
    return true;
}
bool IsHttpUrl(const std::wstring& strUrl)
{
    return _wcsnicmp(strUrl.c_str(), L"http://", 7) == 0 || _wcsnicmp(strUrl.c_str(), L"https://", 8) == 0;
}

bool RebuildWebAddress(const std::wstring& strGiven, std::wstring& strUrl)
{
    strUrl.clear();
    if (!IsHttpUrl(strGiven))
        return false;
    for (wchar_t c : strGiven)
        if (c <= L' ' || c == L'"' || c == 0x7F || (c >= 0x80 && c < 0xA0) || c == 0x2028 || c == 0x2029)
            return false;
    CUrlComponents parts;
    if (!CrackUrl(strGiven.c_str(), parts) || !parts.szHostName[0] || parts.szUserName[0] || parts.szPassword[0] ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS))
        return false;
    // An IPv6 address comes out of the split with or without its brackets; it goes back with them.
    std::wstring strHost = parts.szHostName;
    if (strHost.size() > 2 && strHost.front() == L'[' && strHost.back() == L']')
        strHost = strHost.substr(1, strHost.size() - 2);
    const bool bIpv6 = strHost.find(L':') != std::wstring::npos;
    for (wchar_t c : strHost)
    {
        const bool bLetterOrDigit = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9');
        if (bIpv6 ? !iswxdigit(c) && c != L':' && c != L'.' : !bLetterOrDigit && c != L'.' && c != L'-')
            return false;
    }
    if (bIpv6)
        strHost = L"[" + strHost + L"]";
    const bool bHttps = parts.nScheme == INTERNET_SCHEME_HTTPS;
    strUrl = std::wstring(bHttps ? L"https://" : L"http://") + strHost;
    if (parts.nPort != (bHttps ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT))
        strUrl += L":" + std::to_wstring(parts.nPort);
    strUrl += parts.szUrlPath[0] == L'/' ? parts.szUrlPath : L"/";
    strUrl += parts.szExtraInfo;
    return true;
}

bool IsSameOrigin(const std::wstring& strUrl, const std::wstring& strOther)
{
    if (!IsHttpUrl(strUrl) || !IsHttpUrl(strOther))
        return false;
    CUrlComponents a, b;
    if (!CrackUrl(strUrl.c_str(), a) || !CrackUrl(strOther.c_str(), b))
        return false;
    return a.nScheme == b.nScheme && a.nPort == b.nPort && _wcsicmp(a.szHostName, b.szHostName) == 0;
}
}  // namespace PTL
