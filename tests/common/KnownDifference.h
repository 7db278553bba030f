// A known difference of the platform the tests run on, declared where it is tolerated, as Wine's
// own tests declare theirs: the check always runs. Where the difference is declared and the
// platform is Wine, a failing check is printed as a known difference and a passing one as a
// difference no longer seen, so the declaration can go; everywhere else it is an ordinary check.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

namespace PL5Test
{
inline bool OnWine()
{
    static const bool bWine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return bWine;
}

inline void ReportKnownDifference(bool bHolds, const char* szCheck, const char* szWhy, const char* szFile, int nLine)
{
    std::printf("%s:%d: %s: %s (%s)\n", szFile, nLine,
                bHolds ? "known platform difference no longer seen" : "known platform difference", szCheck, szWhy);
}
}  // namespace PL5Test

// EXPECT_TRUE(condition), but where bDiffers holds on Wine, a known difference for the reason given.
#define PL5_EXPECT_TRUE_TODO_WINE_IF(bDiffers, condition, szWhy)                                                       \
    do                                                                                                                 \
    {                                                                                                                  \
        const bool pl5Holds = (condition);                                                                             \
        if ((bDiffers) && PL5Test::OnWine())                                                                           \
            PL5Test::ReportKnownDifference(pl5Holds, #condition, szWhy, __FILE__, __LINE__);                           \
        else                                                                                                           \
            EXPECT_TRUE(pl5Holds) << #condition;                                                                       \
    } while (0)
