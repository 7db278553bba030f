// Running pages: scripts in document order, events delivered to the handlers with their
// arguments as sent and their return values as the object's result, and the page's end (its
// own code, a script error with its line, an object that cannot be made or bound).
#include "tests/host/PageFixture.h"

#include <gtest/gtest.h>

#include <fstream>

#include "Pelora5_h.h"

using namespace Host;
using namespace HostTest;

namespace
{

PTL::CComVariant UI4(ULONG n)
{
    PTL::CComVariant var;
    V_VT(&var) = VT_UI4;
    V_UI4(&var) = n;
    return var;
}

TEST(PageRunner, HandlerResultsReachTheObjectUnchanged)
{
    CPageFixture fixture;
    const int nCode = fixture.Run(std::wstring(FAKE_OBJECT) + L"<script for=ctl event=\"OnBeforeAddFile(name)\">\n"
                                                              L"  host.Print('add ' + name);\n"
                                                              L"  if (name == 'false') return false;\n"
                                                              L"  if (name == 'true') return true;\n"
                                                              L"  if (name == 'zero') return 0;\n"
                                                              L"  if (name == 'text') return 'no';\n"
                                                              L"</script>\n");
    ASSERT_EQ(0, nCode) << Narrow(fixture.Errors());
    EXPECT_EQ(1u, fixture.pFake->SinkCount());

    const struct
    {
        const wchar_t* pszName;
        VARTYPE nType;
        LONG nValue;  // VT_BOOL and VT_I4 values
    } cases[] = {
        {L"false", VT_BOOL, VARIANT_FALSE},
        {L"true", VT_BOOL, VARIANT_TRUE},
        {L"zero", VT_I4, 0},
        {L"text", VT_BSTR, 0},
        {L"other", VT_EMPTY, 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        HRESULT hr = E_FAIL;
        const PTL::CComVariant result = fixture.pFake->Fire(1, {PTL::CComVariant(std::wstring(cases[i].pszName))}, &hr);
        EXPECT_EQ(S_OK, hr) << "case " << i;
        EXPECT_EQ(cases[i].nType, result.vt) << "case " << i;
        if (result.vt == VT_BOOL)
        {
            EXPECT_EQ(cases[i].nValue, V_BOOL(&result)) << "case " << i;
        }
        if (result.vt == VT_I4)
        {
            EXPECT_EQ(cases[i].nValue, V_I4(&result)) << "case " << i;
        }
        ASSERT_EQ(i + 1, fixture.out.size());
        EXPECT_EQ(std::wstring(L"add ") + cases[i].pszName, fixture.out[i]) << "case " << i;
    }
}

TEST(PageRunner, HandlersGetTheArgumentsInDeclaredOrder)
{
    CPageFixture fixture;
    const int nCode =
        fixture.Run(std::wstring(FAKE_OBJECT) +
                    L"<script for=ctl event=\"OnBeforeDrop(file, input)\">host.Print(file + '|' + input)</script>\n"
                    L"<script for=ctl event=\"OnAddFile(name, size)\">host.Print(name, size, typeof size)</script>\n"
                    L"<script for=ctl event=\"OnRemoveItems()\">host.Print('removed', arguments.length)</script>\n"
                    L"<script for=ctl event=\"OnRemoveItems()\">host.Print('second handler')</script>\n"
                    L"<script for=ctl event=\"OnItemClick(n)\">host.Print('click', n)</script>\n");
    ASSERT_EQ(0, nCode) << Narrow(fixture.Errors());

    fixture.pFake->Fire(8, {PTL::CComVariant(std::wstring(L"C:\\a b.txt")), PTL::CComVariant(std::wstring(L"zone"))});
    fixture.pFake->Fire(2, {PTL::CComVariant(std::wstring(L"big.bin")), UI4(4000000000u)});  // a size past 2^31
    fixture.pFake->Fire(3, {});
    fixture.pFake->Fire(6, {UI4(7)});
    fixture.pFake->Fire(10, {PTL::CComVariant(std::wstring(L"no handler for this one"))});
    const std::vector<std::wstring> expected = {
        L"C:\\a b.txt|zone", L"big.bin 4000000000 number", L"removed 0", L"second handler", L"click 7",
    };
    EXPECT_EQ(expected, fixture.out);
}

TEST(PageRunner, ScriptsRunInDocumentOrderAndSeeObjectsCreatedBefore)
{
    CPageFixture fixture;
    const int nCode =
        fixture.Run(L"<script>host.Print(typeof dict, host.Arch == 'x64' || host.Arch == 'x86')</script>\n"
                    L"<object id=dict classid=\"clsid:EE09B103-97E0-11CF-978F-00A02463E06F\"></object>\n"
                    L"<script>dict.Add('k', 5); host.SetProperty(dict, 'Item', 'k', 6);\n"
                    L"host.Print(typeof dict, dict.Item('k'), host.Path('sub/f.txt'))</script>\n"
                    L"<script>host.Exit(9); host.Print('after exit')</script>\n"
                    L"<script>host.Print('next block')</script>\n");
    EXPECT_EQ(9, nCode) << Narrow(fixture.Errors());
    const std::vector<std::wstring> expected = {L"undefined true", L"object 6 C:\\pages\\sub\\f.txt"};
    EXPECT_EQ(expected, fixture.out);
    EXPECT_TRUE(fixture.err.empty()) << Narrow(fixture.Errors());
}

TEST(PageRunner, ScriptFilesRunWhereTheirTagsStand)
{
    CPageFixture fixture;
    wchar_t szTemp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, szTemp);
    fixture.strFolder = std::wstring(szTemp) + L"pl5_host_src";
    CreateDirectoryW(fixture.strFolder.c_str(), nullptr);
    std::ofstream(Narrow(fixture.strFolder + L"\\lib.js")) << "host.Print('file sees', before);\nvar fromFile = 2;\n";
    std::ofstream(Narrow(fixture.strFolder + L"\\lib.vbs")) << "host.Print \"vbscript file\"\n";
    std::ofstream(Narrow(fixture.strFolder + L"\\bad.js")) << "\n  missingFunction();\n";
    // The tag's own text gives way to the file; the page's language rules choose the engine.
    EXPECT_EQ(ExitCode::Script,
              fixture.Run(L"<script>var before = 1</script>\n<script src=\"lib.js\">host.Print('not run')</script>\n"
                          L"<script>host.Print('page sees', fromFile)</script>\n"
                          L"<script language=VBScript src=./lib.vbs></script>\n<script src=bad.js></script>"));
    const std::vector<std::wstring> expected = {L"file sees 1", L"page sees 2", L"vbscript file"};
    EXPECT_EQ(expected, fixture.out);
    ASSERT_FALSE(fixture.err.empty());
    EXPECT_EQ(0u, fixture.err[0].find(fixture.strFolder + L"\\bad.js:2:3: script error: ")) << Narrow(fixture.Errors());
}

TEST(PageRunner, FailuresEndThePageWithTheirLine)
{
    // A run-time error, a failed check and a class that cannot be made are run as whole pages by
    // the host program (script_error, failed_check, no_such_class).
    const struct
    {
        std::wstring strPage;
        int nCode;
        const wchar_t* pszError;  // a part of the first error line
    } cases[] = {
        {L"\n<script>\nvar a = ;\n</script>", ExitCode::Script, L"test.html:3:"},
        {L"<script>host.Print(1)</script>\n<script>\nthrow new Error('thrown by the page');</script>", ExitCode::Script,
         L"test.html:3:"},
        {std::wstring(FAKE_OBJECT) + L"\n<script for=ctl event=\"OnNoSuchEvent()\">x</script>", ExitCode::Object,
         L"test.html:3: error: object 'ctl' has no event 'OnNoSuchEvent'"},
        {L"<object id=dict classid=\"clsid:EE09B103-97E0-11CF-978F-00A02463E06F\"></object>\n"
         L"<script for=dict event=\"OnX()\">x</script>",
         ExitCode::Object, L"test.html:2: error: object 'dict' has no events"},
        // (Where the engine places a syntax error inside a function varies: not asserted.)
        {std::wstring(FAKE_OBJECT) + L"<script for=ctl event=\"OnUploadError()\">\n  return (;\n</script>",
         ExitCode::Script, L": script error: "},
        {L"<script>host.QueueDialogAnswer('push:OK')</script>", ExitCode::Script, L"test.html:1:"},
        {L"<script>1</script>\n<script src=missing.js></script>", ExitCode::Page,
         L"test.html:2: error: cannot read the script 'missing.js'"},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        CPageFixture fixture;
        EXPECT_EQ(cases[i].nCode, fixture.Run(cases[i].strPage)) << "case " << i;
        ASSERT_FALSE(fixture.err.empty()) << "case " << i;
        EXPECT_NE(std::wstring::npos, fixture.err[0].find(cases[i].pszError))
            << "case " << i << ": " << Narrow(fixture.Errors());
    }
}

TEST(PageRunner, AnErrorInAHandlerEndsThePage)
{
    CPageFixture fixture;
    ASSERT_EQ(0, fixture.Run(std::wstring(FAKE_OBJECT) +
                             L"<script for=ctl event=\"OnUploadError()\">\n"
                             L"  host.Print('in handler');\n"
                             L"  missingFunction();\n"
                             L"</script>\n"
                             L"<script for=ctl event=\"OnUploadCancel()\">host.Print('cancel')</script>\n"));
    HRESULT hr = E_FAIL;
    const PTL::CComVariant result = fixture.pFake->Fire(12, {}, &hr);
    EXPECT_EQ(VT_EMPTY, result.vt);
    EXPECT_TRUE(fixture.pRunner->Ending());
    EXPECT_EQ(ExitCode::Script, fixture.pRunner->Result());
    ASSERT_FALSE(fixture.err.empty());
    EXPECT_EQ(0u, fixture.err[0].find(L"test.html:4:3: script error: ")) << Narrow(fixture.Errors());
    // Once the page has ended, no handler runs any more.
    fixture.pFake->Fire(11, {});
    const std::vector<std::wstring> expected = {L"in handler"};
    EXPECT_EQ(expected, fixture.out);
    fixture.pRunner->Shutdown();
    EXPECT_EQ(0u, fixture.pFake->SinkCount());
}

TEST(PageRunner, ExitFromAHandlerStopsTheWaitingScript)
{
    CPageFixture fixture;
    // The handler ends the page while the main script waits; nothing after the wait runs.
    const std::wstring strPage =
        std::wstring(FAKE_OBJECT) +
        L"<script for=ctl event=\"OnUploadComplete(text)\">host.Print(text); host.Exit(3)</script>\n"
        L"<script>host.Wait(60000); host.Print('not reached')</script>\n";
    // The event arrives from a message posted before the page runs, as an upload's end would.
    struct CPoster
    {
        PTL::CObjectPtr<CFakeControl> pFake;
        static LRESULT CALLBACK Proc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam)
        {
            if (nMsg == WM_USER + 1)
            {
                auto* pSelf = reinterpret_cast<CPoster*>(lParam);
                pSelf->pFake->Fire(10, {PTL::CComVariant(std::wstring(L"answer text"))});
                return 0;
            }
            return DefWindowProcW(hWnd, nMsg, wParam, lParam);
        }
    } poster{fixture.pFake};
    WNDCLASSW wc = {};
    wc.lpfnWndProc = CPoster::Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"HostTestPoster";
    RegisterClassW(&wc);
    HWND hWnd = CreateWindowW(L"HostTestPoster", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(nullptr, hWnd);
    PostMessageW(hWnd, WM_USER + 1, 0, reinterpret_cast<LPARAM>(&poster));
    const int nCode = fixture.Run(strPage);
    DestroyWindow(hWnd);
    UnregisterClassW(L"HostTestPoster", wc.hInstance);
    EXPECT_EQ(3, nCode) << Narrow(fixture.Errors());
    const std::vector<std::wstring> expected = {L"answer text"};
    EXPECT_EQ(expected, fixture.out);
    EXPECT_TRUE(fixture.err.empty()) << Narrow(fixture.Errors());
}

TEST(PageRunner, AQuitMessageEndsAWaitingPageWithItsCode)
{
    CPageFixture fixture;
    PostQuitMessage(6);
    EXPECT_EQ(6, fixture.Run(L"<script>host.Wait(60000); host.Print('not reached')</script>"));
    EXPECT_TRUE(fixture.out.empty());
    EXPECT_TRUE(fixture.err.empty()) << Narrow(fixture.Errors());
}

}  // namespace
