// The progress dialog run as StartUpload runs it, against real servers on 127.0.0.1 (PHP's
// receiver, directly and behind a throttling proxy, and the recording server), while a second
// thread looks at it and presses its keys as a user would.
#include <gtest/gtest.h>

#include <shlwapi.h>

#include <cstdlib>
#include <algorithm>
#include <memory>
#include <regex>
#include <thread>

#include "progress/UploadDlg.h"
#include "filelist/Format.h"
#include "lang/LangIds.h"
#include "lang/LangTable.h"
#include "ptl/Text.h"
#include "ptl/Wait.h"
#include "tests/progress/DialogDriver.h"
#include "tests/upload/ImportSlot.h"
#include "tests/common/ConfiguredTimeout.h"
#include "tests/upload/TestServers.h"
#include "tests/upload/UploadTestFiles.h"

namespace
{
int SlowPort()
{
    const char* sz = getenv("PL5_SLOW_PORT");
    return sz ? atoi(sz) : 0;
}

// Through the throttling proxy, at its own rate or at nRate bytes per second.
std::wstring SlowUrl(unsigned nRate = 0)
{
    return L"http://127.0.0.1:" + std::to_wstring(SlowPort()) + L"/receive.php" +
           (nRate ? L"?rate=" + std::to_wstring(nRate) : std::wstring());
}

// What the user saw of one dialog; filled on the driver's thread, checked on the test's.
struct CSeen
{
    bool bFound = false;
    std::wstring strCaption;
    RECT rcDialog = {}, rcList = {}, rcPowered = {};
    bool bPoweredShown = false;
    std::vector<std::wstring> columns, cells;
    bool bBoxAppeared = false, bAskedAgain = false;
    LRESULT nTotalBar = -1;  // the overall bar's position when the user pressed Escape
};

class UploadDialog : public CServerTest
{
protected:
    void SetUp() override
    {
        if (!SlowPort())
            GTEST_FAIL() << "run through tests/progress/with_throttle.sh";
        CServerTest::SetUp();
        PL5Lang::SetProgramTitle(L"Pelora");
        ASSERT_TRUE(PL5Lang::LoadLanguage(L"en"));
    }

    void List(const std::wstring& strName, const std::string& strContent)
    {
        FileEntry entry = ListedFile(m_dir.WriteFile(strName, strContent), L"file", strContent.size());
        CopyField(entry.szFileSize, FormatSizeText(entry.nFileSize, 2).c_str());
        m_files.push_back(entry);
        m_contents.push_back(strContent);
    }

    // Runs one modal upload over an active page window (its owner is a control window inside the
    // page, m_hPage while it runs) while fnDriver watches from a second thread; returns the wall
    // time. The page is the active window again afterwards.
    double Run(CUploadDlg& dlg, const std::wstring& strAction, const std::function<void()>& fnDriver)
    {
        const std::unique_ptr<HWND__, decltype(&DestroyWindow)> page(
            CreateWindowExW(0, L"Static", L"page", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 300, nullptr, nullptr,
                            nullptr, nullptr),
            &DestroyWindow);
        const HWND hControl =
            CreateWindowExW(0, L"Static", L"control", WS_CHILD, 0, 0, 200, 100, page.get(), nullptr, nullptr, nullptr);
        EXPECT_TRUE(page && hControl && SetForegroundWindow(page.get()));
        m_hPage = page.get();
        dlg.PrepareUpload(m_files, false, false, L"http://127.0.0.1/page.html", strAction);
        LARGE_INTEGER liStart, liEnd, liFrequency;
        QueryPerformanceFrequency(&liFrequency);
        QueryPerformanceCounter(&liStart);
        std::thread driver(fnDriver);
        const bool bRan = dlg.DoModal(hControl);
        QueryPerformanceCounter(&liEnd);
        driver.join();
        EXPECT_TRUE(bRan);
        EXPECT_EQ(page.get(), GetActiveWindow()) << "the activation went elsewhere";
        EXPECT_TRUE(IsWindowEnabled(page.get())) << "the page stays disabled after the upload";
        m_hPage = nullptr;
        return static_cast<double>(liEnd.QuadPart - liStart.QuadPart) / static_cast<double>(liFrequency.QuadPart);
    }

    std::vector<LONG> States(const CUploadDlg& dlg) const
    {
        std::vector<LONG> states;
        for (const FileEntry& entry : dlg.UploadList().Entries())
            states.push_back(static_cast<LONG>(entry.nUploadState));
        return states;
    }

    std::string Line(size_t i) const
    {
        return "  file" + std::to_string(i + 1) + ": name=\"" +
               PTL::EncodeText(PathFindFileNameW(m_files[i].szFilePath)) +
               "\" full_path=\"[^\"]*\" type=\"[^\"]+\" size=" + std::to_string(m_contents[i].size()) +
               " md5=[0-9a-f]{32} error=0\n";
    }

    CTempDir m_dir;
    std::vector<FileEntry> m_files;
    std::vector<std::string> m_contents;
    std::atomic<HWND> m_hPage{nullptr};
};
}  // namespace

TEST_F(UploadDialog, ShowsTheFilesWhileSendingAndDeliversTheAnswer)
{
    List(L"a.txt", "first file");
    // Large enough to outlast what the system buffers of a throttled connection take in at once.
    List(L"big.bin", PatternBytes(10 * 1024 * 1024, 7));
    List(L"c.txt", "third");
    CUploadDlg dlg;
    dlg.strTitle = L" - Pelora";
    dlg.FormFields().Append(L"note", L"hello");
    CSeen seen;
    std::wstring strRateDuring;
    const double dWall = Run(dlg, SlowUrl(), [&] {
        const HWND hDlg = Driver::WaitForProgressDialog(10000);
        if (!(seen.bFound = hDlg != nullptr))
            return;
        for (int i = 0; i < 3; ++i)
            seen.columns.push_back(Driver::ColumnTitle(hDlg, i));
        // While the big file is on its way: the counter, its name, the rows' states.
        Driver::WaitUntil(
            [&] { return Driver::Text(hDlg, IDC_FILE_COUNT) == L"2 / 3" && Driver::ListCell(hDlg, 0, 2) == L"Done"; },
            10000);
        seen.cells.push_back(Driver::Text(hDlg, IDC_CURRENT_FILE));
        for (int nRow = 0; nRow < 3; ++nRow)
            for (int nColumn = 0; nColumn < 3; ++nColumn)
                seen.cells.push_back(Driver::ListCell(hDlg, nRow, nColumn));
        Driver::WaitUntil([&] { return Driver::Text(hDlg, IDC_TRANSFER_RATE) != L"0.00KB"; }, 5000);
        strRateDuring = Driver::Text(hDlg, IDC_TRANSFER_RATE);
    });

    ASSERT_TRUE(seen.bFound);
    EXPECT_EQ((std::vector<std::wstring>{L"Name", L"Size", L"Status"}), seen.columns);
    EXPECT_EQ((std::vector<std::wstring>{L"big.bin",                    // current file
                                         L"a.txt", L"0.00KB", L"Done",  // (10 bytes)
                                         L"big.bin", L"10.00MB", L"Upload", L"c.txt", L"0.00KB", L"Wait"}),
              seen.cells);
    EXPECT_TRUE(std::regex_match(PTL::EncodeText(strRateDuring), std::regex("[0-9,]+\\.[0-9]{2}KB")))
        << PTL::EncodeText(strRateDuring);

    ASSERT_EQ(EUploadOutcome::Completed, dlg.Result().nOutcome);
    EXPECT_TRUE(
        std::regex_search(PTL::EncodeText(dlg.Response()),
                          std::regex("files: 3\n" + Line(0) + Line(1) + Line(2) + "fields: 1\n  note = \"hello\"\n")))
        << PTL::EncodeText(dlg.Response());
    EXPECT_EQ((std::vector<LONG>{2, 2, 2}), States(dlg));
    const LONGLONG nTotal = 10 + 10 * 1024 * 1024 + 5;
    EXPECT_EQ(nTotal, dlg.Progress().nTotalSent.load());
    EXPECT_EQ(100, dlg.Progress().nTotalPercent.load());
    // Rate: the whole upload at the proxy's pace, measured over the time actually spent.
    EXPECT_GT(dlg.Progress().dElapsedSec.load(), 0.0);
    EXPECT_LE(dlg.Progress().dElapsedSec.load(), dWall);
}

// When the current file's text changed on this thread, seen as the dialog's static receives it.
std::vector<ULONGLONG> g_currentFileTimes;
LRESULT CALLBACK RecordCurrentFileTexts(int nCode, WPARAM wParam, LPARAM lParam)
{
    const auto* pCall = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (nCode >= 0 && pCall->message == WM_SETTEXT && GetDlgCtrlID(pCall->hwnd) == IDC_CURRENT_FILE && pCall->lParam &&
        *reinterpret_cast<const wchar_t*>(pCall->lParam))
        g_currentFileTimes.push_back(GetTickCount64());
    return CallNextHookEx(nullptr, nCode, wParam, lParam);
}

// The worker's opening of each file, paced at a few milliseconds (a slow disk): files then
// begin about two hundred times a second however fast or loaded the machine is.
DWORD g_nDialogThread = 0;
using CreateFileFn = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
const CreateFileFn g_pRealCreateFile =
    reinterpret_cast<CreateFileFn>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CreateFileW"));
HANDLE WINAPI SlowOpen(LPCWSTR szName, DWORD nAccess, DWORD nShare, LPSECURITY_ATTRIBUTES pSecurity, DWORD nCreation,
                       DWORD nFlags, HANDLE hTemplate)
{
    if (GetCurrentThreadId() != g_nDialogThread)
        Sleep(5);
    return g_pRealCreateFile(szName, nAccess, nShare, pSecurity, nCreation, nFlags, hTemplate);
}

TEST_F(UploadDialog, TinyFilesAreShownAtMostTenTimesASecond)
{
    // Hundreds of files begin within two or three seconds: the dialog names one at most every
    // 100 ms (the last showing, at the end of the run, excepted).
    for (int i = 0; i < 500; ++i)
        List(L"tiny" + std::to_wstring(i) + L".txt", PatternBytes(100, i));
    CUploadDlg dlg;
    dlg.strTitle = L" - Pelora";
    g_currentFileTimes.clear();
    g_nDialogThread = GetCurrentThreadId();
    const CImportSwap slowOpen("kernel32.dll", "CreateFileW", reinterpret_cast<void*>(&SlowOpen));
    ASSERT_TRUE(slowOpen.Installed());
    const HHOOK hHook = SetWindowsHookExW(WH_CALLWNDPROC, RecordCurrentFileTexts, nullptr, GetCurrentThreadId());
    ASSERT_TRUE(hHook);
    Run(dlg, RecordUrl(L"/tiny"), [] {});
    UnhookWindowsHookEx(hHook);
    ASSERT_EQ(EUploadOutcome::Completed, dlg.Result().nOutcome);
    ASSERT_GE(g_currentFileTimes.size(), 5u) << "the files were shown";
    // Counted over the whole run rather than between two showings: a showing the loaded machine
    // delays brings the next one closer without the dialog showing more often.
    const ULONGLONG nSpan = g_currentFileTimes.back() - g_currentFileTimes.front();
    EXPECT_LE(g_currentFileTimes.size(), nSpan / 100 + 3)
        << g_currentFileTimes.size() << " showings in " << nSpan << " ms";
}

namespace
{
// Dialogs made on the dialog's thread while the hook is in.
int g_nDialogsMade = 0;
LRESULT CALLBACK CountDialogsMade(int nCode, WPARAM wParam, LPARAM lParam)
{
    wchar_t szClass[16] = L"";
    if (nCode == HCBT_CREATEWND && GetClassNameW(reinterpret_cast<HWND>(wParam), szClass, 16) &&
        wcscmp(szClass, L"#32770") == 0)
        ++g_nDialogsMade;
    return CallNextHookEx(nullptr, nCode, wParam, lParam);
}
}  // namespace

// A silent or field-only upload makes no window however long it runs; a shown one makes its
// dialog only when it still runs after half a second. Without a window the upload still holds
// the page as a modal dialog would: the page's window is disabled until the upload ends.
TEST_F(UploadDialog, SilentFieldOnlyAndShortUploadsMakeNoWindow)
{
    const struct
    {
        bool bSilent, bFiles, bHeld;
    } cases[] = {{true, true, true}, {false, false, true}, {true, false, true}, {false, true, false}};
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        RecordServer::Reset();
        m_files.clear();
        m_contents.clear();
        if (cases[i].bFiles)
            List(L"s" + std::to_wstring(i) + L".txt", "silent content");
        RecordServer::Script(cases[i].bHeld ? "[{\"hold\": 30, \"body\": \"stored\"}]" : "[{\"body\": \"stored\"}]");
        CUploadDlg dlg;
        dlg.bSilent = cases[i].bSilent;
        dlg.strTitle = L" - Pelora";
        dlg.FormFields().Append(L"k", L"v");
        bool bArrived = false, bPageHeld = false;
        g_nDialogsMade = 0;
        const HHOOK hHook = SetWindowsHookExW(WH_CBT, CountDialogsMade, nullptr, GetCurrentThreadId());
        ASSERT_TRUE(hHook);
        const double dWall = Run(dlg, RecordUrl(L"/silent"), [&] {
            // The whole request is in; a held answer is let go once a dialog would have come.
            bArrived = Driver::WaitUntil([] { return RecordServer::Count() > 0; }, 10000);
            bPageHeld = !IsWindowEnabled(m_hPage);
            if (cases[i].bHeld)
                Driver::WaitForProgressDialog(1500);
            RecordServer::Release();
        });
        UnhookWindowsHookEx(hHook);
        EXPECT_TRUE(bArrived) << "case " << i;
        EXPECT_TRUE(bPageHeld || !cases[i].bHeld) << "case " << i << ": the page took input during the upload";
        EXPECT_EQ(0, g_nDialogsMade) << "case " << i << ", " << dWall << " s";
        EXPECT_EQ(EUploadOutcome::Completed, dlg.Result().nOutcome) << "case " << i;
        EXPECT_EQ(L"stored", dlg.Response()) << "case " << i;
    }
}

TEST_F(UploadDialog, WaitForTheAnswerBlinksAndIgnoresEscape)
{
    List(L"w.txt", "waiting");
    // The answer is held until the blink has been seen (or 30 s have gone).
    RecordServer::Script("[{\"hold\": 30, \"body\": \"late\"}]");
    CUploadDlg dlg;
    dlg.strTitle = L" - Pelora";
    std::vector<std::wstring> status;
    const std::vector<std::wstring> blink = {L" ", L"", L" "};
    auto blinked = [&] {
        return std::search(status.begin(), status.end(), blink.begin(), blink.end()) != status.end();
    };
    bool bBox = false;
    Run(dlg, RecordUrl(L"/wait"), [&] {
        const HWND hDlg = Driver::WaitForProgressDialog(10000);
        if (!hDlg)
            return;
        // Esc once the file is out and the fields go (the text of their stage is one blank in English).
        Driver::WaitUntil([&] { return Driver::Text(hDlg, IDC_STATUS_TEXT) == L" "; }, 10000);
        Driver::PressKey(hDlg, VK_ESCAPE);
        bBox = Driver::WaitForMessageBox(hDlg, 1000) != nullptr;
        Driver::WaitUntil(
            [&] {
                const std::wstring str = Driver::Text(hDlg, IDC_STATUS_TEXT);
                if (status.empty() || status.back() != str)
                    status.push_back(str);
                return blinked() || !IsWindow(hDlg);
            },
            30000);
        RecordServer::Release();
    });
    EXPECT_FALSE(bBox) << "no question unless file content is being sent";
    EXPECT_EQ(EUploadOutcome::Completed, dlg.Result().nOutcome);
    EXPECT_EQ(L"late", dlg.Response());
    // Later in the wait that blank alternates with nothing.
    EXPECT_TRUE(blinked()) << "status texts seen: " << status.size();
}

TEST_F(UploadDialog, EscapeWhileSendingAsksNoGoesOnYesCancels)
{
    // What the network has taken is all the bars may show, and the question is there until the
    // body's last byte is written. (The system's buffers of one connection take up to 4 MiB at
    // once: the file outlasts them.)
    List(L"done.txt", "sent before");
    List(L"big.bin", PatternBytes(8 * 1024 * 1024, 3));
    List(L"never.txt", "not reached");
    const DWORD QUESTION_MS = 2500;
    for (const int nAnswer : {IDNO, IDYES})
    {
        CUploadDlg dlg;
        dlg.strTitle = L" - Pelora";
        CSeen seen;
        const double dWall = Run(dlg, SlowUrl(1024 * 1024), [&] {
            const HWND hDlg = Driver::WaitForProgressDialog(10000);
            if (!hDlg)
                return;
            Driver::WaitUntil(
                [&] { return dlg.Progress().nFileSent.load() > 0 && Driver::Text(hDlg, IDC_FILE_COUNT) == L"2 / 3"; },
                10000);
            seen.nTotalBar = SendDlgItemMessageW(hDlg, IDC_TOTAL_PROGRESS, PBM_GETPOS, 0, 0);
            Driver::PressKey(hDlg, VK_ESCAPE);
            const HWND hBox = Driver::WaitForMessageBox(hDlg, 5000);
            if (!(seen.bBoxAppeared = hBox != nullptr))
                return;
            Sleep(nAnswer == IDNO ? QUESTION_MS : 0);
            Driver::PressButton(hBox, nAnswer);
            // More close requests while the worker goes on or stops: the dialog neither asks
            // again nor blocks on a worker that still updates it.
            Driver::WaitUntil([&] { return !IsWindow(hBox); }, 5000);
            for (int i = 0; i < 5 && nAnswer == IDYES && IsWindow(hDlg); ++i)
            {
                Driver::PressKey(hDlg, VK_ESCAPE);
                PostMessageW(hDlg, WM_CLOSE, 0, 0);
            }
            seen.bAskedAgain = Driver::WaitForMessageBox(hDlg, 300) != nullptr;
        });
        // The question's caption, text and buttons are read on the page that stops an upload.
        EXPECT_GE(seen.nTotalBar, 0) << "answer " << nAnswer;
        EXPECT_LT(seen.nTotalBar, 90) << "answer " << nAnswer << ": the bar ran ahead of the network";
        ASSERT_TRUE(seen.bBoxAppeared) << "answer " << nAnswer;
        EXPECT_FALSE(seen.bAskedAgain) << "answer " << nAnswer;
        if (nAnswer == IDNO)
        {
            ASSERT_EQ(EUploadOutcome::Completed, dlg.Result().nOutcome);
            EXPECT_TRUE(std::regex_search(PTL::EncodeText(dlg.Response()), std::regex(Line(0) + Line(1) + Line(2))))
                << PTL::EncodeText(dlg.Response());
            // The rate's time leaves the question out (had it counted, the elapsed time would be
            // close to the whole run).
            EXPECT_LT(dlg.Progress().dElapsedSec.load(), dWall - QUESTION_MS / 2000.0);
        }
        else
        {
            EXPECT_EQ(EUploadOutcome::Cancelled, dlg.Result().nOutcome);
            // Sent, interrupted, never begun.
            EXPECT_EQ((std::vector<LONG>{2, 1, 0}), States(dlg));
        }
    }
}

TEST_F(UploadDialog, UnreachableServerEndsInErrorWithoutSendingFiles)
{
    List(L"lost.txt", "nowhere to go");
    // Nothing listening, an empty address, one that is no address at all.
    const std::wstring addresses[] = {L"http://127.0.0.1:" + std::to_wstring(UnusedPort()) + L"/receive.php", L"",
                                      L"no address at all"};
    for (size_t i = 0; i < std::size(addresses); ++i)
    {
        CUploadDlg dlg;
        Run(dlg, addresses[i], [] {});
        EXPECT_EQ(EUploadOutcome::Failed, dlg.Result().nOutcome) << "case " << i;
        EXPECT_TRUE(dlg.Response().empty()) << "case " << i;
        EXPECT_FALSE(dlg.HasWorker()) << "case " << i;
        EXPECT_EQ((std::vector<LONG>{0}), States(dlg)) << "case " << i << ": the file never began";
    }
}

// Waiting for another attempt, the user's stop question is open: Yes ends the upload at once as
// cancelled, not at the end of the long wait.
TEST_F(UploadDialog, EscapeDuringTheWaitForARetryCancels)
{
    List(L"lost.txt", "nowhere to go");
    CUploadDlg dlg;
    dlg.SetRetry(3, 60000, false);
    bool bBoxAppeared = false;
    const double dWall = Run(dlg, L"http://127.0.0.1:" + std::to_wstring(UnusedPort()) + L"/receive.php", [&] {
        const HWND hDlg = Driver::WaitForProgressDialog(10000);
        if (!hDlg ||
            !Driver::WaitUntil([&] { return Driver::Text(hDlg, IDC_STATUS_TEXT).find(L"Retrying") == 0; }, 10000))
            return;
        Driver::PressKey(hDlg, VK_ESCAPE);
        const HWND hBox = Driver::WaitForMessageBox(hDlg, 5000);
        if ((bBoxAppeared = hBox != nullptr))
            Driver::PressButton(hBox, IDYES);
    });
    ASSERT_TRUE(bBoxAppeared);
    EXPECT_EQ(EUploadOutcome::Cancelled, dlg.Result().nOutcome);
    EXPECT_LT(dWall, 30.0);
}

TEST_F(UploadDialog, TitleAndListHeightShapeTheDialog)
{
    List(L"shape.txt", "layout");
    auto measure = [&](const std::wstring& strSuffix, SHORT nListHeight) {
        RecordServer::Script("[{\"delay\": 1.0}]");
        CUploadDlg dlg;
        dlg.strTitle = strSuffix;
        dlg.nListHeight = nListHeight;
        CSeen seen;
        Run(dlg, RecordUrl(L"/shape"), [&] {
            const HWND hDlg = Driver::WaitForProgressDialog(10000);
            if (!(seen.bFound = hDlg != nullptr))
                return;
            seen.strCaption = Driver::TextOf(hDlg);
            seen.rcDialog = Driver::WindowRect(hDlg);
            seen.rcList = Driver::WindowRect(GetDlgItem(hDlg, IDC_UPLOAD_LIST));
            seen.rcPowered = Driver::WindowRect(GetDlgItem(hDlg, IDC_POWERED_BY));
            seen.bPoweredShown = Driver::IsShown(hDlg, IDC_POWERED_BY);
        });
        return seen;
    };
    const CSeen base = measure(L" - Pelora", -1);
    ASSERT_TRUE(base.bFound);
    const int nGap = base.rcPowered.bottom - base.rcList.bottom;
    const int nListHeight = Driver::Height(base.rcList);
    ASSERT_GT(nGap, 0);

    const struct
    {
        const wchar_t* szSuffix;
        SHORT nListHeight;
        const wchar_t* szCaption;
        bool bPowered;
        int nDialogChange, nListHeightSeen;
    } cases[] = {
        {L" - Other", -1, L" File Upload - Other", false, -nGap, nListHeight},
        {L"", -1, L" File Upload", false, -nGap, nListHeight},
        {L" - Pelora", 300, L" File Upload - Pelora", true, 300 - nListHeight, 300},
        {L" - Other", 60, L" File Upload - Other", false, 60 - nListHeight - nGap, 60},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i)
    {
        const CSeen seen = measure(cases[i].szSuffix, cases[i].nListHeight);
        ASSERT_TRUE(seen.bFound) << "case " << i;
        EXPECT_EQ(cases[i].szCaption, seen.strCaption) << "case " << i;
        EXPECT_EQ(cases[i].bPowered, seen.bPoweredShown) << "case " << i;
        EXPECT_EQ(cases[i].nDialogChange, Driver::Height(seen.rcDialog) - Driver::Height(base.rcDialog))
            << "case " << i;
        EXPECT_EQ(cases[i].nListHeightSeen, Driver::Height(seen.rcList)) << "case " << i;
        // The label keeps its place below the list, shown or not.
        EXPECT_EQ(nGap, seen.rcPowered.bottom - seen.rcList.bottom) << "case " << i;
    }
}

namespace
{
// Pumps the thread's messages until one of the child dialog's reports reaches hParent.
UINT WaitForReport(HWND hParent, DWORD nMilliseconds)
{
    UINT nReport = 0;
    PTL::CWait(nMilliseconds)
        .Serving(PTL::EServe::AllMessages)
        .Taking([&](MSG& msg) {
            if (msg.hwnd == hParent && msg.message >= WM_UPLOAD_COMPLETE && msg.message <= WM_UPLOAD_ERROR)
                nReport = msg.message;
            return nReport != 0;
        })
        .Until([&] { return nReport != 0; })
        .Run();
    return nReport;
}
}  // namespace

// An answer that trickles in within every read's time-out: once the receive time-out (an
// administrator's, here) has passed, the user's Escape asks and Yes ends the upload, and in child
// mode UploadCancel does; it ends as failed, since the server has the whole upload.
TEST_F(UploadDialog, AnOverdueAnswerIsStoppedAsAFailure)
{
    List(L"o.txt", "overdue");
    const CConfiguredReceiveTimeout configured(1000);
    const HWND hParent = CreateWindowExW(0, L"Static", L"control", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr,
                                         nullptr, nullptr, nullptr);
    for (const bool bChild : {false, true})
    {
        RecordServer::Script(R"([{"fault":"trickle","interval":0.3,"seconds":60}])");
        CUploadDlg dlg;
        dlg.strTitle = L" - Pelora";
        bool bBox = false;
        ULONGLONG nStoppedAt = 0;
        if (!bChild)
        {
            // Escape is ignored until the answer is overdue, then asks.
            Run(dlg, RecordUrl(L"/overdue"), [&] {
                const HWND hDlg = Driver::WaitForProgressDialog(10000);
                HWND hBox = nullptr;
                for (const ULONGLONG nEnd = GetTickCount64() + 15000; hDlg && !hBox && GetTickCount64() < nEnd;)
                {
                    Driver::PressKey(hDlg, VK_ESCAPE);
                    hBox = Driver::WaitForMessageBox(hDlg, 300);
                }
                if (!(bBox = hBox != nullptr))
                    return;
                nStoppedAt = GetTickCount64();
                Driver::PressButton(hBox, IDYES);
            });
            EXPECT_TRUE(bBox) << "the question while the answer is overdue";
        }
        else
        {
            // UploadCancel while the answer is awaited takes effect once it is overdue.
            const HWND hChild = dlg.Create(hParent);
            ASSERT_NE(nullptr, hChild);
            for (const FileEntry& entry : m_files)
                dlg.AppendFile(entry);
            ASSERT_TRUE(dlg.StartChildUpload(L"", RecordUrl(L"/overdue")));
            // The answer is being read: the status line says so.
            const std::wstring strReading = PL5Lang::GetString(IDS_STAGE_ASKING);
            ASSERT_TRUE(Driver::WaitUntil(
                [&] {
                    MSG msg;
                    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                        DispatchMessageW(&msg);
                    return Driver::Text(hChild, IDC_STATUS_TEXT) == strReading;
                },
                10000));
            nStoppedAt = GetTickCount64();
            dlg.Cancel();
            EXPECT_EQ(WM_UPLOAD_ERROR, WaitForReport(hParent, 10000));
        }
        EXPECT_EQ(EUploadOutcome::Failed, dlg.Result().nOutcome) << "child " << bChild;
        EXPECT_LT(GetTickCount64() - nStoppedAt, 4000u) << "child " << bChild << ": ended long after the stop";
    }
    DestroyWindow(hParent);
}

TEST_F(UploadDialog, ChildDialogRunsUploadsWithoutBlockingAndReportsThem)
{
    const HWND hParent = CreateWindowExW(0, L"Static", L"control", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr,
                                         nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, hParent);
    {
        CUploadDlg dlg;
        const HWND hChild = dlg.Create(hParent);
        ASSERT_NE(nullptr, hChild);
        EXPECT_TRUE(dlg.IsChild());
        const LONG_PTR nStyle = GetWindowLongPtrW(hChild, GWL_STYLE);
        EXPECT_EQ(WS_CHILD, nStyle & (WS_CHILD | WS_POPUP | WS_CAPTION));

        List(L"one.txt", "first");
        // Large enough to outlast what the system buffers of a throttled connection take in at once.
        List(L"two.bin", PatternBytes(12 * 1024 * 1024, 9));
        for (const FileEntry& entry : m_files)
            dlg.AppendFile(entry);
        EXPECT_EQ(2u, dlg.PartCount());

        // Two uploads in a row: each starts from "Wait" and zero and ends with its report. (What
        // arrives, and that a second start meanwhile does nothing, the child-mode page reads.)
        for (int nRun = 0; nRun < 2; ++nRun)
        {
            ASSERT_TRUE(dlg.StartChildUpload(L"http://127.0.0.1/page.html", PhpUrl(L"/receive.php"))) << "run " << nRun;
            EXPECT_EQ((std::vector<LONG>{0, 0}), States(dlg)) << "run " << nRun;
            EXPECT_EQ(WM_UPLOAD_COMPLETE, WaitForReport(hParent, 30000)) << "run " << nRun;
            EXPECT_EQ((std::vector<LONG>{2, 2}), States(dlg)) << "run " << nRun;
        }

        // A run has ended, its end not yet handled, when the next starts (a page's timer that
        // came first): each report still carries its own run's answer.
        CUploadDlg::CChildReport report;
        while (dlg.TakeChildReport(report))
        {
        }
        RecordServer::Script(R"([{"body":"first answer"},{"body":"second answer"}])");
        ASSERT_TRUE(dlg.StartChildUpload(L"", RecordUrl(L"/twice")));
        ASSERT_TRUE(Driver::WaitUntil([&] { return !dlg.IsRunning(); }, 30000));
        ASSERT_TRUE(dlg.StartChildUpload(L"", RecordUrl(L"/twice")));
        for (const wchar_t* szAnswer : {L"first answer", L"second answer"})
        {
            EXPECT_EQ(WM_UPLOAD_COMPLETE, WaitForReport(hParent, 30000)) << PTL::EncodeText(szAnswer);
            ASSERT_TRUE(dlg.TakeChildReport(report)) << PTL::EncodeText(szAnswer);
            EXPECT_EQ(szAnswer, report.strResponse);
        }

        // A stop request while the big file goes out (what UploadCancel does).
        ASSERT_TRUE(dlg.StartChildUpload(L"", SlowUrl()));
        EXPECT_TRUE(PTL::PumpUntil(
            [&] { return dlg.Progress().nFileSent.load() > 0 && dlg.UploadList().Entries()[1].nUploadState == 1; },
            10000));
        dlg.Cancel();
        EXPECT_EQ(WM_UPLOAD_CANCEL, WaitForReport(hParent, 30000));
        EXPECT_EQ((std::vector<LONG>{2, 1}), States(dlg));
        EXPECT_TRUE(IsWindow(hChild)) << "the child dialog stays with its last texts";
    }
    DestroyWindow(hParent);
}
