// Splitting an address into the parts the upload needs to connect and to form its request line.
#pragma once
#include <windows.h>
#include <wininet.h>

namespace PTL
{
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
}  // namespace PTL
