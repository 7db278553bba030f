#include "control/PathSafety.h"

#include <shlwapi.h>

#include <cwctype>

#include "ptl/InternetUrl.h"

namespace
{
bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool StartsWithNoCase(const std::wstring& str, const wchar_t* szPrefix)
{
    const size_t n = wcslen(szPrefix);
    return str.size() >= n && _wcsnicmp(str.c_str(), szPrefix, n) == 0;
}

// Types the shell runs, interprets or follows, from the system's list of high-risk attachments.
const wchar_t* const DANGEROUS_TYPES[] = {
    L".ade",       L".adp",         L".app",
    L".appref-ms", L".application", L".asp",
    L".bas",       L".bat",         L".cer",
    L".chm",       L".cmd",         L".cnt",
    L".com",       L".cpl",         L".crt",
    L".csh",       L".der",         L".diagcab",
    L".exe",       L".fxp",         L".gadget",
    L".grp",       L".hlp",         L".hpj",
    L".hta",       L".inf",         L".ins",
    L".isp",       L".its",         L".jar",
    L".jnlp",      L".js",          L".jse",
    L".ksh",       L".lnk",         L".mad",
    L".maf",       L".mag",         L".mam",
    L".maq",       L".mar",         L".mas",
    L".mat",       L".mau",         L".mav",
    L".maw",       L".mcf",         L".mda",
    L".mdb",       L".mde",         L".mdt",
    L".mdw",       L".mdz",         L".msc",
    L".msh",       L".msh1",        L".msh2",
    L".mshxml",    L".msh1xml",     L".msh2xml",
    L".msi",       L".msp",         L".mst",
    L".ops",       L".pcd",         L".pif",
    L".plg",       L".prf",         L".prg",
    L".ps1",       L".ps1xml",      L".ps2",
    L".ps2xml",    L".psc1",        L".psc2",
    L".pst",       L".reg",         L".scf",
    L".scr",       L".sct",         L".settingcontent-ms",
    L".shb",       L".shs",         L".theme",
    L".tmp",       L".url",         L".vb",
    L".vbe",       L".vbp",         L".vbs",
    L".vsmacros",  L".vsw",         L".webpnp",
    L".website",   L".ws",          L".wsc",
    L".wsf",       L".wsh",         L".xbap",
    L".xll",       L".xnk",
};

typedef BOOL(WINAPI* FnAssocIsDangerous)(LPCWSTR);
}  // namespace

bool IsNetworkOrDevicePath(const std::wstring& strPath)
{
    if (StartsWithNoCase(strPath, L"\\??\\"))
        return true;
    if (strPath.size() < 2 || !IsSeparator(strPath[0]) || !IsSeparator(strPath[1]))
        return false;
    // \\?\C:\... is a local path in its long form; every other path starting with two
    // separators names a server, a device or an object.
    const bool bLongLocal = strPath.size() >= 7 && strPath[2] == L'?' && IsSeparator(strPath[3]) &&
                            iswalpha(strPath[4]) && strPath[5] == L':' && IsSeparator(strPath[6]);
    return !bLongLocal;
}

bool IsDangerousToOpen(const std::wstring& strPath)
{
    // The system opens "run.exe. " as "run.exe": its type is judged the same way.
    std::wstring strName = strPath;
    while (!strName.empty() && (strName.back() == L'.' || strName.back() == L' '))
        strName.pop_back();
    const wchar_t* szType = PathFindExtensionW(strName.c_str());
    if (!szType || !*szType)
        return false;
    for (const wchar_t* szDangerous : DANGEROUS_TYPES)
        if (_wcsicmp(szType, szDangerous) == 0)
            return true;
    const HMODULE hShlwapi = GetModuleHandleW(L"shlwapi.dll");
    const auto pfnAssocIsDangerous =
        hShlwapi ? reinterpret_cast<FnAssocIsDangerous>(GetProcAddress(hShlwapi, "AssocIsDangerous")) : nullptr;
    return pfnAssocIsDangerous && pfnAssocIsDangerous(szType);
}

std::wstring HostOfUrl(const std::wstring& strUrl)
{
    PTL::CUrlComponents parts;
    if (PTL::CrackUrl(strUrl.c_str(), parts) && parts.szHostName[0])
        return parts.szHostName;
    return strUrl;
}
