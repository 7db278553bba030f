#include "upload/MultipartBody.h"

#include <bcrypt.h>

#include <stdexcept>

#include "ptl/Text.h"

namespace
{
// Fills the buffer from the system's cryptographic random source.
void SystemRandom(BYTE* pBytes, ULONG nBytes)
{
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, pBytes, nBytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        throw std::runtime_error("no system random source");
}

// One of nChoices characters, each equally likely: bytes at or above the largest multiple of
// nChoices are drawn again, since they would favour the first characters.
wchar_t RandomCharacter(const wchar_t* szChoices, unsigned nChoices, const BYTE*& pNext, const BYTE* pEnd)
{
    const unsigned nLimit = 256 - 256 % nChoices;
    for (;;)
    {
        BYTE nByte = 0;
        if (pNext < pEnd)
            nByte = *pNext++;
        else
            SystemRandom(&nByte, 1);
        if (nByte < nLimit)
            return szChoices[nByte % nChoices];
    }
}

// strText between quotes.
std::wstring QuotedHeaderValue(const std::wstring& strText)
{
    // A quote would end the value early and a line break would start a header line of the
    // page's choosing; browsers send these three as percent escapes, and receivers expect that.
    std::wstring strValue;
    strValue.reserve(strText.size() + 2);
    strValue += L'"';
    for (wchar_t ch : strText)
    {
        if (ch == L'"')
            strValue += L"%22";
        else if (ch == L'\r')
            strValue += L"%0D";
        else if (ch == L'\n')
            strValue += L"%0A";
        else
            strValue += ch;
    }
    strValue += L'"';
    return strValue;
}
}  // namespace

std::wstring MakeBoundary()
{
    static const wchar_t LETTERS[] = L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    static const wchar_t DIGITS[] = L"0123456789";
    // From the system's random source: a boundary the receiver or anyone watching can predict
    // could be planted in a file's content to end its part early, and time-seeded boundaries
    // of two uploads in the same second would be equal.
    BYTE abRandom[32];
    SystemRandom(abRandom, sizeof(abRandom));
    const BYTE* pNext = abRandom;
    const BYTE* const pEnd = abRandom + sizeof(abRandom);
    std::wstring strBoundary(27, L'-');
    for (int i = 0; i < 6; ++i)
        strBoundary += RandomCharacter(LETTERS, 52, pNext, pEnd);
    for (int i = 0; i < 2; ++i)
        strBoundary += RandomCharacter(DIGITS, 10, pNext, pEnd);
    strBoundary += RandomCharacter(LETTERS, 52, pNext, pEnd);
    strBoundary += L"PL5";
    return strBoundary;
}

std::wstring MakeIdempotencyKey()
{
    BYTE ab[16];
    SystemRandom(ab, sizeof(ab));
    ab[6] = static_cast<BYTE>((ab[6] & 0x0F) | 0x40);  // version 4: random
    ab[8] = static_cast<BYTE>((ab[8] & 0x3F) | 0x80);  // the RFC 4122 variant
    static const wchar_t HEX[] = L"0123456789abcdef";
    std::wstring strKey = L"\"";
    for (int i = 0; i < 16; ++i)
    {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            strKey += L'-';
        strKey += HEX[ab[i] >> 4];
        strKey += HEX[ab[i] & 0x0F];
    }
    return strKey + L'"';
}

std::wstring MakeFieldPartText(const std::wstring& strName, const std::wstring& strValue)
{
    return L"\r\nContent-Disposition: form-data; name=" + QuotedHeaderValue(strName) + L"\r\n\r\n" + strValue + L"\r\n";
}

std::wstring MakeFilePartHeader(const std::wstring& strFieldName, const std::wstring& strFilePath,
                                const std::wstring& strContentType)
{
    return L"\r\nContent-Disposition: form-data; name=" + QuotedHeaderValue(strFieldName) + L"; filename=" +
           QuotedHeaderValue(strFilePath) + L"\r\nContent-Type: " + strContentType + L"\r\n\r\n";
}

std::string CMultipartBody::Encode(const std::wstring& strText) const
{
    std::string strBytes;
    if (!PTL::EncodeInCodePage(strText, m_nCodePage, strBytes))
        throw EEncoding();
    return strBytes;
}

std::string CMultipartBody::FilePartHeader(const UploadPart& part) const
{
    return Encode(L"--" + m_strBoundary + part.szPartHeader);
}

std::string CMultipartBody::FieldPart(const PostField& field) const
{
    return Encode(L"--" + m_strBoundary + field.szPartText);
}

std::string CMultipartBody::Closing() const { return Encode(L"--" + m_strBoundary + L"--\r\n"); }

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
