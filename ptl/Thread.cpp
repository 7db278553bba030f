#include "ptl/Thread.h"
#include <process.h>
#include <algorithm>
#include <memory>

namespace PTL
{
bool CThread::Start(std::function<void()> fn)
{
    if (m_thread.IsValid() || !fn)
        return false;
    std::unique_ptr<std::function<void()>> pFn;
    try
    {
        pFn.reset(new std::function<void()>(std::move(fn)));
    }
    catch (...)
    {
        return false;
    }
    unsigned nId = 0;
    m_thread.Reset(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &CThread::ThreadProc, pFn.get(), 0, &nId)));
    if (!m_thread.IsValid())
        return false;
    pFn.release();  // the thread owns it now
    return true;
}

unsigned __stdcall CThread::ThreadProc(void* pParam)
{
    // Taken before anything else: the module stays loaded until this thread leaves its code.
    HMODULE hModule = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&CThread::ThreadProc),
                       &hModule);
    {
        // The callable goes (and what it holds with it) while the module's code is still there.
        const std::unique_ptr<std::function<void()>> pFn(static_cast<std::function<void()>*>(pParam));
        try
        {
            (*pFn)();
        }
        catch (...)
        {
            OutputDebugStringW(L"Pelora5: a worker thread ended on an exception\n");
        }
    }
    if (hModule)
        FreeLibraryAndExitThread(hModule, 0);
    return 0;
}

bool CThread::Join(DWORD nMilliseconds, EServe nServe, bool bCancelIo)
{
    const ULONGLONG nStart = GetTickCount64();
    while (m_thread.IsValid())
    {
        const DWORD nLeft = TimeLeft(nStart, nMilliseconds);
        DWORD nSlice = nLeft;
        if (bCancelIo)
        {
            CancelIo();
            nSlice = std::min(nLeft, CANCEL_EVERY_MS);
        }
        if (CWait(nSlice).For(m_thread.Get()).Serving(nServe).Run().Signalled())
            m_thread.Close();
        else if (nSlice == nLeft)
            return false;
    }
    return true;
}

void CThread::CancelIo() const
{
    if (m_thread.IsValid())
        CancelSynchronousIo(m_thread.Get());
}
}  // namespace PTL
