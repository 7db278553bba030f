// Files and registry entries that upload tests create and always remove again.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

#include "filelist/FileEntry.h"

// A fresh folder under the temporary folder, removed with everything in it.
class CTempDir
{
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::wstring& Path() const { return m_strPath; }
    // Writes the bytes to a file of that name in the folder; returns its full path.
    std::wstring WriteFile(const std::wstring& strName, const std::string& strBytes) const;

private:
    std::wstring m_strPath;
};

// The list entry of a file of nSize bytes at strPath, listed under the input name.
FileEntry ListedFile(const std::wstring& strPath, const wchar_t* szInputName, size_t nSize);

// Bytes that differ from position to position, so a shifted or repeated chunk shows.
std::string PatternBytes(size_t nLength, unsigned nSeed);

// "Content Type" values under HKEY_CLASSES_ROOT for made-up extensions, removed at the end.
class CContentTypeKeys
{
public:
    CContentTypeKeys() = default;
    ~CContentTypeKeys();
    CContentTypeKeys(const CContentTypeKeys&) = delete;
    CContentTypeKeys& operator=(const CContentTypeKeys&) = delete;

    void Add(const wchar_t* szExtension, const wchar_t* szContentType);
    void AddRaw(const wchar_t* szExtension, DWORD nType, const void* pData, DWORD nBytes);
    void AddKeyOnly(const wchar_t* szExtension);

private:
    std::vector<std::wstring> m_keys;
};
