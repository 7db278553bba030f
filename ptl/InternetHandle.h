// Owning wrappers for the internet handles of one upload: session, connection and request.
// Each object closes its handle in its destructor or through Close; none is copied. Close may
// come from another thread while a call on the handle blocks: that is how a blocking stage is
// abandoned, and the handle is closed exactly once whoever gets there first.
#pragma once
#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "ptl/InternetException.h"

namespace PTL
{
// The time-out of that name ("ConnectTimeout", "SendTimeout", "ReceiveTimeout") configured for
// the platform's internet functions, the user's before the machine's; nDefault when none is.
DWORD ConfiguredTimeout(const wchar_t* szName, DWORD nDefault);

class CInternetHandle
{
public:
    CInternetHandle() = default;
    CInternetHandle(const CInternetHandle&) = delete;
    CInternetHandle& operator=(const CInternetHandle&) = delete;
    virtual ~CInternetHandle() { Close(); }

    void Close()
    {
        if (const HINTERNET hInternet = m_hInternet.exchange(nullptr))
            InternetCloseHandle(hInternet);
    }

    // InternetSetOptionW on this handle; throws "Failed to set an internet option (%u)".
    void SetOption(DWORD nOption, void* pBuffer, DWORD nLength);
    // Connect, send and receive time-outs in milliseconds, each where the platform takes it.
    // A time-out the user or an administrator configured for the platform (ConnectTimeout,
    // SendTimeout, ReceiveTimeout under Internet Settings) is set instead of the one given.
    void SetTimeouts(DWORD nConnectMs, DWORD nSendMs, DWORD nReceiveMs);

    HINTERNET Handle() const { return m_hInternet; }
    operator HINTERNET() const { return m_hInternet; }
    bool IsOpen() const { return m_hInternet != nullptr; }

protected:
    // Takes ownership of a freshly opened handle, closing any previous one.
    void Attach(HINTERNET hInternet)
    {
        Close();
        m_hInternet = hInternet;
    }

private:
    std::atomic<HINTERNET> m_hInternet{nullptr};
};

class CInternetSession : public CInternetHandle
{
public:
    // InternetOpenW. A null agent stands for the host program's file name without folder and
    // extension. Throws "Failed to open an internet session".
    void Open(const wchar_t* szAgent, DWORD nAccessType, const wchar_t* szProxy, const wchar_t* szProxyBypass,
              DWORD nFlags);
};

class CInternetConnection : public CInternetHandle
{
};

class CHttpConnection : public CInternetConnection
{
public:
    // InternetConnectW with this object as context. Throws "Failed to connect to server (%s:%u)".
    void Connect(HINTERNET hSession, const wchar_t* szServer, INTERNET_PORT nPort, const wchar_t* szUser,
                 const wchar_t* szPassword, DWORD nService, DWORD nFlags);
};

class CInternetFile : public CInternetHandle
{
};

class CHttpFile : public CInternetFile
{
public:
    // HttpOpenRequestW with this object as context. Throws "Failed to open http request (%s %s)".
    void OpenRequest(HINTERNET hConnection, const wchar_t* szVerb, const wchar_t* szObject, const wchar_t* szVersion,
                     const wchar_t* szReferrer, const wchar_t** ppAcceptTypes, DWORD nFlags);

    // HttpQueryInfoW into a caller buffer (nLength in bytes, updated). Never throws; a failed
    // query leaves the buffer as it was.
    bool QueryInfo(DWORD nLevel, void* pBuffer, DWORD* pnLength, DWORD* pnIndex = nullptr) const;

    // The numeric form: a 32-bit value, left unchanged when the query fails.
    bool QueryInfo(DWORD nLevel, DWORD& nValue, DWORD* pnIndex = nullptr) const;
};

// Lets one thread abandon what another thread's internet calls are blocked in, by closing the
// handles those calls use. The owner registers its handle objects; after opening a handle it
// calls Check, which closes the new handle when the cancel came first.
class CInternetCancel
{
public:
    CInternetCancel() = default;
    CInternetCancel(const CInternetCancel&) = delete;
    CInternetCancel& operator=(const CInternetCancel&) = delete;

    // False, and nothing registered, once cancelled.
    bool Add(CInternetHandle& handle);
    void Remove(CInternetHandle& handle);
    // Closes every registered handle; later registrations are refused. Any thread.
    void Cancel();
    // False (and the handle closed) once cancelled.
    bool Check(CInternetHandle& handle);
    bool IsCancelled() const { return m_bCancelled; }

    // Keeps a handle object registered while it is in scope.
    class CScope
    {
    public:
        CScope(CInternetCancel* pCancel, CInternetHandle& handle) : m_pCancel(pCancel), m_handle(handle)
        {
            if (m_pCancel && !m_pCancel->Add(m_handle))
                m_pCancel = nullptr;
        }
        ~CScope()
        {
            if (m_pCancel)
                m_pCancel->Remove(m_handle);
        }
        CScope(const CScope&) = delete;
        CScope& operator=(const CScope&) = delete;

    private:
        CInternetCancel* m_pCancel;
        CInternetHandle& m_handle;
    };

private:
    std::mutex m_mutex;
    std::vector<CInternetHandle*> m_handles;
    std::atomic<bool> m_bCancelled{false};
};

// A status whose answer names another address in its Location.
inline bool IsRedirectStatus(DWORD nStatus)
{
    return nStatus == 301 || nStatus == 302 || nStatus == 303 || nStatus == 307 || nStatus == 308;
}
}  // namespace PTL
