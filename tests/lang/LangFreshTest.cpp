// A process in which no pack has been loaded yet: every lookup is empty, and a code without a
// pack does not change that.
#include <gtest/gtest.h>

#include "lang/LangIds.h"
#include "lang/LangTable.h"

TEST(LangTableFresh, NothingBeforeTheFirstSuccessfulLoad)
{
    for (const wchar_t* szCode : {L"jp", L"", L"x"})
    {
        EXPECT_FALSE(PL5Lang::LoadLanguage(szCode));
        EXPECT_EQ(L"", PL5Lang::GetString(IDS_COLUMN_NAME));
        EXPECT_EQ(L"", PL5Lang::GetString(IDS_STATUS_COUNT));
        EXPECT_EQ(L"", PL5Lang::MessageCaption());
        EXPECT_EQ(nullptr, PL5Lang::FindMenu(IDM_CONTEXT));
        EXPECT_EQ(nullptr, PL5Lang::FindDialog(IDD_UPLOAD));
        EXPECT_EQ(nullptr, PL5Lang::FindDialog(IDD_FILE_PANEL));
    }
    EXPECT_EQ(L"Pelora", PL5Lang::ProgramTitle());
    ASSERT_TRUE(PL5Lang::LoadLanguage(L"ko"));
    EXPECT_EQ(L"\xC54C\xB9BC - Pelora", PL5Lang::MessageCaption());
    EXPECT_NE(nullptr, PL5Lang::FindMenu(IDM_CONTEXT));
}
