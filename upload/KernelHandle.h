// Owns one kernel handle (file, thread, event) and closes it when it goes.
#pragma once
#include <windows.h>
#include <utility>

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
