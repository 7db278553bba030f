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

    std::vector<WCHAR> canonical(2084);
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
}  // namespace PTL
