#include "ptl/InternetHandle.h"

#include <shlwapi.h>

namespace PTL
{
void CInternetHandle::SetOption(DWORD nOption, void* pBuffer, DWORD nLength)
{
    if (!InternetSetOptionW(m_hInternet, nOption, pBuffer, nLength))
        throw CInternetException(m_hInternet, L"Failed to set an internet option (%u)", nOption);
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

void CHttpConnection::Connect(HINTERNET hSession, const wchar_t* szServer, INTERNET_PORT nPort,
                              const wchar_t* szUser, const wchar_t* szPassword, DWORD nService,
                              DWORD nFlags)
{
    HINTERNET hConnection = InternetConnectW(hSession, szServer, nPort, szUser, szPassword, nService,
                                             nFlags, reinterpret_cast<DWORD_PTR>(this));
    if (!hConnection)
        throw CInternetException(nullptr, L"Failed to connect to server (%ls:%u)",
                                 szServer ? szServer : L"", static_cast<unsigned>(nPort));
    Attach(hConnection);
}

void CHttpFile::OpenRequest(HINTERNET hConnection, const wchar_t* szVerb, const wchar_t* szObject,
                            const wchar_t* szVersion, const wchar_t* szReferrer,
                            const wchar_t** ppAcceptTypes, DWORD nFlags)
{
    HINTERNET hRequest = HttpOpenRequestW(hConnection, szVerb, szObject, szVersion, szReferrer,
                                          ppAcceptTypes, nFlags, reinterpret_cast<DWORD_PTR>(this));
    if (!hRequest)
        throw CInternetException(nullptr, L"Failed to open http request (%ls %ls)",
                                 szVerb ? szVerb : L"", szObject ? szObject : L"");
    Attach(hRequest);
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
} // namespace PTL
