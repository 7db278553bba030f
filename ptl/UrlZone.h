// The system's security zones of addresses (Local Machine, Local intranet, Trusted sites,
// Internet, Restricted sites), as the browser assigns them.
#pragma once
#include <windows.h>
#include <urlmon.h>

#include <string>

namespace PTL
{
// The zone the system puts strUrl in, or URLZONE_INVALID when it cannot tell.
DWORD UrlZone(const std::wstring& strUrl);

// True when strTarget lies in a more trusted zone than strPage (a lower zone number): an
// internet page reaching an intranet server or a local file. A target whose zone cannot be told
// counts as more trusted; a page whose zone cannot be told, as the Internet.
bool RaisesZone(const std::wstring& strTarget, const std::wstring& strPage);
}  // namespace PTL
