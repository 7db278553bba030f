// The process-wide language table as the control drives it: which code loads which pack, what
// a refused load keeps, the message caption, the upload guard and the refresh hook.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "lang/LangIds.h"
#include "lang/LangTable.h"
#include "tests/common/ListViewText.h"

namespace
{
// Leaves English texts and the default program title behind for the next test.
struct CLangReset
{
    ~CLangReset()
    {
        PL5Lang::SetProgramTitle(L"Pelora");
        PL5Lang::LoadLanguage(L"en");
    }
};
}  // namespace

TEST(LangTable, CodesChooseThePackAndRefusalsKeepTheTexts)
{
    CLangReset reset;
    PL5Lang::SetProgramTitle(L"Pelora");
    const struct
    {
        const wchar_t* szCode;
        bool bLoaded;
        const wchar_t* szCaption;  // the caption afterwards tells which pack is active
    } cases[] = {
        {L"KO", true, L"알림 - Pelora"},
        {L"en", true, L"Alert - Pelora"},
        {L"ko", true, L"알림 - Pelora"},
        // Unknown codes select the English pack, whose own code does not match them.
        {L"jp", false, L"알림 - Pelora"},
        {L"english", true, L"Alert - Pelora"},
        {L"korean", true, L"알림 - Pelora"},
        {L"", false, L"알림 - Pelora"},
        {nullptr, false, L"알림 - Pelora"},
        {L"e", false, L"알림 - Pelora"},
        // Full-width letters are not their ASCII counterparts.
        {L"\xFF45\xFF4E", false, L"알림 - Pelora"},
        {L"EN", true, L"Alert - Pelora"},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i)
    {
        EXPECT_EQ(cases[i].bLoaded, PL5Lang::LoadLanguage(cases[i].szCode)) << "case " << i;
        EXPECT_EQ(cases[i].szCaption, PL5Lang::MessageCaption()) << "case " << i;
        const bool bKorean = cases[i].szCaption[0] != L'A';
        EXPECT_EQ(bKorean ? L"파일 이름" : L"Name", PL5Lang::GetString(IDS_COLUMN_NAME)) << "case " << i;
        EXPECT_NE(nullptr, PL5Lang::FindMenu(IDM_CONTEXT)) << "case " << i;
        EXPECT_NE(nullptr, PL5Lang::FindDialog(IDD_UPLOAD)) << "case " << i;
    }
    // Ids that no pack has give nothing, and asking twice changes nothing.
    for (int nPass = 0; nPass < 2; ++nPass)
    {
        EXPECT_EQ(L"", PL5Lang::GetString(300)) << nPass;
        EXPECT_EQ(nullptr, PL5Lang::FindMenu(IDD_UPLOAD)) << nPass;
        EXPECT_EQ(nullptr, PL5Lang::FindDialog(IDM_CONTEXT)) << nPass;
    }
    // The English text of this stage is one space, not nothing.
    EXPECT_EQ(L" ", PL5Lang::GetString(IDS_STAGE_PROCESSING));
}

TEST(LangTable, CaptionTakesTheProgramTitleAtTheNextLoad)
{
    CLangReset reset;
    PL5Lang::SetProgramTitle(L"Pelora");
    ASSERT_TRUE(PL5Lang::LoadLanguage(L"en"));
    const struct
    {
        const wchar_t* szTitle;
        const wchar_t* szCode;
        const wchar_t* szBeforeLoad;
        const wchar_t* szAfterLoad;
    } cases[] = {
        {L"Uploader", L"en", L"Alert - Pelora", L"Alert - Uploader"},
        {L"", L"ko", L"Alert - Uploader", L"알림"},
        {nullptr, L"en", L"알림", L"Alert"},
        {L"Other", L"jp", L"Alert", L"Alert"},  // a failed load recomputes nothing
        {L"Pelora", L"ko", L"Alert", L"알림 - Pelora"},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i)
    {
        PL5Lang::SetProgramTitle(cases[i].szTitle);
        EXPECT_EQ(cases[i].szTitle ? cases[i].szTitle : L"", PL5Lang::ProgramTitle()) << "case " << i;
        EXPECT_EQ(cases[i].szBeforeLoad, PL5Lang::MessageCaption()) << "case " << i;
        PL5Lang::LoadLanguage(cases[i].szCode);
        EXPECT_EQ(cases[i].szAfterLoad, PL5Lang::MessageCaption()) << "case " << i;
    }
}

TEST(LangTable, NoPackChangeWhileAnUploadRuns)
{
    CLangReset reset;
    ASSERT_TRUE(PL5Lang::LoadLanguage(L"en"));
    const PL5Lang::CLangBlock* pDialog = PL5Lang::FindDialog(IDD_UPLOAD);
    PL5Lang::BeginUpload();
    PL5Lang::BeginUpload();
    EXPECT_FALSE(PL5Lang::LoadLanguage(L"ko"));
    PL5Lang::EndUpload();
    EXPECT_FALSE(PL5Lang::LoadLanguage(L"ko")) << "one of two uploads still runs";
    // The worker's texts and the template handed out stay as they were.
    EXPECT_EQ(L"Transfer cancelled", PL5Lang::GetString(IDS_UPLOAD_CANCELLED));
    EXPECT_EQ(pDialog, PL5Lang::FindDialog(IDD_UPLOAD));
    PL5Lang::EndUpload();
    EXPECT_TRUE(PL5Lang::LoadLanguage(L"ko"));
    // An unmatched end does not leave the next upload unguarded.
    PL5Lang::EndUpload();
    PL5Lang::BeginUpload();
    EXPECT_FALSE(PL5Lang::LoadLanguage(L"en"));
    PL5Lang::EndUpload();
}

// The refresh runs only after a pack became active, and sets the list's column titles.
TEST(LangTable, RefreshSetsTheColumnTitlesOfTheActivePack)
{
    CLangReset reset;
    INITCOMMONCONTROLSEX init = {sizeof(init), ICC_LISTVIEW_CLASSES};
    ASSERT_TRUE(InitCommonControlsEx(&init));
    HWND hList = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_POPUP | LVS_REPORT, 0, 0, 300, 200, nullptr, nullptr, nullptr,
                                 nullptr);
    ASSERT_NE(nullptr, hList);
    for (int i = 0; i < 2; ++i)
    {
        LVCOLUMNW column{LVCF_TEXT | LVCF_WIDTH, 0, 100, const_cast<wchar_t*>(L"-")};
        SendMessageW(hList, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
    int nRefreshes = 0;
    auto refresh = [&]() {
        ++nRefreshes;
        PL5Lang::ApplyColumnTitles(hList);
    };
    const struct
    {
        const wchar_t* szCode;
        bool bUploading;
        int nRefreshes;
        const wchar_t* szName;
        const wchar_t* szSize;
    } cases[] = {{L"ko", false, 1, L"파일 이름", L"파일크기"},
                 {L"jp", false, 1, L"파일 이름", L"파일크기"},
                 {L"en", true, 1, L"파일 이름", L"파일크기"},
                 {L"en", false, 2, L"Name", L"Size"}};
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i)
    {
        if (cases[i].bUploading)
            PL5Lang::BeginUpload();
        PL5Lang::LoadLanguage(cases[i].szCode, refresh);
        if (cases[i].bUploading)
            PL5Lang::EndUpload();
        EXPECT_EQ(cases[i].nRefreshes, nRefreshes) << "case " << i;
        const wchar_t* aszExpected[] = {cases[i].szName, cases[i].szSize};
        for (int nColumn = 0; nColumn < 2; ++nColumn)
            EXPECT_EQ(aszExpected[nColumn], ListColumnTitle(hList, nColumn)) << "case " << i << " column " << nColumn;
    }
    // A throwing refresh does not turn the load into a failure.
    EXPECT_TRUE(PL5Lang::LoadLanguage(L"ko", []() { throw 1; }));
    DestroyWindow(hList);
}
