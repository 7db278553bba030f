// Uploads the files named in a list (one path per line, UTF-8) to an address through the upload
// worker and prints one line: outcome, body bytes, seconds and the process's peak working set.
//   pl5_bench.exe <address> <list file>
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "ptl/UploadThread.h"
#include "upload/UploadRequest.h"

namespace
{
// The dialog's part in a run, without a window: counts the content bytes.
class CBenchDlg : public PTL::CUploadThread<CBenchDlg>
{
public:
    ~CBenchDlg()
    {
        bStopRequested = true;
        ResumeWorker();
        JoinWorker();
    }
    HWND m_hWnd = nullptr;
    ULONGLONG nContentBytes = 0;

    void SetStatusText(UINT) {}
    void ResetTotalSent() { nContentBytes = 0; }
    void BeginFile(int) {}
    void AddProgress(DWORD nBytes) { nContentBytes += nBytes; }
    void EndFile(int) {}
    void ResetWaitTicks() {}
};

std::wstring Wide(const std::string& str)
{
    std::wstring strOut(str.size(), L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, str.data(), static_cast<int>(str.size()), &strOut[0],
                                      static_cast<int>(strOut.size()));
    strOut.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return strOut;
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
    {
        fprintf(stderr, "usage: pl5_bench <address> <list file>\n");
        return 2;
    }
    std::vector<FileEntry> entries;
    std::ifstream list(argv[2]);
    for (std::string strLine; std::getline(list, strLine);)
    {
        if (!strLine.empty() && strLine.back() == '\r')
            strLine.pop_back();
        if (strLine.empty())
            continue;
        FileEntry entry = {};
        CopyField(entry.szFilePath, Wide(strLine).c_str());
        CopyField(entry.szInputName, L"file");
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        if (GetFileAttributesExW(entry.szFilePath, GetFileExInfoStandard, &data))
            entry.nFileSize = data.nFileSizeLow;
        entries.push_back(entry);
    }

    CBenchDlg dlg;
    dlg.szActionUrl = argv[1];
    dlg.szPageUrl = L"http://127.0.0.1/bench.html";
    dlg.bUseUnicode = true;
    dlg.FormFields.Append(L"bench", L"pelora5");

    LARGE_INTEGER liFrequency, liStart, liBuilt, liEnd;
    QueryPerformanceFrequency(&liFrequency);
    QueryPerformanceCounter(&liStart);
    BuildUploadParts(entries, false, false, dlg.UploadParts);
    QueryPerformanceCounter(&liBuilt);
    if (!dlg.StartWorker())
    {
        fprintf(stderr, "pl5_bench: the worker did not start\n");
        return 1;
    }
    dlg.JoinWorker();
    QueryPerformanceCounter(&liEnd);

    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));

    const bool bOk = dlg.bCompleted && !dlg.bFailed && !dlg.bCancelled;
    // The receiver answers "received N bytes": the body length as it arrived.
    const std::wstring strPrefix = L"received ";
    const ULONGLONG nBody = dlg.szResponse.compare(0, strPrefix.size(), strPrefix) == 0
                                ? _wcstoui64(dlg.szResponse.c_str() + strPrefix.size(), nullptr, 10)
                                : 0;
    const double dFrequency = static_cast<double>(liFrequency.QuadPart);
    // seconds: the whole upload as StartUpload does it; of that, prepare_seconds built the parts.
    printf("outcome=%s files=%u content_bytes=%llu body_bytes=%llu seconds=%.3f prepare_seconds=%.3f "
           "peak_working_set=%llu\n",
           bOk ? "received" : "failed", static_cast<unsigned>(entries.size()), dlg.nContentBytes, nBody,
           static_cast<double>(liEnd.QuadPart - liStart.QuadPart) / dFrequency,
           static_cast<double>(liBuilt.QuadPart - liStart.QuadPart) / dFrequency,
           static_cast<unsigned long long>(counters.PeakWorkingSetSize));
    return bOk ? 0 : 1;
}
