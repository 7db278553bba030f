// The description of one upload request: the extra form fields appended by script, one part per
// listed file with its field name, content type and measured size, and the resolved target.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <string>
#include <vector>

#include "filelist/FileEntry.h"

// One extra form field. szPartText is the field's text without its delimiter line, made once
// when the field is appended.
struct PostField
{
    std::wstring szName;
    std::wstring szValue;
    std::wstring szPartText;
};

// One file part. nSize, measured when the part is built, is what the body carries and declares.
struct UploadPart
{
    std::wstring szFieldName;  // at most 127 characters
    std::wstring szFilePath;
    std::wstring szContentType;  // at most 511 characters
    ULONGLONG nSize = 0;
    std::wstring szPartHeader;
};

// The extra fields of the request, in the order script appended them. Equal names may repeat
// and are all sent. They stay until ClearPostData, so every later upload sends them again.
class CFormFields
{
public:
    // Appends one field; a null value counts as the empty text.
    void Append(const wchar_t* szName, const wchar_t* szValue);

    // The script method: two strings append one field (a null name string is ignored); two
    // script arrays append one field per pair of string elements (PTL::ReadStringPairs).
    // Anything else, arrays of different lengths or an empty array, does nothing. Throws
    // std::bad_alloc, having appended nothing.
    void AppendPostData(const VARIANT& varName, const VARIANT& varValue);

    void ClearPostData() { m_fields.clear(); }

    const std::vector<PostField>& Fields() const { return m_fields; }

private:
    std::vector<PostField> m_fields;
};

// Longest field name a part carries; longer names are cut.
constexpr size_t MAX_FIELD_NAME = 127;
// Longest content type taken from the registry.
constexpr size_t MAX_CONTENT_TYPE = 511;

// MIME type registered for the path's extension ("Content Type" under HKEY_CLASSES_ROOT),
// "application/octet-stream" when there is none.
std::wstring GetContentType(const wchar_t* szPath);

// One part for a file: content type (looked up unless given), measured size (0 when the file
// cannot be opened) and header text.
UploadPart MakeUploadPart(const wchar_t* szFieldName, const wchar_t* szFilePath,
                          const std::wstring* pContentType = nullptr);

// The form field name of the nth file (1-based counter) listed under szInputName:
// bFixed: the input name itself; else bArray: name + "[]"; else name + counter. Cut to
// MAX_FIELD_NAME characters.
std::wstring FormFieldName(const wchar_t* szInputName, unsigned nCounter, bool bArray, bool bFixed);

// One part per entry, in list order, named by FormFieldName with a counter per input name
// (exact, case-sensitive). Returns the all-files total: the sum of nFileSize, each taken as a
// signed 32-bit number.
LONGLONG BuildUploadParts(const FileEntry* pEntries, size_t nCount, bool bInputTypeArray, bool bInputNameFixed,
                          std::vector<UploadPart>& parts);

// The target address: szAction resolved against szPageUrl as a browser does. An absolute
// action stays as it is. Empty when the two cannot be combined.
std::wstring ResolveActionUrl(const wchar_t* szAction, const wchar_t* szPageUrl);

inline LONGLONG BuildUploadParts(const std::vector<FileEntry>& entries, bool bInputTypeArray, bool bInputNameFixed,
                                 std::vector<UploadPart>& parts)
{
    return BuildUploadParts(entries.data(), entries.size(), bInputTypeArray, bInputNameFixed, parts);
}
