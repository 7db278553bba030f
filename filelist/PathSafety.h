// What a page may name by path: which paths reach beyond the user's own disks, and which files
// the shell would run rather than show.
#pragma once
#include <windows.h>

#include <string>

// A network path (\\server\share, //server/share, \\?\UNC\...) or a device or object-manager path
// (\\.\..., \\?\GLOBALROOT\..., \??\...). Opening one makes the machine contact another or
// reach a device, and may offer the user's logon; a page never names one.
bool IsNetworkOrDevicePath(const std::wstring& strPath);

// A path whose last part is a DOS device name (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9),
// with or without an extension or trailing blanks: the system opens the device, wherever the
// path points.
bool NamesDevice(const std::wstring& strPath);

// A plain local file as a page may name one: a whole path from a drive ("C:\...", or its long
// form "\\?\C:\..."), shorter than nMaxChars, naming an existing file (not a folder) on a disk.
bool IsPlainLocalFile(const std::wstring& strPath, size_t nMaxChars);

// A text from a page as a question may show it: control characters removed (line breaks, bidi
// overrides and the like), and a text longer than nMaxChars cut in the middle with an ellipsis,
// so that both its start (a drive, a host) and its end (a file name) stay visible.
std::wstring ShownText(const std::wstring& strText, size_t nMaxChars = 80);

// A file the shell would run as a program or script when opened: the system's own judgement of
// its type (AssocIsDangerous) or, beside it, the list of high-risk types that judgement is made
// from (for systems that lack or do not fill in the call).
bool IsDangerousToOpen(const std::wstring& strPath);

// The host name of an address, for texts that name a page; the whole address when it has none.
std::wstring HostOfUrl(const std::wstring& strUrl);
