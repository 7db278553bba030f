// The servers the upload tests talk to, started on 127.0.0.1 by tests/servers/with_servers.sh:
// the recording server (plain and TLS) and PHP's built-in server with the receiving script.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>
#include <string>

int RecordPort();
int RecordTlsPort();
int PhpPort();
bool ServersAvailable();
// A port on 127.0.0.1 on which nothing listens.
int UnusedPort();

std::wstring RecordUrl(const std::wstring& strPath);
std::wstring RecordTlsUrl(const std::wstring& strPath);
std::wstring PhpUrl(const std::wstring& strPath);

// One request as the recording server received it.
struct CRecordedRequest
{
    std::string strHead;  // request line and headers, with the blank line
    std::string strBody;

    std::string RequestLine() const;
    // The value of the first header of that name (case-insensitive), or "" when there is none.
    std::string Header(const std::string& strName) const;
    bool HasHeader(const std::string& strName) const;
    // The boundary of a multipart/form-data body, or "" for any other content type.
    std::string Boundary() const;
};

namespace RecordServer
{
// Forgets recorded requests and scripted answers.
void Reset();
// Answers for the next requests: a JSON list (see record_server.py), or the name of a file in
// tests/data that holds one (a name ending in ".json").
void Script(const std::string& strScript);
int Count();
CRecordedRequest Request(int nIndex);
// Lets an answer scripted with "hold" go.
void Release();
// Forgets what was recorded and scripts the answers (as Script takes them): the recording
// server's address for the path, or, without a script, an address on which nothing listens.
std::wstring ScriptedUrl(const char* szScript, const std::wstring& strPath);
}  // namespace RecordServer

// A test against these servers: it fails when the program runs without them (a run that cannot
// reach its servers proves nothing); each test begins with nothing recorded and nothing scripted.
class CServerTest : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!ServersAvailable())
            GTEST_FAIL() << "run through tests/servers/with_servers.sh";
        RecordServer::Reset();
    }
};
