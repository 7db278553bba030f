// The bytes of the multipart/form-data body: boundary, part texts, their wire encoding and the
// declared length, which is computed from the very texts that are written.
#pragma once
#include <windows.h>
#include <stdexcept>
#include <string>
#include <vector>

#include "ptl/Text.h"
#include "upload/UploadRequest.h"

// Length of a boundary: 27 hyphens, 6 letters, 2 digits, 1 letter, "PL5".
constexpr size_t BOUNDARY_LENGTH = 39;

// A fresh boundary from the system's cryptographic random source. Throws std::runtime_error
// when the system has none to give.
std::wstring MakeBoundary();

// A fresh Idempotency-Key value: a random UUID as a quoted string ("\"8e03978e-...\""), sent on
// every attempt of one upload so that a receiver can answer a repeat without storing it again.
std::wstring MakeIdempotencyKey();

// "\r\nContent-Disposition: form-data; name=\"NAME\"\r\n\r\nVALUE\r\n"; in NAME (and in FIELD and PATH
// below) a quote, CR and LF are written as %22, %0D and %0A.
std::wstring MakeFieldPartText(const std::wstring& strName, const std::wstring& strValue);

// "\r\nContent-Disposition: form-data; name=\"FIELD\"; filename=\"PATH\"\r\nContent-Type: TYPE\r\n\r\n"
std::wstring MakeFilePartHeader(const std::wstring& strFieldName, const std::wstring& strFilePath,
                                const std::wstring& strContentType);

// One run's body writer: the boundary and the encoding in force for the run.
class CMultipartBody
{
public:
    // A text the encoding in force cannot carry: the body cannot be written truthfully, and the
    // upload fails rather than send parts whose texts went missing.
    class EEncoding : public std::runtime_error
    {
    public:
        EEncoding() : std::runtime_error("the body's text cannot be encoded") {}
    };

    CMultipartBody(std::wstring strBoundary, bool bUseUnicode)
        : CMultipartBody(std::move(strBoundary), PTL::CodePageOf(PTL::CharsetFor(bUseUnicode)))
    {
    }
    // In a given code page (CP_UTF8, an ANSI code page).
    CMultipartBody(std::wstring strBoundary, UINT nCodePage)
        : m_strBoundary(std::move(strBoundary)), m_nCodePage(nCodePage)
    {
    }

    // "--" + boundary + header, encoded. Each of these throws EEncoding when the text cannot be.
    std::string FilePartHeader(const UploadPart& part) const;
    // "--" + boundary + part text, encoded.
    std::string FieldPart(const PostField& field) const;
    // "--" + boundary + "--\r\n", encoded.
    std::string Closing() const;

    // Every file part (header, nSize content bytes, CR LF), every field part and the closing
    // delimiter, counted in 64 bits so that a body of 4 GiB or more can be recognised.
    ULONGLONG ContentLength(const std::vector<UploadPart>& parts, const std::vector<PostField>& fields) const;

    const std::wstring& Boundary() const { return m_strBoundary; }

private:
    std::string Encode(const std::wstring& strText) const;

    std::wstring m_strBoundary;
    UINT m_nCodePage;
};
