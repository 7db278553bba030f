// Owners of kernel and registry handles, and a wait that keeps a window thread answering.
#pragma once
#include <windows.h>
#include <utility>

namespace PTL
{
// Owns one kernel handle (file, thread, event) and closes it when it goes.
class CKernelHandle
{
public:
    CKernelHandle() = default;
    explicit CKernelHandle(HANDLE h) : m_h(h) {}
    CKernelHandle(const CKernelHandle&) = delete;
    CKernelHandle& operator=(const CKernelHandle&) = delete;
    CKernelHandle(CKernelHandle&& other) noexcept : m_h(other.m_h) { other.m_h = nullptr; }
    CKernelHandle& operator=(CKernelHandle&& other) noexcept
    {
        if (this != &other)
        {
            Close();
            std::swap(m_h, other.m_h);
        }
        return *this;
    }
    ~CKernelHandle() { Close(); }

    void Close()
    {
        if (IsValid())
            CloseHandle(m_h);
        m_h = nullptr;
    }
    // Takes a handle as CreateFile and friends return it; INVALID_HANDLE_VALUE counts as none.
    void Reset(HANDLE h)
    {
        Close();
        m_h = h;
    }
    bool IsValid() const { return m_h != nullptr && m_h != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_h; }

private:
    HANDLE m_h = nullptr;
};

// Owns an open registry key.
class CRegKeyHandle
{
public:
    CRegKeyHandle() = default;
    CRegKeyHandle(const CRegKeyHandle&) = delete;
    CRegKeyHandle& operator=(const CRegKeyHandle&) = delete;
    ~CRegKeyHandle()
    {
        if (m_h)
            RegCloseKey(m_h);
    }
    // For RegOpenKeyExW and friends, which fill the handle in.
    HKEY* operator&() { return &m_h; }
    operator HKEY() const { return m_h; }

private:
    HKEY m_h = nullptr;
};

// Waits up to nMilliseconds for hObject while serving the messages other threads send to this
// thread's windows, so that a thread caught inside such a call can still finish. True when the
// object was signalled.
inline bool WaitServingSentMessages(HANDLE hObject, DWORD nMilliseconds)
{
    const ULONGLONG nStart = GetTickCount64();
    for (;;)
    {
        DWORD nLeft = INFINITE;
        if (nMilliseconds != INFINITE)
        {
            const ULONGLONG nSpent = GetTickCount64() - nStart;
            nLeft = nSpent >= nMilliseconds ? 0 : static_cast<DWORD>(nMilliseconds - nSpent);
        }
        const DWORD nResult = MsgWaitForMultipleObjects(1, &hObject, FALSE, nLeft, QS_SENDMESSAGE);
        if (nResult == WAIT_OBJECT_0)
            return true;
        if (nResult != WAIT_OBJECT_0 + 1)
            return false;
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}
}  // namespace PTL
