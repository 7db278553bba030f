// Opening and measuring a file before it is offered to the list or sent.
#pragma once
#include <windows.h>

#include "ptl/Handle.h"

// Opens a file for reading, denying other writers; if another program already writes to it,
// opens it again without that restriction. Folders are not opened. The handle is invalid when
// nothing could be opened.
PTL::CKernelHandle OpenFileForReading(const wchar_t* szPath);

// The length of a file in bytes, 64-bit, opened as OpenFileForReading does. False, with
// liLength untouched, for anything that cannot be opened or measured as an ordinary disk file:
// a missing path, a folder, a device, a file locked against readers.
bool MeasureFile(const wchar_t* szPath, ULONGLONG& liLength);
