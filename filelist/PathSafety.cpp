#include "filelist/PathSafety.h"

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

bool NamesDevice(const std::wstring& strPath)
{
    static const wchar_t* const DEVICES[] = {L"CON", L"PRN", L"AUX", L"NUL"};
    static const wchar_t* const NUMBERED[] = {L"COM", L"LPT"};
    const size_t nStart = strPath.find_last_of(L"\\/:");
    std::wstring strName = strPath.substr(nStart == std::wstring::npos ? 0 : nStart + 1);
    // "nul.txt" and "COM1 " are the device as much as "NUL" and "COM1".
    strName = strName.substr(0, strName.find(L'.'));
    while (!strName.empty() && (strName.back() == L' ' || strName.back() == L'\t'))
        strName.pop_back();
    for (const wchar_t* szDevice : DEVICES)
        if (_wcsicmp(strName.c_str(), szDevice) == 0)
            return true;
    for (const wchar_t* szPrefix : NUMBERED)
        if (strName.size() == 4 && StartsWithNoCase(strName, szPrefix) && strName[3] >= L'1' && strName[3] <= L'9')
            return true;
    return false;
}

bool IsPlainLocalFile(const std::wstring& strPath, size_t nMaxChars)
{
    if (strPath.empty() || strPath.size() >= nMaxChars || IsNetworkOrDevicePath(strPath) || NamesDevice(strPath))
        return false;
    const size_t nDrive = StartsWithNoCase(strPath, L"\\\\?\\") ? 4 : 0;
    if (strPath.size() < nDrive + 3 || !iswalpha(strPath[nDrive]) || strPath[nDrive + 1] != L':' ||
        !IsSeparator(strPath[nDrive + 2]))
        return false;
    // Only a fixed or removable disk: not a mapped network drive, which is a server by another name.
    const wchar_t szRoot[] = {strPath[nDrive], L':', L'\\', L'\0'};
    const UINT nType = GetDriveTypeW(szRoot);
    if (nType != DRIVE_FIXED && nType != DRIVE_REMOVABLE && nType != DRIVE_CDROM && nType != DRIVE_RAMDISK)
        return false;
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    return GetFileAttributesExW(strPath.c_str(), GetFileExInfoStandard, &data) &&
           !(data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
}

std::wstring ShownText(const std::wstring& strText, size_t nMaxChars)
{
    std::wstring strClean;
    for (wchar_t c : strText)
    {
        WORD nType = 0;
        // Control and format characters (C0, C1, bidi marks and overrides, zero widths).
        if (c < L' ' || (c >= 0x7F && c < 0xA0) || (GetStringTypeW(CT_CTYPE1, &c, 1, &nType) && (nType & C1_CNTRL)) ||
            (c >= 0x200B && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF)
            continue;
        strClean += c;
    }
    if (strClean.size() <= nMaxChars || nMaxChars < 3)
        return strClean;
    // Both ends kept; the start a little shorter, since the file's name at the end matters most.
    const size_t nKeep = nMaxChars - 1;
    const size_t nHead = nKeep * 2 / 5;
    return strClean.substr(0, nHead) + L"\x2026" + strClean.substr(strClean.size() - (nKeep - nHead));
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
