// Splitting an address into the parts the upload needs to connect and to form its request line,
// and telling web addresses and their origins apart.
#pragma once
#include <windows.h>
#include <wininet.h>

#include <string>

namespace PTL
{
// Characters of the longest address the platform handles, with its terminator.
constexpr size_t URL_BUFFER_CHARS = INTERNET_MAX_URL_LENGTH + 1;

struct CUrlComponents
{
    WCHAR szScheme[32];
    INTERNET_SCHEME nScheme;
    WCHAR szHostName[256];
    INTERNET_PORT nPort;
    WCHAR szUserName[128];
    WCHAR szPassword[128];
    WCHAR szUrlPath[2048];
    WCHAR szExtraInfo[2048];  // the query part, with its "?"
};

// Canonicalises szUrl (browser mode) and splits it. Leaves every component zero and returns
// false when the address cannot be handled.
bool CrackUrl(const wchar_t* szUrl, CUrlComponents& components);

// True for an absolute http:// or https:// address.
bool IsHttpUrl(const std::wstring& strUrl);

// A web address a page hands on to another program, rebuilt from its parts: http or https, a
// host of letters, digits, dots and hyphens (or an IPv6 address in brackets), the port when it is
// not the scheme's own, then the path and query. False for anything else, and for an address
// with a user name, quotes, blanks or control characters: those would let the address be read
// as more than one argument, or as a host other than the one shown.
bool RebuildWebAddress(const std::wstring& strGiven, std::wstring& strUrl);

// True when both addresses are http(s) with equal scheme, host (ignoring case) and port.
bool IsSameOrigin(const std::wstring& strUrl, const std::wstring& strOther);
}  // namespace PTL
