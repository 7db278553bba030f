#include "upload/UploadFile.h"

#include "filelist/FileMeasure.h"

bool CUploadFile::Open(const wchar_t* szPath)
{
    m_file = OpenFileForReading(szPath);
    // Measured from its directory entry only: whatever now stands at the path is read only if
    // it is a disk file (a pipe or device could block the read).
    if (m_file.IsValid() && GetFileType(m_file.Get()) != FILE_TYPE_DISK)
        m_file.Close();
    return m_file.IsValid();
}

DWORD CUploadFile::Read(void* pBuffer, DWORD nLength)
{
    DWORD nTotal = 0;
    // ReadFile may return less than asked without being at the end (pipes, network shares);
    // keep reading until the request is met or the file really ends.
    while (nTotal < nLength)
    {
        DWORD nRead = 0;
        if (!ReadFile(m_file.Get(), static_cast<BYTE*>(pBuffer) + nTotal, nLength - nTotal, &nRead, nullptr) ||
            nRead == 0)
            break;
        nTotal += nRead;
    }
    return nTotal;
}
