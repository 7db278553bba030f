#include "filelist/Thumbnails.h"
#include <condition_variable>
#include <deque>
#include <iterator>
#include <list>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include "ptl/ComPtr.h"

namespace
{
// A screen of large icons holds a few hundred rows; older requests are for rows scrolled away
// and are asked again if they come back.
const size_t MAX_QUEUED = 512;
// What an entry costs beside its pixels and its key: list and map nodes, the shared block.
const size_t ENTRY_OVERHEAD = 128;

// A file's version in the cache: its path, then its size and last-write time when listed. A
// path never holds '|', so the path is what comes before the first one.
std::wstring CacheKey(const std::wstring& strPath, ULONGLONG nSize, ULONGLONG nWriteTime)
{
    return strPath + L'|' + std::to_wstring(nSize) + L'|' + std::to_wstring(nWriteTime);
}

std::wstring PathOfKey(const std::wstring& strKey) { return strKey.substr(0, strKey.find(L'|')); }

struct CCached
{
    std::wstring strKey;
    std::shared_ptr<const CThumbnail> pThumbnail;
    ULONGLONG nMadeTick;
};

size_t EntryBytes(const CCached& cached)
{
    return ENTRY_OVERHEAD + cached.strKey.size() * sizeof(wchar_t) + cached.pThumbnail->pixels.size() * sizeof(DWORD);
}
}  // namespace

struct CThumbnailLoader::CWork
{
    explicit CWork(size_t nLimit) : nCacheLimit(nLimit) {}

    // With the lock held: keeps a result, dropping the least recently used over the limit.
    void Keep(const std::wstring& strKey, std::shared_ptr<const CThumbnail> pThumbnail)
    {
        const auto found = cache.find(strKey);
        if (found != cache.end())
            Drop(found->second);
        recent.push_front({strKey, std::move(pThumbnail), GetTickCount64()});
        nCacheBytes += EntryBytes(recent.front());
        cache[strKey] = recent.begin();
        while (nCacheBytes > nCacheLimit && recent.size() > 1)
            Drop(std::prev(recent.end()));
    }
    void Drop(std::list<CCached>::iterator it)
    {
        nCacheBytes -= EntryBytes(*it);
        cache.erase(it->strKey);
        recent.erase(it);
    }
    void ForgetQueue()
    {
        for (const std::wstring& strKey : queue)
            inWork.erase(strKey);
        queue.clear();
    }
    void ForgetAll()
    {
        recent.clear();
        cache.clear();
        nCacheBytes = 0;
        ForgetQueue();
    }

    const size_t nCacheLimit;
    std::mutex mutex;
    std::condition_variable wake;
    // Guarded by mutex:
    std::deque<std::wstring> queue;           // keys, newest last, served first
    std::unordered_set<std::wstring> inWork;  // queued or being decoded
    std::list<CCached> recent;                // the cache, most recently used first
    std::unordered_map<std::wstring, std::list<CCached>::iterator> cache;
    size_t nCacheBytes = 0;
    UINT nEdge = 0;
    // The worker of this number is the current one; any other ends at its next look.
    unsigned nWorker = 0;
    HWND hTarget = nullptr;
    UINT uMsg = 0;
    bool bPosted = false;
};

CThumbnailLoader::CThumbnailLoader(size_t nCacheBytes)
    : m_nCacheLimit(nCacheBytes), m_pWork(std::make_shared<CWork>(nCacheBytes))
{
}

void CThumbnailLoader::SetTarget(HWND hWnd, UINT uMsg)
{
    std::lock_guard<std::mutex> lock(m_pWork->mutex);
    m_pWork->hTarget = hWnd;
    m_pWork->uMsg = uMsg;
    m_pWork->bPosted = false;
}

void CThumbnailLoader::SetEdge(UINT nEdge)
{
    std::lock_guard<std::mutex> lock(m_pWork->mutex);
    if (nEdge == m_pWork->nEdge)
        return;
    m_pWork->nEdge = nEdge;
    m_pWork->ForgetAll();
}

std::shared_ptr<const CThumbnail> CThumbnailLoader::Find(const std::wstring& strPath, ULONGLONG nSize,
                                                         ULONGLONG nWriteTime, bool bRequest)
{
    CWork& work = *m_pWork;
    const std::wstring strKey = CacheKey(strPath, nSize, nWriteTime);
    std::lock_guard<std::mutex> lock(work.mutex);
    const auto found = work.cache.find(strKey);
    if (found != work.cache.end())
    {
        const CCached& cached = *found->second;
        // A file that made no thumbnail may have been unreadable for a moment only.
        if (!cached.pThumbnail->Empty() || GetTickCount64() - cached.nMadeTick < FAILED_RETRY_MS)
        {
            work.recent.splice(work.recent.begin(), work.recent, found->second);
            return cached.pThumbnail;
        }
        if (bRequest)
            work.Drop(found->second);
    }
    if (!bRequest || work.nEdge == 0 || !work.inWork.insert(strKey).second)
        return nullptr;
    work.queue.push_back(strKey);
    if (work.queue.size() > MAX_QUEUED)
    {
        work.inWork.erase(work.queue.front());
        work.queue.pop_front();
    }
    // The worker holds its own reference to the state: one left behind by Stop still has it
    // after the loader is gone.
    if (!m_thread.IsValid() && !m_thread.Start([pWork = m_pWork, nWorker = ++work.nWorker] { Work(*pWork, nWorker); }))
        OutputDebugStringW(L"Pelora5: no thread for thumbnails; files keep their icons\n");
    work.wake.notify_one();
    return nullptr;
}

void CThumbnailLoader::Arrived()
{
    std::lock_guard<std::mutex> lock(m_pWork->mutex);
    m_pWork->bPosted = false;
}

void CThumbnailLoader::Stop(bool bForget)
{
    CWork& work = *m_pWork;
    {
        std::lock_guard<std::mutex> lock(work.mutex);
        ++work.nWorker;  // the running worker, if any, is no longer the current one
        work.ForgetQueue();
        if (bForget)
            work.ForgetAll();
    }
    work.wake.notify_all();
    // The worker only posts to the list's thread, never sends: waiting here cannot deadlock. A
    // decode held up by a file that does not answer (a network path, a file another program
    // holds) is not waited for: the worker drops its result and ends when the file lets it go.
    if (!m_thread.Join(STOP_WAIT_MS))
        OutputDebugStringW(L"Pelora5: a picture's file does not answer; its thumbnail worker ends on its own\n");
    m_thread.Release();
}

size_t CThumbnailLoader::CacheBytes() const
{
    std::lock_guard<std::mutex> lock(m_pWork->mutex);
    return m_pWork->nCacheBytes;
}

size_t CThumbnailLoader::CacheCount() const
{
    std::lock_guard<std::mutex> lock(m_pWork->mutex);
    return m_pWork->cache.size();
}

void CThumbnailLoader::Work(CWork& work, unsigned nWorker)
{
    // Nothing leaves a thread as an exception; without memory for the cache the worker ends.
    try
    {
        Run(work, nWorker);
    }
    catch (...)
    {
        OutputDebugStringW(L"Pelora5: the thumbnail worker ran out of memory\n");
    }
}

void CThumbnailLoader::Run(CWork& work, unsigned nWorker)
{
    const HRESULT hrCom = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        PTL::CComPtr<IWICImagingFactory> pFactory;
        if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&pFactory))))
            OutputDebugStringW(L"Pelora5: no imaging component; files keep their icons\n");
        for (;;)
        {
            std::wstring strKey;
            UINT nEdge = 0;
            {
                std::unique_lock<std::mutex> lock(work.mutex);
                work.wake.wait(lock, [&] { return work.nWorker != nWorker || !work.queue.empty(); });
                if (work.nWorker != nWorker)
                    break;
                strKey = std::move(work.queue.back());
                work.queue.pop_back();
                nEdge = work.nEdge;
            }
            // A picture that cannot be made is kept as an empty thumbnail for a while: its file
            // keeps its icon and is not tried again at every paint.
            auto pThumbnail = std::make_shared<CThumbnail>();
            try
            {
                *pThumbnail = MakeThumbnail(pFactory.Get(), PathOfKey(strKey), nEdge);
            }
            catch (const std::bad_alloc&)
            {
                pThumbnail->pixels.clear();
            }
            HWND hPostTo = nullptr;
            UINT uMsg = 0;
            {
                std::lock_guard<std::mutex> lock(work.mutex);
                work.inWork.erase(strKey);
                if (work.nWorker != nWorker)
                    break;  // stopped meanwhile: the result is not wanted
                if (nEdge == work.nEdge)
                    work.Keep(strKey, std::move(pThumbnail));
                if (!work.bPosted && work.hTarget)
                {
                    work.bPosted = true;
                    hPostTo = work.hTarget;
                    uMsg = work.uMsg;
                }
            }
            if (hPostTo && !PostMessageW(hPostTo, uMsg, 0, 0))
            {
                std::lock_guard<std::mutex> lock(work.mutex);
                work.bPosted = false;
            }
        }
    }
    if (SUCCEEDED(hrCom))
        CoUninitialize();
}
