// The PARAM bag converts text to the type the object asks for, as a browser's bag does, and the
// object site hands it over through IPersistPropertyBag (or InitNew when there are no PARAMs).
#include "tests/host/FakeControl.h"
#include "ptl/Text.h"
#include "tools/host/ObjectSite.h"
#include "tools/host/ParamBag.h"

#include <gtest/gtest.h>

using namespace Host;
using HostTest::CFakeControl;

namespace
{

// The value of a VARIANT as text with its type, for comparisons.
std::wstring Show(const VARIANT& var)
{
    std::wstring strText;
    PTL::VariantToText(var, strText);
    return std::to_wstring(V_VT(&var)) + L":" + strText;
}

TEST(ParamBag, ConvertsTheTextToTheRequestedType)
{
    auto pBag = PTL::MakeComObject<CParamBag>(std::vector<CPageParam>{
        {L"MaxUnitFileSize", L"4294967295", 1},
        {L"TooBig", L"4294967296", 2},
        {L"Negative", L"-1", 3},
        {L"ShowStatus", L"false", 4},
        {L"UseUnicode", L"True", 5},
        {L"One", L"1", 6},
        {L"Words", L"lots", 7},
        {L"Language", L"english", 8},
        {L"language", L"second of the same name", 9},
        {L"Empty", L"", 10},
    });
    const struct
    {
        const wchar_t* pszName;
        VARTYPE nType;
        HRESULT hr;
        const wchar_t* pszShown;  // type:value after a successful read
    } cases[] = {
        {L"MaxUnitFileSize", VT_UI4, S_OK, L"19:4294967295"},
        {L"maxunitfilesize", VT_UI4, S_OK, L"19:4294967295"},  // names without regard to case
        {L"TooBig", VT_UI4, DISP_E_OVERFLOW, nullptr},
        {L"Negative", VT_I2, S_OK, L"2:-1"},
        {L"Negative", VT_UI4, DISP_E_OVERFLOW, nullptr},
        {L"ShowStatus", VT_BOOL, S_OK, L"11:0"},
        {L"UseUnicode", VT_BOOL, S_OK, L"11:-1"},
        {L"One", VT_BOOL, S_OK, L"11:-1"},  // any number but 0 is true
        {L"Words", VT_BOOL, DISP_E_TYPEMISMATCH, nullptr},
        {L"Words", VT_I4, DISP_E_TYPEMISMATCH, nullptr},
        {L"Language", VT_BSTR, S_OK, L"8:english"},   // the first of two of the same name
        {L"Language", VT_EMPTY, S_OK, L"8:english"},  // no type asked: the text
        {L"Empty", VT_BSTR, S_OK, L"8:"},
        {L"Missing", VT_BSTR, E_INVALIDARG, nullptr},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        PTL::CComVariant value;
        V_VT(&value) = cases[i].nType;
        V_UI4(&value) = 0;
        if (cases[i].nType == VT_BSTR)
            V_BSTR(&value) = nullptr;
        const HRESULT hr = pBag->Read(cases[i].pszName, &value, nullptr);
        EXPECT_EQ(cases[i].hr, hr) << "case " << i;
        if (SUCCEEDED(hr) && cases[i].pszShown)
        {
            EXPECT_EQ(cases[i].pszShown, Show(value)) << "case " << i;
        }
    }
}

TEST(ObjectSite, LoadsParamsThroughTheBagOrInitNew)
{
    CPageObject withParams;
    withParams.strClassId = L"{7E2A99B8-B972-44DB-9201-9A443A38EFD5}";
    withParams.params = {{L"MaxFileCount", L"12", 1}, {L"ChildMode", L"-1", 2}};
    CPageObject without = withParams;
    without.params.clear();

    for (const CPageObject* pElement : {&withParams, &without})
    {
        auto pFake = PTL::MakeComObject<CFakeControl>();
        pFake->requests = {{L"MaxFileCount", VT_UI4}, {L"ChildMode", VT_BOOL}, {L"Language", VT_BSTR}};
        auto pSite = PTL::MakeComObject<CObjectSite>(*pElement);
        std::wstring strError;
        const HRESULT hr = pSite->Create(
            [&pFake](const CLSID&, IUnknown** pp) {
                *pp = static_cast<IDispatch*>(pFake.Get());
                (*pp)->AddRef();
                return S_OK;
            },
            strError);
        ASSERT_EQ(S_OK, hr) << std::string(strError.begin(), strError.end());
        const bool bParams = pElement == &withParams;
        EXPECT_EQ(bParams, pFake->bLoaded);
        EXPECT_EQ(!bParams, pFake->bInitNew);
        if (bParams)
        {
            ASSERT_EQ(3u, pFake->answers.size());
            EXPECT_EQ(L"19:12", Show(pFake->answers[0].value));
            EXPECT_EQ(L"11:-1", Show(pFake->answers[1].value));
            EXPECT_EQ(E_INVALIDARG, pFake->answers[2].hr);
        }
        pSite->Close();
        pSite.Release();
        EXPECT_EQ(1u, References(pFake.Get()));
    }
}

TEST(ObjectSite, ReportsObjectsThatCannotBeMade)
{
    CPageObject element;
    element.strClassId = L"{00000000-1111-2222-3333-444444444444}";  // registered nowhere
    auto pSite = PTL::MakeComObject<CObjectSite>(element);
    std::wstring strError;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, pSite->Create(CreateRegisteredObject, strError));
    EXPECT_NE(std::wstring::npos, strError.find(L"cannot create {00000000-1111-2222-3333-444444444444}"));

    // A class without a property bag cannot take PARAMs.
    element.strClassId = L"{EE09B103-97E0-11CF-978F-00A02463E06F}";  // the system's dictionary
    element.params = {{L"a", L"b", 1}};
    auto pDictionarySite = PTL::MakeComObject<CObjectSite>(element);
    EXPECT_EQ(E_NOINTERFACE, pDictionarySite->Create(CreateRegisteredObject, strError));
    EXPECT_NE(std::wstring::npos, strError.find(L"takes no PARAMs"));
    pDictionarySite->Close();
}

TEST(ObjectSite, ExtentFromWidthAndHeight)
{
    const struct
    {
        const wchar_t* pszLength;
        bool bValid;
        LONG nHimetric;
    } cases[] = {
        {L"96", true, 2540}, {L"400px", true, 10583}, {L"0", true, 0},     {L"50%", false, 0},
        {L"", false, 0},     {L"-5", false, 0},       {L"12em", false, 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        LONG n = 0;
        EXPECT_EQ(cases[i].bValid, PixelsToHimetric(cases[i].pszLength, n)) << "case " << i;
        if (cases[i].bValid)
        {
            EXPECT_EQ(cases[i].nHimetric, n) << "case " << i;
        }
    }
}

}  // namespace
