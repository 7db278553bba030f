#include "ptl/Wait.h"
#include <algorithm>

namespace PTL
{
CWaitResult CWait::Run() const
{
    const ULONGLONG nStart = GetTickCount64();
    const DWORD nHandles = static_cast<DWORD>(m_handles.size());
    for (;;)
    {
        CWaitResult served(EWaitEnd::TimedOut);
        if (Serve(served))
            return served;
        if (IsDone())
            return EWaitEnd::Done;
        const DWORD nLeft = TimeLeft(nStart, m_nMilliseconds);
        const DWORD nSlice = m_fnDone ? std::min(nLeft, m_nPollMs) : nLeft;
        DWORD nResult = WAIT_TIMEOUT;
        if (m_nServe != EServe::Nothing)
            nResult = MsgWaitForMultipleObjectsEx(nHandles, m_handles.data(), nSlice,
                                                  m_nServe == EServe::AllMessages ? QS_ALLINPUT : QS_SENDMESSAGE,
                                                  m_nServe == EServe::AllMessages ? MWMO_INPUTAVAILABLE : 0);
        else if (nHandles > 0)
            nResult = WaitForMultipleObjects(nHandles, m_handles.data(), FALSE, nSlice);
        else
            Sleep(nSlice);
        if (nResult < WAIT_OBJECT_0 + nHandles)
            return CWaitResult(EWaitEnd::Signalled, nResult - WAIT_OBJECT_0);
        // A handle's owner ended without releasing it: the object is this thread's now.
        if (nResult >= WAIT_ABANDONED_0 && nResult < WAIT_ABANDONED_0 + nHandles)
            return CWaitResult(EWaitEnd::Signalled, nResult - WAIT_ABANDONED_0);
        if (nResult == WAIT_FAILED)
            return EWaitEnd::TimedOut;
        // That was the last look: what came meanwhile is left for whoever waits next.
        if (nLeft == 0)
            return IsDone() ? EWaitEnd::Done : EWaitEnd::TimedOut;
    }
}

bool CWait::Serve(CWaitResult& result) const
{
    MSG msg;
    if (m_nServe == EServe::SentMessages)
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    if (m_nServe != EServe::AllMessages)
        return false;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
    {
        if (msg.message == WM_QUIT)
        {
            result = CWaitResult(EWaitEnd::Quit, 0, static_cast<int>(msg.wParam));
            return true;
        }
        if (!m_fnTake || !m_fnTake(msg))
        {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (IsDone())
        {
            result = EWaitEnd::Done;
            return true;
        }
    }
    return false;
}

bool PumpUntil(const std::function<bool()>& fnDone, DWORD nMilliseconds)
{
    return CWait(nMilliseconds).Until(fnDone).Serving(EServe::AllMessages).Run().Done();
}

void ServePendingMessages() { CWait(0).Serving(EServe::AllMessages).Run(); }

bool WaitServingSentMessages(HANDLE hObject, DWORD nMilliseconds)
{
    return CWait(nMilliseconds).For(hObject).Serving(EServe::SentMessages).Run().Signalled();
}
}  // namespace PTL
