#include "upload/FileOpener.h"

#include <algorithm>

#include "ptl/Lock.h"
#include "upload/UploadFile.h"

namespace
{
// How long the worker waits for a file before it looks at its stop request again.
const DWORD STOP_LOOK_MS = 50;
}  // namespace

using PTL::CLock;

CFileOpener::CFileOpener(const std::vector<UploadPart>& parts) : m_parts(parts), m_files(parts.size())
{
    ULONGLONG nStart = 0;
    for (const UploadPart& part : m_parts)
    {
        m_starts.push_back(nStart);
        nStart += part.nSize;
    }
    m_thread.Start([this] { Run(); });
}

CFileOpener::~CFileOpener()
{
    {
        CLock lock(m_lock);
        m_bStop = true;
    }
    WakeAllConditionVariable(&m_changed);
    // An open of a file on a network share may block; cancel it rather than wait it out.
    m_thread.Join(INFINITE, PTL::EServe::Nothing, true);
}

void CFileOpener::Run()
{
    for (;;)
    {
        std::vector<PTL::CKernelHandle> done;
        size_t nNext = 0;
        {
            CLock lock(m_lock);
            while (!m_bStop && m_done.empty() && !MayOpen())
                SleepConditionVariableSRW(&m_changed, &m_lock, INFINITE, 0);
            done.swap(m_done);
            if (m_bStop)
                return;  // after closing what was given back
            nNext = MayOpen() ? m_nOpened : m_parts.size();
        }
        done.clear();  // the closes, outside the lock
        if (nNext == m_parts.size())
            continue;
        CUploadFile file;
        file.Open(m_parts[nNext].szFilePath.c_str());
        {
            CLock lock(m_lock);
            m_files[nNext] = file.Detach();
            m_nOpened = nNext + 1;
        }
        WakeAllConditionVariable(&m_changed);
    }
}

bool CFileOpener::MayOpen() const
{
    // The file the worker waits for begins where it has got to (Take moves m_nSent there).
    return m_nOpened < m_parts.size() && m_nOpened < m_nTaken + FILES_AHEAD &&
           m_starts[m_nOpened] <= m_nSent + m_nBytesAhead;
}

void CFileOpener::Sent(ULONGLONG nBytes)
{
    {
        CLock lock(m_lock);
        m_nSent = nBytes;
        const ULONGLONG nElapsed = GetTickCount64() - m_nStartTick;
        if (nElapsed > 0)
            m_nBytesAhead = std::max(FIRST_BYTES_AHEAD, nBytes / nElapsed * HOLD_MS);
    }
    WakeAllConditionVariable(&m_changed);
}

bool CFileOpener::Take(size_t nIndex, PTL::CKernelHandle& file, const std::function<bool()>& fnStopped)
{
    if (!m_thread.IsValid())
    {
        // No thread: the worker opens the file itself.
        CUploadFile own;
        own.Open(m_parts[nIndex].szFilePath.c_str());
        file = own.Detach();
        return true;
    }
    {
        CLock lock(m_lock);
        m_nTaken = nIndex;
        m_nSent = std::max(m_nSent, m_starts[nIndex]);
    }
    WakeAllConditionVariable(&m_changed);
    CLock lock(m_lock);
    while (m_nOpened <= nIndex)
    {
        SleepConditionVariableSRW(&m_changed, &m_lock, STOP_LOOK_MS, 0);
        if (m_nOpened <= nIndex && fnStopped())
            return false;
    }
    file = std::move(m_files[nIndex]);
    m_nTaken = nIndex + 1;
    return true;
}

void CFileOpener::Give(PTL::CKernelHandle file)
{
    if (!m_thread.IsValid())
        return;  // closed here, as the handle goes
    {
        CLock lock(m_lock);
        m_done.push_back(std::move(file));
    }
    WakeAllConditionVariable(&m_changed);
}
