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

namespace
{
// A script array as an engine hands it over: "length" and elements named "0", "1", ...
class CScriptArray : public IDispatch
{
public:
    explicit CScriptArray(std::vector<CComVariant> elements) : m_elements(std::move(elements)) {}
    CComVariant AsArgument()
    {
        CComVariant var;
        var.vt = VT_DISPATCH;
        var.pdispVal = this;
        AddRef();
        return var;
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = riid == IID_IUnknown || riid == IID_IDispatch ? static_cast<IDispatch*>(this) : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT* pn) override { return *pn = 0, S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* pId) override
    {
        const std::wstring strName = names[0];
        for (size_t i = 0; i < m_elements.size(); ++i)
            if (strName == std::to_wstring(i))
                return *pId = static_cast<DISPID>(i), S_OK;
        return strName == L"length" ? (*pId = 1000000, S_OK) : DISP_E_UNKNOWNNAME;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD wFlags, DISPPARAMS*, VARIANT* pResult, EXCEPINFO*, UINT*) override
    {
        if (wFlags != DISPATCH_PROPERTYGET || !pResult)
            return DISP_E_MEMBERNOTFOUND;
        if (id == 1000000)
            return pResult->vt = VT_I4, pResult->lVal = static_cast<LONG>(m_elements.size()), S_OK;
        return VariantCopy(pResult, &m_elements.at(static_cast<size_t>(id)));
    }

private:
    std::vector<CComVariant> m_elements;
};

CComVariant Number(LONG n)
{
    CComVariant var;
    var.vt = VT_I4;
    var.lVal = n;
    return var;
}
} // namespace

TEST(AppendFilter, ArraysArePairedElementByElement)
{
    std::vector<CComVariant> many, manyPatterns;
    std::vector<std::wstring> manyExpected;
    for (int n = 0; n < 1005; ++n)  // every element counts, also past a thousand
    {
        many.emplace_back((L"F" + std::to_wstring(n)).c_str());
        manyPatterns.emplace_back(L"*.f");
        manyExpected.push_back(L"F" + std::to_wstring(n));
    }
    const struct
    {
        std::vector<CComVariant> names, patterns;
        std::vector<std::wstring> expected;
    } cases[] = {
        {{CComVariant(L"Text"), CComVariant(L"Pictures")}, {CComVariant(L"*.txt"), CComVariant(L"*.png")},
         {L"Text", L"Pictures"}},
        {{CComVariant(L"Text"), Number(7)}, {CComVariant(L"*.txt"), CComVariant(L"*.png")}, {L"Text"}},
        {{CComVariant(L"A"), CComVariant(L"B")}, {CComVariant(L"*.a"), CComVariant(L"*.b"), CComVariant(L"*.c")},
         {L"All files"}},
        {many, manyPatterns, manyExpected},
    };
    int i = 0;
    for (const auto& c : cases)
    {
        CScriptArray names(c.names), patterns(c.patterns);
        CComPtr<IPL5Ctrl> p = NewControl();
        EXPECT_EQ(S_OK, p->AppendFilter(names.AsArgument(), patterns.AsArgument()));
        CFileDialogUser user({}, true);
        p->OpenFile(nullptr);
        EXPECT_EQ(c.expected, user.Seen().filters) << "case " << i++;
    }
}

TEST(OpenFile, OneBatchMeetsTheLimitsTogether)
{
    CTempFolder folder;
    folder.File(L"small.txt", 100);
    folder.File(L"veto.txt", 200);
    folder.File(L"big.bin", 5000);
    const wchar_t szAll[] = L"\"small.txt\" \"veto.txt\" \"big.bin\"";
    const struct
    {
        ULONG nMaxUnit, nMaxTotal, nMaxCount;
        std::vector<std::wstring> expectedNames;
        const wchar_t* szExpectedBox;  // null: no box
    } cases[] = {
        // The oversize file is reported once, after the page was asked about the others.
        {1000, 2147483648UL, 4294967295UL, {L"small.txt"},
         L"Too large file selected.\nThe size of individual files of 0.97KB of Choice\n\nExcept for the following "
         L"file :\n\n   big.bin (4.88KB)\n"},
        // Over the total: nothing of the batch, though small.txt alone would fit.
        {2147483648UL, 5000, 4294967295UL, {},
         L"Max upload limit exceeded.\n\n  Maximum possible size: 4.88KB\n  Already selected size: 0.00KB\n  Still "
         L"selectable size: 4.88KB\n  Current selected size: 4.98KB\n"},
        {2147483648UL, 2147483648UL, 0, {},
         L"Too many files selected :\n\n  Maximum possible number: 0\n  Already selected files: 0\n  Still "
         L"selectable files: 0\n  Current selected files: 2"},
    };
    int i = 0;
    for (const auto& c : cases)
    {
        CDialogWatcher watcher(PressOkInBoxes);
        CRecordingSink sink;
        size_t nBoxesWhenAsked = 99;
        sink.onCall = [&](DISPID, VARIANT* pResult) {
            nBoxesWhenAsked = watcher.Seen().size() - 1;  // the file dialog is the first seen
            pResult->vt = VT_BOOL;
            pResult->boolVal = nBoxesWhenAsked == 0 && sink.calls.size() == 2 ? VARIANT_FALSE : VARIANT_TRUE;
        };
        CComPtr<IPL5Ctrl> p = NewControl(&sink);
        p->put_MaxUnitFileSize(c.nMaxUnit);
        p->put_MaxTotalFileSize(c.nMaxTotal);
        p->put_MaxFileCount(c.nMaxCount);
        CFileDialogUser user({folder.Path(), szAll}, false);
        p->OpenFile(nullptr);
        EXPECT_EQ(0u, nBoxesWhenAsked) << "case " << i;
        EXPECT_EQ(c.expectedNames, Names(p)) << "case " << i;
        const std::vector<CSeenDialog> seen = watcher.Seen();
        ASSERT_EQ(2u, seen.size()) << "case " << i;
        EXPECT_EQ(L"Alert - Pelora", seen[1].strCaption) << "case " << i;
        EXPECT_EQ(Narrow(c.szExpectedBox), Narrow(seen[1].MessageText())) << "case " << i;
        ++i;
    }
}

TEST(OpenFile, ASelectionLongerThanTheFirstBufferArrivesWhole)
{
    CTempFolder folder;
    std::wstring strTyped;
    for (int n = 0; n < 60; ++n)  // about 12,000 characters of names
    {
        const std::wstring strName = std::wstring(190, L'x') + std::to_wstring(100 + n) + L".txt";
        folder.File(strName, 1);
        strTyped += L"\"" + strName + L"\" ";
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
    const struct
    {
        const wchar_t *szName, *szExt;
        bool bCancel;
        std::vector<std::wstring> expectedFilters;
    } cases[] = {
        {L"Text", L"*.txt", false, {L"Text"}},
        {L"Text", L"", true, {L"All files"}},
    };
    int i = 0;
    for (const auto& c : cases)
    {
        CComPtr<IPL5Ctrl> p = NewControl();
        CFileDialogUser user(c.bCancel ? std::vector<std::wstring>{} : std::vector<std::wstring>{strFile}, c.bCancel);
        CComVariant result;
        EXPECT_EQ(S_OK, p->SelectSingleFile(CComBSTR(c.szName), CComBSTR(c.szExt), &result));
        EXPECT_EQ(c.expectedFilters, user.Seen().filters) << "case " << i;
        EXPECT_EQ(c.bCancel ? VT_EMPTY : VT_BSTR, result.vt) << "case " << i;
        if (!c.bCancel && result.vt == VT_BSTR)
            EXPECT_EQ(strFile, std::wstring(result.bstrVal)) << "case " << i;
        EXPECT_TRUE(Names(p).empty()) << "case " << i;
        ++i;
    }
}
