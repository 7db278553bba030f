#include "filelist/FileMeasure.h"

PTL::CKernelHandle OpenFileForReading(const wchar_t* szPath)
{
    PTL::CKernelHandle file;
    if (!szPath || !*szPath)
        return file;
    // Without FILE_FLAG_BACKUP_SEMANTICS a folder does not open.
    const DWORD nFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;
    file.Reset(CreateFileW(szPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, nFlags, nullptr));
    if (!file.IsValid() && GetLastError() == ERROR_SHARING_VIOLATION)
        file.Reset(CreateFileW(szPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, nFlags, nullptr));
    if (!file.IsValid())
        file.Close();
    return file;
}

bool MeasureFile(const wchar_t* szPath, ULONGLONG& liLength, ULONGLONG* pWriteTime)
{
    const PTL::CKernelHandle file = OpenFileForReading(szPath);
    // Only ordinary files: a device (NUL, CON, a pipe) has no length to upload, and reading one
    // could block the page. The size comes from the open handle alone: asking for the whole
    // file information also reads the volume's, which costs a file system walk per file here.
    LARGE_INTEGER liSize = {};
    if (!file.IsValid() || GetFileType(file.Get()) != FILE_TYPE_DISK || !GetFileSizeEx(file.Get(), &liSize) ||
        liSize.QuadPart < 0)
        return false;
    liLength = static_cast<ULONGLONG>(liSize.QuadPart);
    FILETIME ftWrite = {};
    if (pWriteTime)
        *pWriteTime = GetFileTime(file.Get(), nullptr, nullptr, &ftWrite)
                          ? (static_cast<ULONGLONG>(ftWrite.dwHighDateTime) << 32) | ftWrite.dwLowDateTime
                          : 0;
    return true;
}

bool ReadFileLength(const wchar_t* szPath, ULONGLONG& nLength)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!szPath || !*szPath || !GetFileAttributesExW(szPath, GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)))
        return false;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return MeasureFile(szPath, nLength);
    nLength = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}
