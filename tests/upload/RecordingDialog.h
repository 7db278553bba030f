// A stand-in for the progress dialog: observes an upload engine, records every call it makes,
// and lets a test act at a chosen moment (request a stop, pause) as the user would.
#pragma once
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "progress/UploadDlg.h"
#include "ptl/Handle.h"
#include "upload/UploadEngine.h"

using PTL::CKernelHandle;

class CRecordingDlg : public IUploadObserver
{
public:
    CUploadEngine engine{*this};
    CUploadState& state = engine.State();
    std::wstring& szPageUrl = state.szPageUrl;
    std::wstring& szActionUrl = state.szActionUrl;
    CFormFields& FormFields = state.FormFields;
    std::vector<UploadPart>& UploadParts = state.UploadParts;
    bool& bUseUnicode = state.bUseUnicode;
    std::atomic<bool>& bRunning = state.bRunning;
    std::atomic<bool>& bStopRequested = state.bStopRequested;
    const std::atomic<bool>& bCompleted = state.bCompleted;
    const std::atomic<bool>& bRedirected = state.bRedirected;
    const std::atomic<bool>& bCancelled = state.bCancelled;
    const std::atomic<bool>& bFailed = state.bFailed;
    const std::wstring& szResponse = state.szResponse;
    const std::wstring& szLocation = state.szLocation;

    ~CRecordingDlg() { engine.Abort(INFINITE); }

    bool StartWorker() { return engine.Start(); }
    void JoinWorker() { engine.Join(); }
    void PauseWorker() { engine.Pause(); }
    void ResumeWorker() { engine.Resume(); }

    // Calls as they came, e.g. "status 502", "begin 0", "progress 51200", "end 0", "attempt".
    std::vector<std::string> calls;
    std::vector<UINT> statuses;
    std::vector<LONG> states;  // nUploadState per file, as the dialog would keep it
    std::atomic<int> nProgressCalls{0};
    std::function<void(CRecordingDlg&, const std::string&)> onCall;

    void OnStatus(UINT nId) override
    {
        statuses.push_back(nId);
        Record("status " + std::to_string(nId));
    }
    void OnAttempt() override { Record("attempt"); }
    void OnBeginFile(size_t nIndex) override
    {
        State(nIndex) = UPLOAD_STATE_SENDING;
        Record("begin " + std::to_string(nIndex));
    }
    void OnProgress(DWORD nBytes) override
    {
        ++nProgressCalls;
        Record("progress " + std::to_string(nBytes));
    }
    void OnEndFile(size_t nIndex) override
    {
        State(nIndex) = UPLOAD_STATE_DONE;
        Record("end " + std::to_string(nIndex));
    }
    void OnWaitBegin() override { Record("wait"); }
    void OnWaitEnd() override {}
    void OnFinished() override {}

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
    LONG& State(size_t nIndex)
    {
        if (nIndex >= states.size())
            states.resize(nIndex + 1, UPLOAD_STATE_WAITING);
        return states[nIndex];
    }
};

inline const char* OutcomeName(CRecordingDlg::EOutcome n)
{
    static const char* const NAMES[] = {"received", "redirected", "cancelled", "failed"};
    return NAMES[n];
}
