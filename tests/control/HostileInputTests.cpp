// What a hostile page can hand the control: script arrays that throw, lie or call back,
// references that loop, VBScript arrays, wrong types and huge strings in every property and
// PARAM. Each must end in a clear result, with nothing crashed and nothing half appended.
#include <gtest/gtest.h>

#include <windows.h>
#include <ocidl.h>
#include <shlobj.h>

#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "tests/common/CountedFake.h"
#include "tests/common/FakeScriptArray.h"
#include "tests/common/PropertyIds.h"
#include "tests/common/InProcessControl.h"
#include "filelist/DropTarget.h"
#include "filelist/FilterList.h"
#include "filelist/PathSafety.h"
#include "ptl/InternetUrl.h"
#include "ptl/ScriptArray.h"
#include "upload/UploadRequest.h"

using PTL::CComPtr;
using PTL::CComVariant;

namespace
{
// The array with a number in place of its element n.
CFakeArray* WithNumberAt(CFakeArray* p, ULONG nAt)
{
    p->fnElement = [p, nAt](ULONG n, VARIANT* pv) {
        return n == nAt ? Count(pv, 4) : VariantCopy(pv, &p->elements[n]);
    };
    return p;
}

VARIANT RefTo(VARIANT* p)
{
    VARIANT var;
    var.vt = VT_BYREF | VT_VARIANT;
    var.pvarVal = p;
    return var;
}

// A VBScript array: a SAFEARRAY of variants (or of strings), lower bound as given.
SAFEARRAY* SafeArrayOf(const std::vector<CComVariant>& items, VARTYPE vt = VT_VARIANT, LONG nLower = 0)
{
    SAFEARRAYBOUND bound = {static_cast<ULONG>(items.size()), nLower};
    SAFEARRAY* psa = SafeArrayCreate(vt, 1, &bound);
    for (LONG i = 0; i < static_cast<LONG>(items.size()); ++i)
    {
        LONG nAt = nLower + i;
        if (vt == VT_VARIANT)
            SafeArrayPutElement(psa, &nAt, const_cast<CComVariant*>(&items[i]));
        else
            SafeArrayPutElement(psa, &nAt, items[i].bstrVal);
    }
    return psa;
}

using CPairs = std::vector<std::pair<std::wstring, std::wstring>>;

// Both readers of name/value pairs, which must agree: the form fields and the file filters.
CPairs ReadBoth(const VARIANT& varFirst, const VARIANT& varSecond, const char* szCase)
{
    CFormFields fields;
    fields.AppendPostData(varFirst, varSecond);
    CFilterList filters;
    filters.AppendFrom(varFirst, varSecond);
    CPairs fromFields, fromFilters;
    for (const PostField& field : fields.Fields())
        fromFields.emplace_back(field.szName, field.szValue);
    for (const CFilterPair& pair : filters.Pairs())
        fromFilters.emplace_back(pair.strName, pair.strPattern);
    EXPECT_EQ(fromFields, fromFilters) << szCase;
    return fromFields;
}
}  // namespace

TEST(ScriptArrays, ValuesByReferenceNestedAndFromBothEngines)
{
    CComVariant a(L"a"), b(L"b"), one(L"1"), two(L"2"), number;
    number.vt = VT_I4;
    number.lVal = 7;
    VARIANT refA = RefTo(&a), refOne = RefTo(&one);
    VARIANT refRefA = RefTo(&refA), refRefOne = RefTo(&refOne);
    VARIANT loop;
    loop = RefTo(&loop);
    BSTR bstrName = SysAllocString(L"n"), bstrValue = SysAllocString(L"v");
    VARIANT byrefName, byrefValue;
    byrefName.vt = byrefValue.vt = VT_BYREF | VT_BSTR;
    byrefName.pbstrVal = &bstrName;
    byrefValue.pbstrVal = &bstrValue;

    // VBScript: arrays in variables, passed by reference, one with a number in it.
    VARIANT vbNames, vbValues, vbShort, vbMixed, vbStrings;
    vbNames.vt = vbValues.vt = vbShort.vt = vbMixed.vt = VT_ARRAY | VT_VARIANT;
    vbNames.parray = SafeArrayOf({a, b}, VT_VARIANT, 0);
    vbValues.parray = SafeArrayOf({one, two}, VT_VARIANT, 5);
    vbShort.parray = SafeArrayOf({one});
    vbMixed.parray = SafeArrayOf({number, two});
    vbStrings.vt = VT_ARRAY | VT_BSTR;
    vbStrings.parray = SafeArrayOf({one, two}, VT_BSTR);
    SAFEARRAY* pNamesByRef = vbNames.parray;
    VARIANT vbDirectRef;
    vbDirectRef.vt = VT_BYREF | VT_ARRAY | VT_VARIANT;
    vbDirectRef.pparray = &pNamesByRef;
    SAFEARRAYBOUND square[2] = {{2, 0}, {2, 0}};
    VARIANT vbSquare;
    vbSquare.vt = VT_ARRAY | VT_VARIANT;
    vbSquare.parray = SafeArrayCreate(VT_VARIANT, 2, square);

    VARIANT jsNames = Object(Array({L"a", L"b"})), jsValues = Object(Array({L"1", L"2"}));
    VARIANT jsEmpty = Object(Array({})), jsOne = Object(Array({L"1"}));
    VARIANT jsMixedNames = Object(WithNumberAt(Array({L"a", L"b", L"c", L"d"}), 3));
    VARIANT jsMixedValues = Object(WithNumberAt(Array({L"1", L"2", L"3", L"4"}), 1));
    CFakeArray* pDoubleLength = Array({L"k"});
    pDoubleLength->fnLength = [](VARIANT* pv) { return pv->vt = VT_R8, pv->dblVal = 1.0, S_OK; };
    CComVariant nullText;
    nullText.vt = VT_BSTR;
    nullText.bstrVal = nullptr;

    const CPairs ab12 = {{L"a", L"1"}, {L"b", L"2"}};
    const struct
    {
        const char* szCase;
        VARIANT first, second;
        CPairs expected;
    } cases[] = {
        {"two strings", a, one, {{L"a", L"1"}}},
        {"variables by reference", refA, refOne, {{L"a", L"1"}}},
        {"references to references", refRefA, refRefOne, {{L"a", L"1"}}},
        {"strings by reference", byrefName, byrefValue, {{L"n", L"v"}}},
        {"a reference to itself", loop, one, {}},
        {"string and number", a, number, {}},
        {"number and string", number, one, {}},
        {"a null value is empty", a, nullText, {{L"a", L""}}},
        {"VBScript arrays by reference", RefTo(&vbNames), RefTo(&vbValues), ab12},
        {"VBScript array by direct reference", vbDirectRef, vbStrings, ab12},
        {"VBScript arrays of different lengths", vbNames, vbShort, {}},
        {"VBScript element that is a number", vbMixed, vbValues, {{L"2", L"2"}}},
        {"two-dimensional array", vbSquare, vbSquare, {}},
        {"script arrays", jsNames, jsValues, ab12},
        {"script arrays by reference", RefTo(&jsNames), RefTo(&jsValues), ab12},
        {"script and VBScript array", jsNames, vbValues, ab12},
        {"empty arrays", jsEmpty, jsEmpty, {}},
        {"arrays of different lengths", jsNames, jsOne, {}},
        {"string and array", a, jsOne, {}},
        {"array and string", jsNames, one, {}},
        {"a pair with a number in it is skipped whole", jsMixedNames, jsMixedValues, {{L"a", L"1"}, {L"c", L"3"}}},
        {"a length given as a double", Object(pDoubleLength), jsOne, {{L"k", L"1"}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, ReadBoth(c.first, c.second, c.szCase)) << c.szCase;
    // A null name makes no form field (a filter may go without a description).
    CFormFields fields;
    fields.AppendPostData(nullText, one);
    EXPECT_TRUE(fields.Fields().empty());

    SysFreeString(bstrName);
    SysFreeString(bstrValue);
    for (VARIANT* p : {&vbNames, &vbValues, &vbShort, &vbMixed, &vbStrings, &vbSquare})
        SafeArrayDestroy(p->parray);
}

TEST(ScriptArrays, LengthsAndElementsThatThrowLieOrCallBack)
{
    auto withLength = [](std::function<HRESULT(VARIANT*)> fn, std::vector<std::wstring> elements = {}) {
        CFakeArray* p = Array(std::move(elements));
        p->fnLength = std::move(fn);
        return p;
    };
    CFakeArray* pThrows = withLength([](VARIANT*) { return DISP_E_EXCEPTION; });
    CFakeArray* pWord = withLength([](VARIANT* pv) {
        pv->vt = VT_BSTR;
        pv->bstrVal = SysAllocString(L"many");
        return S_OK;
    });
    CFakeArray* pNegative = withLength([](VARIANT* pv) { return Count(pv, -1); });
    CFakeArray* pNoLength = Array({L"x"});
    pNoLength->fnLength = nullptr;
    // Claims four billion elements and has none: reading stops at the bound, promptly.
    CFakeArray* pHuge1 = withLength([](VARIANT* pv) { return pv->vt = VT_UI4, pv->ulVal = 0xFFFFFFF0u, S_OK; });
    CFakeArray* pHuge2 = withLength([](VARIANT* pv) { return pv->vt = VT_UI4, pv->ulVal = 0xFFFFFFF0u, S_OK; });
    CFakeArray* pFaulty = Array({L"a", L"b", L"c"});
    pFaulty->fnElement = [](ULONG n, VARIANT* pv) {
        if (n == 1)
            return DISP_E_EXCEPTION;
        pv->vt = VT_BSTR;
        pv->bstrVal = SysAllocString(n == 0 ? L"a" : L"c");
        return S_OK;
    };
    CFakeArray* pValues = Array({L"1", L"2", L"3"});

    const struct
    {
        const char* szCase;
        CFakeArray* pFirst;
        CFakeArray* pSecond;
        CPairs expected;
    } cases[] = {
        {"length throws", pThrows, pValues, {}},
        {"length is a word", pWord, pValues, {}},
        {"length is negative", pNegative, pNegative, {}},
        {"no length", pNoLength, pNoLength, {}},
        {"element throws", pFaulty, pValues, {{L"a", L"1"}, {L"c", L"3"}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, ReadBoth(Object(c.pFirst), Object(c.pSecond), c.szCase)) << c.szCase;

    // A long array is read whole, in order.
    std::vector<std::wstring> manyNames, manyValues;
    CPairs many;
    for (int i = 0; i < 1500; ++i)
    {
        manyNames.push_back(std::to_wstring(i));
        manyValues.push_back(L"v" + std::to_wstring(i));
        many.emplace_back(manyNames.back(), manyValues.back());
    }
    EXPECT_EQ(many, ReadBoth(Object(Array(manyNames)), Object(Array(manyValues)), "1500 elements"));

    const DWORD nStart = GetTickCount();
    EXPECT_EQ(CPairs(), ReadBoth(Object(pHuge1), Object(pHuge2), "huge length"));
    EXPECT_LE(pHuge1->nReads, 2 * (PTL::MAX_SCRIPT_ARRAY + 1));
    EXPECT_LT(GetTickCount() - nStart, 20000u);

    // A getter that appends again with the same arrays, from inside the reading: the nesting is
    // cut off, the outer reading still completes, and the fields stay whole.
    CFormFields fields;
    CFakeArray* pNames = Array({L"a"});
    CFakeArray* pAgain = Array({L"1"});
    int nCalls = 0;
    pNames->fnElement = [&](ULONG, VARIANT* pv) {
        ++nCalls;
        fields.AppendPostData(Object(pNames), Object(pAgain));
        pv->vt = VT_BSTR;
        pv->bstrVal = SysAllocString(L"a");
        return S_OK;
    };
    fields.AppendPostData(Object(pNames), Object(pAgain));
    EXPECT_GT(nCalls, 1);
    EXPECT_LT(nCalls, 10);
    EXPECT_EQ(static_cast<size_t>(nCalls), fields.Fields().size());
    for (const PostField& field : fields.Fields())
        EXPECT_EQ(L"\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n", field.szPartText);
}

namespace
{
// Every property of the table; those that keep any text whole (the language keeps two characters).
#define PL5_TEST_DISPID(name, dispid, ...) dispid,
const DISPID PROPERTIES[] = {PL5_PROPERTIES(PL5_TEST_DISPID, PL5_TEST_DISPID)};
#undef PL5_TEST_DISPID
const DISPID TEXT_PROPERTIES[] = {PropertyId::ProgramTitle, PropertyId::Action,   PropertyId::InputName,
                                  PropertyId::InputType,    PropertyId::BkImgURL, PropertyId::ListStyle};

// Hands every property the same hostile value, whatever type was asked for.
class CHostileBag : public CCountedFake<IPropertyBag>
{
public:
    explicit CHostileBag(const VARIANT& value) : m_value(value) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = (riid == IID_IUnknown || riid == IID_IPropertyBag) ? static_cast<IPropertyBag*>(this) : nullptr;
        if (*ppv)
            AddRef();
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP Read(LPCOLESTR, VARIANT* pVar, IErrorLog*) override
    {
        VariantClear(pVar);
        return VariantCopy(pVar, &m_value);
    }
    STDMETHODIMP Write(LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }

private:
    CComVariant m_value;
};
}  // namespace

TEST(HostileProperties, WrongTypesHugeTextsAndNuls)
{
    // One megabyte of text with NULs and a lone surrogate in it.
    std::wstring strHuge(1 << 20, L'x');
    for (size_t i = 0; i < strHuge.size(); i += 4099)
        strHuge[i] = L'\0';
    strHuge[17] = L'\xD800';
    CComVariant huge;
    huge.vt = VT_BSTR;
    huge.bstrVal = SysAllocStringLen(strHuge.data(), static_cast<UINT>(strHuge.size()));
    CComVariant nan, empty, null, array, object, error, negative;
    nan.vt = VT_R8;
    nan.dblVal = std::numeric_limits<double>::quiet_NaN();
    null.vt = VT_NULL;
    array.vt = VT_ARRAY | VT_VARIANT;
    SAFEARRAYBOUND bound = {3, 0};
    array.parray = SafeArrayCreate(VT_VARIANT, 1, &bound);
    object = CComVariant(Object(Array({L"a"})));
    error.vt = VT_ERROR;
    error.scode = DISP_E_PARAMNOTFOUND;
    negative.vt = VT_I4;
    negative.lVal = -1;
    const VARIANT* values[] = {&huge, &nan, &empty, &null, &array, &object, &error, &negative};

    CComPtr<IPL5Ctrl> p = NewInProcessControl();
    for (DISPID dispid : PROPERTIES)
        for (size_t i = 0; i < std::size(values); ++i)
        {
            PutProperty(p, dispid, *values[i]);  // any result, as long as the control stays sound
            CComVariant var;
            EXPECT_EQ(S_OK, GetProperty(p, dispid, var)) << "dispid " << dispid << " value " << i;
        }
    // Long texts are kept whole, NULs included; the language keeps two characters.
    for (DISPID dispid : TEXT_PROPERTIES)
    {
        ASSERT_EQ(S_OK, PutProperty(p, dispid, huge)) << dispid;
        CComVariant var;
        ASSERT_EQ(S_OK, GetProperty(p, dispid, var));
        ASSERT_EQ(VT_BSTR, var.vt);
        EXPECT_TRUE(strHuge == std::wstring(var.bstrVal, SysStringLen(var.bstrVal))) << "dispid " << dispid;
    }
    CComVariant language;
    ASSERT_EQ(S_OK, PutProperty(p, 3, huge));
    ASSERT_EQ(S_OK, GetProperty(p, 3, language));
    EXPECT_EQ(2u, SysStringLen(language.bstrVal));

    // The same values as PARAMs: each load ends with an answer, and the control stays usable.
    for (size_t i = 0; i < std::size(values); ++i)
    {
        CComPtr<IPL5Ctrl> pLoaded = NewInProcessControl();
        CComPtr<IPersistPropertyBag> pPersist;
        ASSERT_EQ(S_OK, pLoaded->QueryInterface(IID_IPersistPropertyBag, reinterpret_cast<void**>(&pPersist)));
        CHostileBag bag(*values[i]);
        pPersist->Load(&bag, nullptr);
        LONG nCount = -1;
        EXPECT_EQ(S_OK, pLoaded->get_GetCount(&nCount)) << "value " << i;
        EXPECT_EQ(0, nCount);
    }
}

TEST(HostilePaths, DeviceNamesLocalFilesShownTextsAndWebAddresses)
{
    wchar_t szTemp[MAX_PATH] = L"", szFile[MAX_PATH] = L"";
    ASSERT_NE(0u, GetTempPathW(MAX_PATH, szTemp));
    ASSERT_NE(0u, GetTempFileNameW(szTemp, L"pl5", 0, szFile));
    const std::wstring strFile = szFile, strDir = szTemp;
    const struct
    {
        std::wstring strPath;
        bool bDevice, bPlainFile;
    } paths[] = {
        {strFile, false, true},
        {L"\\\\?\\" + strFile, false, true},
        {strFile + L".missing", false, false},
        {strDir, false, false},  // a folder
        {L"tax.pdf", false, false},
        {strDir + L"nul.txt", true, false},
        {L"C:\\x\\lpt9 .log", true, false},
        {L"C:\\x\\aux", true, false},
        {L"C:\\x\\com10.txt", false, false},
        {L"C:\\x\\console.txt", false, false},
        {strDir + std::wstring(261 - strDir.size(), L'a'), false, false},  // longer than an entry holds
    };
    for (size_t i = 0; i < std::size(paths); ++i)
    {
        EXPECT_EQ(paths[i].bDevice, NamesDevice(paths[i].strPath)) << "case " << i;
        EXPECT_EQ(paths[i].bPlainFile, IsPlainLocalFile(paths[i].strPath, 261)) << "case " << i;
    }
    DeleteFileW(szFile);

    // What a question shows of a page's text: no control or direction characters, and the middle
    // of a long one elided, its start and end kept.
    const std::wstring strLong = L"C:\\" + std::wstring(150, L'x') + L"\\invoice.pdf";
    const std::wstring strShown = ShownText(strLong);
    EXPECT_EQ(L"C:\\" + std::wstring(28, L'x') + L"\x2026" + std::wstring(36, L'x') + L"\\invoice.pdf", strShown);
    EXPECT_EQ(L"C:\\a.pdf Yes", ShownText(L"C:\\a\r\n.pdf\t\x202E Yes\x200B"));

    const struct
    {
        const wchar_t* szGiven;
        const wchar_t* szRebuilt;  // nullptr: refused
    } addresses[] = {
        {L"http://example.com:8080/a/b?c=1", L"http://example.com:8080/a/b?c=1"},
        {L"https://example.com:443", L"https://example.com/"},
        {L"http://user:pw@x/", nullptr},
        {L"http://ex%41mple.com/", nullptr},
        {L"javascript:alert(1)", nullptr},
        {L"file:///C:/x.exe", nullptr},
    };
    for (size_t i = 0; i < std::size(addresses); ++i)
    {
        std::wstring strUrl;
        EXPECT_EQ(addresses[i].szRebuilt != nullptr, PTL::RebuildWebAddress(addresses[i].szGiven, strUrl))
            << "case " << i;
        EXPECT_EQ(addresses[i].szRebuilt ? addresses[i].szRebuilt : L"", strUrl) << "case " << i;
    }
}

TEST(HostilePaths, DroppedShortcutsToNetworkOrDevicePaths)
{
    wchar_t szTemp[MAX_PATH] = L"";
    ASSERT_NE(0u, GetTempPathW(MAX_PATH, szTemp));
    const std::wstring strLocal = std::wstring(szTemp) + L"pl5-target.txt", strLink = std::wstring(szTemp) + L"pl5.lnk";
    CloseHandle(CreateFileW(strLocal.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    const struct
    {
        std::wstring strTarget, strExpected;
    } cases[] = {
        {strLocal, strLocal},
        {L"\\\\127.0.0.1\\share\\x.txt", L""},
        {L"\\\\.\\PhysicalDrive0", L""},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        CComPtr<IShellLinkW> pLink;
        CComPtr<IPersistFile> pFile;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                         reinterpret_cast<void**>(&pLink)));
        ASSERT_TRUE(SUCCEEDED(pLink->SetPath(cases[i].strTarget.c_str()))) << "case " << i;  // S_FALSE: not there
        ASSERT_EQ(S_OK, pLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&pFile)));
        ASSERT_EQ(S_OK, pFile->Save(strLink.c_str(), TRUE)) << "case " << i;
        EXPECT_EQ(cases[i].strExpected, ResolveShellLink(strLink)) << "case " << i;
    }
    DeleteFileW(strLink.c_str());
    DeleteFileW(strLocal.c_str());
}
