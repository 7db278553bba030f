#include "upload/UploadRequest.h"

#include <map>
#include <oleauto.h>
#include <shlwapi.h>
#include <wininet.h>

#include "ptl/ScriptArray.h"
#include "ptl/Text.h"
#include "upload/MultipartBody.h"
#include "filelist/FileMeasure.h"
#include "ptl/Handle.h"

namespace
{
const wchar_t DEFAULT_CONTENT_TYPE[] = L"application/octet-stream";
}  // namespace

void CFormFields::Append(const wchar_t* szName, const wchar_t* szValue)
{
    PostField field;
    field.szName = szName ? szName : L"";
    field.szValue = szValue ? szValue : L"";
    field.szPartText = MakeFieldPartText(field.szName, field.szValue);
    m_fields.push_back(std::move(field));
}

void CFormFields::AppendPostData(const VARIANT& varName, const VARIANT& varValue)
{
    std::wstring strName;
    bool bNullName = false;
    if (PTL::VariantToText(varName, strName, PTL::ETextFrom::StringOnly, &bNullName) && bNullName)
        return;
    // Every field is made before the first is appended: out of memory appends nothing, and a
    // getter of the page's arrays that calls back into the control sees the fields unchanged.
    std::vector<PostField> fields;
    for (const auto& pair : PTL::ReadStringPairs(varName, varValue))
    {
        PostField field;
        field.szName = pair.first;
        field.szValue = pair.second;
        field.szPartText = MakeFieldPartText(field.szName, field.szValue);
        fields.push_back(std::move(field));
    }
    m_fields.reserve(m_fields.size() + fields.size());
    for (PostField& field : fields)
        m_fields.push_back(std::move(field));
}

std::wstring GetContentType(const wchar_t* szPath)
{
    if (!szPath)
        return DEFAULT_CONTENT_TYPE;
    // The extension of the last path element, with its dot; PathFindExtension gives the empty
    // text when the last element has no dot.
    std::wstring strExtension = PathFindExtensionW(szPath);
    if (strExtension.empty() || strExtension.size() > MAX_PATH - 1)
        return DEFAULT_CONTENT_TYPE;

    // Read access only: an ordinary user cannot open the merged HKEY_CLASSES_ROOT for writing,
    // and asking for it would send every file as octet-stream.
    PTL::CRegKeyHandle hKey;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, strExtension.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return DEFAULT_CONTENT_TYPE;
    WCHAR szType[MAX_CONTENT_TYPE + 1] = L"";
    DWORD nType = 0;
    DWORD nBytes = sizeof(szType) - sizeof(WCHAR);  // room to terminate a text stored without one
    const LONG nResult =
        RegQueryValueExW(hKey.Get(), L"Content Type", nullptr, &nType, reinterpret_cast<BYTE*>(szType), &nBytes);
    if (nResult != ERROR_SUCCESS || (nType != REG_SZ && nType != REG_EXPAND_SZ))
        return DEFAULT_CONTENT_TYPE;
    szType[nBytes / sizeof(WCHAR)] = L'\0';
    if (!szType[0])
        return DEFAULT_CONTENT_TYPE;
    return szType;
}

UploadPart MakeUploadPart(const wchar_t* szFieldName, const wchar_t* szFilePath, const std::wstring* pContentType)
{
    UploadPart part;
    part.szFieldName = szFieldName ? szFieldName : L"";
    if (part.szFieldName.size() > MAX_FIELD_NAME)
        part.szFieldName.resize(MAX_FIELD_NAME);
    part.szFilePath = szFilePath ? szFilePath : L"";
    part.szContentType = pContentType ? *pContentType : GetContentType(part.szFilePath.c_str());
    // A file that cannot be measured now is sent as empty. One that is measured but cannot be
    // opened when it is sent (held by a program that lets nobody read it) fails the upload:
    // its length is declared by then, and sending it empty would lose it unnoticed.
    if (!ReadFileLength(part.szFilePath.c_str(), part.nSize))
        part.nSize = 0;
    part.szPartHeader = MakeFilePartHeader(part.szFieldName, part.szFilePath, part.szContentType);
    return part;
}

std::wstring FormFieldName(const wchar_t* szInputName, unsigned nCounter, bool bArray, bool bFixed)
{
    std::wstring strName = szInputName ? szInputName : L"";
    if (bFixed)
        ;
    else if (bArray)
        strName += L"[]";
    else
        strName += std::to_wstring(nCounter);
    if (strName.size() > MAX_FIELD_NAME)
        strName.resize(MAX_FIELD_NAME);
    return strName;
}

LONGLONG BuildUploadParts(const FileEntry* pEntries, size_t nCount, bool bInputTypeArray, bool bInputNameFixed,
                          std::vector<UploadPart>& parts)
{
    parts.clear();
    parts.reserve(nCount);
    std::map<std::wstring, unsigned> counters;
    // One registry look-up per extension: many files of one kind are the usual case.
    std::map<std::wstring, std::wstring> types;
    LONGLONG nTotal = 0;
    for (size_t i = 0; i < nCount; ++i)
    {
        const FileEntry& entry = pEntries[i];
        unsigned& nCounter = counters.emplace(entry.szInputName, 1u).first->second;
        const std::wstring strField = FormFieldName(entry.szInputName, nCounter, bInputTypeArray, bInputNameFixed);
        const wchar_t* szExtension = PathFindExtensionW(entry.szFilePath);
        auto type = types.find(szExtension);
        if (type == types.end())
            type = types.emplace(szExtension, GetContentType(entry.szFilePath)).first;
        if (entry.bNameOnly)
        {
            // The name goes in the part's header; with no path to open, the part stays empty.
            UploadPart part = MakeUploadPart(strField.c_str(), L"", &type->second);
            part.szPartHeader = MakeFilePartHeader(part.szFieldName, entry.szFilePath, part.szContentType);
            parts.push_back(std::move(part));
        }
        else
        {
            parts.push_back(MakeUploadPart(strField.c_str(), entry.szFilePath, &type->second));
            nTotal += static_cast<LONG>(entry.nFileSize);
        }
        ++nCounter;
    }
    return nTotal;
}

std::wstring ResolveActionUrl(const wchar_t* szAction, const wchar_t* szPageUrl)
{
    WCHAR szUrl[INTERNET_MAX_URL_LENGTH + 1] = L"";
    DWORD nLength = ARRAYSIZE(szUrl);
    if (!InternetCombineUrlW(szPageUrl ? szPageUrl : L"", szAction ? szAction : L"", szUrl, &nLength, ICU_BROWSER_MODE))
        return std::wstring();
    return szUrl;
}
