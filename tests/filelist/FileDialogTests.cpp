// The file dialogs worked as a user works them: type the folder to go there, type quoted
// names, press Open or Cancel; and what the dialog offers: filters, the pack's panel, resizing.
#include "tests/common/FakeScriptArray.h"
#include "tests/filelist/FileListTestSupport.h"

namespace
{
std::vector<CComVariant> Texts(std::vector<const wchar_t*> texts)
{
    std::vector<CComVariant> vars;
    for (const wchar_t* sz : texts)
        vars.emplace_back(sz);
    return vars;
}
}  // namespace

namespace
{
// The control's message boxes the watcher has answered. (The file dialog, which the user's
// thread answers, may come and go between two of the watcher's looks.)
std::vector<CSeenDialog> Boxes(const CDialogWatcher& watcher)
{
    std::vector<CSeenDialog> boxes;
    for (const CSeenDialog& dialog : watcher.Seen())
        if (dialog.strCaption == L"Alert - Pelora")
            boxes.push_back(dialog);
    return boxes;
}
}  // namespace

TEST(OpenFile, TypedNamesArriveAsFolderPlusNameInTheDialogsOrder)
{
    CTempFolder folder;
    for (const wchar_t* sz : {L"a.txt", L"b.txt", L"c.txt"})
        folder.File(sz, 10);
    const struct
    {
        const wchar_t* szTyped;  // null: Cancel
        std::vector<std::wstring> expected;
    } cases[] = {
        {L"\"c.txt\" \"a.txt\" \"b.txt\"", {L"c.txt", L"a.txt", L"b.txt"}}, {L"b.txt", {L"b.txt"}}, {nullptr, {}}};
    for (const auto& c : cases)
    {
        CDialogWatcher watcher(PressOkInBoxes);
        CRecordingSink sink;
        CComPtr<IPL5Ctrl> p = NewControl(&sink);
        CFileDialogUser user(
            c.szTyped ? std::vector<std::wstring>{folder.Path(), c.szTyped} : std::vector<std::wstring>{}, !c.szTyped);
        EXPECT_EQ(S_OK, p->OpenFile(nullptr));
        EXPECT_FALSE(user.Seen().bLeftOpen);
        EXPECT_EQ(c.expected, Names(p));
        EXPECT_EQ(c.expected.size() * 2, sink.calls.size());
        EXPECT_TRUE(Boxes(watcher).empty());  // no message
        for (LONG n = 0; n < static_cast<LONG>(c.expected.size()); ++n)
        {
            CComBSTR bstr;
            p->get_GetFileName(n, &bstr);
            EXPECT_EQ(folder.Path() + L"\\" + c.expected[n], bstr.Get());
        }
    }
}

TEST(OpenFile, OffersThePanelResizingAndThePagesFilters)
{
    std::vector<const wchar_t*> many;
    std::vector<std::wstring> manyNames;
    for (int n = 0; n < 1005; ++n)  // every element counts, also past a thousand
        manyNames.push_back(L"F" + std::to_wstring(n));
    for (const std::wstring& s : manyNames)
        many.push_back(s.c_str());
    const struct
    {
        const wchar_t* szLanguage;
        std::vector<CComVariant> names, patterns;
        bool bArrays;
        std::vector<std::wstring> expected;
    } cases[] = {
        {L"en", {}, {}, false, {L"All files"}},
        {L"ko", {}, {}, false, {L"모든 파일"}},
        {L"en", Texts({L"Text"}), Texts({L"*.txt"}), false, {L"Text"}},
        {L"en", Texts({L"Text"}), {CComVariant()}, false, {L"All files"}},
        {L"en", Texts({L"Text", L"Pictures"}), Texts({L"*.txt", L"*.png;*.jpg"}), true, {L"Text", L"Pictures"}},
        {L"en", Texts({L"A", L"B"}), Texts({L"*.a", L"*.b", L"*.c"}), true, {L"All files"}},  // lengths differ
        {L"en", {CComVariant(L"A"), CComVariant()}, Texts({L"*.a", L"*.b"}), true, {L"A"}},   // B is no string
        {L"en", Texts(many), Texts(std::vector<const wchar_t*>(many.size(), L"*.f")), true, manyNames},
    };
    int i = 0;
    for (const auto& c : cases)
    {
        CComPtr<IPL5Ctrl> p = NewControl(nullptr, c.szLanguage);
        if (c.bArrays)
            p->AppendFilter(Object(ArrayOf(c.names)), Object(ArrayOf(c.patterns)));
        else if (!c.names.empty())
            p->AppendFilter(c.names[0], c.patterns[0]);
        CFileDialogUser user({}, true);
        p->OpenFile(nullptr);
        const CSeenFileDialog& seen = user.Seen();
        EXPECT_EQ(c.expected, seen.filters) << "case " << i;
        EXPECT_TRUE(seen.bResizable);
        EXPECT_NE(seen.texts.end(), std::find(seen.texts.begin(), seen.texts.end(),
                                              c.szLanguage[0] == L'e' ? L"Multiple files can be selected"
                                                                      : L"여러개의 파일을 동시에 선택할 수 있습니다."));
        p->ClearFilter();  // brings the catch-all back
        CFileDialogUser again({}, true);
        p->OpenFile(nullptr);
        EXPECT_EQ(1u, again.Seen().filters.size());
        ++i;
    }
}

TEST(OpenFile, OneBatchMeetsTheLimitsTogether)
{
    CTempFolder folder;
    folder.File(L"small.txt", 100);
    folder.File(L"veto.txt", 200);
    folder.File(L"big.bin", 5000);
    const struct
    {
        ULONG nMaxUnit, nMaxTotal, nMaxCount;
        std::vector<std::wstring> expectedNames;
        const wchar_t* szExpectedBox;
    } cases[] = {
        // The oversize file is reported once, after the page was asked about the others.
        {1000,
         2147483648UL,
         4294967295UL,
         {L"small.txt"},
         L"Too large file selected.\nThe size of individual files of 0.97KB of Choice\n\nExcept for the following "
         L"file :\n\n   big.bin (4.88KB)\n"},
        // Over the total: nothing of the batch, though small.txt alone would fit.
        {2147483648UL,
         5000,
         4294967295UL,
         {},
         L"Max upload limit exceeded.\n\n  Maximum possible size: 4.88KB\n  Already selected size: 0.00KB\n  Still "
         L"selectable size: 4.88KB\n  Current selected size: 4.98KB\n"},
        {2147483648UL,
         2147483648UL,
         0,
         {},
         L"Too many files selected :\n\n  Maximum possible number: 0\n  Already selected files: 0\n  Still "
         L"selectable files: 0\n  Current selected files: 2"},
    };
    for (const auto& c : cases)
    {
        CDialogWatcher watcher(PressOkInBoxes);
        CRecordingSink sink;
        size_t nBoxesWhenAsked = 0;
        sink.onCall = [&](DISPID, VARIANT* pResult) {  // vetoes veto.txt
            nBoxesWhenAsked += Boxes(watcher).size();
            pResult->vt = VT_BOOL;
            pResult->boolVal = sink.calls.size() == 2 ? VARIANT_FALSE : VARIANT_TRUE;
        };
        CComPtr<IPL5Ctrl> p = NewControl(&sink);
        p->put_MaxUnitFileSize(c.nMaxUnit);
        p->put_MaxTotalFileSize(c.nMaxTotal);
        p->put_MaxFileCount(c.nMaxCount);
        CFileDialogUser user({folder.Path(), L"\"small.txt\" \"veto.txt\" \"big.bin\""}, false);
        p->OpenFile(nullptr);
        EXPECT_EQ(0u, nBoxesWhenAsked);
        EXPECT_EQ(c.expectedNames, Names(p));
        const std::vector<CSeenDialog> seen = Boxes(watcher);
        ASSERT_EQ(1u, seen.size());
        EXPECT_EQ(c.szExpectedBox, seen[0].MessageText());
    }
}

TEST(OpenFile, ASelectionLongerThanTheFirstBufferArrivesWhole)
{
    CTempFolder folder;
    std::wstring strTyped;
    for (int n = 100; n < 160; ++n)  // about 12,000 characters of names
    {
        const std::wstring strName = std::wstring(190, L'x') + std::to_wstring(n) + L".txt";
        strTyped += L"\"" + strName + L"\" ";
        folder.File(strName, 1);
    }
    CComPtr<IPL5Ctrl> p = NewControl();
    CFileDialogUser user({folder.Path(), strTyped}, false);
    p->OpenFile(nullptr);
    EXPECT_FALSE(user.Seen().bLeftOpen);
    const std::vector<std::wstring> names = Names(p);
    ASSERT_EQ(60u, names.size());
    EXPECT_EQ(std::wstring(190, L'x') + L"159.txt", names.back());
}

TEST(SelectSingleFile, GivesTheChosenPathAndLeavesTheList)
{
    CTempFolder folder;
    const std::wstring strFile = folder.File(L"one.txt", 1);
    for (bool bCancel : {false, true})
    {
        CComPtr<IPL5Ctrl> p = NewControl();
        CFileDialogUser user(std::vector<std::wstring>(bCancel ? 0 : 1, strFile), bCancel);
        CComVariant result;
        EXPECT_EQ(S_OK, p->SelectSingleFile(CComBSTR(L"Text"), CComBSTR(bCancel ? L"" : L"*.txt"), &result));
        EXPECT_EQ(std::vector<std::wstring>{bCancel ? L"All files" : L"Text"}, user.Seen().filters);
        EXPECT_EQ(bCancel ? VT_EMPTY : VT_BSTR, result.vt);
        EXPECT_EQ(bCancel ? L"" : strFile, result.vt == VT_BSTR ? result.bstrVal : L"");
        EXPECT_TRUE(Names(p).empty());
    }
}
