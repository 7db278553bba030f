// The one exception type of the internet layer: which handle failed, the system error, the
// server's last response text and a message that says what was being done.
#pragma once
#include <windows.h>
#include <wininet.h>

namespace PTL
{
class CInternetException
{
public:
    // Captures GetLastError before anything else can change it, then the server's last
    // response text, then formats szMessage (printf style, cut to the field).
    CInternetException(HINTERNET hInternet, const wchar_t* szFormat, ...);
    CInternetException(const CInternetException&) = default;
    CInternetException& operator=(const CInternetException&) = default;
    virtual ~CInternetException() = default;

    HINTERNET hInternet;
    DWORD dwError;
    DWORD dwResponseError;
    WCHAR szMessage[512];
    WCHAR szResponseInfo[512];
};
}  // namespace PTL
