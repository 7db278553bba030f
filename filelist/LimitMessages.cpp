#include "filelist/LimitMessages.h"
#include <shlwapi.h>
#include <climits>
#include <cstdarg>
#include "filelist/Format.h"
#include "lang/LangIds.h"
#include "lang/LangTable.h"

namespace
{
const int MESSAGE_LIMIT = 1024;  // characters, terminator included

// Counts shown with %d: never negative (a limit lowered below what is listed leaves nothing
// allowed) and never wrapped past the largest int.
int Shown(LONGLONG n)
{
    if (n < 0)
        return 0;
    return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}
}  // namespace

std::wstring FormatPackText(const wchar_t* szFormat, ...)
{
    wchar_t szText[MESSAGE_LIMIT] = L"";
    va_list args;
    va_start(args, szFormat);
    const int n = wvnsprintfW(szText, MESSAGE_LIMIT, szFormat ? szFormat : L"", args);
    va_end(args);
    szText[MESSAGE_LIMIT - 1] = L'\0';
    return n < 0 ? std::wstring(szText) : std::wstring(szText, wcsnlen(szText, MESSAGE_LIMIT));
}

std::wstring TooManyFilesText(ULONG nMaxFileCount, size_t nListed, size_t nBatch)
{
    const LONGLONG nListedCount = static_cast<LONGLONG>(nListed);
    return FormatPackText(PL5Lang::GetString(IDS_TOO_MANY_FILES).c_str(), Shown(nMaxFileCount), Shown(nListedCount),
                          Shown(static_cast<LONGLONG>(nMaxFileCount) - nListedCount),
                          Shown(static_cast<LONGLONG>(nBatch)));
}

std::wstring TotalSizeExceededText(ULONG nMaxTotal, ULONG nListedTotal, ULONGLONG liBatchTotal)
{
    // A total limit lowered below what is already listed leaves no allowance, not a huge one.
    const ULONGLONG liRemaining = nMaxTotal > nListedTotal ? nMaxTotal - nListedTotal : 0;
    return FormatPackText(PL5Lang::GetString(IDS_TOTAL_SIZE_EXCEEDED).c_str(), FormatSizeText(nMaxTotal, 2).c_str(),
                          FormatSizeText(nListedTotal, 2).c_str(), FormatSizeText(liRemaining, 2).c_str(),
                          FormatSizeText(liBatchTotal, 2).c_str());
}

std::wstring FileTooLargeText(ULONG nMaxUnit, const std::vector<CMeasuredFile>& oversize)
{
    std::wstring strLines;
    for (const CMeasuredFile& file : oversize)
    {
        strLines += L"   ";
        strLines += FileNamePart(file.strPath.c_str());
        strLines += L" (";
        strLines += FormatSizeText(file.liLength, 2);
        strLines += L")\n";
    }
    return FormatPackText(PL5Lang::GetString(IDS_FILE_TOO_LARGE).c_str(), FormatSizeText(nMaxUnit, 2).c_str(),
                          strLines.c_str());
}

const wchar_t* FileNamePart(const wchar_t* szPath)
{
    if (!szPath)
        return L"";
    const wchar_t* szName = szPath;
    for (const wchar_t* p = szPath; *p; ++p)
        if (*p == L'\\' || *p == L'/')
            szName = p + 1;
    return szName;
}
