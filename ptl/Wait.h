// One wait for every thread that waits: for handles and/or a condition, with a bound, doing with
// its messages meanwhile what its windows need.
//
//   PTL::PumpUntil([&] { return sink.calls.size() >= 2; }, 20000);  // a window thread, with its loop
//   PTL::WaitServingSentMessages(hThread, INFINITE);               // a join that must not deadlock
//   PTL::CWait(5000).Until(fnReady).Polling(5).Run();               // a thread without windows
#pragma once
#include <windows.h>
#include <functional>
#include <vector>

namespace PTL
{
// What a waiting thread does with its messages.
enum class EServe
{
    Nothing,       // sleeps: no other thread waits on this one's windows
    SentMessages,  // serves what other threads send to its windows, so a thread caught in such a call can finish
    AllMessages,   // runs a message loop: posted messages, input, paints and timers as well
};

// How a wait ended.
enum class EWaitEnd
{
    Signalled,  // a handle was signalled (Index() says which)
    Done,       // the condition held
    TimedOut,   // the bound passed first (or a handle could not be waited on)
    Quit,       // AllMessages took a WM_QUIT (QuitCode() holds its code; it was not dispatched)
};
// A WM_QUIT taken by a wait is gone from the queue: a caller inside an outer loop posts it again
// (PostQuitMessage) when that loop must end too.

class CWaitResult
{
public:
    CWaitResult(EWaitEnd nEnd, DWORD nIndex = 0, int nQuitCode = 0)
        : m_nEnd(nEnd), m_nIndex(nIndex), m_nQuitCode(nQuitCode)
    {
    }
    EWaitEnd End() const { return m_nEnd; }
    bool Signalled() const { return m_nEnd == EWaitEnd::Signalled; }
    bool Done() const { return m_nEnd == EWaitEnd::Done; }
    bool TimedOut() const { return m_nEnd == EWaitEnd::TimedOut; }
    // Which of the handles, in the order given, when Signalled().
    DWORD Index() const { return m_nIndex; }
    int QuitCode() const { return m_nQuitCode; }

private:
    EWaitEnd m_nEnd;
    DWORD m_nIndex;
    int m_nQuitCode;
};

// A wait, described and then run: for any of the handles, until the condition holds, or until
// nMilliseconds (INFINITE for no bound) have passed, whichever comes first. The condition is asked
// before the first wait, after each message the loop handles (a message is handled completely, also
// by a loop it starts, before it is asked again) and at least every Polling() milliseconds: it may
// be set by another thread or by a message.
class CWait
{
public:
    explicit CWait(DWORD nMilliseconds) : m_nMilliseconds(nMilliseconds) {}

    CWait& For(HANDLE h)
    {
        m_handles.push_back(h);
        return *this;
    }
    CWait& Until(std::function<bool()> fnDone)
    {
        m_fnDone = std::move(fnDone);
        return *this;
    }
    CWait& Serving(EServe nServe)
    {
        m_nServe = nServe;
        return *this;
    }
    // With AllMessages: each message is offered to fnTake first, and is neither translated nor
    // dispatched when it says true (a container's accelerators, a message the caller waits for).
    CWait& Taking(std::function<bool(MSG&)> fnTake)
    {
        m_fnTake = std::move(fnTake);
        return *this;
    }
    // How often the condition is asked when nothing else wakes the wait.
    CWait& Polling(DWORD nMilliseconds)
    {
        m_nPollMs = nMilliseconds;
        return *this;
    }

    CWaitResult Run() const;

private:
    // Serves the messages waiting; an end when one of them ended the wait.
    bool Serve(CWaitResult& result) const;
    bool IsDone() const { return m_fnDone && m_fnDone(); }

    DWORD m_nMilliseconds;
    std::vector<HANDLE> m_handles;
    std::function<bool()> m_fnDone;
    std::function<bool(MSG&)> m_fnTake;
    EServe m_nServe = EServe::Nothing;
    DWORD m_nPollMs = 20;
};

// What is left of a bound of nMilliseconds that began at the tick nStart: INFINITE stays INFINITE.
inline DWORD TimeLeft(ULONGLONG nStart, DWORD nMilliseconds)
{
    if (nMilliseconds == INFINITE)
        return INFINITE;
    const ULONGLONG nSpent = GetTickCount64() - nStart;
    return nSpent >= nMilliseconds ? 0 : static_cast<DWORD>(nMilliseconds - nSpent);
}

// Runs this thread's message loop until fnDone() holds, at most nMilliseconds; what fnDone says then.
bool PumpUntil(const std::function<bool()>& fnDone, DWORD nMilliseconds);

// Handles the messages already waiting for this thread, then returns.
void ServePendingMessages();

// Waits up to nMilliseconds for hObject while serving the messages other threads send to this
// thread's windows, so that a thread caught inside such a call can still finish. True when the
// object was signalled.
bool WaitServingSentMessages(HANDLE hObject, DWORD nMilliseconds);
}  // namespace PTL
