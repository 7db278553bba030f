// The drop-zone hit test against a page whose element rectangles and scroll offsets the test
// sets: the edges and overlaps a real drag (pages/drop.html) cannot aim at exactly.
#include <windows.h>
#include <gtest/gtest.h>
#include <map>
#include "filelist/DropZones.h"
#include "tests/common/CountedFake.h"
#include "tests/filelist/FileListTestSupport.h"

namespace
{
// A page whose elements are rectangles in page coordinates, scrolled by a set amount.
class CFakePage : public IListPage
{
public:
    std::map<std::wstring, RECT> elements;
    std::map<IDispatch*, RECT> objects;
    POINT ptScroll = {};
    bool HasDocument() override { return true; }
    bool SetElementText(const std::wstring&, const std::wstring&) override { return false; }
    bool ElementRectById(const std::wstring& strId, RECT& rc) override
    {
        const auto it = elements.find(strId);
        return it != elements.end() && (rc = it->second, true);
    }
    bool ElementRectOf(IDispatch* p, RECT& rc) override
    {
        const auto it = objects.find(p);
        return it != objects.end() && (rc = it->second, true);
    }
    bool PageScroll(POINT& pt) override { return pt = ptScroll, true; }
};

// Any IDispatch stands for an element object.
class CElement : public CCountedFake<IDispatch>
{
public:
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override { return *ppv = this, AddRef(), S_OK; }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }
};
}  // namespace

// Zones in registration order over a page window at screen (100, 50): the first zone containing
// the scrolled point wins; right and bottom edges are outside; a missing element is skipped.
TEST(DropZones, FirstRegisteredZoneUnderTheScrolledPointWins)
{
    HWND hPage = CreateWindowExW(0, L"Static", L"", WS_POPUP | WS_VISIBLE, 100, 50, 500, 400, nullptr, nullptr, nullptr,
                                 nullptr);
    CElement element;
    CFakePage page;
    page.elements = {{L"big", {0, 0, 200, 200}}, {L"inner", {50, 50, 100, 100}}, {L"far", {300, 900, 400, 1000}}};
    page.objects = {{&element, {250, 0, 300, 40}}};
    CDropZones zones;
    const auto add = [&zones](VARIANT var, const wchar_t* szInput) { return zones.Append(var, szInput); };
    CComVariant varGone(L"missing"), varBig(L"big"), varInner(L"inner"), varFar(L"far");
    CComVariant varNumber, varObject;
    varNumber.vt = VT_I4;
    varNumber.lVal = 7;
    varObject.vt = VT_DISPATCH;
    varObject.pdispVal = &element;
    element.AddRef();
    EXPECT_TRUE(add(varGone, L"gone"));
    EXPECT_TRUE(add(varBig, L"big"));
    EXPECT_TRUE(add(varInner, L"inner"));  // under "big": never wins
    EXPECT_TRUE(add(varFar, L"far"));
    EXPECT_TRUE(add(varObject, L"object"));
    EXPECT_FALSE(add(varNumber, L"number"));
    EXPECT_EQ(5u, zones.Count());

    const struct
    {
        POINT ptScreen;
        POINT ptScroll;
        const wchar_t* szExpected;  // nullptr: no zone
    } cases[] = {
        {{175, 125}, {0, 0}, L"big"},      // page (75, 75): inside both, the first registered
        {{299, 249}, {0, 0}, L"big"},      // page (199, 199): last pixel inside
        {{300, 150}, {0, 0}, nullptr},     // page (200, 100): the right edge is outside
        {{360, 60}, {0, 0}, L"object"},    // page (260, 10)
        {{450, 120}, {0, 850}, L"far"},    // page (350, 920) once scrolled
        {{175, 125}, {0, 850}, nullptr},   // "big" scrolled out of reach
        {{175, 125}, {40, 0}, L"big"},     // page (115, 75)
        {{175, 75}, {190, 0}, L"object"},  // page (265, 25)
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i)
    {
        page.ptScroll = cases[i].ptScroll;
        std::wstring strInput;
        const bool bHit = zones.HitTest(page, hPage, cases[i].ptScreen, strInput);
        EXPECT_EQ(cases[i].szExpected != nullptr, bHit) << "case " << i;
        if (bHit && cases[i].szExpected)
            EXPECT_EQ(cases[i].szExpected, strInput) << "case " << i;
    }
    zones.Clear();
    EXPECT_EQ(2u, element.RefCount()) << "only the test's own and its variant's references are left";
    DestroyWindow(hPage);
}
