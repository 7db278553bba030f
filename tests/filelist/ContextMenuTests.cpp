// The right-click menu's offer for the selection as it is, on the real menu of the pack: what
// is grayed with no, one or two rows selected, with a temporary entry, and with a file that a
// script listed (which ExcuteLocalFile would refuse to open).
#include <windows.h>
#include <gtest/gtest.h>
#include "control/PL5Ctrl.h"
#include "filelist/ContextMenu.h"
#include "tests/filelist/FileListTestSupport.h"
#include "lang/LangIds.h"
#include "lang/LangTable.h"
#include "ptl/Handle.h"
#include "tests/common/InProcessControl.h"

TEST(ContextMenu, GraysWhatCannotActForTheSelection)
{
    CTempFolder folder;
    const std::wstring chosen = folder.File(L"chosen.txt", 5), scripted = folder.File(L"scripted.txt", 7);
    PTL::CComPtr<IPL5Ctrl> p = NewInProcessControl();
    auto* pCtrl = static_cast<CPL5Ctrl*>(p.Get());
    p->put_Language(PTL::CComBSTR(L"en"));
    // Rows: 0 and 1 chosen by the user (as a drop or the dialog lists them), 2 listed by script,
    // 3 a temporary entry.
    ASSERT_TRUE(pCtrl->AddFiles({chosen, chosen}, L"file", true));
    p->AddFile(PTL::CComBSTR(scripted.c_str()), nullptr);
    p->AddTempFile(PTL::CComBSTR(L"remote.txt"), 10, PTL::CComBSTR(L"id1"));
    ASSERT_EQ(4u, pCtrl->MainList().List().Count());

    const struct
    {
        std::vector<LONG> selected;
        bool bRemoveSelected, bExecute;
    } cases[] = {
        {{}, false, false},    {{0}, true, true},  {{1}, true, true},
        {{0, 1}, true, false}, {{2}, true, false},  // listed by script: not opened at the page's word
        {{3}, true, false},                         // temporary
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i)
    {
        for (LONG n = 0; n < 4; ++n)
            p->put_SelectState(n, VARIANT_FALSE);
        for (LONG n : cases[i].selected)
            p->put_SelectState(n, VARIANT_TRUE);
        const PL5Lang::CLangBlock* pBlock = PL5Lang::FindMenu(IDM_CONTEXT);
        ASSERT_TRUE(pBlock);
        const PTL::CMenuHandle menu(LoadMenuIndirectW(pBlock->data.data()));
        const HMENU hPopup = GetSubMenu(menu.Get(), 0);
        ApplyMenuState(hPopup, pCtrl->ListMenuState());
        const auto enabled = [hPopup](UINT nId) { return !(GetMenuState(hPopup, nId, MF_BYCOMMAND) & MF_GRAYED); };
        EXPECT_TRUE(enabled(ID_ADD_FILE)) << "case " << i;
        EXPECT_TRUE(enabled(ID_REMOVE_ALL)) << "case " << i;
        EXPECT_EQ(cases[i].bRemoveSelected, enabled(ID_REMOVE_SELECTED)) << "case " << i;
        EXPECT_EQ(cases[i].bExecute, enabled(ID_EXECUTE_FILE)) << "case " << i;
    }
}
