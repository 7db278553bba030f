// The progress arithmetic of one upload: byte counters advanced by the worker after every chunk
// of file content, an average rate over the whole sending time, percentages by bytes and
// time-left estimates, and the texts the progress dialog shows for them.
//
// The counters are written on the worker's thread and read on the dialog's thread without a
// lock; each is atomic, so a 64-bit value is never read half-written, even in a 32-bit process.
// A reader may combine values of two successive chunks; the next refresh corrects that.
#pragma once
#include <windows.h>

#include <atomic>
#include <string>

// An average rate in bytes per second, always in KB with two truncated decimals and grouped
// thousands, no space: 0 gives "0.00KB", 1536 gives "1.50KB".
std::wstring FormatRateText(double dRate);

// Whole seconds needed for the bytes still to send at the rate, truncated toward zero. A rate
// that gives no finite estimate within 32 bits (0, not a number) gives 0, as does a negative one.
int TimeLeftSeconds(LONGLONG nTotal, LONGLONG nSent, double dRate);

// strFormat (language string 111, three %02d) filled with hours, minutes and seconds of
// nSeconds; hours above 99 take as many digits as they need.
std::wstring FormatTimeLeft(const std::wstring& strFormat, int nSeconds);

// nSent as a whole percentage of nTotal, truncated; by bytes, so two files of 100 and 300 bytes
// give 25 once the first is sent. An empty or negative total gives 0.
int ProgressPercent(LONGLONG nSent, LONGLONG nTotal);

// The five texts of one refresh, in the order the dialog sets them.
struct CProgressTexts
{
    std::wstring strRate;        // control 1205
    std::wstring strFileBytes;   // 1206
    std::wstring strTotalBytes;  // 1208
    std::wstring strFileLeft;    // 1207
    std::wstring strTotalLeft;   // 1210
};

// The counters of the upload in progress. Times are counter ticks (QueryPerformanceCounter),
// passed in so that the arithmetic can be checked with a clock of the test's choosing.
class CUploadProgress
{
public:
    explicit CUploadProgress(LONGLONG liTicksPerSecond) : liFrequency(liTicksPerSecond > 0 ? liTicksPerSecond : 1) {}
    CUploadProgress(const CUploadProgress&) = delete;
    CUploadProgress& operator=(const CUploadProgress&) = delete;

    // Every counter, the accumulated time and the rate to zero; the all-files total to nTotal.
    void Reset(LONGLONG nTotal);
    // The sending time runs from now; time before (a cancel question) does not count.
    void StartClock(LONGLONG liNow);
    // A file begins: its size, nothing of it sent yet (0%, not the last file's percentage).
    void BeginFile(LONGLONG nSize);
    // A new attempt sends every file again: the overall bytes count from zero, while the rate
    // keeps averaging over all attempts.
    void ResetTotalSent()
    {
        nTotalSent = 0;
        nTotalPercent = 0;
    }
    // One chunk of file content was written: counters, sending time, rate and percentages.
    void Add(DWORD nBytes, LONGLONG liNow);

    CProgressTexts Texts(const std::wstring& strTimeLeftFormat) const;

    std::atomic<LONGLONG> nFileTotal{0};  // size of the file being sent
    std::atomic<LONGLONG> nFileSent{0};   // bytes of it written so far
    std::atomic<int> nFilePercent{0};
    std::atomic<LONGLONG> nTotalSize{0};  // all files of this upload
    std::atomic<LONGLONG> nTotalSent{0};  // file bytes written in the current attempt
    std::atomic<LONGLONG> nRateBytes{0};  // file bytes written since the start, all attempts
    std::atomic<int> nTotalPercent{0};
    std::atomic<double> dElapsedSec{0.0};  // sending time behind the rate
    std::atomic<double> dRate{0.0};        // bytes per second, averaged over dElapsedSec
    const LONGLONG liFrequency;            // ticks per second
    std::atomic<LONGLONG> liLastTick{0};   // the last accounting point
};
