// The progress arithmetic: rate and time-left texts, percentages by bytes, and the counters
// driven with a clock of the test's own (1000 ticks per second).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "progress/Progress.h"

namespace
{
const wchar_t TIME_LEFT[] = L"Time Left : %02d:%02d:%02d";
const LONGLONG TICKS = 1000;

LONGLONG Seconds(double d) { return static_cast<LONGLONG>(d * TICKS); }
}  // namespace

TEST(ProgressText, RateIsAlwaysKilobytesTruncated)
{
    const struct
    {
        double dRate;
        const wchar_t* szExpected;
    } cases[] = {
        {0.0, L"0.00KB"},
        {500.0, L"0.48KB"},
        {1023.0, L"0.99KB"},         // truncated, never rounded up to 1.00
        {5000000.0, L"4,882.81KB"},  // no MB however large
        {-5.0, L"0.00KB"},
        {std::numeric_limits<double>::quiet_NaN(), L"0.00KB"},
        {std::numeric_limits<double>::infinity(), L"2,147,483,647.00KB"},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i)
        EXPECT_EQ(cases[i].szExpected, FormatRateText(cases[i].dRate)) << "case " << i;
}

TEST(ProgressText, TimeLeftTruncatesAndNeverGoesNegative)
{
    const struct
    {
        LONGLONG nTotal, nSent;
        double dRate;
        const wchar_t* szExpected;
    } cases[] = {
        {599, 0, 10.0, L"Time Left : 00:00:59"},  // 59.9 s
        {3661, 0, 1.0, L"Time Left : 01:01:01"},
        {360000, 0, 1.0, L"Time Left : 100:00:00"},    // hours take the digits they need
        {1000, 0, 0.0, L"Time Left : 00:00:00"},       // no rate yet
        {0, 0, 0.0, L"Time Left : 00:00:00"},          // 0 / 0
        {100, 200, 10.0, L"Time Left : 00:00:00"},     // more sent than listed
        {1LL << 40, 0, 1.0, L"Time Left : 00:00:00"},  // beyond 32 bits: no estimate
        {2147483647LL, 0, 1.0, L"Time Left : 596523:14:07"},
        {1048576, 1048576, 51200.0, L"Time Left : 00:00:00"},  // the last chunk is written
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i)
        EXPECT_EQ(cases[i].szExpected,
                  FormatTimeLeft(TIME_LEFT, TimeLeftSeconds(cases[i].nTotal, cases[i].nSent, cases[i].dRate)))
            << "case " << i;
}

TEST(ProgressText, PercentFollowsBytes)
{
    const struct
    {
        LONGLONG nSent, nTotal;
        int nExpected;
    } cases[] = {
        {29, 100, 29},  // exact, where doubles give 28.999...
        {0, 0, 0},
        {10, 0, 0},  // a file listed as empty that has content
        {150, 100, 150},
        {1LL << 30, 1LL << 31, 50},  // a 2 GiB file half sent
        {(1LL << 62), (1LL << 62), 100},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i)
        EXPECT_EQ(cases[i].nExpected, ProgressPercent(cases[i].nSent, cases[i].nTotal)) << "case " << i;
}

TEST(UploadProgress, FreshUploadShowsZeroesAndTrueTotals)
{
    CUploadProgress progress(TICKS);
    // A file of 2 GiB: the listed size is unsigned and stays positive.
    progress.Reset(2147483648LL + 100);
    progress.StartClock(0);
    progress.BeginFile(2147483648LL);
    const CProgressTexts texts = progress.Texts(TIME_LEFT);
    EXPECT_EQ(L"0.00KB", texts.strRate);
    EXPECT_EQ(L"0 / 2,147,483,648 Bytes (0%)", texts.strFileBytes);
    EXPECT_EQ(L"0 / 2,147,483,748 Bytes (0%)", texts.strTotalBytes);
    EXPECT_EQ(L"Time Left : 00:00:00", texts.strFileLeft);
    EXPECT_EQ(L"Time Left : 00:00:00", texts.strTotalLeft);
}

TEST(UploadProgress, ChunksAdvanceCountersRateAndTexts)
{
    CUploadProgress progress(TICKS);
    progress.Reset(1048576 + 300);
    progress.StartClock(0);
    progress.BeginFile(1048576);
    // A chunk within the tick the clock started: no time has passed, the rate stays finite.
    progress.Add(25600, 0);
    EXPECT_EQ(0.0, progress.dRate.load());
    EXPECT_EQ(L"0.00KB", progress.Texts(TIME_LEFT).strRate);

    progress.Add(25600, Seconds(1));
    EXPECT_EQ(4, progress.nFilePercent.load());
    EXPECT_EQ(4, progress.nTotalPercent.load());
    EXPECT_DOUBLE_EQ(51200.0, progress.dRate.load());
    const CProgressTexts texts = progress.Texts(TIME_LEFT);
    EXPECT_EQ(L"50.00KB", texts.strRate);
    EXPECT_EQ(L"51,200 / 1,048,576 Bytes (4%)", texts.strFileBytes);
    EXPECT_EQ(L"51,200 / 1,048,876 Bytes (4%)", texts.strTotalBytes);
    EXPECT_EQ(L"Time Left : 00:00:19", texts.strFileLeft);  // 997,376 bytes at 51,200/s = 19.48 s
    EXPECT_EQ(L"Time Left : 00:00:19", texts.strTotalLeft);
}

TEST(UploadProgress, OverallPercentCountsBytesNotFiles)
{
    CUploadProgress progress(TICKS);
    progress.Reset(400);
    progress.StartClock(0);
    progress.BeginFile(100);
    progress.Add(100, Seconds(1));
    EXPECT_EQ(100, progress.nFilePercent.load());
    EXPECT_EQ(25, progress.nTotalPercent.load());
    progress.BeginFile(300);
    EXPECT_EQ(L"0 / 300 Bytes (0%)", progress.Texts(TIME_LEFT).strFileBytes) << "not the first file's 100%";
    progress.Add(150, Seconds(2));
    EXPECT_EQ(50, progress.nFilePercent.load());
    EXPECT_EQ(62, progress.nTotalPercent.load());
}

TEST(UploadProgress, QuestionTimeDoesNotLowerTheRate)
{
    CUploadProgress progress(TICKS);
    progress.Reset(1000000);
    progress.StartClock(0);
    progress.BeginFile(1000000);
    progress.Add(51200, Seconds(1));
    // The question stays open from 1 s to 31 s; the clock restarts after the answer.
    progress.StartClock(Seconds(31));
    progress.Add(51200, Seconds(32));
    EXPECT_DOUBLE_EQ(2.0, progress.dElapsedSec.load());
    EXPECT_DOUBLE_EQ(51200.0, progress.dRate.load());

    // Without the restart the thirty seconds would count.
    CUploadProgress counted(TICKS);
    counted.Reset(1000000);
    counted.StartClock(0);
    counted.BeginFile(1000000);
    counted.Add(51200, Seconds(1));
    counted.Add(51200, Seconds(32));
    EXPECT_LT(counted.dRate.load(), 4000.0);
}

TEST(UploadProgress, RetriedAttemptRecountsBytesButKeepsTheAverage)
{
    CUploadProgress progress(TICKS);
    progress.Reset(204800);
    progress.StartClock(0);
    progress.BeginFile(204800);
    progress.Add(102400, Seconds(1));
    // The server answered 401: the next attempt sends everything again.
    progress.ResetTotalSent();
    progress.BeginFile(204800);
    EXPECT_EQ(L"0 / 204,800 Bytes (0%)", progress.Texts(TIME_LEFT).strTotalBytes);
    progress.Add(102400, Seconds(3));
    EXPECT_EQ(102400, progress.nTotalSent.load());
    EXPECT_EQ(50, progress.nTotalPercent.load());
    EXPECT_EQ(204800, progress.nRateBytes.load());
    EXPECT_DOUBLE_EQ(204800.0 / 3.0, progress.dRate.load());

    // A new upload starts from nothing.
    progress.Reset(10);
    EXPECT_EQ(0, progress.nRateBytes.load());
    EXPECT_EQ(0.0, progress.dRate.load());
    EXPECT_EQ(0, progress.nTotalPercent.load());
    EXPECT_EQ(L"0.00KB", progress.Texts(TIME_LEFT).strRate);
}
