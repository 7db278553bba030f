// The file dialogs worked as a user works them: navigate by typing the folder, type quoted
// names, press Open or Cancel; and what the dialog offers (filters, the pack's panel).
#include "filelist/FileDialogUser.h"
#include "filelist/FileListTestSupport.h"

using PTL::CComBSTR;
using PTL::CComPtr;
using PTL::CComVariant;

namespace
{
bool Contains(const std::vector<std::wstring>& texts, const wchar_t* sz)
{
    for (const std::wstring& s : texts)
        if (s == sz)
            return true;
    return false;
}
} // namespace

TEST(OpenFile, TypedNamesAreListedInOrderAsFolderPlusName)
{
    CTempFolder folder;
    folder.File(L"a.txt", 10);
    folder.File(L"b.txt", 20);
    folder.File(L"c.txt", 30);
    const struct
    {
        const wchar_t* szTyped;
        std::vector<std::wstring> expected;
    } cases[] = {
        {L"\"c.txt\" \"a.txt\" \"b.txt\"", {L"c.txt", L"a.txt", L"b.txt"}},
        {L"b.txt", {L"b.txt"}},
    };
    int i = 0;
    for (const auto& c : cases)
    {
        CRecordingSink sink;
        CComPtr<IPL5Ctrl> p = NewControl(&sink);
        CFileDialogUser user({folder.Path(), c.szTyped}, false);
        EXPECT_EQ(S_OK, p->OpenFile(CComBSTR(L"")));
        EXPECT_FALSE(user.Seen().bLeftOpen) << "case " << i;
        EXPECT_EQ(c.expected, Names(p)) << "case " << i;
        for (LONG n = 0; n < static_cast<LONG>(c.expected.size()); ++n)
        {
            CComBSTR bstr;
            p->get_GetFileName(n, &bstr);
            EXPECT_EQ(folder.Path() + L"\\" + c.expected[n], std::wstring(bstr.Get())) << "case " << i;
        }
        ++i;
    }
}

TEST(OpenFile, CancelAddsNothingAndSaysNothing)
{
    CRecordingSink sink;
    CComPtr<IPL5Ctrl> p = NewControl(&sink);
    CDialogWatcher watcher(PressOkInBoxes);
    CFileDialogUser user({}, true);
    EXPECT_EQ(S_OK, p->OpenFile(nullptr));
    EXPECT_TRUE(user.Seen().bFound);
    EXPECT_TRUE(Names(p).empty());
    EXPECT_TRUE(sink.calls.empty());
    EXPECT_EQ(1u, watcher.Seen().size());  // the file dialog alone
}

TEST(OpenFile, OffersThePanelTheFiltersAndResizing)
{
    const struct
    {
        const wchar_t* szLanguage;
        std::vector<std::pair<CComVariant, CComVariant>> appended;
        std::vector<std::wstring> expected;
    } cases[] = {
        {L"en", {}, {L"All files"}},
        {L"ko", {}, {L"\uBAA8\uB4E0 \uD30C\uC77C"}},
        {L"en", {{CComVariant(L"Text"), CComVariant(L"*.txt")}, {CComVariant(L"Pictures"), CComVariant(L"*.png;*.jpg")}},
         {L"Text", L"Pictures"}},
        {L"en", {{CComVariant(L"Text"), CComVariant()}}, {L"All files"}},  // not two strings: nothing
    };
    int i = 0;
    for (const auto& c : cases)
    {
        CComPtr<IPL5Ctrl> p = NewControl(nullptr, c.szLanguage);
        for (const auto& pair : c.appended)
            p->AppendFilter(pair.first, pair.second);
        CFileDialogUser user({}, true);
        p->OpenFile(nullptr);
        const CSeenFileDialog& seen = user.Seen();
        EXPECT_EQ(c.expected, seen.filters) << "case " << i;
        EXPECT_TRUE(seen.bResizable) << "case " << i;
        if (i == 0)
            EXPECT_TRUE(Contains(seen.texts, L"Multiple files can be selected")) << Narrow(seen.texts[0]);
        ++i;
    }
    // ClearFilter brings the catch-all back.
    CComPtr<IPL5Ctrl> p = NewControl();
    p->AppendFilter(CComVariant(L"Text"), CComVariant(L"*.txt"));
    p->ClearFilter();
    CFileDialogUser user({}, true);
    p->OpenFile(nullptr);
    EXPECT_EQ(std::vector<std::wstring>{L"All files"}, user.Seen().filters);
}
