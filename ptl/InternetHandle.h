// Owning wrappers for the internet handles of one upload: session, connection and request.
// Each object closes its handle in its destructor or through Close; none is copied.
#pragma once
#include <windows.h>
#include <wininet.h>

#include "ptl/InternetException.h"

namespace PTL
{
class CInternetHandle
{
public:
    CInternetHandle() = default;
    CInternetHandle(const CInternetHandle&) = delete;
    CInternetHandle& operator=(const CInternetHandle&) = delete;
    virtual ~CInternetHandle() { Close(); }

    void Close()
    {
        if (m_hInternet)
        {
            InternetCloseHandle(m_hInternet);
            m_hInternet = nullptr;
        }
    }

    // InternetSetOptionW on this handle; throws "Failed to set an internet option (%u)".
    void SetOption(DWORD nOption, void* pBuffer, DWORD nLength);

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
    HINTERNET m_hInternet = nullptr;
};

class CInternetSession : public CInternetHandle
{
public:
    // InternetOpenW. A null agent stands for the host program's file name without folder and
    // extension. Throws "Failed to open an internet session".
    void Open(const wchar_t* szAgent, DWORD nAccessType, const wchar_t* szProxy,
              const wchar_t* szProxyBypass, DWORD nFlags);
};

class CInternetConnection : public CInternetHandle
{
};

class CHttpConnection : public CInternetConnection
{
public:
    // InternetConnectW with this object as context. Throws "Failed to connect to server (%s:%u)".
    void Connect(HINTERNET hSession, const wchar_t* szServer, INTERNET_PORT nPort,
                 const wchar_t* szUser, const wchar_t* szPassword, DWORD nService, DWORD nFlags);
};

class CInternetFile : public CInternetHandle
{
};

class CHttpFile : public CInternetFile
{
public:
    // HttpOpenRequestW with this object as context. Throws "Failed to open http request (%s %s)".
    void OpenRequest(HINTERNET hConnection, const wchar_t* szVerb, const wchar_t* szObject,
                     const wchar_t* szVersion, const wchar_t* szReferrer,
                     const wchar_t** ppAcceptTypes, DWORD nFlags);

    // HttpQueryInfoW into a caller buffer (nLength in bytes, updated). Never throws; a failed
    // query leaves the buffer as it was.
    bool QueryInfo(DWORD nLevel, void* pBuffer, DWORD* pnLength, DWORD* pnIndex = nullptr) const;

    // The numeric form: a 32-bit value, left unchanged when the query fails.
    bool QueryInfo(DWORD nLevel, DWORD& nValue, DWORD* pnIndex = nullptr) const;
};
} // namespace PTL
