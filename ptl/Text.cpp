#include "ptl/Text.h"
#include <cstdio>
#include "ptl/ComPtr.h"

namespace PTL
{
std::string ToUtf8(const std::wstring& str)
{
    if (str.empty())
        return std::string();
    const int nLen = WideCharToMultiByte(CP_UTF8, 0, str.data(), int(str.size()), nullptr, 0, nullptr, nullptr);
    std::string strOut(size_t(nLen), '\0');
    WideCharToMultiByte(CP_UTF8, 0, str.data(), int(str.size()), &strOut[0], nLen, nullptr, nullptr);
    return strOut;
}

std::wstring FromUtf8(const std::string& str)
{
    if (str.empty())
        return std::wstring();
    const int nLen = MultiByteToWideChar(CP_UTF8, 0, str.data(), int(str.size()), nullptr, 0);
    std::wstring strOut(size_t(nLen), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, str.data(), int(str.size()), &strOut[0], nLen);
    return strOut;
}

std::wstring DescribeHResult(HRESULT hr)
{
    wchar_t szCode[16];
    swprintf(szCode, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    std::wstring strOut = szCode;
    LPWSTR pszMessage = nullptr;
    const DWORD nLen =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, DWORD(hr), 0, reinterpret_cast<LPWSTR>(&pszMessage), 0, nullptr);
    if (nLen && pszMessage)
    {
        std::wstring strMessage(pszMessage, nLen);
        while (!strMessage.empty() &&
               (strMessage.back() == L'\n' || strMessage.back() == L'\r' || strMessage.back() == L' '))
            strMessage.pop_back();
        strOut += L" " + strMessage;
    }
    LocalFree(pszMessage);
    return strOut;
}

bool VariantToText(const VARIANT& var, std::wstring& strOut)
{
    if (V_VT(&var) == VT_BSTR)
    {
        strOut.assign(V_BSTR(&var) ? V_BSTR(&var) : L"", V_BSTR(&var) ? SysStringLen(V_BSTR(&var)) : 0);
        return true;
    }
    CComVariant converted;
    if (FAILED(VariantChangeType(&converted, const_cast<VARIANT*>(&var), 0, VT_BSTR)))
        return false;
    BSTR bstr = V_BSTR(&converted);
    strOut.assign(bstr ? bstr : L"", bstr ? SysStringLen(bstr) : 0);
    return true;
}

bool VariantToInt(const VARIANT& var, LONG& nOut)
{
    CComVariant converted;
    if (FAILED(VariantChangeType(&converted, const_cast<VARIANT*>(&var), 0, VT_I4)))
        return false;
    nOut = V_I4(&converted);
    return true;
}

std::wstring WindowText(HWND hWnd)
{
    const int nLength = GetWindowTextLengthW(hWnd);
    std::wstring str(static_cast<size_t>(nLength) + 1, L'\0');
    str.resize(static_cast<size_t>(GetWindowTextW(hWnd, &str[0], nLength + 1)));
    return str;
}

}  // namespace PTL
