// A stand-in for the progress dialog: records every call the upload worker makes, and lets a
// test act at a chosen moment (request a stop, pause) as the user would.
#pragma once
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ptl/UploadThread.h"

class CRecordingDlg : public PTL::CUploadThread<CRecordingDlg>
{
public:
    CRecordingDlg() = default;
    ~CRecordingDlg()
    {
        bStopRequested = true;
        ResumeWorker();
        JoinWorker();
    }

    HWND m_hWnd = nullptr;

    // Calls as they came, e.g. "status 502", "begin 0", "progress 51200", "end 0", "attempt".
    std::vector<std::string> calls;
    std::vector<UINT> statuses;
    std::vector<LONG> states;  // nUploadState per file, as the dialog would keep it
    std::atomic<int> nProgressCalls{0};
    std::function<void(CRecordingDlg&, const std::string&)> onCall;

    void SetStatusText(UINT nId)
    {
        statuses.push_back(nId);
        Record("status " + std::to_string(nId));
    }
    void ResetTotalSent() { Record("attempt"); }
    void BeginFile(int nIndex)
    {
        State(nIndex) = UPLOAD_STATE_SENDING;
        Record("begin " + std::to_string(nIndex));
    }
    void AddProgress(DWORD nBytes)
    {
        ++nProgressCalls;
        Record("progress " + std::to_string(nBytes));
    }
    void EndFile(int nIndex)
    {
        State(nIndex) = UPLOAD_STATE_DONE;
        Record("end " + std::to_string(nIndex));
    }
    void ResetWaitTicks() { Record("wait"); }

    // Runs one upload to its end on the worker thread.
    void Run()
    {
        states.assign(UploadParts.size(), UPLOAD_STATE_WAITING);
        calls.clear();
        statuses.clear();
        ASSERT_TRUE(StartWorker());
        JoinWorker();
    }

    int Count(const std::string& strCall) const
    {
        int n = 0;
        for (const std::string& str : calls)
            n += str == strCall;
        return n;
    }

    enum EOutcome
    {
        RECEIVED,
        REDIRECTED,
        CANCELLED,
        FAILED
    };
    // The outcome as the dialog and the page read the flags.
    EOutcome Outcome() const
    {
        if (bRedirected && bCompleted && !bCancelled && !bFailed)
            return REDIRECTED;
        if (bCompleted && !bCancelled && !bFailed)
            return RECEIVED;
        if (bCancelled && !bCompleted && !bFailed)
            return CANCELLED;
        return FAILED;
    }

private:
    void Record(const std::string& strCall)
    {
        calls.push_back(strCall);
        if (onCall)
            onCall(*this, strCall);
    }
    LONG& State(int nIndex)
    {
        if (static_cast<size_t>(nIndex) >= states.size())
            states.resize(static_cast<size_t>(nIndex) + 1, UPLOAD_STATE_WAITING);
        return states[static_cast<size_t>(nIndex)];
    }
};

inline const char* OutcomeName(CRecordingDlg::EOutcome n)
{
    static const char* const NAMES[] = {"received", "redirected", "cancelled", "failed"};
    return NAMES[n];
}
