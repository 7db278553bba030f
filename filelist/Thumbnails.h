// CThumbnailLoader: thumbnails of listed files, made by one worker thread and kept in a cache with
// a byte limit. The list asks while it paints, so only rows on screen are asked for, and the
// newest request is served first: the rows shown now come before those scrolled away. Arrivals
// are announced by one message posted to the list window; nothing on the list's thread waits for
// the worker but its end.
#pragma once
#include <windows.h>
#include <condition_variable>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include "filelist/ThumbnailDecoder.h"
#include "ptl/Handle.h"

class CThumbnailLoader
{
public:
    // 8 MB: two thousand thumbnails of 32 by 32 pixels, nine hundred at 150 % scaling.
    static const size_t DEFAULT_CACHE_BYTES = 8 * 1024 * 1024;

    explicit CThumbnailLoader(size_t nCacheBytes = DEFAULT_CACHE_BYTES) : m_nCacheLimit(nCacheBytes) {}
    ~CThumbnailLoader() { Stop(); }
    CThumbnailLoader(const CThumbnailLoader&) = delete;
    CThumbnailLoader& operator=(const CThumbnailLoader&) = delete;

    // Where arrivals are told: uMsg posted to hWnd, once until Arrived() is called.
    void SetTarget(HWND hWnd, UINT uMsg);
    // The edge of a thumbnail in pixels; a new edge forgets what was made for the old one.
    void SetEdge(UINT nEdge);

    // The thumbnail of a file: null while it is not made yet (with bRequest, a file not tried yet
    // is queued and the worker started); empty when the file keeps its icon.
    std::shared_ptr<const CThumbnail> Find(const std::wstring& strPath, bool bRequest);
    // The target has handled the arrival message: the next arrival posts again.
    void Arrived();
    // Ends the worker (a decode under way is finished first) and forgets the queue; the next
    // request starts a new worker. The cache stays unless bForget.
    void Stop(bool bForget = false);

    size_t CacheBytes() const;
    size_t CacheLimit() const { return m_nCacheLimit; }
    size_t CacheCount() const;

private:
    using CEntry = std::pair<std::wstring, std::shared_ptr<const CThumbnail>>;
    static unsigned __stdcall ThreadProc(void* pParam);
    void Run();
    // With the lock held: keeps a result, dropping the least recently used over the limit.
    void Keep(const std::wstring& strPath, std::shared_ptr<const CThumbnail> pThumbnail);
    void ForgetAll();

    const size_t m_nCacheLimit;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    // Guarded by m_mutex:
    std::deque<std::wstring> m_queue;           // newest last, served first
    std::unordered_set<std::wstring> m_inWork;  // queued or being decoded
    std::list<CEntry> m_recent;                 // the cache, most recently used first
    std::unordered_map<std::wstring, std::list<CEntry>::iterator> m_cache;
    size_t m_nCacheBytes = 0;
    UINT m_nEdge = 0;
    bool m_bStop = false;
    HWND m_hTarget = nullptr;
    UINT m_uMsg = 0;
    bool m_bPosted = false;
    // The list's thread only:
    PTL::CKernelHandle m_thread;
};
