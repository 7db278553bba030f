#include "ptl/InternetHandle.h"

#include <shlwapi.h>

#include <algorithm>

namespace PTL
{
DWORD ConfiguredTimeout(const wchar_t* szName, DWORD nDefault)
{
    static const wchar_t szKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    for (const HKEY hRoot : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
    {
        DWORD nValue = 0, nSize = sizeof(nValue);
        if (RegGetValueW(hRoot, szKey, szName, RRF_RT_REG_DWORD, nullptr, &nValue, &nSize) == ERROR_SUCCESS &&
            nValue != 0)
            return nValue;
    }
    return nDefault;
}

void CInternetHandle::SetOption(DWORD nOption, void* pBuffer, DWORD nLength)
{
    if (!InternetSetOptionW(Handle(), nOption, pBuffer, nLength))
        throw CInternetException(Handle(), L"Failed to set an internet option (%u)", nOption);
}

void CInternetHandle::SetTimeouts(DWORD nConnectMs, DWORD nSendMs, DWORD nReceiveMs)
{
    // A level that does not take an option keeps what it inherited: no failure here.
    nConnectMs = ConfiguredTimeout(L"ConnectTimeout", nConnectMs);
    nSendMs = ConfiguredTimeout(L"SendTimeout", nSendMs);
    nReceiveMs = ConfiguredTimeout(L"ReceiveTimeout", nReceiveMs);
    InternetSetOptionW(Handle(), INTERNET_OPTION_CONNECT_TIMEOUT, &nConnectMs, sizeof(nConnectMs));
    InternetSetOptionW(Handle(), INTERNET_OPTION_SEND_TIMEOUT, &nSendMs, sizeof(nSendMs));
    InternetSetOptionW(Handle(), INTERNET_OPTION_RECEIVE_TIMEOUT, &nReceiveMs, sizeof(nReceiveMs));
}

void CInternetSession::Open(const wchar_t* szAgent, DWORD nAccessType, const wchar_t* szProxy,
                            const wchar_t* szProxyBypass, DWORD nFlags)
{
    WCHAR szProgram[MAX_PATH] = L"";
    if (!szAgent)
    {
        GetModuleFileNameW(nullptr, szProgram, ARRAYSIZE(szProgram));
        szProgram[ARRAYSIZE(szProgram) - 1] = L'\0';
        PathStripPathW(szProgram);
        PathRemoveExtensionW(szProgram);
        szAgent = szProgram;
    }
    HINTERNET hSession = InternetOpenW(szAgent, nAccessType, szProxy, szProxyBypass, nFlags);
    if (!hSession)
        throw CInternetException(nullptr, L"Failed to open an internet session");
    Attach(hSession);
}

void CHttpConnection::Connect(HINTERNET hSession, const wchar_t* szServer, INTERNET_PORT nPort, const wchar_t* szUser,
                              const wchar_t* szPassword, DWORD nService, DWORD nFlags)
{
    HINTERNET hConnection = InternetConnectW(hSession, szServer, nPort, szUser, szPassword, nService, nFlags,
                                             reinterpret_cast<DWORD_PTR>(this));
    if (!hConnection)
        throw CInternetException(nullptr, L"Failed to connect to server (%ls:%u)", szServer ? szServer : L"",
                                 static_cast<unsigned>(nPort));
    Attach(hConnection);
}

void CHttpFile::OpenRequest(HINTERNET hConnection, const wchar_t* szVerb, const wchar_t* szObject,
                            const wchar_t* szVersion, const wchar_t* szReferrer, const wchar_t** ppAcceptTypes,
                            DWORD nFlags)
{
    HINTERNET hRequest = HttpOpenRequestW(hConnection, szVerb, szObject, szVersion, szReferrer, ppAcceptTypes, nFlags,
                                          reinterpret_cast<DWORD_PTR>(this));
    if (!hRequest)
        throw CInternetException(nullptr, L"Failed to open http request (%ls %ls)", szVerb ? szVerb : L"",
                                 szObject ? szObject : L"");
    Attach(hRequest);
}

bool CInternetCancel::Add(CInternetHandle& handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bCancelled)
        return false;
    m_handles.push_back(&handle);
    return true;
}

void CInternetCancel::Remove(CInternetHandle& handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handles.erase(std::remove(m_handles.begin(), m_handles.end(), &handle), m_handles.end());
}

void CInternetCancel::Cancel()
{
    m_bCancelled = true;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (CInternetHandle* pHandle : m_handles)
        pHandle->Close();
}

bool CInternetCancel::Check(CInternetHandle& handle)
{
    if (!m_bCancelled)
        return true;
    handle.Close();
    return false;
}

bool CHttpFile::QueryInfo(DWORD nLevel, void* pBuffer, DWORD* pnLength, DWORD* pnIndex) const
{
    return HttpQueryInfoW(Handle(), nLevel, pBuffer, pnLength, pnIndex) != FALSE;
}

bool CHttpFile::QueryInfo(DWORD nLevel, DWORD& nValue, DWORD* pnIndex) const
{
    DWORD nResult = 0;
    DWORD nLength = sizeof(nResult);
    if (!HttpQueryInfoW(Handle(), nLevel | HTTP_QUERY_FLAG_NUMBER, &nResult, &nLength, pnIndex))
        return false;
    nValue = nResult;
    return true;
}
}  // namespace PTL
