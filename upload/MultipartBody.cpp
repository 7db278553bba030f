#include "upload/MultipartBody.h"

#include <cstdlib>
#include <ctime>

std::wstring MakeBoundary()
{
    static const wchar_t LETTERS[] = L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    static const wchar_t DIGITS[] = L"0123456789";
    // The runtime keeps one generator per thread, so a worker seeding it affects no other thread.
    srand(static_cast<unsigned>(time(nullptr)));
    std::wstring strBoundary(27, L'-');
    for (int i = 0; i < 6; ++i)
        strBoundary += LETTERS[rand() % 52];
    for (int i = 0; i < 2; ++i)
        strBoundary += DIGITS[rand() % 10];
    strBoundary += LETTERS[rand() % 52];
    strBoundary += L"PL5";
    return strBoundary;
}

std::wstring MakeFieldPartText(const std::wstring& strName, const std::wstring& strValue)
{
    return L"\r\nContent-Disposition: form-data; name=\"" + strName + L"\"\r\n\r\n" + strValue + L"\r\n";
}

std::wstring MakeFilePartHeader(const std::wstring& strFieldName, const std::wstring& strFilePath,
                                const std::wstring& strContentType)
{
    return L"\r\nContent-Disposition: form-data; name=\"" + strFieldName + L"\"; filename=\"" + strFilePath +
           L"\"\r\nContent-Type: " + strContentType + L"\r\n\r\n";
}

std::string EncodeWireText(const std::wstring& strText, bool bUseUnicode)
{
    if (strText.empty())
        return std::string();
    const UINT nCodePage = bUseUnicode ? CP_UTF8 : CP_THREAD_ACP;
    const int nChars = static_cast<int>(strText.size());
    const int nBytes = WideCharToMultiByte(nCodePage, 0, strText.data(), nChars, nullptr, 0, nullptr, nullptr);
    if (nBytes <= 0)
        return std::string();
    std::string strBytes(static_cast<size_t>(nBytes), '\0');
    WideCharToMultiByte(nCodePage, 0, strText.data(), nChars, &strBytes[0], nBytes, nullptr, nullptr);
    return strBytes;
}

std::wstring DecodeWireText(const std::string& strBytes, bool bUseUnicode)
{
    if (strBytes.empty())
        return std::wstring();
    const UINT nCodePage = bUseUnicode ? CP_UTF8 : CP_THREAD_ACP;
    const int nBytes = static_cast<int>(strBytes.size());
    const int nChars = MultiByteToWideChar(nCodePage, 0, strBytes.data(), nBytes, nullptr, 0);
    if (nChars <= 0)
        return std::wstring();
    std::wstring strText(static_cast<size_t>(nChars), L'\0');
    MultiByteToWideChar(nCodePage, 0, strBytes.data(), nBytes, &strText[0], nChars);
    return strText;
}

std::string CMultipartBody::FilePartHeader(const UploadPart& part) const
{
    return EncodeWireText(L"--" + m_strBoundary + part.szPartHeader, m_bUseUnicode);
}

std::string CMultipartBody::FieldPart(const PostField& field) const
{
    return EncodeWireText(L"--" + m_strBoundary + field.szPartText, m_bUseUnicode);
}

std::string CMultipartBody::Closing() const
{
    return EncodeWireText(L"--" + m_strBoundary + L"--\r\n", m_bUseUnicode);
}

ULONGLONG CMultipartBody::ContentLength(const std::vector<UploadPart>& parts,
                                        const std::vector<PostField>& fields) const
{
    ULONGLONG nLength = 0;
    for (const UploadPart& part : parts)
        nLength += FilePartHeader(part).size() + part.nSize + 2;
    for (const PostField& field : fields)
        nLength += FieldPart(field).size();
    return nLength + Closing().size();
}
