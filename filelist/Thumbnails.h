// CThumbnailLoader: thumbnails of listed files, made by one worker thread and kept in a cache with
// a byte limit. The list asks while it paints, so only rows on screen are asked for, and the
// newest request is served first: the rows shown now come before those scrolled away. Arrivals
// are announced by one message posted to the list window. The list's thread never waits long
// for the worker: a worker held up by a file that does not answer is left to end on its own.
#pragma once
#include <windows.h>
#include <memory>
#include <string>
#include "filelist/ThumbnailDecoder.h"
#include "ptl/Thread.h"

class CThumbnailLoader
{
public:
    // 8 MB: two thousand thumbnails of 32 by 32 pixels, nine hundred at 150 % scaling.
    static const size_t DEFAULT_CACHE_BYTES = 8 * 1024 * 1024;
    // How long Stop waits for a decode under way before it leaves the worker to end on its own.
    static const DWORD STOP_WAIT_MS = 250;
    // How long a file that made no thumbnail keeps its icon before it is tried again.
    static const ULONGLONG FAILED_RETRY_MS = 10000;

    explicit CThumbnailLoader(size_t nCacheBytes = DEFAULT_CACHE_BYTES);
    ~CThumbnailLoader() { Stop(); }
    CThumbnailLoader(const CThumbnailLoader&) = delete;
    CThumbnailLoader& operator=(const CThumbnailLoader&) = delete;

    // Where arrivals are told: uMsg posted to hWnd, once until Arrived() is called.
    void SetTarget(HWND hWnd, UINT uMsg);
    // The edge of a thumbnail in pixels; a new edge forgets what was made for the old one.
    void SetEdge(UINT nEdge);

    // The thumbnail of a file as it was when listed (its size and last-write time tell its
    // versions apart): null while it is not made yet (with bRequest, a file not tried yet is
    // queued and the worker started); empty when the file keeps its icon.
    std::shared_ptr<const CThumbnail> Find(const std::wstring& strPath, ULONGLONG nSize, ULONGLONG nWriteTime,
                                           bool bRequest);
    // The target has handled the arrival message: the next arrival posts again.
    void Arrived();
    // Ends the worker and forgets the queue; the next request starts a new worker. A decode
    // under way is waited for at most STOP_WAIT_MS; after that its result is dropped. The cache
    // stays unless bForget.
    void Stop(bool bForget = false);

    size_t CacheBytes() const;
    size_t CacheLimit() const { return m_nCacheLimit; }
    size_t CacheCount() const;

private:
    // What the worker shares with the loader; the worker holds its own reference, so a worker
    // left behind by Stop still has it after the loader is gone.
    struct CWork;
    // A worker runs under a number; one whose number is no longer the state's current one ends.
    static void Work(CWork& work, unsigned nWorker);
    static void Run(CWork& work, unsigned nWorker);

    const size_t m_nCacheLimit;
    std::shared_ptr<CWork> m_pWork;
    // The list's thread only:
    PTL::CThread m_thread;
};
