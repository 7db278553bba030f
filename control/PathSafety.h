// What a page may name by path: which paths reach beyond the user's own disks, and which files
// the shell would run rather than show.
#pragma once
#include <windows.h>

#include <string>

// A network path (\\server\share, //server/share, \\?\UNC\...) or a device or object-manager path
// (\\.\..., \\?\GLOBALROOT\..., \??\...). Opening one makes the machine contact another or
// reach a device, and may offer the user's logon; a page never names one.
bool IsNetworkOrDevicePath(const std::wstring& strPath);

// A file the shell would run as a program or script when opened: the system's own judgement of
// its type (AssocIsDangerous) or, beside it, the list of high-risk types that judgement is made
// from (for systems that lack or do not fill in the call).
bool IsDangerousToOpen(const std::wstring& strPath);

// The host name of an address, for texts that name a page; the whole address when it has none.
std::wstring HostOfUrl(const std::wstring& strUrl);
