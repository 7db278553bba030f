// Watches the process for dialog windows and message boxes (window class "#32770") while a page
// or a test runs, records what the user would see in each, and answers it by a queued answer, an
// answering function or the policy. It is the one watcher of the tree: the host and the C++ tests
// use it, so the control never needs a branch of its own for tests.
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Host
{

// One thing the watcher does to a dialog. Written by pages as text:
//   "press:Name"  click the button whose text is Name (no regard to case or '&'), or "press:#2"
//                 the button with control id 2; a missing button is recorded and Esc pressed
//   "escape"      press Esc          "enter"   press Enter          "close"   send WM_CLOSE
//   "type:ID:Text" put Text into the control with id ID (decimal)
//   "leave"       leave the dialog open; "leave:MS" wait MS milliseconds before the next step
//                 (Esc when no step follows)
struct CDialogStep
{
    enum EKind
    {
        Press,
        Escape,
        Enter,
        Close,
        Type,
        Leave
    };
    EKind nKind = Escape;
    std::wstring strText;    // Press: button name; Type: the text
    int nId = -1;            // Press "#n" and Type: the control id
    int nMilliseconds = -1;  // Leave: -1 for ever
};
using CDialogAnswer = std::vector<CDialogStep>;
struct CDialogRecord;
// Chooses the answer for a dialog from what it shows when it appears (on the watcher's thread).
using CDialogAnswerer = std::function<CDialogAnswer(const CDialogRecord&)>;

// Parses one step; false (with a reason) for text that is no step.
bool ParseDialogStep(const std::wstring& strStep, CDialogStep& step, std::wstring& strError);
std::wstring DescribeDialogStep(const CDialogStep& step);

struct CDialogControl
{
    int nId = 0;
    std::wstring strClass;
    std::wstring strText;               // as last seen
    std::vector<std::wstring> history;  // every distinct text it showed, in order
    bool bVisible = false;
};

struct CDialogRecord
{
    std::wstring strCaption;
    std::vector<CDialogControl> controls;  // in the order of the dialog's child windows
    std::wstring strAnswer;                // what the watcher did, e.g. "press:OK"
    bool bOpen = true;
    HWND hWnd = nullptr;  // while open

    std::vector<std::wstring> VisibleTexts(const wchar_t* pszClass) const;
};

// Reading and working this process's dialogs, for the watcher and for tests that work a dialog
// step by step themselves. Every wait is bounded.
std::wstring WindowClass(HWND hWnd);
// A window's text without waiting on its thread for long.
std::wstring WindowText(HWND hWnd);
// Polls fnDone at the watcher's pace until it is true (true) or the time is up (false).
bool WaitUntil(const std::function<bool()>& fnDone, DWORD nMilliseconds);
// The first visible dialog (window class "#32770") of this process that fnWanted accepts, once
// one is shown; null when none is within the time.
HWND WaitForDialog(const std::function<bool(HWND)>& fnWanted, DWORD nMilliseconds);
// Presses a key in a dialog, at its focused control as the keyboard would.
void PressDialogKey(HWND hDialog, WPARAM nKey);

class CDialogWatcher
{
public:
    CDialogWatcher();
    ~CDialogWatcher();
    CDialogWatcher(const CDialogWatcher&) = delete;
    CDialogWatcher& operator=(const CDialogWatcher&) = delete;

    // The answer for every dialog that has no queued answer (initially: Esc).
    void SetPolicy(CDialogAnswer answer);
    // A one-time answer for the next dialog that appears; queued answers are used in order.
    void QueueAnswer(CDialogAnswer answer);
    // Dialogs without a queued answer are answered by this function instead of the policy.
    void SetAnswerer(CDialogAnswerer answerer);

    std::vector<CDialogRecord> Records() const;
    size_t Count() const;

private:
    struct CTracked
    {
        HWND hWnd = nullptr;
        size_t nRecord = 0;
        CDialogAnswer answer;
        size_t nNextStep = 0;
        ULONGLONG nStepTime = 0;  // when the next step may run
        bool bLeftOpen = false;
    };

    void Run();
    void Poll();
    void Snapshot(HWND hWnd, CDialogRecord& record) const;
    void Step(CTracked& tracked);

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_bStop = false;
    CDialogAnswer m_policy;
    CDialogAnswerer m_answerer;
    std::deque<CDialogAnswer> m_queued;
    std::vector<CDialogRecord> m_records;
    std::vector<CTracked> m_tracked;  // touched by the watcher thread only
    std::thread m_thread;             // last: starts after everything above exists
};

}  // namespace Host
