#include "ptl/InternetUrl.h"

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
