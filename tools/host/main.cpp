// host: runs a browser-style page with ActiveX objects and JScript, for the control's tests and
// demonstrations.
//   host [--timeout SECONDS] [--url ADDRESS] [--no-browser-service] page.html
// The exit code is the page's own (host.Exit), or one of the host's codes in PageRunner.h.
#include "tools/host/PageRunner.h"
#include "ptl/Handle.h"
#include "ptl/Text.h"

#include <shlwapi.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace
{

using namespace Host;

// One line to a standard handle: UTF-16 to a console, UTF-8 to a file or pipe. Written at once,
// so that the order of output and error lines survives.
void WriteLine(DWORD nStdHandle, const std::wstring& strLine)
{
    static std::mutex s_mutex;
    std::lock_guard<std::mutex> lock(s_mutex);
    const HANDLE hOut = GetStdHandle(nStdHandle);
    if (!hOut || hOut == INVALID_HANDLE_VALUE)
        return;
    const std::wstring strText = strLine + L"\n";
    DWORD nMode = 0, nWritten = 0;
    if (GetConsoleMode(hOut, &nMode))
    {
        WriteConsoleW(hOut, strText.data(), DWORD(strText.size()), &nWritten, nullptr);
    }
    else
    {
        const std::string strBytes = PTL::EncodeText(strText);
        WriteFile(hOut, strBytes.data(), DWORD(strBytes.size()), &nWritten, nullptr);
    }
}

void PrintError(const std::wstring& strLine) { WriteLine(STD_ERROR_HANDLE, strLine); }

// Ends a page that runs longer than allowed; the page's thread may be stuck in a modal loop,
// so the process is ended from here.
class CWatchdog
{
public:
    CWatchdog(DWORD nSeconds, std::wstring strPage)
    {
        if (nSeconds == 0)
            return;
        m_thread = std::thread([this, nSeconds, strPage] {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (!m_wake.wait_for(lock, std::chrono::seconds(nSeconds), [this] { return m_bDone; }))
            {
                PrintError(strPage + L": error: the page did not end within " + std::to_wstring(nSeconds) + L" s");
                TerminateProcess(GetCurrentProcess(), ExitCode::Timeout);
            }
        });
    }
    ~CWatchdog()
    {
        if (!m_thread.joinable())
            return;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bDone = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_bDone = false;
    std::thread m_thread;
};

class COleSession
{
public:
    COleSession() : m_hr(OleInitialize(nullptr)) {}
    ~COleSession()
    {
        if (SUCCEEDED(m_hr))
            OleUninitialize();
    }
    HRESULT Result() const { return m_hr; }

private:
    HRESULT m_hr;
};

const wchar_t USAGE[] =
    L"usage: host [--timeout SECONDS] [--url ADDRESS] [--no-browser-service] page.html\n"
    L"Shows the page and runs its OBJECT elements (in place in the page) and JScript blocks; exits\n"
    L"with the page's code (host.Exit), 2 for a bad command line, 3 for a malformed page, 4 for a\n"
    L"script error, 5 for an object that cannot be created or connected, 6 for a time-out, 7 when\n"
    L"no script engine can be started, 8 when an object is still referenced after the page.\n"
    L"  --url ADDRESS          the document's address (default: the page file's own)\n"
    L"  --no-browser-service   the objects' sites do not lead to the browser; the document is\n"
    L"                         reachable only through the page window (WM_HTML_GETOBJECT)";

int RunHost(int argc, wchar_t** argv)
{
    std::wstring strPage, strUrl;
    DWORD nTimeout = 0;
    bool bBrowserService = true;
    for (int i = 1; i < argc; ++i)
    {
        const std::wstring strArg = argv[i];
        if (strArg == L"--help" || strArg == L"-h")
        {
            WriteLine(STD_OUTPUT_HANDLE, USAGE);
            return 0;
        }
        if (strArg == L"--timeout" && i + 1 < argc)
        {
            nTimeout = DWORD(wcstoul(argv[++i], nullptr, 10));
            continue;
        }
        if (strArg == L"--url" && i + 1 < argc)
        {
            strUrl = argv[++i];
            continue;
        }
        if (strArg == L"--no-browser-service")
        {
            bBrowserService = false;
            continue;
        }
        if (strArg.size() > 1 && strArg[0] == L'-')
        {
            PrintError(L"host: unknown option " + strArg + L"\n" + USAGE);
            return ExitCode::Usage;
        }
        if (!strPage.empty())
        {
            PrintError(std::wstring(L"host: one page at a time\n") + USAGE);
            return ExitCode::Usage;
        }
        strPage = strArg;
    }
    if (strPage.empty())
    {
        PrintError(USAGE);
        return ExitCode::Usage;
    }

    std::wstring strText;
    DWORD nError = 0;
    if (!ReadPageFile(strPage, strText, nError))
    {
        PrintError(strPage + L": error: cannot read the page: " + PTL::DescribeHResult(HRESULT_FROM_WIN32(nError)));
        return ExitCode::Page;
    }
    CPage page;
    try
    {
        page = ParsePage(strText);
    }
    catch (const CPageError& error)
    {
        PrintError(strPage + L":" + std::to_wstring(error.Line()) + L": error: " + error.Message());
        return ExitCode::Page;
    }

    wchar_t szFull[MAX_PATH * 4];
    LPWSTR pszFilePart = nullptr;
    const DWORD nLen = GetFullPathNameW(strPage.c_str(), MAX_PATH * 4, szFull, &pszFilePart);
    std::wstring strFolder = nLen && nLen < MAX_PATH * 4 ? std::wstring(szFull, nLen) : strPage;
    if (pszFilePart && nLen && nLen < MAX_PATH * 4)
        strFolder.resize(size_t(pszFilePart - szFull));
    while (!strFolder.empty() && (strFolder.back() == L'\\' || strFolder.back() == L'/'))
        strFolder.pop_back();

    if (strUrl.empty() && nLen && nLen < MAX_PATH * 4)
    {
        wchar_t szUrl[2084];
        DWORD nUrl = 2084;
        if (SUCCEEDED(UrlCreateFromPathW(szFull, szUrl, &nUrl, 0)))
            strUrl = szUrl;
    }

    COleSession ole;
    if (FAILED(ole.Result()))
    {
        PrintError(L"host: error: OleInitialize failed: " + PTL::DescribeHResult(ole.Result()));
        return ExitCode::Internal;
    }
    CWatchdog watchdog(nTimeout, strPage);
    CRunOptions options;
    options.strPageName = strPage;
    options.strPageFolder = strFolder;
    options.strUrl = strUrl;
    options.bBrowserService = bBrowserService;
    options.print = [](const std::wstring& strLine) { WriteLine(STD_OUTPUT_HANDLE, strLine); };
    options.printError = PrintError;
    CPageRunner runner(std::move(options));
    const int nCode = runner.Run(page);
    const int nShutdown = runner.Shutdown();
    return nCode != 0 ? nCode : nShutdown;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    try
    {
        return RunHost(argc, argv);
    }
    catch (const std::exception& e)
    {
        PrintError(L"host: error: " + PTL::DecodeText(e.what()));
        return ExitCode::Internal;
    }
}
