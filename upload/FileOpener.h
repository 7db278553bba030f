// Opens the files of one attempt ahead of the upload's worker, and closes the ones it has sent,
// on a thread of its own. Opening and closing a file each take a call into the system's file
// layer that costs more than reading a small file (a round trip to the server process under
// Wine); done here, they overlap the worker's network writes instead of coming between them.
// A file opened ahead is held as the file being sent is (other programs may read it, not write
// it) until it has been sent. So that no file is held long, one is opened only when the worker
// will reach it within about HOLD_MS at the rate it has sent so far, and never more than
// FILES_AHEAD beyond the one being sent.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "ptl/Handle.h"
#include "ptl/Thread.h"
#include "upload/UploadRequest.h"

class CFileOpener
{
public:
    // Starts opening the parts' files in order. The parts stay unchanged while it lives.
    explicit CFileOpener(const std::vector<UploadPart>& parts);
    // Stops the thread (cancelling an open that blocks) and closes every file it holds.
    ~CFileOpener();
    CFileOpener(const CFileOpener&) = delete;
    CFileOpener& operator=(const CFileOpener&) = delete;

    // The file at nIndex, taken in order: opened as CUploadFile::Open opens it, or an invalid
    // handle when it could not be. While it is not ready, fnStopped is asked every few tens of
    // milliseconds; false when it said stop first.
    bool Take(size_t nIndex, PTL::CKernelHandle& file, const std::function<bool()>& fnStopped);
    // A file the worker is done with, closed on the opener's thread.
    void Give(PTL::CKernelHandle file);
    // How many content bytes the worker has sent: what it will reach soon follows from it.
    void Sent(ULONGLONG nBytes);

    static constexpr size_t FILES_AHEAD = 512;
    static constexpr ULONGLONG HOLD_MS = 2000;
    // Before a rate is known, files that begin within this many bytes are opened ahead.
    static constexpr ULONGLONG FIRST_BYTES_AHEAD = 1024 * 1024;

private:
    void Run();
    // Under the lock: whether the next file may be opened now.
    bool MayOpen() const;

    SRWLOCK m_lock = SRWLOCK_INIT;
    CONDITION_VARIABLE m_changed = CONDITION_VARIABLE_INIT;
    const std::vector<UploadPart>& m_parts;
    std::vector<PTL::CKernelHandle> m_files;  // by index, valid once opened and until taken
    size_t m_nOpened = 0;                     // files [0, m_nOpened) have been tried
    size_t m_nTaken = 0;                      // files [0, m_nTaken) belong to the worker
    std::vector<ULONGLONG> m_starts;          // by index, where the file's content begins
    ULONGLONG m_nSent = 0;                    // content bytes the worker has sent
    ULONGLONG m_nBytesAhead = FIRST_BYTES_AHEAD;
    ULONGLONG m_nStartTick = GetTickCount64();
    std::vector<PTL::CKernelHandle> m_done;  // given back, to be closed
    bool m_bStop = false;
    PTL::CThread m_thread;  // last: it is joined before the state it uses goes
};
