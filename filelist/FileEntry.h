// One listed file: a plain record with fixed-size texts, shared by the file list, the upload
// request and the progress dialog's upload list.
#pragma once
#include <windows.h>

enum : LONG
{
    UPLOAD_STATE_WAITING = 0,
    UPLOAD_STATE_SENDING = 1,
    UPLOAD_STATE_DONE = 2,
};

struct FileEntry
{
    BYTE bTempFile;  // 1 for AddTempFile entries (known to the page by an id only)
    // 1 for a temporary entry of a page that may not read the user's files: its part carries
    // the name and no content, and the path is never opened.
    BYTE bNameOnly;
    int nIconIndex;  // system image list index, from the name alone
    WCHAR szFilePath[261];
    ULONG nFileSize;
    WCHAR szFileSize[129];  // FormatSizeText of nFileSize, made once
    WCHAR szInputName[129];
    WCHAR szFileID[129];
    volatile LONG nUploadState;  // written by the upload worker, read by the dialog
    ULONGLONG nWriteTime;        // the file's last-write time when listed (FILETIME units); 0 if unknown
};

// Copies src into a fixed-size field, cutting it to the field's length.
template <size_t N>
inline void CopyField(WCHAR (&szField)[N], const WCHAR* src)
{
    size_t i = 0;
    if (src)
        for (; i + 1 < N && src[i]; ++i)
            szField[i] = src[i];
    szField[i] = L'\0';
}
