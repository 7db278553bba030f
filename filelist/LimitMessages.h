// The texts of the messages that explain why files were not listed, made from the active
// language pack's formats.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// A file that was measured for a batch.
struct CMeasuredFile
{
    std::wstring strPath;
    ULONGLONG liLength;
    ULONGLONG nWriteTime = 0;  // FILETIME units
};

// Formats a pack text with the system's wide-character printf rules; the result is cut to fit
// 1024 characters with its terminator, however long the arguments are.
std::wstring FormatPackText(const wchar_t* szFormat, ...);

// Message 301: the batch would list more files than MaxFileCount allows.
std::wstring TooManyFilesText(ULONG nMaxFileCount, size_t nListed, size_t nBatch);

// Message 302: the batch would take the listed total over MaxTotalFileSize.
std::wstring TotalSizeExceededText(ULONG nMaxTotal, ULONG nListedTotal, ULONGLONG liBatchTotal);

// Message 304: the files over MaxUnitFileSize, one line each with its size, that were left out.
std::wstring FileTooLargeText(ULONG nMaxUnit, const std::vector<CMeasuredFile>& oversize);

// The part of a path after its last separator.
const wchar_t* FileNamePart(const wchar_t* szPath);
