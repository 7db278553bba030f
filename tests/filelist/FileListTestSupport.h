// What the file list's COM tests share: real files in a private temp folder, a control made
// through COM with a recording event sink, and the answers a user gives to message boxes.
#pragma once
#include <windows.h>
#include <ocidl.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "Pelora5_h.h"
#include "common/DialogWatcher.h"
#include "control/EventSink.h"
#include "ptl/ComPtr.h"

class CTempFolder
{
public:
    CTempFolder()
    {
        wchar_t szTemp[MAX_PATH] = L"";
        GetTempPathW(MAX_PATH, szTemp);
        static int s_nFolder = 0;
        m_strPath = std::wstring(szTemp) + L"pl5files" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                    std::to_wstring(++s_nFolder);
        CreateDirectoryW(m_strPath.c_str(), nullptr);
    }
    ~CTempFolder()
    {
        for (const std::wstring& strFile : m_files)
            DeleteFileW(strFile.c_str());
        for (auto it = m_folders.rbegin(); it != m_folders.rend(); ++it)
            RemoveDirectoryW(it->c_str());
        RemoveDirectoryW(m_strPath.c_str());
    }
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;

    const std::wstring& Path() const { return m_strPath; }

    // A file of nSize bytes (sparse where the file system allows, so large sizes cost nothing).
    std::wstring File(const std::wstring& strName, ULONGLONG nSize)
    {
        const std::wstring strPath = m_strPath + L"\\" + strName;
        HANDLE h = CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(INVALID_HANDLE_VALUE, h);
        DWORD dwDone = 0;
        DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &dwDone, nullptr);
        LARGE_INTEGER li;
        li.QuadPart = static_cast<LONGLONG>(nSize);
        SetFilePointerEx(h, li, nullptr, FILE_BEGIN);
        SetEndOfFile(h);
        CloseHandle(h);
        m_files.push_back(strPath);
        return strPath;
    }
    std::wstring Folder(const std::wstring& strName)
    {
        const std::wstring strPath = m_strPath + L"\\" + strName;
        CreateDirectoryW(strPath.c_str(), nullptr);
        m_folders.push_back(strPath);
        return strPath;
    }

private:
    std::wstring m_strPath;
    std::vector<std::wstring> m_files, m_folders;
};

// A new control through COM with the given pack loaded and the sink connected. The sink must
// outlive the control.
inline PTL::CComPtr<IPL5Ctrl> NewControl(CRecordingSink* pSink = nullptr, const wchar_t* szLanguage = L"en")
{
    PTL::CComPtr<IPL5Ctrl> p;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_PL5Ctrl, nullptr, CLSCTX_INPROC_SERVER, IID_IPL5Ctrl,
                                     reinterpret_cast<void**>(&p)));
    if (!p)
        return p;
    p->put_Language(PTL::CComBSTR(szLanguage));
    if (pSink)
    {
        PTL::CComPtr<IConnectionPointContainer> pContainer;
        PTL::CComPtr<IConnectionPoint> pPoint;
        DWORD dwCookie = 0;
        EXPECT_EQ(S_OK, p.QueryInterface(&pContainer));
        EXPECT_EQ(S_OK, pContainer->FindConnectionPoint(DIID__IPL5CtrlEvents, &pPoint));
        EXPECT_EQ(S_OK, pPoint->Advise(pSink, &dwCookie));
    }
    return p;
}

// Presses OK in every message box; leaves file dialogs to whoever works them.
inline int PressOkInBoxes(const CSeenDialog& dialog)
{
    for (const CSeenControl& control : dialog.controls)
        if (control.nId == 0x047c || control.nId == 0x0480)
            return 0;
    return IDOK;
}

inline std::vector<std::wstring> Names(IPL5Ctrl* p)
{
    LONG nCount = 0;
    p->get_GetCount(&nCount);
    std::vector<std::wstring> names;
    for (LONG i = 0; i < nCount; ++i)
    {
        PTL::CComBSTR bstr;
        p->get_GetFileName(i, &bstr);
        const std::wstring strPath = bstr.Get() ? bstr.Get() : L"";
        names.push_back(strPath.substr(strPath.find_last_of(L'\\') + 1));
    }
    return names;
}

inline std::string Narrow(const std::wstring& s)
{
    std::string out;
    for (wchar_t ch : s)
        if (ch < 128)
            out += static_cast<char>(ch);
        else
        {
            char sz[12];
            snprintf(sz, sizeof(sz), "\\u%04x", static_cast<unsigned>(ch));
            out += sz;
        }
    return out;
}
