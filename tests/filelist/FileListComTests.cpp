// The file list through COM as a page uses it: AddFile and AddTempFile against the limits with
// real files, the veto events, the getters, removal, moving, and the boxes the user reads.
#include "filelist/FileDialogUser.h"
#include "filelist/FileListTestSupport.h"

using PTL::CComBSTR;
using PTL::CComPtr;

namespace
{
const ULONGLONG GIB = 1073741824ull;

LONG SizeOf(IPL5Ctrl* p, LONG nItem, LONG nUntouched = 12345)
{
    LONG n = nUntouched;
    p->get_GetFileSize(nItem, &n);
    return n;
}

std::vector<LONG> SelectedRows(IPL5Ctrl* p)
{
    std::vector<LONG> rows;
    LONG nCount = 0;
    p->get_GetCount(&nCount);
    for (LONG i = 0; i < nCount; ++i)
    {
        VARIANT_BOOL vb = VARIANT_FALSE;
        p->get_SelectState(i, &vb);
        if (vb == VARIANT_TRUE)
            rows.push_back(i);
    }
    return rows;
}

// The events as "dispid:argument" texts, first argument as declared.
std::vector<std::wstring> Events(const CRecordingSink& sink)
{
    std::vector<std::wstring> events;
    for (const auto& call : sink.calls)
    {
        std::wstring s = std::to_wstring(call.dispid);
        if (!call.args.empty())
        {
            const VARIANT& first = call.args.back();
            s += L":" + (first.vt == VT_BSTR ? std::wstring(first.bstrVal).substr(std::wstring(first.bstrVal).find_last_of(L'\\') + 1)
                                             : std::to_wstring(first.ulVal));
        }
        events.push_back(s);
    }
    return events;
}

// Whether a temporary entry of nSize bytes still fits the total: the listed total as the page
// can see it. The probe is taken out again.
bool Fits(IPL5Ctrl* p, ULONG nSize)
{
    LONG nCount = 0;
    p->get_GetCount(&nCount);
    const bool bFits = p->AddTempFile(CComBSTR(L"probe"), nSize, nullptr) == S_OK;
    if (bFits)
        p->RemoveFromIndex(static_cast<UINT>(nCount));
    return bFits;
}
} // namespace

TEST(AddFile, LimitsAtTheirEdges)
{
    CTempFolder folder;
    const struct
    {
        ULONG nMaxUnit;
        ULONGLONG nFileSize;
        LONG nExpectedSize;          // 0 with bListed false: refused
        bool bListed;
        const wchar_t* szTooLarge;   // the size texts in the 304 box, null for no box
    } cases[] = {
        {100, 100, 100, true, nullptr},
        {100, 101, 0, false, L"0.09KB of Choice\n\nExcept for the following file :\n\n   f.bin (0.09KB)\n"},
        {0, 0, 0, true, nullptr},  // 0 lets only empty files through
        {0, 1, 0, false, L"0.00KB of Choice\n\nExcept for the following file :\n\n   f.bin (0.00KB)\n"},
        {2147483648UL, 2 * GIB, LONG(0x80000000), true, nullptr},
        {2147483648UL, 2 * GIB + 1, 0, false, L"2.00GB of Choice\n\nExcept for the following file :\n\n   f.bin (2.00GB)\n"},
        // 4 GiB and more never pass for their low 32 bits.
        {2147483648UL, 4 * GIB + 10, 0, false, L"2.00GB of Choice\n\nExcept for the following file :\n\n   f.bin (4.00GB)\n"},
    };
    int i = 0;
    for (const auto& c : cases)
    {
        const std::wstring strPath = folder.File(L"f.bin", c.nFileSize);
        CDialogWatcher watcher(PressOkInBoxes);
        CRecordingSink sink;
        CComPtr<IPL5Ctrl> p = NewControl(&sink);
        p->put_MaxUnitFileSize(c.nMaxUnit);
        EXPECT_EQ(S_OK, p->AddFile(CComBSTR(strPath.c_str()), nullptr));
        LONG nCount = -1;
        p->get_GetCount(&nCount);
        EXPECT_EQ(c.bListed ? 1 : 0, nCount) << "case " << i;
        if (c.bListed)
            EXPECT_EQ(c.nExpectedSize, SizeOf(p, 0)) << "case " << i;
        const std::vector<CSeenDialog> seen = watcher.Seen();
        ASSERT_EQ(c.szTooLarge ? 1u : 0u, seen.size()) << "case " << i;
        if (c.szTooLarge)
            EXPECT_EQ(Narrow(L"Too large file selected.\nThe size of individual files of " + std::wstring(c.szTooLarge)),
                      Narrow(seen[0].MessageText()))
                << "case " << i;
        // Oversize files are not offered to the page.
        EXPECT_EQ(c.bListed ? std::vector<std::wstring>({L"1:f.bin", L"2:f.bin"}) : std::vector<std::wstring>(),
                  Events(sink))
            << "case " << i;
        ++i;
    }
}

TEST(AddFile, WhatCannotBeReadIsSkippedSilently)
{
    CTempFolder folder;
    const std::wstring strLocked = folder.File(L"locked.txt", 5);
    const std::wstring strWriting = folder.File(L"writing.txt", 7);
    HANDLE hLocked = CreateFileW(strLocked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE hWriting = CreateFileW(strWriting.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    CDialogWatcher watcher(PressOkInBoxes);
    CRecordingSink sink;
    CComPtr<IPL5Ctrl> p = NewControl(&sink);
    for (const std::wstring& strPath : {folder.Path() + L"\\missing.txt", folder.Folder(L"sub"), std::wstring(L"NUL"),
                                        strLocked, folder.Path() + L"\\" + std::wstring(300, L'y') + L".txt"})
        p->AddFile(CComBSTR(strPath.c_str()), nullptr);
    // A file another program is writing is still measured, sharing with it.
    p->AddFile(CComBSTR(strWriting.c_str()), nullptr);
    CloseHandle(hLocked);
    CloseHandle(hWriting);
    EXPECT_EQ(std::vector<std::wstring>{L"writing.txt"}, Names(p));
    EXPECT_EQ((std::vector<std::wstring>{L"1:writing.txt", L"2:writing.txt"}), Events(sink));
    EXPECT_TRUE(watcher.Seen().empty());
}

TEST(AddFile, OnlyAnExactTrueFromThePageKeepsAFile)
{
    CTempFolder folder;
    const std::wstring strPath = folder.File(L"a.txt", 3);
    const struct
    {
        VARTYPE vt;
        LONG nValue;
        bool bKept;
    } cases[] = {{VT_EMPTY, 0, true}, {VT_BOOL, VARIANT_TRUE, true}, {VT_I4, 0, true},
                 {VT_BOOL, VARIANT_FALSE, false}, {VT_BOOL, 1, false}};
    int i = 0;
    for (const auto& c : cases)
    {
        CRecordingSink sink;
        sink.onCall = Returns(c.vt, c.nValue);
        CComPtr<IPL5Ctrl> p = NewControl(&sink);
        p->AddFile(CComBSTR(strPath.c_str()), nullptr);
        p->AddFile(CComBSTR(strPath.c_str()), nullptr);  // the same path twice is two entries
        EXPECT_EQ(c.bKept ? 2u : 0u, Names(p).size()) << "case " << i;
        if (c.bKept)
        {
            ASSERT_EQ(4u, sink.calls.size());
            EXPECT_EQ(VT_UI4, sink.calls[1].args[0].vt);
            EXPECT_EQ(3u, sink.calls[1].args[0].ulVal);
        }
        ++i;
    }
}

TEST(AddFile, RefusalsShowTheirFourValuesInEitherPack)
{
    CTempFolder folder;
    const std::wstring strFirst = folder.File(L"first.bin", 1000);
    const std::wstring strSecond = folder.File(L"second.bin", 2500);
    const struct
    {
        const wchar_t* szLanguage;
        ULONG nMaxTotal, nMaxCount;
        const wchar_t *szCaption, *szText;
    } cases[] = {
        {L"en", 3000, 4294967295UL, L"Alert - Pelora",
         L"Max upload limit exceeded.\n\n  Maximum possible size: 2.92KB\n  Already selected size: 0.97KB\n  Still "
         L"selectable size: 1.95KB\n  Current selected size: 2.44KB\n"},
        {L"ko", 3000, 4294967295UL, L"\uC54C\uB9BC - Pelora",
         L"\uC120\uD0DD \uAC00\uB2A5\uD55C \uC804\uCCB4 \uD30C\uC77C \uC6A9\uB7C9\uC744 \uCD08\uACFC\uD558\uC600"
         L"\uC2B5\uB2C8\uB2E4.\n\n  \uCD5C\uB300 \uC120\uD0DD \uAC00\uB2A5\uD55C \uC6A9\uB7C9: 2.92KB\n  \uC774"
         L"\uBBF8 \uC120\uD0DD\uB41C \uD30C\uC77C \uC6A9\uB7C9: 0.97KB\n  \uD604\uC7AC \uC120\uD0DD \uAC00\uB2A5"
         L"\uD55C \uC6A9\uB7C9: 1.95KB\n  \uD604\uC7AC \uC120\uD0DD\uD55C \uD30C\uC77C \uC6A9\uB7C9: 2.44KB\n"},
        {L"ko", 2147483648UL, 1, L"\uC54C\uB9BC - Pelora",
         L"\uC120\uD0DD \uAC00\uB2A5\uD55C \uD30C\uC77C \uAC1C\uC218\uB97C \uCD08\uACFC \uD569\uB2C8\uB2E4 :\n\n"
         L"  \uCD5C\uB300 \uC120\uD0DD \uAC00\uB2A5\uD55C \uAC1C\uC218: 1\uAC1C\n  \uC774\uBBF8 \uC120\uD0DD"
         L"\uB41C \uD30C\uC77C \uAC1C\uC218: 1\uAC1C\n  \uD604\uC7AC \uC120\uD0DD \uAC00\uB2A5\uD55C \uAC1C\uC218"
         L": 0\uAC1C\n  \uD604\uC7AC \uC120\uD0DD\uD55C \uD30C\uC77C \uAC1C\uC218: 1\uAC1C"},
    };
    int i = 0;
    for (const auto& c : cases)
    {
        CComPtr<IPL5Ctrl> p = NewControl(nullptr, c.szLanguage);
        p->put_MaxTotalFileSize(c.nMaxTotal);
        p->put_MaxFileCount(c.nMaxCount);
        p->AddFile(CComBSTR(strFirst.c_str()), nullptr);
        CDialogWatcher watcher(PressOkInBoxes);
        p->AddFile(CComBSTR(strSecond.c_str()), nullptr);
        EXPECT_EQ(std::vector<std::wstring>{L"first.bin"}, Names(p)) << "case " << i;
        const std::vector<CSeenDialog> seen = watcher.Seen();
        ASSERT_EQ(1u, seen.size()) << "case " << i;
        EXPECT_EQ(Narrow(c.szCaption), Narrow(seen[0].strCaption)) << "case " << i;
        EXPECT_EQ(Narrow(c.szText), Narrow(seen[0].MessageText())) << "case " << i;
        ++i;
    }
}

TEST(AddTempFile, RefusesWithSFalseAndTouchesNothing)
{
    const struct
    {
        ULONG nMaxCount, nMaxUnit, nMaxTotal, nSize;
        HRESULT hrExpected;
    } cases[] = {
        {1, 2147483648UL, 2147483648UL, 0, S_FALSE},  // the list already holds MaxFileCount entries
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
        EXPECT_EQ(S_OK, p->AddTempFile(CComBSTR(L"first.jpg"), 100, nullptr));
        p->put_MaxFileCount(c.nMaxCount);
        p->put_MaxUnitFileSize(c.nMaxUnit);
        p->put_MaxTotalFileSize(c.nMaxTotal);
        EXPECT_EQ(c.hrExpected, p->AddTempFile(CComBSTR(L"Z:\\no\\such.jpg"), c.nSize, CComBSTR(L"id-7")))
            << "case " << i;
        EXPECT_EQ(c.hrExpected == S_OK ? 2u : 1u, Names(p).size()) << "case " << i;
        EXPECT_TRUE(sink.calls.empty() && watcher.Seen().empty()) << "case " << i;
        ++i;
    }
    // What the page reads back: the id marks a temporary entry; without one it is not.
    CComPtr<IPL5Ctrl> p = NewControl();
    p->AddTempFile(CComBSTR(L"plain.jpg"), 5, nullptr);
    p->AddTempFile(CComBSTR(L"Z:\\x\\temp.jpg"), 4000000000UL, CComBSTR(L"id-7"));  // over the limit
    p->AddTempFile(CComBSTR(L"Z:\\x\\temp.jpg"), 6, CComBSTR(L"id-7"));
    VARIANT_BOOL vbPlain = VARIANT_TRUE, vbTemp = VARIANT_FALSE;
    CComBSTR bstrId;
    p->get_IsTempFile(0, &vbPlain);
    p->get_IsTempFile(1, &vbTemp);
    p->get_GetFileID(1, &bstrId);
    EXPECT_EQ(VARIANT_FALSE, vbPlain);
    EXPECT_EQ(VARIANT_TRUE, vbTemp);
    EXPECT_EQ(std::wstring(L"id-7"), bstrId.Get());
    EXPECT_EQ((std::vector<std::wstring>{L"plain.jpg", L"temp.jpg"}), Names(p));
    // Child mode takes no temporary entries.
    p->put_ChildMode(VARIANT_TRUE);
    EXPECT_EQ(S_OK, p->AddTempFile(CComBSTR(L"more.jpg"), 1, CComBSTR(L"id")));
    EXPECT_EQ(2u, Names(p).size());
}

TEST(Getters, OutOfRangeIndicesAreHarmless)
{
    CComPtr<IPL5Ctrl> p = NewControl();
    p->AddTempFile(CComBSTR(L"a.jpg"), 5, CComBSTR(L"id"));
    for (LONG n : {-1L, 1L, 0x7FFFFFFFL})
    {
        CComBSTR bstrName, bstrId;
        VARIANT_BOOL vbTemp = VARIANT_TRUE, vbSelected = VARIANT_TRUE;
        EXPECT_EQ(S_OK, p->get_GetFileName(n, &bstrName));
        EXPECT_EQ(S_OK, p->get_GetFileID(n, &bstrId));
        EXPECT_EQ(S_OK, p->get_IsTempFile(n, &vbTemp));
        EXPECT_EQ(S_OK, p->put_SelectState(n, VARIANT_TRUE));
        EXPECT_EQ(S_OK, p->get_SelectState(n, &vbSelected));
        EXPECT_EQ(0u, bstrName.Length() + bstrId.Length()) << n;
        EXPECT_EQ(VARIANT_FALSE, vbTemp | vbSelected) << n;
        EXPECT_EQ(12345, SizeOf(p, n)) << n;
    }
    // Only an exact true selects.
    p->put_SelectState(0, VARIANT_TRUE);
    EXPECT_EQ(std::vector<LONG>{0}, SelectedRows(p));
    p->put_SelectState(0, 1);
    EXPECT_TRUE(SelectedRows(p).empty());
}

TEST(Removal, VetoesSelectionAndTheListedTotal)
{
    CTempFolder folder;
    const wchar_t* names[] = {L"a", L"b", L"c", L"d", L"e"};
    std::vector<std::wstring> paths;
    for (int n = 0; n < 5; ++n)
        paths.push_back(folder.File(names[n], 100 * (n + 1)));  // 100 ... 500 bytes
    auto fill = [&](CRecordingSink* pSink) {
        CComPtr<IPL5Ctrl> p = NewControl(pSink);
        p->put_MaxTotalFileSize(10000);
        for (const std::wstring& strPath : paths)
            p->AddFile(CComBSTR(strPath.c_str()), nullptr);
        if (pSink)
            pSink->calls.clear();
        return p;
    };

    // RemoveSelectedFiles asks about every selected row first, then removes from the bottom.
    CRecordingSink sink;
    sink.onCall = [&sink](DISPID, VARIANT* pResult) {
        const bool bVeto = sink.calls.back().args[0].ulVal == 2;
        pResult->vt = VT_BOOL;
        pResult->boolVal = bVeto ? VARIANT_FALSE : VARIANT_TRUE;
    };
    CComPtr<IPL5Ctrl> p = fill(&sink);
    for (LONG n : {1L, 2L, 4L})
        p->put_SelectState(n, VARIANT_TRUE);
    EXPECT_EQ(S_OK, p->RemoveSelectedFiles());
    EXPECT_EQ((std::vector<std::wstring>{L"4:1", L"4:2", L"4:4", L"5:e", L"5:b"}), Events(sink));
    EXPECT_EQ((std::vector<std::wstring>{L"a", L"c", L"d"}), Names(p));
    EXPECT_TRUE(SelectedRows(p).empty());
    EXPECT_TRUE(Fits(p, 10000 - 800) && !Fits(p, 10000 - 800 + 1));

    // RemoveFromIndex keeps the selection with its entries and fires nothing.
    sink.calls.clear();
    p = fill(&sink);
    p->put_SelectState(0, VARIANT_TRUE);
    p->put_SelectState(3, VARIANT_TRUE);
    p->RemoveFromIndex(1);
    p->RemoveFromIndex(4);  // beyond the end: nothing
    EXPECT_EQ((std::vector<std::wstring>{L"a", L"c", L"d", L"e"}), Names(p));
    EXPECT_EQ((std::vector<LONG>{0, 2}), SelectedRows(p));
    EXPECT_TRUE(sink.calls.empty());
    EXPECT_TRUE(Fits(p, 10000 - 1300) && !Fits(p, 10000 - 1300 + 1));

    // RemoveAllFiles empties the list even before the control has a window.
    sink.calls.clear();
    p->RemoveAllFiles();
    EXPECT_TRUE(Names(p).empty());
    EXPECT_EQ(std::vector<std::wstring>{L"3"}, Events(sink));
    EXPECT_TRUE(Fits(p, 10000) && !Fits(p, 10001));
}

TEST(MoveItem, TheSecondArgumentIsAnOffset)
{
    const struct
    {
        LONG nIdx, nMoveTo;
        std::vector<std::wstring> expected;
    } cases[] = {
        {0, 2, {L"b", L"c", L"a", L"d", L"e"}},  {3, -3, {L"d", L"a", L"b", L"c", L"e"}},
        {1, 3, {L"a", L"c", L"d", L"e", L"b"}},  {0, -1, {L"a", L"b", L"c", L"d", L"e"}},
        {4, 1, {L"a", L"b", L"c", L"d", L"e"}},  {2, 0, {L"a", L"b", L"c", L"d", L"e"}},
        {-1, 2, {L"a", L"b", L"c", L"d", L"e"}}, {1, 0x7FFFFFFF, {L"a", L"b", L"c", L"d", L"e"}},
    };
    int i = 0;
    for (const auto& c : cases)
    {
        CComPtr<IPL5Ctrl> p = NewControl();
        for (const wchar_t* sz : {L"a", L"b", L"c", L"d", L"e"})
            p->AddTempFile(CComBSTR(sz), 1, nullptr);
        p->put_SelectState(0, VARIANT_TRUE);
        EXPECT_EQ(S_OK, p->MoveItem(c.nIdx, c.nMoveTo));
        EXPECT_EQ(c.expected, Names(p)) << "case " << i;
        EXPECT_EQ(std::vector<LONG>{0}, SelectedRows(p)) << "case " << i;  // marks stay with rows
        ++i;
    }
}

TEST(ExcuteLocalFile, OpensListedFilesOnlyWhenTheUserChoseThem)
{
    CTempFolder folder;
    const std::wstring strChosen = folder.File(L"chosen.pl5nothing", 1);
    const std::wstring strNamed = folder.File(L"named.pl5nothing", 1);
    CComPtr<IPL5Ctrl> p = NewControl();
    p->AddFile(CComBSTR(strNamed.c_str()), nullptr);
    {
        CFileDialogUser user({strChosen}, false);
        p->OpenFile(nullptr);
    }
    ASSERT_EQ((std::vector<std::wstring>{L"named.pl5nothing", L"chosen.pl5nothing"}), Names(p));
    wchar_t szDenied[512] = L"";
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_ACCESS_DENIED, 0, szDenied,
                   512, nullptr);
    std::wstring strDenied = szDenied;
    while (!strDenied.empty() && (strDenied.back() == L'\n' || strDenied.back() == L'\r'))
        strDenied.pop_back();
    const struct
    {
        std::wstring strPath;
        bool bRefused;
    } cases[] = {{strNamed, true}, {strChosen, false}, {folder.Path() + L"\\CHOSEN.PL5NOTHING", false}};
    int i = 0;
    for (const auto& c : cases)
    {
        CDialogWatcher watcher(PressOkInBoxes);
        VARIANT_BOOL vb = VARIANT_TRUE;
        p->ExcuteLocalFile(CComBSTR(c.strPath.c_str()), &vb);
        const std::vector<CSeenDialog> seen = watcher.Seen();
        // The shell has nothing to open these with, so even an allowed file ends in a box: but
        // not in the refusal's.
        ASSERT_EQ(1u, seen.size()) << "case " << i;
        EXPECT_EQ(c.bRefused, seen[0].MessageText() == strDenied) << "case " << i << ": "
                                                                  << Narrow(seen[0].MessageText());
        ++i;
    }
}
