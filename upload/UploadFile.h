// A listed file opened for reading while its part is measured or sent. Other programs may go on
// reading it; one that holds it open for writing is tolerated rather than failing the upload.
#pragma once
#include <windows.h>

#include "ptl/Handle.h"

class CUploadFile
{
public:
    // Opens as OpenFileForReading does; false when no handle was obtained.
    bool Open(const wchar_t* szPath);
    void Close() { m_file.Close(); }
    bool IsOpen() const { return m_file.IsValid(); }
    // The open file's handle, given up by this object, and one it takes over.
    PTL::CKernelHandle Detach() { return std::move(m_file); }
    void Attach(PTL::CKernelHandle file) { m_file = std::move(file); }

    // Reads up to nLength bytes; returns how many were read (0 at the end or on failure).
    DWORD Read(void* pBuffer, DWORD nLength);

private:
    PTL::CKernelHandle m_file;
};
