// The status texts in both packs: the count with and without a limit, the used and remaining
// allowance, and a limit lowered below what is already listed.
#include <windows.h>
#include <gtest/gtest.h>
#include "filelist/StatusBar.h"
#include "lang/LangTable.h"

TEST(StatusTexts, CountAndAllowanceInBothPacks)
{
    const ULONG NO_LIMIT = 4294967295UL, TWO_GB = 2147483648UL;
    const struct
    {
        const wchar_t* szPack;
        CStatusFigures figures;
        const wchar_t *szCountPart, *szSizePart, *szCount;
    } cases[] = {
        {L"en", {0, 0, TWO_GB, NO_LIMIT}, L"0 Selected Files", L"\t\t0.00KB/2.00GB", L"0"},
        {L"en", {3, 1536, 2048, 10}, L"3 Selected Files (Max 10)", L"\t\t1.50KB/0.50KB", L"3"},
        {L"en", {10000, 1048576, TWO_GB, 0}, L"10000 Selected Files (Max 0)", L"\t\t1.00MB/1.99GB", L"10000"},
        // MaxTotalFileSize lowered below the listed total: nothing remains, not a wrapped 4 GB.
        {L"en", {2, 5000, 4096, NO_LIMIT}, L"2 Selected Files", L"\t\t4.88KB/0.00KB", L"2"},
        {L"ko",
         {3, 1536, 2048, 10},
         L"\uD30C\uC77C \uAC1C\uC218: 3\uAC1C (\uCD5C\uB300 10\uAC1C)",
         L"\t\t1.50KB/0.50KB",
         L"3"},
        {L"ko", {0, 0, TWO_GB, NO_LIMIT}, L"\uD30C\uC77C \uAC1C\uC218: 0\uAC1C", L"\t\t0.00KB/2.00GB", L"0"},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i)
    {
        ASSERT_TRUE(PL5Lang::LoadLanguage(cases[i].szPack)) << "case " << i;
        const CStatusTexts texts = MakeStatusTexts(cases[i].figures);
        EXPECT_EQ(cases[i].szCountPart, texts.strCountPart) << "case " << i;
        EXPECT_EQ(cases[i].szSizePart, texts.strSizePart) << "case " << i;
        EXPECT_EQ(cases[i].szCount, texts.strCount) << "case " << i;
        EXPECT_EQ(L"\t\t" + texts.strUsed + L"/" + texts.strRemaining, texts.strSizePart) << "case " << i;
    }
}
