#include "upload/UploadFile.h"

bool CUploadFile::Open(const wchar_t* szPath)
{
    m_file.Close();
    if (!szPath || !*szPath)
        return false;
    const DWORD nAccess = GENERIC_READ;
    const DWORD nDisposition = OPEN_EXISTING;
    const DWORD nFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;
    m_file.Reset(CreateFileW(szPath, nAccess, FILE_SHARE_READ, nullptr, nDisposition, nFlags, nullptr));
    if (!m_file.IsValid() && GetLastError() == ERROR_SHARING_VIOLATION)
        m_file.Reset(CreateFileW(szPath, nAccess, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, nDisposition, nFlags, nullptr));
    if (!m_file.IsValid())
    {
        m_file.Close();
        return false;
    }
    return true;
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
