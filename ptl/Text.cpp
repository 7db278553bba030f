#include "ptl/Text.h"
#include <cstdio>
#include "ptl/ComPtr.h"

namespace PTL
{
namespace
{
// Longer chains of references than script engines make are taken as broken (or circular).
const int MAX_REFERENCE_DEPTH = 16;
}  // namespace

UINT CodePageOf(ECharset nCharset)
{
    if (nCharset == ECharset::Utf8)
        return CP_UTF8;
    // The thread's ANSI code page as a number, so that the flags can be chosen for it.
    DWORD nCodePage = 0;
    if (!GetLocaleInfoW(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                        reinterpret_cast<LPWSTR>(&nCodePage), sizeof(nCodePage) / sizeof(WCHAR)) ||
        nCodePage == CP_ACP)
        nCodePage = GetACP();
    return nCodePage;
}

DWORD NoBestFitFlagFor(UINT nCodePage)
{
    const bool bNoFlags = nCodePage == CP_UTF8 || nCodePage == CP_UTF7 || nCodePage == 42 || nCodePage == 54936 ||
                          (nCodePage >= 50220 && nCodePage <= 50229) || (nCodePage >= 57002 && nCodePage <= 57011);
    return bNoFlags ? 0 : WC_NO_BEST_FIT_CHARS;
}

bool EncodeInCodePage(const std::wstring& strText, UINT nCodePage, std::string& strBytes)
{
    strBytes.clear();
    if (strText.empty())
        return true;
    if (nCodePage == CP_THREAD_ACP)
        nCodePage = CodePageOf(ECharset::Ansi);
    const DWORD nFlags = NoBestFitFlagFor(nCodePage);
    const int nChars = static_cast<int>(strText.size());
    const int nBytes = WideCharToMultiByte(nCodePage, nFlags, strText.data(), nChars, nullptr, 0, nullptr, nullptr);
    if (nBytes <= 0)
        return false;
    strBytes.assign(static_cast<size_t>(nBytes), '\0');
    if (WideCharToMultiByte(nCodePage, nFlags, strText.data(), nChars, &strBytes[0], nBytes, nullptr, nullptr) !=
        nBytes)
    {
        strBytes.clear();
        return false;
    }
    return true;
}

std::string EncodeText(const std::wstring& strText, ECharset nCharset)
{
    std::string strBytes;
    EncodeInCodePage(strText, CodePageOf(nCharset), strBytes);
    return strBytes;
}

std::wstring DecodeText(const std::string& strBytes, ECharset nCharset)
{
    if (strBytes.empty())
        return std::wstring();
    const UINT nCodePage = nCharset == ECharset::Utf8 ? CP_UTF8 : CP_THREAD_ACP;
    const int nBytes = static_cast<int>(strBytes.size());
    const int nChars = MultiByteToWideChar(nCodePage, 0, strBytes.data(), nBytes, nullptr, 0);
    if (nChars <= 0)
        return std::wstring();
    std::wstring strText(static_cast<size_t>(nChars), L'\0');
    MultiByteToWideChar(nCodePage, 0, strBytes.data(), nBytes, &strText[0], nChars);
    return strText;
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

const VARIANT* ScriptValueOf(const VARIANT& var)
{
    const VARIANT* p = &var;
    for (int i = 0; i < MAX_REFERENCE_DEPTH; ++i)
    {
        if (p->vt != (VT_BYREF | VT_VARIANT))
            return p;
        if (!p->pvarVal)
            return nullptr;
        p = p->pvarVal;
    }
    return nullptr;
}

bool VariantToText(const VARIANT& var, std::wstring& strOut, ETextFrom nFrom, bool* pbNull)
{
    const VARIANT* p = ScriptValueOf(var);
    if (!p)
        return false;
    CComVariant converted;
    BSTR bstr = nullptr;
    if (p->vt == VT_BSTR)
        bstr = p->bstrVal;
    else if (p->vt == (VT_BYREF | VT_BSTR) && p->pbstrVal)
        bstr = *p->pbstrVal;
    else if (nFrom == ETextFrom::StringOnly ||
             FAILED(VariantChangeType(&converted, const_cast<VARIANT*>(p), 0, VT_BSTR)))
        return false;
    else
        bstr = V_BSTR(&converted);
    if (pbNull)
        *pbNull = bstr == nullptr;
    strOut = bstr ? bstr : L"";
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
