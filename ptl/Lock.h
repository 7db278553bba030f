// A lock held for a scope: a slim reader/writer lock, exclusively to change what it guards or
// shared to read it, or a critical section.
//
//   SRWLOCK m_lock = SRWLOCK_INIT;
//   { PTL::CLock lock(m_lock); ... }                         // exclusive
//   { PTL::CLock lock(m_lock, PTL::CLock::Shared); ... }     // readers side by side
//   SleepConditionVariableSRW(&cv, &m_lock, ms, 0);          // inside an exclusive scope, as usual
#pragma once
#include <windows.h>

namespace PTL
{
class CLock
{
public:
    enum EMode
    {
        Exclusive,
        Shared,
    };

    explicit CLock(SRWLOCK& lock, EMode nMode = Exclusive) : m_pSrw(&lock), m_nMode(nMode)
    {
        if (m_nMode == Shared)
            AcquireSRWLockShared(m_pSrw);
        else
            AcquireSRWLockExclusive(m_pSrw);
    }
    explicit CLock(CRITICAL_SECTION& section) : m_pSection(&section) { EnterCriticalSection(m_pSection); }
    ~CLock()
    {
        if (m_pSection)
            LeaveCriticalSection(m_pSection);
        else if (m_nMode == Shared)
            ReleaseSRWLockShared(m_pSrw);
        else
            ReleaseSRWLockExclusive(m_pSrw);
    }
    CLock(const CLock&) = delete;
    CLock& operator=(const CLock&) = delete;

private:
    SRWLOCK* m_pSrw = nullptr;
    CRITICAL_SECTION* m_pSection = nullptr;
    EMode m_nMode = Exclusive;
};
}  // namespace PTL
