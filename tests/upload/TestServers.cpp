#include <winsock2.h>
#include <ws2tcpip.h>

#include "tests/upload/TestServers.h"
#include "tests/common/TestData.h"

#include <cstdlib>
#include <stdexcept>

namespace
{
int PortFromEnvironment(const char* szName)
{
    const char* szValue = getenv(szName);
    return szValue ? atoi(szValue) : 0;
}

std::wstring Url(const wchar_t* szScheme, int nPort, const std::wstring& strPath)
{
    return std::wstring(szScheme) + L"://127.0.0.1:" + std::to_wstring(nPort) + strPath;
}

// A plain HTTP/1.0 exchange over a socket of our own, so no cache or proxy gets involved.
std::string Exchange(const std::string& strMethod, const std::string& strPath, const std::string& strBody)
{
    static const bool bStarted = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!bStarted)
        throw std::runtime_error("WSAStartup failed");
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(RecordPort()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s == INVALID_SOCKET || connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
    {
        if (s != INVALID_SOCKET)
            closesocket(s);
        throw std::runtime_error("cannot reach the recording server");
    }
    const std::string strRequest = strMethod + " " + strPath +
                                   " HTTP/1.0\r\nContent-Length: " + std::to_string(strBody.size()) + "\r\n\r\n" +
                                   strBody;
    send(s, strRequest.data(), static_cast<int>(strRequest.size()), 0);
    std::string strAnswer;
    char buffer[65536];
    for (int n; (n = recv(s, buffer, sizeof(buffer), 0)) > 0;)
        strAnswer.append(buffer, static_cast<size_t>(n));
    closesocket(s);
    const size_t nEnd = strAnswer.find("\r\n\r\n");
    return nEnd == std::string::npos ? std::string() : strAnswer.substr(nEnd + 4);
}
}  // namespace

int RecordPort() { return PortFromEnvironment("PL5_RECORD_PORT"); }
int RecordTlsPort() { return PortFromEnvironment("PL5_RECORD_TLS_PORT"); }
int PhpPort() { return PortFromEnvironment("PL5_PHP_PORT"); }
bool ServersAvailable() { return RecordPort() && RecordTlsPort() && PhpPort(); }

int UnusedPort()
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    int nLength = sizeof(address);
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &nLength);
    closesocket(s);
    return ntohs(address.sin_port);
}

std::wstring RecordUrl(const std::wstring& strPath) { return Url(L"http", RecordPort(), strPath); }

std::wstring RecordServer::ScriptedUrl(const char* szScript, const std::wstring& strPath)
{
    Reset();
    if (!szScript)
        return Url(L"http", UnusedPort(), strPath);
    Script(szScript);
    return RecordUrl(strPath);
}
std::wstring RecordTlsUrl(const std::wstring& strPath) { return Url(L"https", RecordTlsPort(), strPath); }
std::wstring PhpUrl(const std::wstring& strPath) { return Url(L"http", PhpPort(), strPath); }

std::string CRecordedRequest::RequestLine() const { return strHead.substr(0, strHead.find("\r\n")); }

std::string CRecordedRequest::Boundary() const
{
    const std::string strType = Header("Content-Type");
    const std::string strPrefix = "multipart/form-data; boundary=";
    return strType.compare(0, strPrefix.size(), strPrefix) == 0 ? strType.substr(strPrefix.size()) : std::string();
}

std::string CRecordedRequest::Header(const std::string& strName) const
{
    size_t nPos = strHead.find("\r\n");
    while (nPos != std::string::npos && nPos + 2 < strHead.size())
    {
        const size_t nStart = nPos + 2;
        const size_t nEnd = strHead.find("\r\n", nStart);
        const std::string strLine = strHead.substr(nStart, nEnd - nStart);
        const size_t nColon = strLine.find(':');
        if (nColon != std::string::npos && nColon == strName.size() &&
            _strnicmp(strLine.c_str(), strName.c_str(), strName.size()) == 0)
        {
            const size_t nValue = strLine.find_first_not_of(' ', nColon + 1);
            return nValue == std::string::npos ? std::string() : strLine.substr(nValue);
        }
        nPos = nEnd;
    }
    return std::string();
}

bool CRecordedRequest::HasHeader(const std::string& strName) const
{
    const std::string strNeedle = "\r\n" + strName + ":";
    for (size_t i = 0; i + strNeedle.size() <= strHead.size(); ++i)
        if (_strnicmp(strHead.c_str() + i, strNeedle.c_str(), strNeedle.size()) == 0)
            return true;
    return false;
}

namespace RecordServer
{
void Reset() { Exchange("POST", "/_control/reset", ""); }
void Script(const std::string& strScript)
{
    const std::string strSuffix = ".json";
    const bool bFile = strScript.size() > strSuffix.size() &&
                       strScript.compare(strScript.size() - strSuffix.size(), strSuffix.size(), strSuffix) == 0;
    Exchange("POST", "/_control/script", bFile ? TestData(strScript) : strScript);
}
int Count() { return atoi(Exchange("GET", "/_control/count", "").c_str()); }
void Release() { Exchange("POST", "/_control/release", ""); }

CRecordedRequest Request(int nIndex)
{
    const std::string strRaw = Exchange("GET", "/_control/request/" + std::to_string(nIndex), "");
    CRecordedRequest request;
    const size_t nEnd = strRaw.find("\r\n\r\n");
    if (nEnd != std::string::npos)
    {
        request.strHead = strRaw.substr(0, nEnd + 4);
        request.strBody = strRaw.substr(nEnd + 4);
    }
    return request;
}
}  // namespace RecordServer
