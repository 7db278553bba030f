// The process-wide language table as the control drives it: which code loads which pack, what
// a refused load keeps, the message caption, the upload guard and the refresh hook.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "lang/LangIds.h"
#include "lang/LangTable.h"
#include "lang/LangTestUtil.h"

using namespace PL5Test;

namespace
{
// Restores the default program title and English texts after a test that changed them.
struct CLangReset
{
    ~CLangReset()
    {
        while (PL5Lang::LoadLanguage(L"en") == false && ++nGuard < 8)
            PL5Lang::EndUpload();
        PL5Lang::SetProgramTitle(L"Pelora");
    }
    int nGuard = 0;
};
} // namespace

TEST(LangTable, CodesChooseThePackAndRefusalsKeepTheTexts)
{
    CLangReset reset;
    PL5Lang::SetProgramTitle(L"Pelora");
    const struct
    {
        const wchar_t* szCode;
        bool bLoaded;
        const wchar_t* szColumn;  // string 101 afterwards
        const wchar_t* szCaption;
    } cases[] = {
        {L"KO", true, L"파일 이름", L"알림 - Pelora"},
        {L"en", true, L"Name", L"Alert - Pelora"},
        {L"ko", true, L"파일 이름", L"알림 - Pelora"},
        // Unknown codes select the English pack, whose own code does not match them.
        {L"jp", false, L"파일 이름", L"알림 - Pelora"},
        {L"english", true, L"Name", L"Alert - Pelora"},
        {L"korean", true, L"파일 이름", L"알림 - Pelora"},
        {L"", false, L"파일 이름", L"알림 - Pelora"},
        {nullptr, false, L"파일 이름", L"알림 - Pelora"},
        {L"e", false, L"파일 이름", L"알림 - Pelora"},
        // Full-width letters are not their ASCII counterparts.
        {L"\xFF45\xFF4E", false, L"파일 이름", L"알림 - Pelora"},
        {L"EN", true, L"Name", L"Alert - Pelora"},
        {L"kO-kr", true, L"파일 이름", L"알림 - Pelora"},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i)
    {
        EXPECT_EQ(cases[i].bLoaded, PL5Lang::LoadLanguage(cases[i].szCode)) << "case " << i;
        EXPECT_EQ(Narrow(cases[i].szColumn), Narrow(PL5Lang::GetString(IDS_COLUMN_NAME))) << "case " << i;
        EXPECT_EQ(Narrow(cases[i].szCaption), Narrow(PL5Lang::MessageCaption())) << "case " << i;
        EXPECT_NE(nullptr, PL5Lang::FindMenu(IDM_CONTEXT)) << "case " << i;
        EXPECT_NE(nullptr, PL5Lang::FindDialog(IDD_UPLOAD)) << "case " << i;
    }
}

TEST(LangTable, LookupsOfAbsentIdsGiveNothing)
{
    CLangReset reset;
    ASSERT_TRUE(PL5Lang::LoadLanguage(L"en"));
    for (int nPass = 0; nPass < 2; ++nPass)
    {
        EXPECT_EQ(L"", PL5Lang::GetString(300)) << nPass;
        EXPECT_EQ(nullptr, PL5Lang::FindMenu(IDD_UPLOAD)) << nPass;
        EXPECT_EQ(nullptr, PL5Lang::FindDialog(IDM_CONTEXT)) << nPass;
    }
    // The English status text of this stage is a single space, not nothing.
    EXPECT_EQ(L" ", PL5Lang::GetString(IDS_STAGE_PROCESSING));
    const PL5Lang::CLangBlock* pMenu = PL5Lang::FindMenu(IDM_CONTEXT);
    ASSERT_NE(nullptr, pMenu);
    EXPECT_FALSE(pMenu->data.empty());
    // A successful load of the same pack gives the same texts again.
    ASSERT_TRUE(PL5Lang::LoadLanguage(L"EN"));
    EXPECT_EQ(L"Alert", PL5Lang::GetString(IDS_MESSAGE_CAPTION));
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
        // A failed load recomputes nothing.
        {L"Other", L"jp", L"Alert", L"Alert"},
        {L"Pelora", L"ko", L"Alert", L"알림 - Pelora"},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i)
    {
        PL5Lang::SetProgramTitle(cases[i].szTitle);
        EXPECT_EQ(Narrow(cases[i].szTitle ? cases[i].szTitle : L""), Narrow(PL5Lang::ProgramTitle()))
            << "case " << i;
        EXPECT_EQ(Narrow(cases[i].szBeforeLoad), Narrow(PL5Lang::MessageCaption())) << "case " << i;
        PL5Lang::LoadLanguage(cases[i].szCode);
        EXPECT_EQ(Narrow(cases[i].szAfterLoad), Narrow(PL5Lang::MessageCaption())) << "case " << i;
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
    // The worker's table and the blocks handed out stay as they were.
    EXPECT_EQ(L"Transfer cancelled", PL5Lang::GetString(IDS_UPLOAD_CANCELLED));
    EXPECT_EQ(pDialog, PL5Lang::FindDialog(IDD_UPLOAD));
    PL5Lang::EndUpload();
    EXPECT_TRUE(PL5Lang::LoadLanguage(L"ko"));
    // An unmatched end does not leave the next upload unguarded.
    PL5Lang::EndUpload();
    PL5Lang::BeginUpload();
    EXPECT_FALSE(PL5Lang::LoadLanguage(L"en"));
    PL5Lang::EndUpload();
    EXPECT_TRUE(PL5Lang::LoadLanguage(L"en"));
}

TEST(LangTable, RefreshRunsOnlyWhenAPackBecameActive)
{
    CLangReset reset;
    std::vector<std::wstring> seen;
    auto refresh = [&seen]() { seen.push_back(PL5Lang::GetString(IDS_COLUMN_NAME)); };
    PL5Lang::LoadLanguage(L"ko", refresh);
    PL5Lang::LoadLanguage(L"jp", refresh);
    PL5Lang::LoadLanguage(L"en", refresh);
    PL5Lang::BeginUpload();
    PL5Lang::LoadLanguage(L"ko", refresh);
    PL5Lang::EndUpload();
    // A throwing refresh does not turn the load into a failure.
    EXPECT_TRUE(PL5Lang::LoadLanguage(L"en", []() { throw 1; }));
    EXPECT_EQ((std::vector<std::wstring>{L"파일 이름", L"Name"}), seen);
}

TEST(LangTable, ColumnTitlesFollowThePack)
{
    CLangReset reset;
    INITCOMMONCONTROLSEX init = {sizeof(init), ICC_LISTVIEW_CLASSES};
    ASSERT_TRUE(InitCommonControlsEx(&init));
    HWND hList = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_POPUP | LVS_REPORT, 0, 0, 300, 200,
                                 nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, hList);
    for (int i = 0; i < 2; ++i)
    {
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.cx = 100;
        column.pszText = const_cast<wchar_t*>(L"x");
        SendMessageW(hList, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
    const struct
    {
        const wchar_t* szCode;
        const wchar_t* szName;
        const wchar_t* szSize;
    } cases[] = {{L"ko", L"파일 이름", L"파일크기"}, {L"en", L"Name", L"Size"}};
    for (size_t i = 0; i < 2; ++i)
    {
        ASSERT_TRUE(PL5Lang::LoadLanguage(cases[i].szCode, [hList]() { PL5Lang::ApplyColumnTitles(hList); }));
        const wchar_t* aszExpected[] = {cases[i].szName, cases[i].szSize};
        for (int nColumn = 0; nColumn < 2; ++nColumn)
        {
            wchar_t szText[64] = {};
            LVCOLUMNW column{};
            column.mask = LVCF_TEXT;
            column.pszText = szText;
            column.cchTextMax = 64;
            SendMessageW(hList, LVM_GETCOLUMNW, nColumn, reinterpret_cast<LPARAM>(&column));
            EXPECT_EQ(Narrow(aszExpected[nColumn]), Narrow(szText)) << "case " << i << " column " << nColumn;
        }
    }
    DestroyWindow(hList);
}
