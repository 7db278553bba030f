// CThread: a thread this code started, owned. It runs one callable and holds a reference to the
// module that contains this code while it runs, so it may outlive whatever started it (an object
// the page let go, a control closed while a call of the worker's does not return): the module is
// unloaded only after the thread has left its code.
//
//   PTL::CThread thread;
//   if (!thread.Start([pState] { Work(*pState); }))   // what it uses, it holds (or outlives)
//       ...                                             // no thread: nothing runs
//   thread.Join(INFINITE, PTL::EServe::SentMessages);  // a window thread the worker sends to
//   // or, where the worker may be held up: a bounded join, and if it fails, let it go
//   if (!thread.Join(250))
//       thread.Release();
#pragma once
#include <windows.h>
#include <functional>
#include "ptl/Handle.h"
#include "ptl/Wait.h"

namespace PTL
{
class CThread
{
public:
    CThread() = default;
    // Joins a thread still held, without limit: Release() one that may not end.
    ~CThread() { Join(); }
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    // Runs fn on a new thread, which owns fn and destroys it before the thread ends. An exception
    // leaving fn ends the thread with a line on the debug output. False when no thread could be
    // made (also while one is still held): fn is not run then. Throws nothing.
    bool Start(std::function<void()> fn);

    // Waits up to nMilliseconds for the thread to end, serving this thread's messages as asked.
    // With bCancelIo, the thread's pending synchronous I/O (an open or a read that blocks, a
    // socket's wait) is cancelled before the wait and every CANCEL_EVERY_MS while it lasts: the
    // thread may step into one more call before it sees why it should end. True when the thread
    // has ended (or none was held); its handle is closed then.
    bool Join(DWORD nMilliseconds = INFINITE, EServe nServe = EServe::Nothing, bool bCancelIo = false);
    // Cancels the thread's pending synchronous I/O once.
    void CancelIo() const;
    // Lets the thread end on its own: the handle is closed, the thread keeps its callable and the module.
    void Release() { m_thread.Close(); }

    // A thread is held: started, and not yet joined or released.
    bool IsValid() const { return m_thread.IsValid(); }
    // For waits on several objects at once; null when none is held.
    HANDLE Handle() const { return m_thread.Get(); }

    static constexpr DWORD CANCEL_EVERY_MS = 50;

private:
    static unsigned __stdcall ThreadProc(void* pParam);

    CKernelHandle m_thread;
};
}  // namespace PTL
