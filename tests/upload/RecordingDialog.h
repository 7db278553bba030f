// A stand-in for the progress dialog: observes an upload engine, records every call it makes,
// and lets a test act at a chosen moment (request a stop, pause) as the user would.
#pragma once
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filelist/FileEntry.h"
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
    const std::atomic<bool>& bRunning = state.bRunning;
    const std::wstring& szResponse = state.szResponse;
    const std::wstring& szLocation = state.szLocation;

    ~CRecordingDlg() { engine.Abort(INFINITE); }

    bool StartWorker() { return engine.Start(); }
    void JoinWorker() { engine.Join(); }
    void PauseWorker() { engine.Pause(); }
    void ResumeWorker() { engine.Resume(); }

    // Calls as they came, e.g. "stage preparing", "begin 0", "progress 51200", "end 0", "attempt".
    std::vector<std::string> calls;
    std::vector<EUploadStage> stages;
    std::vector<LONG> states;  // nUploadState per file, as the dialog would keep it
    std::atomic<int> nProgressCalls{0};
    std::function<void(CRecordingDlg&, const std::string&)> onCall;

    void OnStatus(EUploadStage nStage) override
    {
        stages.push_back(nStage);
        Record(std::string("stage ") + StageName(nStage));
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
    // Waits before a retry: "2/4 lost" (attempt 2 of 4 follows a connection lost), and the delays.
    std::vector<std::string> retries;
    std::vector<DWORD> retryDelays;
    bool OnRetryWait(const CUploadRetryWait& wait) override
    {
        static const char* const REASONS[] = {"connect", "lost", "timeout", "status"};
        retries.push_back(std::to_string(wait.nAttempt) + "/" + std::to_string(wait.nAttempts) + " " +
                          REASONS[static_cast<size_t>(wait.nReason)]);
        retryDelays.push_back(wait.nDelayMs);
        Record("retry");
        return true;
    }

    // Runs one upload to its end on the worker thread.
    void Run()
    {
        states.assign(UploadParts.size(), UPLOAD_STATE_WAITING);
        calls.clear();
        stages.clear();
        retries.clear();
        retryDelays.clear();
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

    EUploadOutcome Outcome() const { return state.Result.nOutcome; }

    static const char* StageName(EUploadStage nStage)
    {
        static const char* const NAMES[] = {"preparing", "connecting", "connected", "file",    "sending",
                                            "fields",    "waiting",    "answered",  "reading", "decoding",
                                            "inline",    "done",       "cancelled", "failed"};
        static_assert(std::size(NAMES) == static_cast<size_t>(EUploadStage::Failed) + 1, "a name per stage");
        return NAMES[static_cast<size_t>(nStage)];
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

inline const char* OutcomeName(EUploadOutcome n)
{
    static const char* const NAMES[] = {"none", "received", "redirected", "cancelled", "failed"};
    return NAMES[static_cast<size_t>(n)];
}
