// The system's security zones of addresses (Local Machine, Local intranet, Trusted sites,
// Internet, Restricted sites), as the browser assigns them.
#pragma once
#include <windows.h>
#include <urlmon.h>

#include <string>

namespace PTL
{
// A zone the system could not tell.
constexpr DWORD NO_ZONE = static_cast<DWORD>(URLZONE_INVALID);

// The zone the system puts strUrl in, or NO_ZONE when it cannot tell. dwFlags as MapUrlToZone
// takes them (MUTZ_REQUIRESAVEDFILECHECK also reads a local file's record of where it came from).
DWORD UrlZone(const std::wstring& strUrl, DWORD dwFlags = 0);

// The zone of a page, from everything that says where its content came from:
//   - the container's own word, where it offers a host security manager (pSite may be null);
//   - a local page's "saved from" mark (the comment a browser writes into a page it saves, or the
//     system's record of a downloaded file): the page is in the zone of the address it names;
//   - a page on any scheme other than http, https or file is an Internet page.
DWORD PageZone(const std::wstring& strPageUrl, IUnknown* pSite);

// The address a page saved from the web names in its "saved from url=(NNNN)ADDRESS" mark, read
// from the start of the file; "" when it carries none.
std::wstring SavedFromUrl(const std::wstring& strFilePath);

// Internet and Restricted sites, and zones the system cannot tell: pages there are limited in
// what they may reach. Local Machine, Local intranet and Trusted sites pages are not.
bool IsLimitedZone(DWORD nZone);

// True when a page in zone nPageZone, being limited, may not reach strTarget: its zone is more
// trusted than the page's (an Internet page reaching an intranet or trusted server or a local
// file), or cannot be told. Trust runs as the system orders it for elevation: Local Machine,
// Trusted sites, Local intranet, Internet, Restricted sites. Pages outside the limited zones
// raise nothing: a trusted page may reach the intranet.
bool RaisesZone(const std::wstring& strTarget, DWORD nPageZone);
}  // namespace PTL
