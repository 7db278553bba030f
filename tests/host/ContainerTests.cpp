// The host as a container: what a control sees of the browser (activation order, safety, sites,
// windows at their boxes, keys, the page model, navigation, the fallback message) and what the
// host reports when a control outlives its page. Against fake controls that record every call.
#include "tests/host/PageFixture.h"
#include "ptl/ElementRect.h"
#include "ptl/Text.h"
#include "ptl/Wait.h"
#include "tests/common/XInput.h"
#include "tools/host/EventSink.h"

#include <gtest/gtest.h>

#include <exdispid.h>
#include <oleacc.h>
#include <shlguid.h>

using namespace Host;
using namespace HostTest;

namespace
{

const wchar_t BOXED_OBJECT[] =
    L"<object id=\"ctl\" classid=\"clsid:7E2A99B8-B972-44DB-9201-9A443A38EFD5\" width=\"200\" height=\"100\"\n"
    L"        style=\"position:absolute; left:30px; top:400px\">%PARAMS%</object>\n";

std::wstring BoxedObject(const std::wstring& strParams = std::wstring())
{
    std::wstring str = BOXED_OBJECT;
    str.replace(str.find(L"%PARAMS%"), 8, strParams);
    return str;
}

// The fake's calls up to (not including) the first one that starts with strStop.
std::vector<std::wstring> CallsBefore(const CFakeControl& fake, const wchar_t* pszStop)
{
    std::vector<std::wstring> calls;
    for (const auto& str : fake.calls)
    {
        if (str.find(pszStop) == 0)
            break;
        calls.push_back(str);
    }
    return calls;
}

RECT ClientRectIn(HWND hWnd, HWND hParent)
{
    RECT rc = {};
    GetWindowRect(hWnd, &rc);
    MapWindowPoints(nullptr, hParent, reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

std::wstring Text(BSTR bstr)
{
    std::wstring str = BstrText(bstr);
    SysFreeString(bstr);
    return str;
}

TEST(Container, ActivatesAsABrowserDoes)
{
    const struct
    {
        DWORD nMisc;
        const wchar_t* pszParams;
        std::vector<std::wstring> expected;
    } cases[] = {
        {OLEMISC_SETCLIENTSITEFIRST,
         L"<param name=\"Language\" value=\"en\">",
         {L"GetMiscStatus", L"SetClientSite", L"Safety IDispatch", L"Safety IPersistPropertyBag", L"Load",
          L"DoVerb -5"}},
        {0,
         L"",
         {L"GetMiscStatus", L"Safety IDispatch", L"Safety IPersistPropertyBag", L"InitNew", L"SetClientSite",
          L"DoVerb -5"}},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        CPageFixture fixture;
        fixture.pFake->nMiscStatus = cases[i].nMisc;
        ASSERT_EQ(0, fixture.Run(BoxedObject(cases[i].pszParams) + L"<script>host.Print(typeof ctl);</script>"))
            << Narrow(fixture.Errors());
        EXPECT_EQ(cases[i].expected, fixture.pFake->calls) << "case " << i;
        EXPECT_EQ(std::vector<std::wstring>{L"object"}, fixture.out) << "case " << i;
        // A windowed control's window is a child of the page window, at the element's box.
        const HWND hPage = fixture.pRunner->View().Window();
        ASSERT_TRUE(fixture.pFake->hWnd) << "case " << i;
        EXPECT_EQ(hPage, GetParent(fixture.pFake->hWnd)) << "case " << i;
        const RECT rcExpected = {30, 400, 230, 500};
        const RECT rcGot = ClientRectIn(fixture.pFake->hWnd, hPage);
        EXPECT_TRUE(EqualRect(&rcExpected, &rcGot)) << "case " << i << ": " << rcGot.left << "," << rcGot.top;

        fixture.pRunner->Shutdown();
        const std::vector<std::wstring> tail(fixture.pFake->calls.end() - 2, fixture.pFake->calls.end());
        EXPECT_EQ((std::vector<std::wstring>{L"Close", L"SetClientSite(null)"}), tail) << "case " << i;
    }
}

TEST(Container, AnObjectThatRefusesSafetyIsNeitherLoadedNorScripted)
{
    CPageFixture fixture;
    fixture.pFake->bSafe = false;
    ASSERT_EQ(0, fixture.Run(BoxedObject(L"<param name=\"Language\" value=\"en\">") +
                             L"<script>host.Print(typeof ctl);</script>"));
    EXPECT_EQ(std::vector<std::wstring>{L"undefined"}, fixture.out);
    ASSERT_EQ(1u, fixture.err.size());
    EXPECT_NE(std::wstring::npos, fixture.err[0].find(L"not safe for scripting")) << Narrow(fixture.Errors());
    for (const auto& str : fixture.pFake->calls)
        EXPECT_TRUE(str != L"Load" && str != L"InitNew" && str.find(L"DoVerb") != 0) << Narrow(str);
}

TEST(Container, EachObjectGetsItsOwnWindowAtItsBox)
{
    CPageFixture fixture;
    ASSERT_EQ(0,
              fixture.Run(L"<object id=a classid=\"clsid:7E2A99B8-B972-44DB-9201-9A443A38EFD5\" width=100 height=50\n"
                          L"        style=\"position:absolute; left:10px; top:20px\"></object>\n"
                          L"<div style=\"position:absolute; left:300px; top:100px; width:300px; height:300px\">\n"
                          L"<object id=b classid=\"clsid:7E2A99B8-B972-44DB-9201-9A443A38EFD5\" width=120 height=60\n"
                          L"        style=\"position:absolute; left:15px; top:25px\"></object></div>\n"))
        << Narrow(fixture.Errors());
    ASSERT_EQ(1u, fixture.more.size());
    const HWND hPage = fixture.pRunner->View().Window();
    const struct
    {
        CFakeControl* pFake;
        RECT rc;
    } cases[] = {{fixture.pFake.Get(), {10, 20, 110, 70}}, {fixture.more[0].Get(), {315, 125, 435, 185}}};
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        ASSERT_TRUE(cases[i].pFake->hWnd) << "case " << i;
        EXPECT_EQ(hPage, GetParent(cases[i].pFake->hWnd)) << "case " << i;
        const RECT rcGot = ClientRectIn(cases[i].pFake->hWnd, hPage);
        EXPECT_TRUE(EqualRect(&cases[i].rc, &rcGot)) << "case " << i << ": " << rcGot.left << "," << rcGot.top;
    }
    EXPECT_NE(fixture.pFake->hWnd, fixture.more[0]->hWnd);

    // An object in the flow comes below every line of a paragraph that wraps.
    CPageFixture flow;
    std::wstring strParagraph;
    for (int i = 0; i < 40; ++i)
        strParagraph += L"words ";
    ASSERT_EQ(0, flow.Run(L"<p>" + strParagraph +
                          L"</p>\n"
                          L"<object id=c classid=\"clsid:7E2A99B8-B972-44DB-9201-9A443A38EFD5\" width=100 height=50>"
                          L"</object>\n"))
        << Narrow(flow.Errors());
    ASSERT_TRUE(flow.pFake->hWnd);
    EXPECT_GE(ClientRectIn(flow.pFake->hWnd, flow.pRunner->View().Window()).top, 8 + 2 * 20);
}

// Keys a person types reach the active object's TranslateAccelerator before the page sees
// them; what it takes goes no further.
TEST(Container, KeysGoToTheActiveObjectFirst)
{
    CPageFixture fixture;
    fixture.pFake->nAcceleratorKey = 'A';
    ASSERT_EQ(0, fixture.Run(BoxedObject())) << Narrow(fixture.Errors());
    const HWND hPage = fixture.pRunner->View().Window();
    POINT pt = {5, 5};  // a click on the page gives it the keyboard
    ClientToScreen(hPage, &pt);
    ASSERT_TRUE(XInput::Click(pt.x, pt.y));
    ASSERT_TRUE(XInput::Keys(L"a b"));
    // Input that xdotool refuses is reported, not taken as sent.
    EXPECT_FALSE(XInput::Run(L"no-such-command"));
    PTL::CWait(2000)
        .Until([&] { return fixture.pFake->calls.size() >= 8; })
        .Serving(PTL::EServe::AllMessages)
        .Taking([&](MSG& msg) { return fixture.pRunner->PreTranslate(msg); })
        .Run();
    const std::vector<std::wstring> typed(fixture.pFake->calls.begin() + 6, fixture.pFake->calls.end());
    EXPECT_EQ((std::vector<std::wstring>{L"TranslateAccelerator 65", L"TranslateAccelerator 66"}), typed);

    fixture.pFake->calls.resize(6);
    const struct
    {
        UINT nMessage;
        WPARAM nKey;
        bool bTaken;
    } cases[] = {{WM_KEYDOWN, 'A', true}, {WM_KEYDOWN, 'B', false}, {WM_MOUSEMOVE, 0, false}};
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        MSG msg = {fixture.pRunner->View().Window(), cases[i].nMessage, cases[i].nKey, 0};
        EXPECT_EQ(cases[i].bTaken, fixture.pRunner->PreTranslate(msg)) << "case " << i;
    }
    const std::vector<std::wstring> keys(fixture.pFake->calls.begin() + 6, fixture.pFake->calls.end());
    EXPECT_EQ((std::vector<std::wstring>{L"TranslateAccelerator 65", L"TranslateAccelerator 66"}), keys);
}

TEST(Container, ElementsOffsetsAndScrollAsTheControlReadsThem)
{
    CPageFixture fixture;
    ASSERT_EQ(
        0,
        fixture.Run(L"<div id=outer style=\"position:absolute; left:20px; top:30px; width:300px; height:200px\">Outer\n"
                    L"  <div id=middle style=\"position:absolute; left:10px; top:40px; width:150px; height:100px\">\n"
                    L"    <div id=inner style=\"position:absolute; left:5px; top:6px; width:50px; height:20px\">In"
                    L"ner &amp; more</div></div></div>\n"
                    L"<div id=far style=\"position:absolute; left:0px; top:2000px; width:10px; height:10px\"></div>\n" +
                    BoxedObject() +
                    L"<script>host.Print(document.getElementById('inner').innerText);\n"
                    L"window.scrollTo(0, 300);\n"
                    L"host.Print(document.body.scrollTop, document.documentElement.scrollTop);</script>\n"))
        << Narrow(fixture.Errors());
    EXPECT_EQ((std::vector<std::wstring>{L"Inner & more", L"300 300"}), fixture.out);
    // The control moved with the page.
    EXPECT_EQ(100, fixture.pFake->rcPos.top);

    PTL::CComPtr<IHTMLDocument3> pDocument;
    ASSERT_EQ(S_OK, fixture.pRunner->Document()->QueryInterface(IID_PPV_ARGS(&pDocument)));
    const struct
    {
        const wchar_t* pszId;
        LONG nLeft, nTop, nWidth, nHeight;
        const wchar_t* pszParent;
        LONG nPageLeft, nPageTop;  // summed up the offset-parent chain
    } cases[] = {
        {L"outer", 20, 30, 300, 200, L"", 20, 30},
        {L"middle", 10, 40, 150, 100, L"outer", 30, 70},
        {L"inner", 5, 6, 50, 20, L"middle", 35, 76},
        {L"ctl", 30, 400, 200, 100, L"", 30, 400},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        PTL::CComPtr<IHTMLElement> pElement;
        PTL::CComBSTR id(cases[i].pszId);
        ASSERT_EQ(S_OK, pDocument->getElementById(id.Get(), &pElement)) << "case " << i;
        ASSERT_TRUE(pElement) << "case " << i;
        LONG nLeft = 0, nTop = 0, nWidth = 0, nHeight = 0;
        pElement->get_offsetLeft(&nLeft);
        pElement->get_offsetTop(&nTop);
        pElement->get_offsetWidth(&nWidth);
        pElement->get_offsetHeight(&nHeight);
        EXPECT_EQ(cases[i].nLeft, nLeft) << "case " << i;
        EXPECT_EQ(cases[i].nTop, nTop) << "case " << i;
        EXPECT_EQ(cases[i].nWidth, nWidth) << "case " << i;
        EXPECT_EQ(cases[i].nHeight, nHeight) << "case " << i;
        PTL::CComPtr<IHTMLElement> pParent;
        pElement->get_offsetParent(&pParent);
        BSTR bstrParent = nullptr;
        ASSERT_TRUE(pParent) << "case " << i;
        pParent->get_id(&bstrParent);
        EXPECT_EQ(cases[i].pszParent, Text(bstrParent)) << "case " << i;
        RECT rcPage = {};
        ASSERT_TRUE(PTL::ElementPageRect(pElement, rcPage)) << "case " << i;
        EXPECT_EQ(cases[i].nPageLeft, rcPage.left) << "case " << i;
        EXPECT_EQ(cases[i].nPageTop, rcPage.top) << "case " << i;
        EXPECT_EQ(cases[i].nWidth, rcPage.right - rcPage.left) << "case " << i;
    }
}

// The control finds the browser through its site, watches its events and sends the page on
// through the document; a handler of BeforeNavigate2 may cancel.
TEST(Container, NavigationThroughTheDocumentIsRecordedAndAnnounced)
{
    CPageFixture fixture;
    ASSERT_EQ(0, fixture.Run(BoxedObject())) << Narrow(fixture.Errors());
    PTL::CComPtr<IServiceProvider> pServices;
    ASSERT_EQ(S_OK, fixture.pFake->pSite.QueryInterface(&pServices));
    PTL::CComPtr<IWebBrowser2> pBrowser;
    ASSERT_EQ(S_OK, pServices->QueryService(SID_SWebBrowserApp, IID_PPV_ARGS(&pBrowser)));
    std::vector<std::wstring> events;
    auto pSink =
        PTL::MakeComObject<CEventSink>(DIID_DWebBrowserEvents2, [&events](DISPID nId, DISPPARAMS* pParams, VARIANT*) {
            events.push_back(std::to_wstring(nId));
            if (nId == DISPID_BEFORENAVIGATE2)
            {
                std::wstring strUrl;
                PTL::VariantToText(*V_VARIANTREF(&pParams->rgvarg[5]), strUrl);
                if (strUrl.find(L"cancel") != std::wstring::npos)
                    *V_BOOLREF(&pParams->rgvarg[0]) = VARIANT_TRUE;
            }
            return S_OK;
        });
    CEventConnection connection;
    ASSERT_EQ(S_OK, connection.Connect(pBrowser.Get(), DIID_DWebBrowserEvents2, pSink.Get()));
    PTL::CComPtr<IDispatch> pDispatch;
    ASSERT_EQ(S_OK, pBrowser->get_Document(&pDispatch));
    PTL::CComPtr<IHTMLDocument2> pDocument;
    ASSERT_EQ(S_OK, pDispatch.QueryInterface(&pDocument));

    const struct
    {
        const wchar_t* pszUrl;
        const wchar_t* pszNavigated;
        std::vector<std::wstring> events;
    } cases[] = {
        {L"http://127.0.0.1/cancel.html", L"", {L"250"}},
        {L"http://127.0.0.1/done.html", L"http://127.0.0.1/done.html", {L"250", L"252", L"259"}},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        events.clear();
        fixture.out.clear();
        PTL::CComBSTR url(cases[i].pszUrl);
        EXPECT_EQ(S_OK, pDocument->put_URL(url.Get())) << "case " << i;
        EXPECT_EQ(cases[i].events, events) << "case " << i;
        EXPECT_EQ(cases[i].pszNavigated, fixture.pRunner->NavigatedTo()) << "case " << i;
        const std::vector<std::wstring> expected =
            *cases[i].pszNavigated ? std::vector<std::wstring>{L"navigated: " + std::wstring(cases[i].pszNavigated)}
                                   : std::vector<std::wstring>{};
        EXPECT_EQ(expected, fixture.out) << "case " << i;
    }
    // The document keeps its own address; the page's address is what it was loaded from.
    BSTR bstrUrl = nullptr;
    pDocument->get_URL(&bstrUrl);
    EXPECT_EQ(fixture.strUrl, Text(bstrUrl));
    connection.Disconnect();
    pSink->Detach();
}

// Without the browser service the document is still there for the control's window's parent.
TEST(Container, ThePageWindowHandsOutItsDocumentWithOrWithoutTheService)
{
    for (bool bService : {true, false})
    {
        CPageFixture fixture;
        fixture.bBrowserService = bService;
        ASSERT_EQ(0, fixture.Run(BoxedObject())) << Narrow(fixture.Errors());
        PTL::CComPtr<IOleContainer> pContainer;
        ASSERT_EQ(S_OK, fixture.pFake->pSite->GetContainer(&pContainer));
        PTL::CComPtr<IServiceProvider> pServices;
        ASSERT_EQ(S_OK, pContainer.QueryInterface(&pServices));
        PTL::CComPtr<IWebBrowser2> pBrowser;
        EXPECT_EQ(bService, SUCCEEDED(pServices->QueryService(SID_SWebBrowserApp, IID_PPV_ARGS(&pBrowser))))
            << "service " << bService;

        const UINT nMessage = RegisterWindowMessageW(L"WM_HTML_GETOBJECT");
        DWORD_PTR nResult = 0;
        ASSERT_TRUE(
            SendMessageTimeoutW(GetParent(fixture.pFake->hWnd), nMessage, 0, 0, SMTO_ABORTIFHUNG, 1000, &nResult));
        PTL::CComPtr<IHTMLDocument2> pDocument;
        ASSERT_EQ(S_OK,
                  ObjectFromLresult(LRESULT(nResult), IID_IHTMLDocument2, 0, reinterpret_cast<void**>(&pDocument)));
        BSTR bstrUrl = nullptr;
        pDocument->get_URL(&bstrUrl);
        EXPECT_EQ(fixture.strUrl, Text(bstrUrl)) << "service " << bService;
    }
}

// A control that is still referenced after the page closed it is a leak the host reports.
TEST(Container, AnObjectStillReferencedAfterThePageIsReported)
{
    for (bool bLeak : {false, true})
    {
        CPageFixture fixture;
        fixture.pFake->bKeepSiteOnClose = bLeak;
        ASSERT_EQ(0, fixture.Run(BoxedObject())) << Narrow(fixture.Errors());
        auto* pFake = fixture.pFake.Detach();
        pFake->Release();  // from here the page holds the only references
        EXPECT_EQ(bLeak ? ExitCode::Leak : 0, fixture.pRunner->Shutdown())
            << "leak " << bLeak << Narrow(fixture.Errors());
        EXPECT_EQ(bLeak, fixture.Errors().find(L"still referenced") != std::wstring::npos) << Narrow(fixture.Errors());
        if (bLeak)
        {
            pFake->pSite.Release();
            pFake->Release();
        }
    }
}

}  // namespace
