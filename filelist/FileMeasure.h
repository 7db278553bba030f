// Opening and measuring a file before it is offered to the list or sent.
#pragma once
#include <windows.h>

#include "ptl/Handle.h"

// Opens a file for reading, denying other writers; if another program already writes to it,
// opens it again without that restriction. Folders are not opened. The handle is invalid when
// nothing could be opened.
PTL::CKernelHandle OpenFileForReading(const wchar_t* szPath);

// The length of a file in bytes, 64-bit, opened as OpenFileForReading does, and with pWriteTime
// its last-write time (FILETIME units). False, with liLength untouched, for anything that cannot
// be opened or measured as an ordinary disk file: a missing path, a folder, a device, a file
// locked against readers.
bool MeasureFile(const wchar_t* szPath, ULONGLONG& liLength, ULONGLONG* pWriteTime = nullptr);

// The length of a listed file from its directory entry, without opening it: each open and close
// is a round trip to the file system, and the file is opened again when it is sent. False for
// what is not an ordinary file; a link or other reparse point, whose entry does not carry its
// target's length, is measured as MeasureFile does.
bool ReadFileLength(const wchar_t* szPath, ULONGLONG& nLength);
