#include "ptl/Registrar.h"

#include "ptl/KernelHandle.h"
#include "ptl/Text.h"
#include <cwctype>
#include <memory>

namespace PTL
{
namespace
{
struct CRegValue
{
    std::wstring strName;  // empty: the key's default value
    DWORD dwType = REG_SZ;
    std::wstring strText;
    DWORD dwNumber = 0;
};

struct CRegKey
{
    std::wstring strName;
    bool bNoRemove = false;
    bool bForceRemove = false;
    bool bDelete = false;
    bool bHasDefault = false;
    CRegValue defaultValue;
    std::vector<CRegValue> values;
    std::vector<CRegKey> children;
};

class CParser
{
public:
    explicit CParser(const std::wstring& str) : m_str(str) {}

    // Parses "ROOT { keys }" blocks.
    bool ParseScript(std::vector<std::pair<HKEY, CRegKey>>& roots)
    {
        std::wstring tok;
        while (Next(tok))
        {
            HKEY hRoot = RootFromName(tok);
            if (!hRoot || !Expect(L"{"))
                return false;
            CRegKey root;
            if (!ParseBody(root))
                return false;
            roots.emplace_back(hRoot, std::move(root));
        }
        return m_bOk;
    }

private:
    static HKEY RootFromName(const std::wstring& s)
    {
        if (_wcsicmp(s.c_str(), L"HKCR") == 0 || _wcsicmp(s.c_str(), L"HKEY_CLASSES_ROOT") == 0)
            return HKEY_CLASSES_ROOT;
        if (_wcsicmp(s.c_str(), L"HKCU") == 0 || _wcsicmp(s.c_str(), L"HKEY_CURRENT_USER") == 0)
            return HKEY_CURRENT_USER;
        if (_wcsicmp(s.c_str(), L"HKLM") == 0 || _wcsicmp(s.c_str(), L"HKEY_LOCAL_MACHINE") == 0)
            return HKEY_LOCAL_MACHINE;
        return nullptr;
    }

    // Reads keys and named values up to the closing brace.
    bool ParseBody(CRegKey& parent)
    {
        std::wstring tok;
        while (Next(tok))
        {
            if (tok == L"}")
                return true;
            if (_wcsicmp(tok.c_str(), L"val") == 0 && !m_bQuoted)
            {
                CRegValue value;
                if (!Next(value.strName) || !Expect(L"=") || !ParseValue(value))
                    return false;
                parent.values.push_back(std::move(value));
                continue;
            }
            CRegKey key;
            for (;;)
            {
                if (!m_bQuoted && _wcsicmp(tok.c_str(), L"NoRemove") == 0)
                    key.bNoRemove = true;
                else if (!m_bQuoted && _wcsicmp(tok.c_str(), L"ForceRemove") == 0)
                    key.bForceRemove = true;
                else if (!m_bQuoted && _wcsicmp(tok.c_str(), L"Delete") == 0)
                    key.bDelete = true;
                else
                    break;
                if (!Next(tok))
                    return false;
            }
            key.strName = tok;
            size_t nMark = m_nPos;
            std::wstring look;
            if (Next(look) && look == L"=" && !m_bQuoted)
            {
                if (!ParseValue(key.defaultValue))
                    return false;
                key.bHasDefault = true;
                nMark = m_nPos;
                if (!Next(look))
                {
                    parent.children.push_back(std::move(key));
                    return false;
                }
            }
            if (look == L"{" && !m_bQuoted)
            {
                if (!ParseBody(key))
                    return false;
            }
            else
                m_nPos = nMark;  // not ours: give the token back
            parent.children.push_back(std::move(key));
        }
        return false;  // ran out before the closing brace
    }

    bool ParseValue(CRegValue& value)
    {
        std::wstring type, text;
        if (!Next(type) || !Next(text))
            return false;
        if (_wcsicmp(type.c_str(), L"s") == 0)
        {
            value.dwType = REG_SZ;
            value.strText = text;
            return true;
        }
        if (_wcsicmp(type.c_str(), L"d") == 0)
        {
            value.dwType = REG_DWORD;
            value.dwNumber = static_cast<DWORD>(wcstoul(text.c_str(), nullptr, 0));
            return true;
        }
        return false;
    }

    bool Expect(const wchar_t* sz)
    {
        std::wstring tok;
        return Next(tok) && !m_bQuoted && tok == sz;
    }

    // The next token: a quoted text ('' stands for one quote), a brace or '=', or a bare word.
    // A brace that starts a word ({GUID}) belongs to the word.
    bool Next(std::wstring& tok)
    {
        tok.clear();
        m_bQuoted = false;
        while (m_nPos < m_str.size() && iswspace(m_str[m_nPos]))
            ++m_nPos;
        if (m_nPos >= m_str.size())
            return false;
        const wchar_t ch = m_str[m_nPos];
        if (ch == L'\'')
        {
            m_bQuoted = true;
            for (++m_nPos; m_nPos < m_str.size(); ++m_nPos)
            {
                if (m_str[m_nPos] == L'\'')
                {
                    if (m_nPos + 1 < m_str.size() && m_str[m_nPos + 1] == L'\'')
                    {
                        tok += L'\'';
                        ++m_nPos;
                        continue;
                    }
                    ++m_nPos;
                    return true;
                }
                tok += m_str[m_nPos];
            }
            m_bOk = false;  // unterminated text
            return false;
        }
        const bool bBraceWord = ch == L'{' && m_nPos + 1 < m_str.size() && !iswspace(m_str[m_nPos + 1]);
        if ((ch == L'{' && !bBraceWord) || ch == L'}' || ch == L'=')
        {
            tok = ch;
            ++m_nPos;
            return true;
        }
        while (m_nPos < m_str.size() && !iswspace(m_str[m_nPos]) && m_str[m_nPos] != L'=' &&
               !(m_str[m_nPos] == L'}' && !bBraceWord))
        {
            tok += m_str[m_nPos];
            if (m_str[m_nPos] == L'}' && bBraceWord)
            {
                ++m_nPos;
                break;
            }
            ++m_nPos;
        }
        return true;
    }

    const std::wstring& m_str;
    size_t m_nPos = 0;
    bool m_bQuoted = false;
    bool m_bOk = true;
};

LSTATUS SetValue(HKEY hKey, const wchar_t* szName, const CRegValue& value)
{
    if (value.dwType == REG_DWORD)
        return RegSetValueExW(hKey, szName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value.dwNumber),
                              sizeof(DWORD));
    return RegSetValueExW(hKey, szName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.strText.c_str()),
                          static_cast<DWORD>((value.strText.size() + 1) * sizeof(WCHAR)));
}

HRESULT RegisterKey(HKEY hParent, const CRegKey& key)
{
    if (key.bForceRemove || key.bDelete)
    {
        const LSTATUS ls = RegDeleteTreeW(hParent, key.strName.c_str());
        if (ls != ERROR_SUCCESS && ls != ERROR_FILE_NOT_FOUND)
            return HRESULT_FROM_WIN32(ls);
        if (key.bDelete)
            return S_OK;
    }
    PTL::CRegKeyHandle hKey;
    LSTATUS ls =
        RegCreateKeyExW(hParent, key.strName.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &hKey, nullptr);
    if (ls != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(ls);
    if (key.bHasDefault && (ls = SetValue(hKey, nullptr, key.defaultValue)) != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(ls);
    for (const CRegValue& value : key.values)
        if ((ls = SetValue(hKey, value.strName.c_str(), value)) != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(ls);
    for (const CRegKey& child : key.children)
    {
        const HRESULT hr = RegisterKey(hKey, child);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT UnregisterKey(HKEY hParent, const CRegKey& key)
{
    if (!key.bNoRemove)
    {
        const LSTATUS ls = RegDeleteTreeW(hParent, key.strName.c_str());
        return ls == ERROR_SUCCESS || ls == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(ls);
    }
    PTL::CRegKeyHandle hKey;
    const LSTATUS ls = RegOpenKeyExW(hParent, key.strName.c_str(), 0, KEY_READ | KEY_WRITE, &hKey);
    if (ls == ERROR_FILE_NOT_FOUND)
        return S_OK;
    if (ls != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(ls);
    HRESULT hrFirst = S_OK;
    for (const CRegValue& value : key.values)
    {
        const LSTATUS lsValue = RegDeleteValueW(hKey, value.strName.c_str());
        if (lsValue != ERROR_SUCCESS && lsValue != ERROR_FILE_NOT_FOUND && SUCCEEDED(hrFirst))
            hrFirst = HRESULT_FROM_WIN32(lsValue);
    }
    for (const CRegKey& child : key.children)
    {
        const HRESULT hr = UnregisterKey(hKey, child);
        if (FAILED(hr) && SUCCEEDED(hrFirst))
            hrFirst = hr;
    }
    return hrFirst;
}

std::wstring Substitute(const std::wstring& strScript, const RegistrarReplacements& replacements)
{
    std::wstring out;
    out.reserve(strScript.size());
    for (size_t i = 0; i < strScript.size(); ++i)
    {
        if (strScript[i] != L'%')
        {
            out += strScript[i];
            continue;
        }
        const size_t nEnd = strScript.find(L'%', i + 1);
        if (nEnd == std::wstring::npos)
        {
            out += strScript.substr(i);
            break;
        }
        const std::wstring strName = strScript.substr(i + 1, nEnd - i - 1);
        bool bFound = strName.empty();
        if (bFound)
            out += L'%';  // %% stands for one percent sign
        for (const auto& r : replacements)
        {
            if (!bFound && r.first == strName)
            {
                // A value lands inside quotes: double its quotes so a path like O'Brien survives.
                for (wchar_t ch : r.second)
                {
                    out += ch;
                    if (ch == L'\'')
                        out += L'\'';
                }
                bFound = true;
            }
        }
        if (!bFound)
            out += strScript.substr(i, nEnd - i + 1);
        i = nEnd;
    }
    return out;
}
}  // namespace

HRESULT CRegistrar::UpdateFromScript(const std::wstring& strScript, bool bRegister,
                                     const RegistrarReplacements& replacements)
{
    const std::wstring strText = Substitute(strScript, replacements);
    std::vector<std::pair<HKEY, CRegKey>> roots;
    if (!CParser(strText).ParseScript(roots))
        return DISP_E_EXCEPTION;
    HRESULT hrFirst = S_OK;
    for (const auto& root : roots)
        for (const CRegKey& key : root.second.children)
        {
            const HRESULT hr = bRegister ? RegisterKey(root.first, key) : UnregisterKey(root.first, key);
            if (FAILED(hr))
            {
                if (bRegister)
                    return hr;
                if (SUCCEEDED(hrFirst))
                    hrFirst = hr;
            }
        }
    return hrFirst;
}

HRESULT CRegistrar::UpdateFromResource(HINSTANCE hInstance, UINT nId, bool bRegister,
                                       const RegistrarReplacements& replacements)
{
    HRSRC hRes = FindResourceW(hInstance, MAKEINTRESOURCEW(nId), L"REGISTRY");
    if (!hRes)
        return HRESULT_FROM_WIN32(GetLastError());
    HGLOBAL hData = LoadResource(hInstance, hRes);
    const DWORD cb = SizeofResource(hInstance, hRes);
    const char* pText = hData ? static_cast<const char*>(LockResource(hData)) : nullptr;
    if (!pText)
        return HRESULT_FROM_WIN32(GetLastError());
    return UpdateFromScript(DecodeText(std::string(pText, cb)), bRegister, replacements);
}
}  // namespace PTL
