// What the file list's COM tests share: real files in a private temp folder, a control made
// through COM with a recording event sink, and a user who presses OK in message boxes.
#pragma once
#include <windows.h>
#include <ocidl.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <vector>
#include "Pelora5_h.h"
#include "tests/common/DialogWatcher.h"
#include "tests/control/EventSink.h"
#include "tests/filelist/FileDialogUser.h"
#include "ptl/ComPtr.h"
#include "ptl/Handle.h"

using PTL::CComBSTR;
using PTL::CComPtr;
using PTL::CComVariant;

class CTempFolder
{
public:
    CTempFolder()
    {
        wchar_t szTemp[MAX_PATH] = L"";
        GetTempPathW(MAX_PATH, szTemp);
        static int s_nFolder = 0;
        m_strPath =
            szTemp + (L"pl5list" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++s_nFolder));
        CreateDirectoryW(m_strPath.c_str(), nullptr);
    }
    ~CTempFolder()
    {
        for (auto it = m_made.rbegin(); it != m_made.rend(); ++it)
            DeleteFileW(it->c_str()) || RemoveDirectoryW(it->c_str());
        RemoveDirectoryW(m_strPath.c_str());
    }
    const std::wstring& Path() const { return m_strPath; }

    // A file of nSize bytes; the file system keeps large ones sparse.
    std::wstring File(const std::wstring& strName, ULONGLONG nSize)
    {
        const std::wstring strPath = m_strPath + L"\\" + strName;
        const PTL::CKernelHandle file(
            CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        LARGE_INTEGER li;
        li.QuadPart = static_cast<LONGLONG>(nSize);
        EXPECT_TRUE(SetFilePointerEx(file.Get(), li, nullptr, FILE_BEGIN) && SetEndOfFile(file.Get()));
        m_made.push_back(strPath);
        return strPath;
    }
    std::wstring Folder(const std::wstring& strName)
    {
        m_made.push_back(m_strPath + L"\\" + strName);
        CreateDirectoryW(m_made.back().c_str(), nullptr);
        return m_made.back();
    }

private:
    std::wstring m_strPath;
    std::vector<std::wstring> m_made;
};

// A new control with a pack loaded and the sink (which must outlive it) connected.
inline CComPtr<IPL5Ctrl> NewControl(CRecordingSink* pSink = nullptr, const wchar_t* szLanguage = L"en")
{
    CComPtr<IPL5Ctrl> p;
    CComPtr<IConnectionPointContainer> pContainer;
    CComPtr<IConnectionPoint> pPoint;
    DWORD dwCookie = 0;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_PL5Ctrl, nullptr, CLSCTX_INPROC_SERVER, IID_IPL5Ctrl,
                                     reinterpret_cast<void**>(&p)));
    p->put_Language(CComBSTR(szLanguage));
    if (pSink && SUCCEEDED(p.QueryInterface(&pContainer)) &&
        SUCCEEDED(pContainer->FindConnectionPoint(DIID__IPL5CtrlEvents, &pPoint)))
        EXPECT_EQ(S_OK, pPoint->Advise(pSink, &dwCookie));
    return p;
}

// Presses OK in message boxes and leaves file dialogs (they have a file type box) alone.
inline int PressOkInBoxes(const CSeenDialog& dialog)
{
    for (const CSeenControl& control : dialog.controls)
        if (control.nId == 0x0470)
            return 0;
    return IDOK;
}

// The file name parts of the listed paths, in list order.
inline std::vector<std::wstring> Names(IPL5Ctrl* p)
{
    LONG nCount = 0;
    p->get_GetCount(&nCount);
    std::vector<std::wstring> names;
    for (LONG i = 0; i < nCount; ++i)
    {
        CComBSTR bstr;
        p->get_GetFileName(i, &bstr);
        const std::wstring strPath = bstr.Get();
        names.push_back(strPath.substr(strPath.find_last_of(L'\\') + 1));
    }
    return names;
}
