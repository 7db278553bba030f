#include "progress/Progress.h"

#include <climits>
#include <cmath>
#include <cwchar>

#include "filelist/Format.h"

std::wstring FormatRateText(double dRate)
{
    double q = dRate / 1024.0;
    // Beyond the 32-bit integer part (or not a number) the text would mean nothing; such a rate
    // cannot come from a real transfer.
    if (!(q > 0.0))
        q = 0.0;
    if (q >= static_cast<double>(INT_MAX))
        q = static_cast<double>(INT_MAX);
    const int i = static_cast<int>(q);
    int f = static_cast<int>((q - i) * 100.0);
    if (f > 99)
        f = 99;
    wchar_t szFraction[8];
    swprintf(szFraction, 8, L".%02d", f);
    return FormatGroupedNumber(static_cast<ULONG>(i)) + szFraction + L"KB";
}

int TimeLeftSeconds(LONGLONG nTotal, LONGLONG nSent, double dRate)
{
    const double s = static_cast<double>(nTotal - nSent) / dRate;
    // Not a number, infinite or outside the signed 32-bit range: no estimate.
    if (!std::isfinite(s) || s < 0.0 || s >= 2147483648.0)
        return 0;
    return static_cast<int>(s);
}

std::wstring FormatTimeLeft(const std::wstring& strFormat, int nSeconds)
{
    if (nSeconds < 0)
        nSeconds = 0;
    const int nHours = nSeconds / 3600;
    const int nMinutes = (nSeconds - nHours * 3600) / 60;
    const int nRest = nSeconds - (nSeconds / 60) * 60;
    wchar_t szText[256] = L"";
    swprintf(szText, 256, strFormat.c_str(), nHours, nMinutes, nRest);
    return szText;
}

int ProgressPercent(LONGLONG nSent, LONGLONG nTotal)
{
    if (nTotal <= 0 || nSent <= 0)
        return 0;
    // In integers: 29 of 100 bytes is 29%, where 29.0 / 100 * 100 in doubles truncates to 28.
    LONGLONG nPercent;
    if (nSent <= LLONG_MAX / 100)
        nPercent = nSent * 100 / nTotal;
    else
        nPercent = static_cast<LONGLONG>(static_cast<double>(nSent) / static_cast<double>(nTotal) * 100.0);
    return nPercent > INT_MAX ? INT_MAX : static_cast<int>(nPercent);
}

void CUploadProgress::Reset(LONGLONG nTotal)
{
    nFileTotal = 0;
    nFileSent = 0;
    nFilePercent = 0;
    nTotalSize = nTotal;
    nTotalSent = 0;
    nRateBytes = 0;
    nTotalPercent = 0;
    dElapsedSec = 0.0;
    dRate = 0.0;
    liLastTick = 0;
}

void CUploadProgress::StartClock(LONGLONG liNow) { liLastTick = liNow; }

void CUploadProgress::BeginFile(LONGLONG nSize)
{
    nFileTotal = nSize;
    nFileSent = 0;
    nFilePercent = 0;
}

void CUploadProgress::Add(DWORD nBytes, LONGLONG liNow)
{
    const LONGLONG nFileNow = nFileSent += nBytes;
    const LONGLONG nTotalNow = nTotalSent += nBytes;
    const LONGLONG nRateNow = nRateBytes += nBytes;

    // exchange: a StartClock on the dialog's thread in between is either seen whole or not at
    // all; a clock moved past now counts as no time rather than negative time.
    const LONGLONG liLast = liLastTick.exchange(liNow);
    const LONGLONG liDelta = liNow > liLast ? liNow - liLast : 0;
    const double dElapsed = dElapsedSec + static_cast<double>(liDelta) / static_cast<double>(liFrequency);
    dElapsedSec = dElapsed;
    // Two chunks within one tick leave the rate as it was instead of making it infinite.
    if (dElapsed > 0.0)
        dRate = static_cast<double>(nRateNow) / dElapsed;

    nFilePercent = ProgressPercent(nFileNow, nFileTotal);
    nTotalPercent = ProgressPercent(nTotalNow, nTotalSize);
}

CProgressTexts CUploadProgress::Texts(const std::wstring& strTimeLeftFormat) const
{
    const double dRateNow = dRate;
    const LONGLONG nFileSize = nFileTotal, nFileDone = nFileSent;
    const LONGLONG nAllSize = nTotalSize, nAllDone = nTotalSent;
    auto unsignedOf = [](LONGLONG n) { return n > 0 ? static_cast<ULONGLONG>(n) : 0ull; };

    CProgressTexts texts;
    texts.strRate = FormatRateText(dRateNow);
    texts.strFileBytes =
        FormatByteProgress(unsignedOf(nFileDone), unsignedOf(nFileSize), static_cast<ULONG>(nFilePercent.load()));
    texts.strTotalBytes =
        FormatByteProgress(unsignedOf(nAllDone), unsignedOf(nAllSize), static_cast<ULONG>(nTotalPercent.load()));
    texts.strFileLeft = FormatTimeLeft(strTimeLeftFormat, TimeLeftSeconds(nFileSize, nFileDone, dRateNow));
    texts.strTotalLeft = FormatTimeLeft(strTimeLeftFormat, TimeLeftSeconds(nAllSize, nAllDone, dRateNow));
    return texts;
}
