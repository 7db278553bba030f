// The control's policy key written for a test and removed again, however the test ends:
// SOFTWARE\Policies\Pelora5 under HKEY_LOCAL_MACHINE (the 64-bit view, as the control reads it)
// or, to show that it is ignored there, under HKEY_CURRENT_USER.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "ptl/Handle.h"

class CPolicyKey
{
public:
    explicit CPolicyKey(HKEY hRoot = HKEY_LOCAL_MACHINE) : m_hRoot(hRoot)
    {
        RegDeleteKeyExW(m_hRoot, KEY_PATH, KEY_WOW64_64KEY, 0);
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(m_hRoot, KEY_PATH, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                                                 nullptr, &m_key, nullptr));
    }
    ~CPolicyKey()
    {
        m_key.Close();
        RegDeleteKeyExW(m_hRoot, KEY_PATH, KEY_WOW64_64KEY, 0);
    }
    CPolicyKey(const CPolicyKey&) = delete;
    CPolicyKey& operator=(const CPolicyKey&) = delete;

    void SetSites(const std::vector<std::wstring>& sites)
    {
        std::wstring strValue;
        for (const std::wstring& strSite : sites)
            strValue += strSite + L'\0';
        strValue += L'\0';
        SetRaw(L"AllowedSites", REG_MULTI_SZ, strValue.data(), static_cast<DWORD>(strValue.size() * sizeof(wchar_t)));
    }
    void SetVerifyCertificates(DWORD nValue) { SetRaw(L"VerifyCertificates", REG_DWORD, &nValue, sizeof(nValue)); }
    void SetRaw(const wchar_t* szName, DWORD nType, const void* pData, DWORD nBytes)
    {
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(m_key.Get(), szName, 0, nType, static_cast<const BYTE*>(pData), nBytes));
    }

private:
    static constexpr const wchar_t* KEY_PATH = L"SOFTWARE\\Policies\\Pelora5";
    HKEY m_hRoot;
    PTL::CRegKeyHandle m_key;
};
