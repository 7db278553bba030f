// The file list through COM as a page uses it: AddFile and AddTempFile against the limits with
// real files, the veto events, the getters, removal, moving, and the boxes the user reads.
#include "tests/filelist/FileListTestSupport.h"

namespace
{
const ULONGLONG GIB = 1073741824ull;

std::vector<LONG> SelectedRows(IPL5Ctrl* p)
{
    std::vector<LONG> rows;
    for (LONG i = 0; i < static_cast<LONG>(Names(p).size()); ++i)
    {
        VARIANT_BOOL vb = VARIANT_FALSE;
        p->get_SelectState(i, &vb);
        if (vb == VARIANT_TRUE)
            rows.push_back(i);
    }
    return rows;
}

// Each event as "dispid:first argument" (a path by its file name).
std::vector<std::wstring> Events(const CRecordingSink& sink)
{
    std::vector<std::wstring> events;
    for (const auto& call : sink.calls)
    {
        CComVariant first = call.args.empty() ? CComVariant() : call.args.back();
        first.ChangeType(VT_BSTR);
        const std::wstring strArg = first.vt == VT_BSTR ? first.bstrVal : L"";
        events.push_back(std::to_wstring(call.dispid) + (call.args.empty() ? L"" : L":") +
                         strArg.substr(strArg.find_last_of(L'\\') + 1));
    }
    return events;
}

// The listed total as the page can see it: whether nSize more bytes fit (the probe is taken out).
bool Fits(IPL5Ctrl* p, ULONG nSize)
{
    const UINT nCount = static_cast<UINT>(Names(p).size());
    const bool bFits = p->AddTempFile(CComBSTR(L"probe"), nSize, nullptr) == S_OK;
    p->RemoveFromIndex(nCount);
    return bFits;
}
}  // namespace

TEST(AddFile, LimitsAtTheirEdgesAndTheBoxesInEitherPack)
{
    CTempFolder folder;
    const std::wstring strTooLarge = L"Too large file selected.\nThe size of individual files of ";
    const struct
    {
        const wchar_t* szLanguage;
        ULONG nMaxUnit, nMaxTotal;
        ULONGLONG nFileSize;
        LONG nListedSize;     // -1 (left untouched): not listed
        std::wstring strBox;  // empty: no box, the file is listed
    } cases[] = {
        {L"en", 100, 2147483648UL, 100, 100, L""},
        {L"en", 100, 2147483648UL, 101, -1,
         strTooLarge + L"0.09KB of Choice\n\nExcept for the following file :\n\n   f.bin (0.09KB)\n"},
        {L"en", 0, 2147483648UL, 0, 0, L""},  // 0 lets only empty files through
        {L"en", 0, 2147483648UL, 1, -1,
         strTooLarge + L"0.00KB of Choice\n\nExcept for the following file :\n\n   f.bin (0.00KB)\n"},
        {L"en", 2147483648UL, 2147483648UL, 2 * GIB, LONG(0x80000000), L""},
        {L"en", 2147483648UL, 2147483648UL, 2 * GIB + 1, -1,
         strTooLarge + L"2.00GB of Choice\n\nExcept for the following file :\n\n   f.bin (2.00GB)\n"},
        // 4 GiB and more never pass for their low 32 bits.
        {L"en", 2147483648UL, 2147483648UL, 4 * GIB + 10, -1,
         strTooLarge + L"2.00GB of Choice\n\nExcept for the following file :\n\n   f.bin (4.00GB)\n"},
        {L"ko", 100, 100, 101, -1,
         L"제한된 파일 용량이 초과됩니다.\n선택 가능한 개별 파일의 크기는 0.09KB입니다.\n\n다음 파일을 제외 합니다 "
         L":\n\n   f.bin (0.09KB)\n"},
        {L"ko", 2147483648UL, 100, 101, -1,
         L"선택 가능한 전체 파일 용량을 초과하였습니다.\n\n  최대 선택 가능한 용량: 0.09KB\n  이미 선택된 파일 용량: "
         L"0.00KB\n  현재 선택 가능한 용량: 0.09KB\n  현재 선택한 파일 용량: 0.09KB\n"},
    };
    int i = 0;
    for (const auto& c : cases)
    {
        const std::wstring strPath = folder.File(L"f.bin", c.nFileSize);
        CDialogWatcher watcher(PressOkInBoxes);
        CRecordingSink sink;
        CComPtr<IPL5Ctrl> p = NewControl(&sink, c.szLanguage);
        p->put_MaxUnitFileSize(c.nMaxUnit);
        p->put_MaxTotalFileSize(c.nMaxTotal);
        EXPECT_EQ(S_OK, p->AddFile(CComBSTR(strPath.c_str()), nullptr));
        LONG nSize = -1;
        p->get_GetFileSize(0, &nSize);
        EXPECT_EQ(c.nListedSize, nSize) << "case " << i;
        const std::vector<CSeenDialog> seen = watcher.Seen();
        ASSERT_EQ(c.strBox.empty() ? 0u : 1u, seen.size()) << "case " << i;
        if (!seen.empty())
        {
            EXPECT_EQ(c.strBox, seen[0].MessageText()) << "case " << i;
            EXPECT_EQ(c.szLanguage[0] == L'k' ? L"알림 - Pelora" : L"Alert - Pelora", seen[0].strCaption);
        }
        // Oversize files are not offered to the page.
        const std::vector<std::wstring> asked = {L"1:f.bin"}, listed = {L"1:f.bin", L"2:f.bin"};
        EXPECT_EQ(c.strBox.empty()            ? listed
                  : c.nFileSize <= c.nMaxUnit ? asked
                                              : std::vector<std::wstring>(),
                  Events(sink))
            << "case " << i;
        ++i;
    }
}

TEST(AddFile, WhatCannotBeReadIsSkippedSilently)
{
    CTempFolder folder;
    const std::wstring strLocked = folder.File(L"locked.txt", 5), strWriting = folder.File(L"writing.txt", 7);
    PTL::CKernelHandle locked(CreateFileW(strLocked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    PTL::CKernelHandle writing(CreateFileW(strWriting.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, OPEN_EXISTING, 0, nullptr));
    CDialogWatcher watcher(PressOkInBoxes);
    CRecordingSink sink;
    CComPtr<IPL5Ctrl> p = NewControl(&sink);
    // Missing, a folder, a device, locked against readers, too long for an entry; and a file
    // that another program is writing, which is still measured alongside it.
    for (const std::wstring& strPath : {folder.Path() + L"\\missing.txt", folder.Folder(L"sub"), std::wstring(L"NUL"),
                                        strLocked, folder.Path() + L"\\" + std::wstring(300, L'y'), strWriting})
        p->AddFile(CComBSTR(strPath.c_str()), nullptr);
    locked.Close();
    writing.Close();
    EXPECT_EQ((std::vector<std::wstring>{L"1:writing.txt", L"2:writing.txt"}), Events(sink));
    EXPECT_TRUE(watcher.Seen().empty());
}

TEST(AddFile, AnyBooleanButTrueVetoesAndOtherTypesDoNot)
{
    CTempFolder folder;
    const std::wstring strPath = folder.File(L"a.txt", 3);
    // (false from a page's handler is the veto page's case.)
    for (const auto& c : {std::make_pair(VT_I4, 0L), std::make_pair(VT_BOOL, 1L)})
    {
        CRecordingSink sink;
        sink.onCall = Returns(c.first, c.second);
        CComPtr<IPL5Ctrl> p = NewControl(&sink);
        p->AddFile(CComBSTR(strPath.c_str()), nullptr);
        p->AddFile(CComBSTR(strPath.c_str()), nullptr);  // the same path twice is two entries
        const bool bKept = c.first == VT_I4;             // no boolean: no veto
        EXPECT_EQ(bKept ? (std::vector<std::wstring>{L"1:a.txt", L"2:a.txt", L"1:a.txt", L"2:a.txt"})
                        : (std::vector<std::wstring>{L"1:a.txt", L"1:a.txt"}),
                  Events(sink));
        EXPECT_EQ(bKept ? 2u : 0u, Names(p).size());
    }
}

TEST(AddTempFile, RefusesWithSFalseAndTouchesNothing)
{
    const struct
    {
        ULONG nMaxCount, nMaxUnit, nMaxTotal, nSize;
        HRESULT hrExpected;
    } cases[] = {
        {1, 2147483648UL, 2147483648UL, 0, S_FALSE},  // already MaxFileCount entries
        {2, 100, 2147483648UL, 100, S_OK},
        {2, 100, 2147483648UL, 101, S_FALSE},
        {2, 2147483648UL, 150, 51, S_FALSE},  // 100 listed + 51 > 150
        {2, 2147483648UL, 150, 50, S_OK},
    };
    int i = 0;
    for (const auto& c : cases)
    {
        CDialogWatcher watcher(PressOkInBoxes);
        CRecordingSink sink;
        CComPtr<IPL5Ctrl> p = NewControl(&sink);
        p->AddTempFile(CComBSTR(L"first.jpg"), 100, nullptr);
        p->put_MaxFileCount(c.nMaxCount);
        p->put_MaxUnitFileSize(c.nMaxUnit);
        p->put_MaxTotalFileSize(c.nMaxTotal);
        EXPECT_EQ(c.hrExpected, p->AddTempFile(CComBSTR(L"Z:\\no\\such.jpg"), c.nSize, CComBSTR(L"id-7")))
            << "case " << i;
        EXPECT_EQ(c.hrExpected == S_OK ? 2u : 1u, Names(p).size()) << "case " << i;
        EXPECT_TRUE(sink.calls.empty() && watcher.Seen().empty());
        ++i;
    }
    // An id marks a temporary entry; child mode takes none.
    CComPtr<IPL5Ctrl> p = NewControl();
    p->AddTempFile(CComBSTR(L"plain.jpg"), 5, nullptr);
    p->AddTempFile(CComBSTR(L"Z:\\x\\temp.jpg"), 6, CComBSTR(L"id-7"));
    p->put_ChildMode(VARIANT_TRUE);
    p->AddTempFile(CComBSTR(L"more.jpg"), 1, CComBSTR(L"id"));
    VARIANT_BOOL vbPlain = VARIANT_TRUE, vbTemp = VARIANT_FALSE;
    CComBSTR bstrId;
    p->get_IsTempFile(0, &vbPlain);
    p->get_IsTempFile(1, &vbTemp);
    p->get_GetFileID(1, &bstrId);
    EXPECT_EQ(VARIANT_FALSE, vbPlain);
    EXPECT_EQ(VARIANT_TRUE, vbTemp);
    EXPECT_EQ(std::wstring(L"id-7"), bstrId.Get());
    EXPECT_EQ((std::vector<std::wstring>{L"plain.jpg", L"temp.jpg"}), Names(p));
}

TEST(Getters, OutOfRangeIndicesAreHarmlessAndOnlyTrueSelects)
{
    CComPtr<IPL5Ctrl> p = NewControl();
    p->AddTempFile(CComBSTR(L"a.jpg"), 5, CComBSTR(L"id"));
    for (LONG n : {-1L, 1L, 0x7FFFFFFFL})
    {
        CComBSTR bstrName, bstrId;
        VARIANT_BOOL vbTemp = VARIANT_TRUE, vbSelected = VARIANT_TRUE;
        LONG nSize = 12345;
        p->put_SelectState(n, VARIANT_TRUE);
        p->get_GetFileName(n, &bstrName), p->get_GetFileID(n, &bstrId), p->get_GetFileSize(n, &nSize);
        p->get_IsTempFile(n, &vbTemp), p->get_SelectState(n, &vbSelected);
        EXPECT_TRUE(bstrName.Get() && !bstrName.Length() && bstrId.Get() && !bstrId.Length() && nSize == 12345 &&
                    vbTemp == VARIANT_FALSE && vbSelected == VARIANT_FALSE)
            << n;
    }
    p->put_SelectState(0, VARIANT_TRUE);
    EXPECT_EQ(std::vector<LONG>{0}, SelectedRows(p));
    p->put_SelectState(0, 1);
    EXPECT_TRUE(SelectedRows(p).empty());
}

TEST(Removal, VetoesSelectionAndTheListedTotal)
{
    CTempFolder folder;
    CRecordingSink sink;
    sink.onCall = [&sink](DISPID, VARIANT* pResult) {  // keeps row 2
        pResult->vt = VT_BOOL;
        pResult->boolVal = sink.calls.back().args[0].ulVal == 2 ? VARIANT_FALSE : VARIANT_TRUE;
    };
    auto fill = [&]() {
        CComPtr<IPL5Ctrl> p = NewControl(&sink);
        p->put_MaxTotalFileSize(10000);
        for (int n = 0; n < 5; ++n)  // a ... e, 100 ... 500 bytes
            p->AddFile(CComBSTR(folder.File(std::wstring(1, L'a' + n), 100 * (n + 1)).c_str()), nullptr);
        sink.calls.clear();
        return p;
    };
    // RemoveSelectedFiles asks about every selected row first, then removes from the bottom.
    CComPtr<IPL5Ctrl> p = fill();
    for (LONG n : {1L, 2L, 4L})
        p->put_SelectState(n, VARIANT_TRUE);
    p->RemoveSelectedFiles();
    EXPECT_EQ((std::vector<std::wstring>{L"4:1", L"4:2", L"4:4", L"5:e", L"5:b"}), Events(sink));
    EXPECT_EQ((std::vector<std::wstring>{L"a", L"c", L"d"}), Names(p));
    EXPECT_TRUE(SelectedRows(p).empty());
    EXPECT_TRUE(Fits(p, 10000 - 800) && !Fits(p, 10000 - 800 + 1));

    // RemoveFromIndex keeps the selection with its entries and fires nothing.
    p = fill();
    p->put_SelectState(0, VARIANT_TRUE);
    p->put_SelectState(3, VARIANT_TRUE);
    p->RemoveFromIndex(1);
    p->RemoveFromIndex(4);  // beyond the end: nothing
    EXPECT_EQ((std::vector<std::wstring>{L"a", L"c", L"d", L"e"}), Names(p));
    EXPECT_EQ((std::vector<LONG>{0, 2}), SelectedRows(p));
    EXPECT_TRUE(sink.calls.empty());
    EXPECT_TRUE(Fits(p, 10000 - 1300) && !Fits(p, 10000 - 1300 + 1));

    // RemoveAllFiles empties the list even before the control has a window.
    p->RemoveAllFiles();
    EXPECT_TRUE(Names(p).empty());
    EXPECT_EQ(std::vector<std::wstring>{L"3"}, Events(sink));
    EXPECT_TRUE(Fits(p, 10000) && !Fits(p, 10001));
}

TEST(MoveItem, TheSecondArgumentIsAnOffsetWithoutClamping)
{
    const struct
    {
        LONG nIdx, nMoveTo;
        const wchar_t* szExpected;
    } cases[] = {{0, 2, L"bcade"}, {3, -3, L"dabce"}, {1, 3, L"acdeb"},  {0, -1, L"abcde"},
                 {4, 1, L"abcde"}, {2, 0, L"abcde"},  {-1, 2, L"abcde"}, {1, 0x7FFFFFFF, L"abcde"}};
    for (const auto& c : cases)
    {
        CComPtr<IPL5Ctrl> p = NewControl();
        for (const wchar_t* sz : {L"a", L"b", L"c", L"d", L"e"})
            p->AddTempFile(CComBSTR(sz), 1, nullptr);
        p->put_SelectState(0, VARIANT_TRUE);
        EXPECT_EQ(S_OK, p->MoveItem(c.nIdx, c.nMoveTo));
        std::wstring strOrder;
        for (const std::wstring& s : Names(p))
            strOrder += s;
        EXPECT_EQ(c.szExpected, strOrder) << c.nIdx << " by " << c.nMoveTo;
        EXPECT_EQ(std::vector<LONG>{0}, SelectedRows(p));  // marks stay with rows
    }
}

TEST(ExcuteLocalFile, OpensListedFilesOnlyWhenTheUserChoseThemAndTheyRunNothing)
{
    CTempFolder folder;
    const std::wstring strChosen = folder.File(L"chosen.pl5none", 1), strNamed = folder.File(L"named.pl5none", 1);
    const std::wstring strScript = folder.File(L"Setup.CMD", 1);  // a script stays shut though the user chose it
    CComPtr<IPL5Ctrl> p = NewControl();
    p->AddFile(CComBSTR(strNamed.c_str()), nullptr);
    {
        CFileDialogUser user({folder.Path(), L"\"chosen.pl5none\" \"Setup.CMD\""}, false);
        p->OpenFile(nullptr);
    }
    ASSERT_EQ((std::vector<std::wstring>{L"named.pl5none", L"chosen.pl5none", L"Setup.CMD"}), Names(p));
    const std::wstring strDenied = SystemErrorText(ERROR_ACCESS_DENIED);
    for (const std::wstring& strPath : {strNamed, strChosen, folder.Path() + L"\\CHOSEN.PL5NONE", strScript})
    {
        CDialogWatcher watcher(PressOkInBoxes);
        VARIANT_BOOL vb = VARIANT_TRUE;
        p->ExcuteLocalFile(CComBSTR(strPath.c_str()), &vb);
        // Nothing opens these files, so an allowed one fails too, but not with the refusal.
        const std::vector<CSeenDialog> seen = watcher.Seen();
        ASSERT_EQ(1u, seen.size());
        EXPECT_EQ(strPath == strNamed || strPath == strScript, seen[0].MessageText() == strDenied)
            << seen[0].MessageText();
    }
}
