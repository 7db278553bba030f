// Plain GET of one resource for the inline rewriting of an upload's answer. The addresses come
// from the server's answer, which is untrusted: only http and https are fetched, credentials go
// only to the upload target's own origin, and every fetch is bounded in time and size.
#pragma once
#include <windows.h>
#include <string>

#include "ptl/InternetHandle.h"
#include "ptl/UrlZone.h"

// How long each of a fetch's connect, send and receive may wait.
constexpr DWORD FETCH_TIMEOUT_MS = 30000;

struct CFetchLimits
{
    // Resources with this address's scheme, host and port are fetched with the user's cookies
    // and automatic authentication; any other origin (and every one, when this is empty or not
    // an http address) without them. Redirects are followed by hand so that every hop is judged.
    std::wstring strCredentialOrigin;
    DWORD nTimeoutMs = FETCH_TIMEOUT_MS;  // connect, send and receive, each
    size_t nMaxBytes = 8 * 1024 * 1024;   // a longer body fails the fetch
    ULONGLONG nDeadlineTick = 0;          // GetTickCount64 value at which the fetch gives up; 0: none
    int nMaxRedirects = 10;
    // Closes the fetch's handles when another thread gives up on it; may be null.
    PTL::CInternetCancel* pCancel = nullptr;
    // False (the upload's own setting when no policy requires verification): the credential
    // origin's certificate problems are let pass, as they were for the upload to it. Every other
    // origin is always verified.
    bool bVerifyCertificates = true;
    // The zone of the page that asked for the fetch: no hop may go to a more trusted zone than
    // its own (an internet page's answer naming an intranet server or a local one). NO_ZONE: no
    // zone check.
    DWORD nPageZone = PTL::NO_ZONE;
    // The page's own address: from a page its zone limits, no hop may go to a more private
    // network than the page's (PTL::PrivateNetworkAllows).
    std::wstring strPageUrl;
};

// The body of a GET of strUrl, decoded from the thread's ANSI code page; each block read ends at
// its first zero byte. Empty when the address is not http or https, cannot be opened, answers
// 404, exceeds a limit or delivers nothing. Any other status is read like a success.
std::wstring FetchUrlText(const std::wstring& strUrl, const CFetchLimits& limits = CFetchLimits());
