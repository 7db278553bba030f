// The multipart body byte for byte: part texts, order, encodings and the declared length.
#include <gtest/gtest.h>

#include <set>

#include <cwctype>

#include "tests/common/TestData.h"
#include "upload/MultipartBody.h"

namespace
{
const wchar_t BOUNDARY[] = L"---------------------------abcdef12gPL5";

UploadPart Part(const wchar_t* szField, const wchar_t* szPath, const wchar_t* szType, ULONGLONG nSize)
{
    UploadPart part;
    part.szFieldName = szField;
    part.szFilePath = szPath;
    part.szContentType = szType;
    part.nSize = nSize;
    part.szPartHeader = MakeFilePartHeader(part.szFieldName, part.szFilePath, part.szContentType);
    return part;
}
}  // namespace

TEST(MultipartBody, GoldenPartsAndLength)
{
    const CMultipartBody body(BOUNDARY, true);
    CFormFields fields;
    fields.Append(L"a", L"1");
    const std::vector<UploadPart> parts = {Part(L"file1", L"C:\\a.txt", L"text/plain", 5)};

    // The whole body of a five-byte file and one field; the sizes of the parts fix where each
    // part's bytes are.
    const std::string strExpected = TestData("body_golden_parts.body");
    const std::string strHeader = body.FilePartHeader(parts[0]);
    const std::string strField = body.FieldPart(fields.Fields()[0]);
    EXPECT_EQ(strExpected, strHeader + "hello\r\n" + strField + body.Closing());
    EXPECT_EQ(138u, strHeader.size());
    EXPECT_EQ(90u, strField.size());
    EXPECT_EQ(45u, body.Closing().size());

    EXPECT_EQ(strExpected.size(), body.ContentLength(parts, fields.Fields()));
    EXPECT_EQ(280u, strExpected.size());
    EXPECT_EQ(45u, body.ContentLength({}, {}));
}

TEST(MultipartBody, NamesCannotLeaveTheirHeader)
{
    // In a name a quote, CR and LF become %22, %0D and %0A (else the page could end the name and
    // add header lines); commas and semicolons stay, and a value goes in unchanged.
    static const struct
    {
        const wchar_t* szName;
        const wchar_t* szValue;
        const char* szExpected;
    } cases[] = {
        {L"say \"hi\"", L"x", "\r\nContent-Disposition: form-data; name=\"say %22hi%22\"\r\n\r\nx\r\n"},
        {L"a\r\nX: 1", L"\"", "\r\nContent-Disposition: form-data; name=\"a%0D%0AX: 1\"\r\n\r\n\"\r\n"},
        {L"a,b;c", L"", "\r\nContent-Disposition: form-data; name=\"a,b;c\"\r\n\r\n\r\n"},
        {L"", L"line1\r\nline2", "\r\nContent-Disposition: form-data; name=\"\"\r\n\r\nline1\r\nline2\r\n"},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        CFormFields fields;
        fields.Append(cases[i].szName, cases[i].szValue);
        EXPECT_EQ(std::string("-----------------------------abcdef12gPL5") + cases[i].szExpected,
                  CMultipartBody(BOUNDARY, false).FieldPart(fields.Fields()[0]))
            << "case " << i;
    }
    // A null value counts as empty.
    CFormFields fields;
    fields.Append(L"n", nullptr);
    EXPECT_EQ(L"", fields.Fields()[0].szValue);
}

TEST(MultipartBody, EncodingDecidesBytesAndLength)
{
    // U+D55C U+AE00 (two Hangul syllables), U+00E9, and a character outside the BMP.
    const std::wstring strName = L"\xD55C\xAE00.txt";
    const std::vector<UploadPart> parts = {Part(L"f\xE9", strName.c_str(), L"text/plain", 3)};
    CFormFields fields;
    fields.Append(L"k", L"\xD83D\xDE00");

    const CMultipartBody utf8(BOUNDARY, true);
    const std::string strHeader = utf8.FilePartHeader(parts[0]);
    EXPECT_NE(std::string::npos, strHeader.find("name=\"f\xC3\xA9\"; filename=\"\xED\x95\x9C\xEA\xB8\x80.txt\""));
    // A surrogate pair is one four-byte sequence, in field parts as in file headers.
    EXPECT_NE(std::string::npos, utf8.FieldPart(fields.Fields()[0]).find("\r\n\xF0\x9F\x98\x80\r\n"));
    EXPECT_EQ(strHeader.size() + 3 + 2 + utf8.FieldPart(fields.Fields()[0]).size() + 45,
              utf8.ContentLength(parts, fields.Fields()));

    // The thread's ANSI code page (here one without Hangul; code page 949 is covered by the
    // worker's Korean test): a missing character becomes the default one, and the length counts
    // the bytes as they come out.
    const CMultipartBody ansi(BOUNDARY, false);
    const std::string strAnsiHeader = ansi.FilePartHeader(parts[0]);
    if (GetACP() != 949)
    {
        EXPECT_NE(std::string::npos, strAnsiHeader.find("filename=\"??.txt\"")) << strAnsiHeader;
    }
    EXPECT_EQ(strAnsiHeader.size() + 3 + 2 + ansi.FieldPart(fields.Fields()[0]).size() + 45,
              ansi.ContentLength(parts, fields.Fields()));
}

TEST(MultipartBody, CodePagesThatRejectTheBestFitFlag)
{
    // Under the system's UTF-8 setting the ANSI code page is 65001, which rejects
    // WC_NO_BEST_FIT_CHARS: the flag goes only to the pages that take it. Before, every part text
    // came out empty and the request went out without them; a text that truly cannot be encoded
    // now stops the body.
    const UploadPart part = Part(L"f", L"\xE9\xFF02.txt", L"text/plain", 0);
    // Wine converts under 65001 whatever the flags: which code pages get the flag is checked on
    // its own.
    const struct
    {
        UINT nCodePage;
        DWORD nFlags;
    } flags[] = {{65001, 0},
                 {65000, 0},
                 {50220, 0},
                 {54936, 0},
                 {42, 0},
                 {1252, WC_NO_BEST_FIT_CHARS},
                 {949, WC_NO_BEST_FIT_CHARS},
                 {932, WC_NO_BEST_FIT_CHARS}};
    for (size_t i = 0; i < std::size(flags); ++i)
        EXPECT_EQ(flags[i].nFlags, PTL::NoBestFitFlagFor(flags[i].nCodePage)) << "code page " << flags[i].nCodePage;

    const struct
    {
        UINT nCodePage;
        const char* szFileName;  // nullptr: the body cannot be written
    } cases[] = {
        {65001, "filename=\"\xC3\xA9\xEF\xBC\x82.txt\""},
        {1252, "filename=\"\xE9?.txt\""},  // no look-alike quote for the fullwidth one
        {12345, nullptr},                  // a code page the system lacks
    };
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        const CMultipartBody body(BOUNDARY, cases[i].nCodePage);
        std::string strHeader = "(cannot be encoded)";
        try
        {
            strHeader = body.FilePartHeader(part);
        }
        catch (const CMultipartBody::EEncoding&)
        {
        }
        EXPECT_NE(std::string::npos, strHeader.find(cases[i].szFileName ? cases[i].szFileName : "(cannot be encoded)"))
            << "case " << i << ": " << strHeader;
    }
}

TEST(MultipartBody, BoundaryFormAndFreshness)
{
    // Made within well under a second: every boundary differs, and over all of them every letter
    // position sees many different letters (a time-seeded or a stuck source would not).
    std::set<std::wstring> seen;
    std::set<wchar_t> firstLetters, lastDigits;
    for (int n = 0; n < 200; ++n)
    {
        const std::wstring strBoundary = MakeBoundary();
        ASSERT_EQ(BOUNDARY_LENGTH, strBoundary.size());
        EXPECT_EQ(std::wstring(27, L'-'), strBoundary.substr(0, 27));
        for (size_t i = 27; i < 33; ++i)
            EXPECT_TRUE(iswalpha(strBoundary[i]) && strBoundary[i] < 128) << strBoundary.c_str();
        EXPECT_TRUE(iswdigit(strBoundary[33]) && iswdigit(strBoundary[34]));
        EXPECT_TRUE(iswalpha(strBoundary[35]) && strBoundary[35] < 128);
        EXPECT_EQ(L"PL5", strBoundary.substr(36));
        EXPECT_TRUE(seen.insert(strBoundary).second) << "repeated " << n;
        firstLetters.insert(strBoundary[27]);
        lastDigits.insert(strBoundary[34]);
    }
    EXPECT_GT(firstLetters.size(), 30u);
    EXPECT_EQ(10u, lastDigits.size());
}
