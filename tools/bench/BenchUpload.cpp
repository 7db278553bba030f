// Uploads the files named in a list (one path per line, UTF-8) to an address through the upload
// engine alone and prints one line: outcome, body bytes, seconds and the process's peak working set.
//   pl5_bench.exe <address> <list file>
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "progress/Progress.h"
#include "ptl/Text.h"
#include "upload/UploadEngine.h"
#include "upload/UploadFile.h"
#include "upload/UploadRequest.h"

namespace
{
// The dialog's part in a run, without a window: counts the content bytes.
class CBenchObserver : public IUploadObserver
{
public:
    ULONGLONG nContentBytes = 0;

    void OnStatus(EUploadStage) override {}
    void OnAttempt() override { nContentBytes = 0; }
    void OnBeginFile(size_t) override {}
    void OnProgress(DWORD nBytes) override { nContentBytes += nBytes; }
    void OnEndFile(size_t) override {}
    void OnWaitBegin() override {}
    void OnWaitEnd() override {}
    void OnFinished() override {}
};

double Seconds(const LARGE_INTEGER& liFrom, const LARGE_INTEGER& liTo)
{
    LARGE_INTEGER liFrequency;
    QueryPerformanceFrequency(&liFrequency);
    return static_cast<double>(liTo.QuadPart - liFrom.QuadPart) / static_cast<double>(liFrequency.QuadPart);
}

// Microseconds per 51200-byte read of the file, reading it whole (this also brings it into the
// system's cache, as a second upload of the same file would find it).
double ReadMicrosPerChunk(const wchar_t* szPath)
{
    CUploadFile file;
    if (!file.Open(szPath))
        return 0.0;
    std::vector<BYTE> buffer(UPLOAD_CHUNK_SIZE);
    LARGE_INTEGER liStart, liEnd;
    QueryPerformanceCounter(&liStart);
    ULONGLONG nChunks = 0;
    while (file.Read(buffer.data(), UPLOAD_CHUNK_SIZE) > 0)
        ++nChunks;
    QueryPerformanceCounter(&liEnd);
    return nChunks ? Seconds(liStart, liEnd) * 1e6 / static_cast<double>(nChunks) : 0.0;
}

// Microseconds per chunk for the dialog's accounting (counters, clock, rate, percentages).
double AccountMicrosPerChunk()
{
    LARGE_INTEGER liFrequency;
    QueryPerformanceFrequency(&liFrequency);
    CUploadProgress progress(liFrequency.QuadPart);
    progress.Reset(1LL << 40);
    const int nCalls = 200000;
    LARGE_INTEGER liStart, liEnd, liNow;
    QueryPerformanceCounter(&liStart);
    for (int i = 0; i < nCalls; ++i)
    {
        QueryPerformanceCounter(&liNow);
        progress.Add(UPLOAD_CHUNK_SIZE, liNow.QuadPart);
    }
    QueryPerformanceCounter(&liEnd);
    return Seconds(liStart, liEnd) * 1e6 / nCalls;
}
}  // namespace

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
        CopyField(entry.szFilePath, PTL::DecodeText(strLine).c_str());
        CopyField(entry.szInputName, L"file");
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        if (GetFileAttributesExW(entry.szFilePath, GetFileExInfoStandard, &data))
            entry.nFileSize = data.nFileSizeLow;
        entries.push_back(entry);
    }

    // Where a chunk's time goes, measured apart from the upload.
    const double dReadMicros = entries.empty() ? 0.0 : ReadMicrosPerChunk(entries[0].szFilePath);
    const double dAccountMicros = AccountMicrosPerChunk();

    CBenchObserver observer;
    CUploadEngine engine(observer);
    CUploadState& state = engine.State();
    state.szActionUrl = argv[1];
    state.szPageUrl = L"http://127.0.0.1/bench.html";
    state.bUseUnicode = true;
    state.FormFields.Append(L"bench", L"pelora5");

    LARGE_INTEGER liFrequency, liStart, liBuilt, liEnd;
    QueryPerformanceFrequency(&liFrequency);
    QueryPerformanceCounter(&liStart);
    BuildUploadParts(entries, false, false, state.UploadParts);
    QueryPerformanceCounter(&liBuilt);
    if (!engine.Start())
    {
        fprintf(stderr, "pl5_bench: the worker did not start\n");
        return 1;
    }
    engine.Join();
    QueryPerformanceCounter(&liEnd);

    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));

    const bool bOk = state.Result.nOutcome == EUploadOutcome::Completed;
    // The receiver answers "received N bytes": the body length as it arrived.
    const std::wstring strPrefix = L"received ";
    const ULONGLONG nBody = state.szResponse.compare(0, strPrefix.size(), strPrefix) == 0
                                ? _wcstoui64(state.szResponse.c_str() + strPrefix.size(), nullptr, 10)
                                : 0;
    const double dFrequency = static_cast<double>(liFrequency.QuadPart);
    // seconds: the whole upload as StartUpload does it; of that, prepare_seconds built the parts.
    const double dChunks = static_cast<double>(observer.nContentBytes) / UPLOAD_CHUNK_SIZE;
    const double dChunkMicros = dChunks > 0 ? Seconds(liBuilt, liEnd) * 1e6 / dChunks : 0.0;
    // chunk_us: the whole upload per 51200 bytes of content; read_us and account_us: reading a
    // chunk from a cached file and the dialog's per-chunk accounting; the rest is the network.
    printf("outcome=%s files=%u content_bytes=%llu body_bytes=%llu seconds=%.3f prepare_seconds=%.3f "
           "chunk_us=%.1f read_us=%.1f account_us=%.2f peak_working_set=%llu\n",
           bOk ? "received" : "failed", static_cast<unsigned>(entries.size()), observer.nContentBytes, nBody,
           static_cast<double>(liEnd.QuadPart - liStart.QuadPart) / dFrequency,
           static_cast<double>(liBuilt.QuadPart - liStart.QuadPart) / dFrequency, dChunkMicros, dReadMicros,
           dAccountMicros, static_cast<unsigned long long>(counters.PeakWorkingSetSize));
    return bOk ? 0 : 1;
}
