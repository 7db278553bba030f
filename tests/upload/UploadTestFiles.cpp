#include "tests/upload/UploadTestFiles.h"

#include <shellapi.h>

#include "ptl/Handle.h"

using PTL::CKernelHandle;

CTempDir::CTempDir()
{
    WCHAR szTemp[MAX_PATH] = L"";
    GetTempPathW(ARRAYSIZE(szTemp), szTemp);
    static LONG nCounter = 0;
    m_strPath = std::wstring(szTemp) + L"pl5-upload-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(InterlockedIncrement(&nCounter));
    CreateDirectoryW(m_strPath.c_str(), nullptr);
}

CTempDir::~CTempDir()
{
    // SHFileOperation wants a double-terminated list.
    std::wstring strFrom = m_strPath;
    strFrom.push_back(L'\0');
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = strFrom.c_str();
    op.fFlags = FOF_NO_UI;
    SHFileOperationW(&op);
}

std::wstring CTempDir::WriteFile(const std::wstring& strName, const std::string& strBytes) const
{
    const std::wstring strPath = m_strPath + L"\\" + strName;
    CKernelHandle file(CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD nWritten = 0;
    if (file.IsValid() && !strBytes.empty())
        ::WriteFile(file.Get(), strBytes.data(), static_cast<DWORD>(strBytes.size()), &nWritten, nullptr);
    return strPath;
}

std::string PatternBytes(size_t nLength, unsigned nSeed)
{
    std::string strBytes(nLength, '\0');
    unsigned n = nSeed * 2654435761u + 1;
    for (size_t i = 0; i < nLength; ++i)
    {
        n = n * 1103515245u + 12345u;
        strBytes[i] = static_cast<char>(n >> 16);
    }
    return strBytes;
}

CContentTypeKeys::~CContentTypeKeys()
{
    for (const std::wstring& strKey : m_keys)
        RegDeleteKeyW(HKEY_CLASSES_ROOT, strKey.c_str());
}

void CContentTypeKeys::Add(const wchar_t* szExtension, const wchar_t* szContentType)
{
    AddRaw(szExtension, REG_SZ, szContentType, static_cast<DWORD>((wcslen(szContentType) + 1) * sizeof(WCHAR)));
}

void CContentTypeKeys::AddRaw(const wchar_t* szExtension, DWORD nType, const void* pData, DWORD nBytes)
{
    PTL::CRegKeyHandle key;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, szExtension, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExW(key.Get(), L"Content Type", 0, nType, static_cast<const BYTE*>(pData), nBytes);
    m_keys.push_back(szExtension);
}

void CContentTypeKeys::AddKeyOnly(const wchar_t* szExtension)
{
    PTL::CRegKeyHandle key;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, szExtension, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) ==
        ERROR_SUCCESS)
        m_keys.push_back(szExtension);
}

FileEntry ListedFile(const std::wstring& strPath, const wchar_t* szInputName, size_t nSize)
{
    FileEntry entry = {};
    CopyField(entry.szFilePath, strPath.c_str());
    CopyField(entry.szInputName, szInputName);
    entry.nFileSize = static_cast<ULONG>(nSize);
    return entry;
}
