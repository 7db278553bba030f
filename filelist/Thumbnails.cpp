#include "filelist/Thumbnails.h"
#include <process.h>
#include "ptl/ComPtr.h"

namespace
{
// A screen of large icons holds a few hundred rows; older requests are for rows scrolled away
// and are asked again if they come back.
const size_t MAX_QUEUED = 512;
// What an entry costs beside its pixels and its path: list and map nodes, the shared block.
const size_t ENTRY_OVERHEAD = 128;

size_t EntryBytes(const std::wstring& strPath, const CThumbnail& thumbnail)
{
    return ENTRY_OVERHEAD + strPath.size() * sizeof(wchar_t) + thumbnail.pixels.size() * sizeof(DWORD);
}
}  // namespace

void CThumbnailLoader::SetTarget(HWND hWnd, UINT uMsg)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hTarget = hWnd;
    m_uMsg = uMsg;
    m_bPosted = false;
}

void CThumbnailLoader::SetEdge(UINT nEdge)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (nEdge == m_nEdge)
        return;
    m_nEdge = nEdge;
    ForgetAll();
}

std::shared_ptr<const CThumbnail> CThumbnailLoader::Find(const std::wstring& strPath, bool bRequest)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_cache.find(strPath);
    if (found != m_cache.end())
    {
        m_recent.splice(m_recent.begin(), m_recent, found->second);
        return found->second->second;
    }
    if (!bRequest || m_nEdge == 0 || !m_inWork.insert(strPath).second)
        return nullptr;
    m_queue.push_back(strPath);
    if (m_queue.size() > MAX_QUEUED)
    {
        m_inWork.erase(m_queue.front());
        m_queue.pop_front();
    }
    if (!m_thread.IsValid())
    {
        m_bStop = false;
        unsigned nId = 0;
        m_thread.Reset(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &ThreadProc, this, 0, &nId)));
        if (!m_thread.IsValid())
            OutputDebugStringW(L"Pelora5: no thread for thumbnails; files keep their icons\n");
    }
    m_wake.notify_one();
    return nullptr;
}

void CThumbnailLoader::Arrived()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bPosted = false;
}

void CThumbnailLoader::Stop(bool bForget)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStop = true;
        for (const std::wstring& strPath : m_queue)
            m_inWork.erase(strPath);
        m_queue.clear();
        if (bForget)
            ForgetAll();
    }
    m_wake.notify_all();
    // The worker only posts to the list's thread, never sends: waiting here cannot deadlock.
    if (m_thread.IsValid())
        WaitForSingleObject(m_thread.Get(), INFINITE);
    m_thread.Close();
}

size_t CThumbnailLoader::CacheBytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nCacheBytes;
}

size_t CThumbnailLoader::CacheCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_cache.size();
}

void CThumbnailLoader::ForgetAll()
{
    m_recent.clear();
    m_cache.clear();
    m_nCacheBytes = 0;
    for (const std::wstring& strPath : m_queue)
        m_inWork.erase(strPath);
    m_queue.clear();
}

void CThumbnailLoader::Keep(const std::wstring& strPath, std::shared_ptr<const CThumbnail> pThumbnail)
{
    m_nCacheBytes += EntryBytes(strPath, *pThumbnail);
    m_recent.emplace_front(strPath, std::move(pThumbnail));
    m_cache[strPath] = m_recent.begin();
    while (m_nCacheBytes > m_nCacheLimit && m_recent.size() > 1)
    {
        const CEntry& oldest = m_recent.back();
        m_nCacheBytes -= EntryBytes(oldest.first, *oldest.second);
        m_cache.erase(oldest.first);
        m_recent.pop_back();
    }
}

unsigned __stdcall CThumbnailLoader::ThreadProc(void* pParam)
{
    // Nothing leaves a thread as an exception; without memory for the cache the worker ends.
    try
    {
        static_cast<CThumbnailLoader*>(pParam)->Run();
    }
    catch (...)
    {
        OutputDebugStringW(L"Pelora5: the thumbnail worker ran out of memory\n");
    }
    return 0;
}

void CThumbnailLoader::Run()
{
    const HRESULT hrCom = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        PTL::CComPtr<IWICImagingFactory> pFactory;
        if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&pFactory))))
            OutputDebugStringW(L"Pelora5: no imaging component; files keep their icons\n");
        for (;;)
        {
            std::wstring strPath;
            UINT nEdge = 0;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait(lock, [this] { return m_bStop || !m_queue.empty(); });
                if (m_bStop)
                    break;
                strPath = std::move(m_queue.back());
                m_queue.pop_back();
                nEdge = m_nEdge;
            }
            // A picture that cannot be made is kept as an empty thumbnail: its file keeps its icon
            // and is not tried again.
            auto pThumbnail = std::make_shared<CThumbnail>();
            try
            {
                *pThumbnail = MakeThumbnail(pFactory.Get(), strPath, nEdge);
            }
            catch (const std::bad_alloc&)
            {
                pThumbnail->pixels.clear();
            }
            HWND hPostTo = nullptr;
            UINT uMsg = 0;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_inWork.erase(strPath);
                if (nEdge == m_nEdge)
                    Keep(strPath, std::move(pThumbnail));
                if (!m_bPosted && m_hTarget)
                {
                    m_bPosted = true;
                    hPostTo = m_hTarget;
                    uMsg = m_uMsg;
                }
            }
            if (hPostTo && !PostMessageW(hPostTo, uMsg, 0, 0))
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_bPosted = false;
            }
        }
    }
    if (SUCCEEDED(hrCom))
        CoUninitialize();
}
