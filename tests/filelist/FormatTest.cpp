// Size and number texts at the boundaries where a unit, a group separator or a digit changes.
#include <gtest/gtest.h>
#include "filelist/Format.h"

TEST(Format, GroupedNumber)
{
    static const struct
    {
        ULONGLONG n;
        const wchar_t* szExpected;
    } cases[] = {
        {0, L"0"},
        {7, L"7"},
        {999, L"999"},
        {1000, L"1,000"},
        {12345, L"12,345"},
        {999999, L"999,999"},
        {1000000, L"1,000,000"},
        {1234567, L"1,234,567"},
        {4294967295ull, L"4,294,967,295"},
        {4294967296ull, L"4,294,967,296"},
        {18446744073709551615ull, L"18,446,744,073,709,551,615"},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        EXPECT_EQ(cases[i].szExpected, FormatGroupedNumber(cases[i].n)) << "case " << i;
        if (cases[i].n <= 0xFFFFFFFFull)
        {
            EXPECT_EQ(cases[i].szExpected, FormatGroupedNumber(static_cast<ULONG>(cases[i].n)))
                << "32-bit case " << i;
        }
    }
    // Other integer types reach the form of their width.
    EXPECT_EQ(L"65,535", FormatGroupedNumber(static_cast<unsigned short>(65535)));
    EXPECT_EQ(L"2,147,483,648", FormatGroupedNumber(static_cast<UINT>(2147483648u)));
    EXPECT_EQ(L"4,294,967,295", FormatGroupedNumber(-1));
}

TEST(Format, SizeTextTwoDecimals)
{
    static const struct
    {
        ULONGLONG nBytes;
        const wchar_t* szExpected;
    } cases[] = {
        {0, L"0.00KB"},
        {1, L"0.00KB"},
        {10, L"0.00KB"},          // 0.0097..: truncated, never rounded up
        {11, L"0.01KB"},
        {1000, L"0.97KB"},
        {1023, L"0.99KB"},
        {1024, L"1.00KB"},
        {1536, L"1.50KB"},
        {1024000, L"1,000.00KB"},
        {1048575, L"1,023.99KB"},
        {1048576, L"1.00MB"},
        {1572864, L"1.50MB"},
        {1073741823, L"1,023.99MB"},
        {1073741824, L"1.00GB"},
        {2147483648ull, L"2.00GB"},
        {4294967295ull, L"3.99GB"},
        {1099511627776ull, L"1,024.00GB"},  // no unit above GB
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].szExpected, FormatSizeText(cases[i].nBytes, 2)) << "case " << i;
}

TEST(Format, SizeTextOtherDecimals)
{
    static const struct
    {
        ULONGLONG nBytes;
        int nDecimals;
        const wchar_t* szExpected;
    } cases[] = {
        {1536, 0, L"1KB"},
        {1048575, 0, L"1,023KB"},
        {1536, -3, L"1KB"},
        {1536, 1, L"1.5KB"},
        {1025, 3, L"1.000KB"},     // 1.0009..: the padding keeps leading zeros of the fraction
        {1100, 4, L"1.0742KB"},
        {1048575, 9, L"1,023.999023437KB"},
        {1048575, 40, L"1,023.999023437KB"},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].szExpected, FormatSizeText(cases[i].nBytes, cases[i].nDecimals))
            << "case " << i;
}

TEST(Format, ByteProgress)
{
    static const struct
    {
        ULONGLONG liDone, liTotal;
        ULONG nPercent;
        const wchar_t* szExpected;
    } cases[] = {
        {1024, 4096, 25, L"1,024 / 4,096 Bytes (25%)"},
        {51200, 1048576, 4, L"51,200 / 1,048,576 Bytes (4%)"},
        {0, 0, 0, L"0 / 0 Bytes (0%)"},
        {6442450944ull, 6442450944ull, 100, L"6,442,450,944 / 6,442,450,944 Bytes (100%)"},
        {1, 1, 1234, L"1 / 1 Bytes (1,234%)"},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].szExpected,
                  FormatByteProgress(cases[i].liDone, cases[i].liTotal, cases[i].nPercent))
            << "case " << i;
}
