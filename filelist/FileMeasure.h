// Measuring a file before it is offered to the list.
#pragma once
#include <windows.h>

// The length of a file in bytes, 64-bit. It is opened for reading with writers shut out, and
// when that is refused (the file is in use) again sharing everything. False, with liLength
// untouched, for anything that cannot be opened or measured as an ordinary disk file: a missing
// path, a folder, a device, a file locked against readers.
bool MeasureFile(const wchar_t* szPath, ULONGLONG& liLength);
