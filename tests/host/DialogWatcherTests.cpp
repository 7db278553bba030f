// The dialog watcher answers real message boxes and dialogs of the process by the policy, and
// records what they showed; the wait that it and every test's loop use ends for what it was asked.
#include "ptl/Handle.h"
#include "ptl/Text.h"
#include "ptl/Wait.h"
#include "tools/host/DialogWatcher.h"

#include <gtest/gtest.h>
#include <functional>
#include <thread>

using namespace Host;

namespace
{

CDialogAnswer Answer(std::initializer_list<const wchar_t*> steps)
{
    CDialogAnswer answer;
    for (const wchar_t* psz : steps)
    {
        CDialogStep step;
        std::wstring strError;
        EXPECT_TRUE(ParseDialogStep(psz, step, strError)) << PTL::EncodeText(psz);
        answer.push_back(step);
    }
    return answer;
}

TEST(DialogWatcher, ParsesSteps)
{
    const struct
    {
        const wchar_t* pszStep;
        bool bValid;
        CDialogStep::EKind nKind;
        const wchar_t* pszText;
        int nId;
        int nMilliseconds;
    } cases[] = {
        {L"press:OK", true, CDialogStep::Press, L"OK", -1, -1},
        {L"PRESS:Save as", true, CDialogStep::Press, L"Save as", -1, -1},
        {L"press:#6", true, CDialogStep::Press, L"", 6, -1},
        {L"press:#x", false},
        {L"press:", false},
        {L"escape", true, CDialogStep::Escape, L"", -1, -1},
        {L"escape:1", false},
        {L"enter", true, CDialogStep::Enter, L"", -1, -1},
        {L"close", true, CDialogStep::Close, L"", -1, -1},
        {L"leave", true, CDialogStep::Leave, L"", -1, -1},
        {L"leave:250", true, CDialogStep::Leave, L"", -1, 250},
        {L"leave:-1", false},
        {L"leave:soon", false},
        {L"type:1152:C:\\dir\\a b.txt", true, CDialogStep::Type, L"C:\\dir\\a b.txt", 1152, -1},
        {L"type:1152:", true, CDialogStep::Type, L"", 1152, -1},
        {L"type:name:x", false},
        {L"type:12", false},
        {L"click:OK", false},
        {L"", false},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        CDialogStep step;
        std::wstring strError;
        const bool bValid = ParseDialogStep(cases[i].pszStep, step, strError);
        EXPECT_EQ(cases[i].bValid, bValid) << "case " << i;
        if (!bValid)
        {
            EXPECT_FALSE(strError.empty()) << "case " << i;
            continue;
        }
        EXPECT_EQ(cases[i].nKind, step.nKind) << "case " << i;
        EXPECT_EQ(cases[i].pszText, step.strText) << "case " << i;
        EXPECT_EQ(cases[i].nId, step.nId) << "case " << i;
        EXPECT_EQ(cases[i].nMilliseconds, step.nMilliseconds) << "case " << i;
        // What the watcher writes into a record reads back as the same step.
        CDialogStep again;
        EXPECT_TRUE(ParseDialogStep(DescribeDialogStep(step), again, strError)) << "case " << i;
        EXPECT_EQ(DescribeDialogStep(step), DescribeDialogStep(again)) << "case " << i;
    }
}

TEST(DialogWatcher, AnswersMessageBoxesByPolicy)
{
    const struct
    {
        CDialogAnswer policy;
        UINT nType;
        int nResult;
        const wchar_t* pszAnswer;
    } cases[] = {
        {Answer({L"escape"}), MB_OKCANCEL, IDCANCEL, L"escape"},
        {Answer({L"press:No"}), MB_YESNO, IDNO, L"press:No"},
        {Answer({L"press:#6"}), MB_YESNO, IDYES, L"press:#6"},
        {Answer({L"press:cancel"}), MB_OKCANCEL, IDCANCEL, L"press:cancel"},
        {Answer({L"enter"}), MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL, L"enter"},
        {Answer({L"press:Retry"}), MB_OKCANCEL, IDCANCEL, L"no button Retry, escape"},
        {Answer({L"leave:200"}), MB_OKCANCEL, IDCANCEL, L"leave:200, escape"},
        {Answer({L"close"}), MB_OKCANCEL, IDCANCEL, L"close"},
        {Answer({L"leave:50", L"press:OK"}), MB_OKCANCEL, IDOK, L"leave:50, press:OK"},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        CDialogWatcher watcher;
        watcher.SetPolicy(cases[i].policy);
        const std::wstring strText = L"Question " + std::to_wstring(i) + L"\nsecond line";
        EXPECT_EQ(cases[i].nResult, MessageBoxW(nullptr, strText.c_str(), L"Watched caption", cases[i].nType))
            << "case " << i;
        // The record is complete once the watcher has seen the box go.
        Host::WaitUntil([&watcher] { return watcher.Records().empty() || !watcher.Records()[0].bOpen; }, 2000);
        const auto records = watcher.Records();
        ASSERT_EQ(1u, records.size()) << "case " << i;
        EXPECT_EQ(L"Watched caption", records[0].strCaption) << "case " << i;
        EXPECT_EQ(std::vector<std::wstring>{strText}, records[0].VisibleTexts(L"Static")) << "case " << i;
        EXPECT_EQ(cases[i].pszAnswer, records[0].strAnswer) << "case " << i;
        EXPECT_FALSE(records[0].bOpen) << "case " << i;
        const auto buttons = records[0].VisibleTexts(L"Button");
        EXPECT_EQ(2u, buttons.size()) << "case " << i;
    }
}

TEST(DialogWatcher, QueuedAnswersComeBeforeThePolicy)
{
    CDialogWatcher watcher;
    watcher.SetPolicy(Answer({L"press:Cancel"}));
    watcher.QueueAnswer(Answer({L"press:OK"}));
    watcher.QueueAnswer(Answer({L"press:Yes"}));
    const int results[] = {
        MessageBoxW(nullptr, L"one", L"first", MB_OKCANCEL),
        MessageBoxW(nullptr, L"two", L"second", MB_YESNO),
        MessageBoxW(nullptr, L"three", L"third", MB_OKCANCEL),
    };
    EXPECT_EQ(IDOK, results[0]);
    EXPECT_EQ(IDYES, results[1]);
    EXPECT_EQ(IDCANCEL, results[2]);
    Host::WaitUntil([&watcher] { return watcher.Count() != 3 || !watcher.Records()[2].bOpen; }, 2000);
    const auto records = watcher.Records();
    ASSERT_EQ(3u, records.size());
    const wchar_t* const captions[] = {L"first", L"second", L"third"};
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(captions[i], records[i].strCaption) << "case " << i;
}

// A dialog with an edit field: the watcher types into it and presses OK, and the dialog reads
// what was typed, as it would read a user's input.
struct CEditDialog
{
    std::wstring strTyped;

    static INT_PTR CALLBACK Proc(HWND hDlg, UINT nMsg, WPARAM wParam, LPARAM lParam)
    {
        if (nMsg == WM_INITDIALOG)
        {
            SetWindowLongPtrW(hDlg, DWLP_USER, lParam);
            return TRUE;
        }
        if (nMsg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL))
        {
            auto* pSelf = reinterpret_cast<CEditDialog*>(GetWindowLongPtrW(hDlg, DWLP_USER));
            wchar_t szText[256] = {};
            GetDlgItemTextW(hDlg, 100, szText, 256);
            pSelf->strTyped = szText;
            EndDialog(hDlg, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    }

    INT_PTR Run()
    {
        // An in-memory template: caption, an edit field (id 100), an OK button.
        std::vector<WORD> tmpl;
        auto Align = [&tmpl] {
            if (tmpl.size() % 2)
                tmpl.push_back(0);
        };
        auto Text = [&tmpl](const wchar_t* psz) {
            for (; *psz; ++psz)
                tmpl.push_back(WORD(*psz));
            tmpl.push_back(0);
        };
        auto Dword = [&tmpl](DWORD n) {
            tmpl.push_back(LOWORD(n));
            tmpl.push_back(HIWORD(n));
        };
        Dword(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT);
        Dword(0);
        tmpl.push_back(2);  // items
        for (WORD n : {10, 10, 200, 80})
            tmpl.push_back(n);
        tmpl.push_back(0);  // menu
        tmpl.push_back(0);  // class
        Text(L"Type here");
        tmpl.push_back(8);
        Text(L"MS Shell Dlg");
        const struct
        {
            DWORD nStyle;
            WORD x, y, cx, cy, nId, nClass;
            const wchar_t* pszText;
        } items[] = {
            {WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, 10, 10, 150, 14, 100, 0x0081, L""},
            {WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON, 10, 40, 50, 14, IDOK, 0x0080, L"OK"},
        };
        for (const auto& item : items)
        {
            Align();  // items start on a DWORD boundary
            Dword(item.nStyle);
            Dword(0);
            for (WORD n : {item.x, item.y, item.cx, item.cy, item.nId})
                tmpl.push_back(n);
            tmpl.push_back(0xFFFF);
            tmpl.push_back(item.nClass);
            Text(item.pszText);
            tmpl.push_back(0);  // no creation data
        }
        return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(tmpl.data()),
                                       nullptr, Proc, reinterpret_cast<LPARAM>(this));
    }
};

TEST(DialogWatcher, TypesIntoAFieldThenPresses)
{
    CDialogWatcher watcher;
    watcher.SetPolicy(Answer({L"type:100:C:\\files\\\xC54C\xB9BC.txt", L"press:OK"}));
    CEditDialog dialog;
    EXPECT_EQ(IDOK, dialog.Run());
    EXPECT_EQ(L"C:\\files\\\xC54C\xB9BC.txt", dialog.strTyped);
    const auto records = watcher.Records();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(L"Type here", records[0].strCaption);
    EXPECT_EQ(L"type:100:C:\\files\\\xC54C\xB9BC.txt, press:OK", records[0].strAnswer);
}

// What reached the window below: messages dispatched to it, and sent ones answered.
int g_nDispatched = 0;
LRESULT CALLBACK CountingProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_APP)
    {
        ++g_nDispatched;
        return 1;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

// Another thread acts while this one waits; the wait must end for the reason the case gives.
TEST(Wait, EndsOnWhatItWasAskedFor)
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = CountingProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"PL5WaitTest";
    RegisterClassW(&wc);
    const HWND hWnd = CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    ASSERT_TRUE(hWnd);
    const DWORD nThread = GetCurrentThreadId();
    PTL::CKernelHandle events[2] = {PTL::CKernelHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
                                    PTL::CKernelHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr))};
    bool bTaken = false;
    const struct
    {
        const char* szCase;
        PTL::EServe nServe;
        bool bTake;                    // the wait takes WM_APP itself
        std::function<void()> fnAct;   // on the other thread
        std::function<bool()> fnDone;  // null: no condition
        PTL::EWaitEnd nEnd;
        DWORD nIndex;
        int nDispatched;
    } cases[] = {
        {"the second handle", PTL::EServe::Nothing, false, [&] { SetEvent(events[1].Get()); }, nullptr,
         PTL::EWaitEnd::Signalled, 1, 0},
        // The sender is held until the wait serves it: a wait that does not would see no signal.
        {"a sent message, then the handle", PTL::EServe::SentMessages, false,
         [&] {
             DWORD_PTR nAnswer = 0;
             if (SendMessageTimeoutW(hWnd, WM_APP, 0, 0, SMTO_BLOCK, 5000, &nAnswer) && nAnswer == 1)
                 SetEvent(events[0].Get());
         },
         nullptr, PTL::EWaitEnd::Signalled, 0, 1},
        {"a posted message makes the condition hold", PTL::EServe::AllMessages, false,
         [&] { PostMessageW(hWnd, WM_APP, 0, 0); }, [] { return g_nDispatched == 1; }, PTL::EWaitEnd::Done, 0, 1},
        {"a taken message is not dispatched", PTL::EServe::AllMessages, true, [&] { PostMessageW(hWnd, WM_APP, 0, 0); },
         [&] { return bTaken; }, PTL::EWaitEnd::Done, 0, 0},
        {"a quit ends the loop", PTL::EServe::AllMessages, false, [&] { PostThreadMessageW(nThread, WM_QUIT, 7, 0); },
         nullptr, PTL::EWaitEnd::Quit, 7, 0},
        {"nothing comes", PTL::EServe::AllMessages, false, [] {}, [] { return false; }, PTL::EWaitEnd::TimedOut, 0, 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        const auto& c = cases[i];
        for (auto& ev : events)
            ResetEvent(ev.Get());
        g_nDispatched = 0;
        bTaken = false;
        PTL::CWait wait(c.nEnd == PTL::EWaitEnd::TimedOut ? 200 : 10000);
        wait.For(events[0].Get()).For(events[1].Get()).Serving(c.nServe);
        if (c.fnDone)
            wait.Until(c.fnDone);
        if (c.bTake)
            wait.Taking([&](MSG& msg) { return bTaken = msg.message == WM_APP; });
        std::thread other(c.fnAct);
        const ULONGLONG nStart = GetTickCount64();
        const PTL::CWaitResult result = wait.Run();
        const ULONGLONG nTook = GetTickCount64() - nStart;
        other.join();
        EXPECT_EQ(c.nEnd, result.End()) << "case " << i << ": " << c.szCase;
        EXPECT_EQ(c.nIndex, c.nEnd == PTL::EWaitEnd::Quit ? DWORD(result.QuitCode()) : result.Index())
            << "case " << i << ": " << c.szCase;
        EXPECT_EQ(c.nDispatched, g_nDispatched) << "case " << i << ": " << c.szCase;
        if (c.nEnd == PTL::EWaitEnd::TimedOut)
            EXPECT_TRUE(nTook >= 190 && nTook < 2000) << "case " << i << ": " << nTook << " ms";
    }
    DestroyWindow(hWnd);
}

}  // namespace
