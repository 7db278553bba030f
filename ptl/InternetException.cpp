#include "ptl/InternetException.h"

#include <cstdarg>
#include <cwchar>

namespace PTL
{
CInternetException::CInternetException(HINTERNET hHandle, const wchar_t* szFormat, ...)
    : hInternet(hHandle), dwError(GetLastError()), dwResponseError(0)
{
    szMessage[0] = L'\0';
    szResponseInfo[0] = L'\0';

    DWORD nLength = ARRAYSIZE(szResponseInfo);
    if (!InternetGetLastResponseInfoW(&dwResponseError, szResponseInfo, &nLength))
    {
        // A response text longer than the field leaves it unset; keep a terminated text
        // either way so whoever reads it never runs off the end.
        if (GetLastError() == ERROR_INSUFFICIENT_BUFFER)
            wcscpy(szResponseInfo, L"Response text too long");
        else
            wcscpy(szResponseInfo, L"Unknown error");
    }
    szResponseInfo[ARRAYSIZE(szResponseInfo) - 1] = L'\0';

    va_list args;
    va_start(args, szFormat);
    // vsnwprintf cuts at the field and reports the cut as a negative count; the text that fits
    // stays and is terminated below.
    _vsnwprintf(szMessage, ARRAYSIZE(szMessage) - 1, szFormat, args);
    va_end(args);
    szMessage[ARRAYSIZE(szMessage) - 1] = L'\0';
}
}  // namespace PTL
