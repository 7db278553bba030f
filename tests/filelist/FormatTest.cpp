// Size and number texts at the boundaries where a unit, a separator or a digit changes.
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
        {999, L"999"},
        {1000, L"1,000"},
        {999999, L"999,999"},
        {1234567, L"1,234,567"},
        {4294967296ull, L"4,294,967,296"},
        {18446744073709551615ull, L"18,446,744,073,709,551,615"},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].szExpected, FormatGroupedNumber(cases[i].n)) << "case " << i;
    EXPECT_EQ(L"4,294,967,295", FormatGroupedNumber(static_cast<ULONG>(4294967295u)));
    EXPECT_EQ(L"65,535", FormatGroupedNumber(static_cast<unsigned short>(65535)));
}

TEST(Format, SizeText)
{
    static const struct
    {
        ULONGLONG nBytes;
        int nDecimals;
        const wchar_t* szExpected;
    } cases[] = {
        {0, 2, L"0.00KB"},
        {10, 2, L"0.00KB"},
        {1000, 2, L"0.97KB"},
        {1023, 2, L"0.99KB"},
        {1536, 2, L"1.50KB"},
        {1048575, 2, L"1,023.99KB"},
        {1048576, 2, L"1.00MB"},
        {1073741823, 2, L"1,023.99MB"},
        {1073741824, 2, L"1.00GB"},
        {4294967295ull, 2, L"3.99GB"},
        {1099511627776ull, 2, L"1,024.00GB"},  // no unit above GB
        {1048575, 0, L"1,023KB"},
        {1025, 3, L"1.000KB"},
        {1100, 4, L"1.0742KB"},
        {1048575, 40, L"1,023.999023437KB"},  // at most nine decimals
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].szExpected, FormatSizeText(cases[i].nBytes, cases[i].nDecimals)) << "case " << i;
}

TEST(Format, ByteProgress)
{
    EXPECT_EQ(L"1,024 / 4,096 Bytes (25%)", FormatByteProgress(1024, 4096, 25));
    EXPECT_EQ(L"51,200 / 1,048,576 Bytes (4%)", FormatByteProgress(51200, 1048576, 4));
    EXPECT_EQ(L"6,442,450,944 / 6,442,450,944 Bytes (100%)", FormatByteProgress(6442450944ull, 6442450944ull, 100));
}
