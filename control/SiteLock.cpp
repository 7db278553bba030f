#include "control/SiteLock.h"

#include <cwctype>

#include "BuiltinSites.h"
#include "ptl/Handle.h"

namespace
{
const wchar_t POLICY_KEY[] = L"SOFTWARE\\Policies\\Pelora5";
// A list longer than this is no administrator's list.
const DWORD MAX_SITE_LIST_BYTES = 256 * 1024;

const wchar_t* const BUILTIN_SITES[] = {PL5_BUILTIN_SITES nullptr};

struct CSiteAddress
{
    std::wstring strScheme;  // "http" or "https"; empty in a pattern that allows both
    std::wstring strHost;    // lower case, without a trailing dot; "*" or "*.suffix" in a pattern
    int nPort = -1;          // -1 in a pattern that allows every port
};

wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

std::wstring Lower(std::wstring str)
{
    for (wchar_t& c : str)
        c = AsciiLower(c);
    return str;
}

bool IsHostCharacter(wchar_t c)
{
    return (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'-' || c == L'.' || c == L'_';
}

// A host name or an IPv6 address in brackets, lower case; a trailing dot is dropped. Anything
// else (escapes, non-ASCII letters, blanks) is refused rather than guessed at.
bool ParseHost(const std::wstring& strGiven, std::wstring& strHost)
{
    strHost = Lower(strGiven);
    if (strHost.size() >= 2 && strHost.front() == L'[' && strHost.back() == L']')
    {
        for (size_t i = 1; i + 1 < strHost.size(); ++i)
            if (!iswxdigit(strHost[i]) && strHost[i] != L':' && strHost[i] != L'.')
                return false;
        return strHost.size() > 2;
    }
    if (!strHost.empty() && strHost.back() == L'.')
        strHost.pop_back();
    if (strHost.empty() || strHost.front() == L'.')
        return false;
    for (wchar_t c : strHost)
        if (!IsHostCharacter(c))
            return false;
    return true;
}

bool ParsePort(const std::wstring& strDigits, int& nPort)
{
    if (strDigits.empty() || strDigits.size() > 5)
        return false;
    nPort = 0;
    for (wchar_t c : strDigits)
    {
        if (c < L'0' || c > L'9')
            return false;
        nPort = nPort * 10 + (c - L'0');
    }
    return nPort > 0 && nPort <= 65535;
}

// Splits "host[:port]" (host possibly "[v6]") into its parts.
bool SplitAuthority(const std::wstring& strAuthority, std::wstring& strHost, std::wstring& strPort)
{
    size_t nHostEnd = strAuthority.size();
    if (!strAuthority.empty() && strAuthority.front() == L'[')
    {
        const size_t nClose = strAuthority.find(L']');
        if (nClose == std::wstring::npos)
            return false;
        nHostEnd = nClose + 1;
        if (nHostEnd < strAuthority.size() && strAuthority[nHostEnd] != L':')
            return false;
    }
    else
    {
        const size_t nColon = strAuthority.find(L':');
        if (nColon != std::wstring::npos)
            nHostEnd = nColon;
    }
    strHost = strAuthority.substr(0, nHostEnd);
    strPort = nHostEnd < strAuthority.size() ? strAuthority.substr(nHostEnd + 1) : std::wstring();
    return nHostEnd == strAuthority.size() || !strPort.empty();
}

bool ParseScheme(const std::wstring& strGiven, std::wstring& strScheme)
{
    strScheme = Lower(strGiven);
    return strScheme == L"http" || strScheme == L"https";
}

// A page's address as the browser gives it. The authority ends where a browser ends it, also at
// a backslash; an address with a user name in it is refused, since its host is easy to misread.
bool ParsePageAddress(const std::wstring& strUrl, CSiteAddress& address)
{
    const size_t nSchemeEnd = strUrl.find(L"://");
    if (nSchemeEnd == std::wstring::npos || !ParseScheme(strUrl.substr(0, nSchemeEnd), address.strScheme))
        return false;
    const size_t nStart = nSchemeEnd + 3;
    size_t nEnd = strUrl.find_first_of(L"/?#\\", nStart);
    if (nEnd == std::wstring::npos)
        nEnd = strUrl.size();
    const std::wstring strAuthority = strUrl.substr(nStart, nEnd - nStart);
    if (strAuthority.find(L'@') != std::wstring::npos)
        return false;
    std::wstring strHost, strPort;
    if (!SplitAuthority(strAuthority, strHost, strPort) || !ParseHost(strHost, address.strHost))
        return false;
    if (strPort.empty())
        address.nPort = address.strScheme == L"https" ? 443 : 80;
    else if (!ParsePort(strPort, address.nPort))
        return false;
    return true;
}

std::wstring Trimmed(const std::wstring& str)
{
    const size_t nFirst = str.find_first_not_of(L" \t");
    if (nFirst == std::wstring::npos)
        return std::wstring();
    return str.substr(nFirst, str.find_last_not_of(L" \t") - nFirst + 1);
}

// A pattern that cannot be read allows nothing.
bool ParsePattern(const std::wstring& strGiven, CSiteAddress& pattern)
{
    std::wstring strRest = Trimmed(strGiven);
    const size_t nSchemeEnd = strRest.find(L"://");
    if (nSchemeEnd != std::wstring::npos)
    {
        if (!ParseScheme(strRest.substr(0, nSchemeEnd), pattern.strScheme))
            return false;
        strRest.erase(0, nSchemeEnd + 3);
    }
    if (!strRest.empty() && strRest.back() == L'/')
        strRest.pop_back();
    std::wstring strHost, strPort;
    if (!SplitAuthority(strRest, strHost, strPort))
        return false;
    if (!strPort.empty() && !ParsePort(strPort, pattern.nPort))
        return false;
    if (strHost == L"*")
    {
        pattern.strHost = strHost;
        return true;
    }
    const bool bWildcard = strHost.compare(0, 2, L"*.") == 0;
    if (!ParseHost(bWildcard ? strHost.substr(2) : strHost, pattern.strHost))
        return false;
    if (bWildcard)
        pattern.strHost.insert(0, L"*.");
    return true;
}

bool HostMatches(const std::wstring& strPattern, const std::wstring& strHost)
{
    if (strPattern == L"*")
        return true;
    if (strPattern.compare(0, 2, L"*.") != 0)
        return strPattern == strHost;
    const std::wstring strSuffix = strPattern.substr(1);  // ".example.com"
    return strHost == strPattern.substr(2) ||
           (strHost.size() > strSuffix.size() &&
            strHost.compare(strHost.size() - strSuffix.size(), strSuffix.size(), strSuffix) == 0);
}

// The strings of a REG_MULTI_SZ (or REG_SZ) value, without empty ones.
std::vector<std::wstring> SplitMultiString(const std::vector<wchar_t>& text)
{
    std::vector<std::wstring> strings;
    std::wstring strCurrent;
    for (wchar_t c : text)
    {
        if (c != L'\0')
        {
            strCurrent += c;
            continue;
        }
        if (!strCurrent.empty())
            strings.push_back(strCurrent);
        strCurrent.clear();
    }
    if (!strCurrent.empty())
        strings.push_back(strCurrent);
    return strings;
}

// Whether the site list value is present; its sites when it is readable.
bool ReadSiteList(HKEY hKey, std::vector<std::wstring>& sites)
{
    DWORD nType = 0, nBytes = 0;
    LONG nResult = RegQueryValueExW(hKey, L"AllowedSites", nullptr, &nType, nullptr, &nBytes);
    if (nResult != ERROR_SUCCESS && nResult != ERROR_MORE_DATA)
        return false;
    if ((nType != REG_MULTI_SZ && nType != REG_SZ) || nBytes > MAX_SITE_LIST_BYTES)
        return true;
    std::vector<wchar_t> text(nBytes / sizeof(wchar_t) + 1, L'\0');
    DWORD nRead = nBytes;
    nResult = RegQueryValueExW(hKey, L"AllowedSites", nullptr, &nType, reinterpret_cast<BYTE*>(text.data()), &nRead);
    if (nResult != ERROR_SUCCESS || (nType != REG_MULTI_SZ && nType != REG_SZ))
        return true;
    text.resize(nRead / sizeof(wchar_t));
    sites = SplitMultiString(text);
    return true;
}
}  // namespace

CControlPolicy CControlPolicy::ReadMachinePolicy()
{
    CControlPolicy policy;
    PTL::CRegKeyHandle key;
    // The 64-bit view from both builds: one policy for the machine, wherever it was written (the
    // policy key is shared between the views on current systems; this also covers older ones).
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, POLICY_KEY, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return policy;
    policy.bSiteListSet = ReadSiteList(key.Get(), policy.allowedSites);
    DWORD nVerify = 0, nType = 0, nBytes = sizeof(nVerify);
    if (RegQueryValueExW(key.Get(), L"VerifyCertificates", nullptr, &nType, reinterpret_cast<BYTE*>(&nVerify),
                         &nBytes) == ERROR_SUCCESS &&
        nType == REG_DWORD && nBytes == sizeof(nVerify))
        policy.bVerifyCertificates = nVerify != 0;
    return policy;
}

bool SiteMatches(const std::wstring& strPattern, const std::wstring& strPageUrl)
{
    CSiteAddress pattern, page;
    if (!ParsePattern(strPattern, pattern) || !ParsePageAddress(strPageUrl, page))
        return false;
    return (pattern.strScheme.empty() || pattern.strScheme == page.strScheme) &&
           (pattern.nPort == -1 || pattern.nPort == page.nPort) && HostMatches(pattern.strHost, page.strHost);
}

CSiteLock CSiteLock::ForPolicy(const CControlPolicy& policy)
{
    std::vector<std::vector<std::wstring>> lists;
    if (policy.bSiteListSet)
        lists.push_back(policy.allowedSites);
    if (BUILTIN_SITES[0])
        lists.emplace_back(BUILTIN_SITES, BUILTIN_SITES + (sizeof(BUILTIN_SITES) / sizeof(BUILTIN_SITES[0]) - 1));
    return CSiteLock(std::move(lists));
}

bool CSiteLock::Allows(const std::wstring& strPageUrl) const
{
    for (const std::vector<std::wstring>& list : m_lists)
    {
        bool bAllowed = false;
        for (const std::wstring& strPattern : list)
            bAllowed = bAllowed || SiteMatches(strPattern, strPageUrl);
        if (!bAllowed)
            return false;
    }
    return true;
}
