#include "filelist/FileMeasure.h"
#include <cerrno>
#include <cstdio>
#include <io.h>
#include <memory>
#include <share.h>

namespace
{
struct CFileCloser
{
    void operator()(FILE* pFile) const { fclose(pFile); }
};
} // namespace

bool MeasureFile(const wchar_t* szPath, ULONGLONG& liLength)
{
    if (!szPath || !*szPath)
        return false;
    std::unique_ptr<FILE, CFileCloser> file(_wfsopen(szPath, L"rb", _SH_DENYWR));
    // A file that another program holds open for writing refuses the first open; reading it
    // alongside that program is still fine for measuring.
    if (!file && errno == EACCES)
        file.reset(_wfsopen(szPath, L"rb", _SH_DENYNO));
    if (!file)
        return false;

    // Only ordinary files: a device (NUL, CON, a pipe) has no length to upload, and reading one
    // could block the page.
    const HANDLE hFile = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file.get())));
    if (hFile == INVALID_HANDLE_VALUE || GetFileType(hFile) != FILE_TYPE_DISK)
        return false;
    BY_HANDLE_FILE_INFORMATION info = {};
    if (GetFileInformationByHandle(hFile, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;

    if (_fseeki64(file.get(), 0, SEEK_END) != 0)
        return false;
    const __int64 nLength = _ftelli64(file.get());
    if (nLength < 0)
        return false;
    liLength = static_cast<ULONGLONG>(nLength);
    return true;
}
