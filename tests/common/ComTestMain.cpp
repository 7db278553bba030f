// Entry point of every GoogleTest program: the tests run in a single-threaded apartment, as the
// control does inside a browser, and what a test left to its end is ended (and checked) with it.
#include <windows.h>
#include <objbase.h>
#include <gtest/gtest.h>

#include "tests/common/CountedFake.h"

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new PL5Test::CTestEndListener);
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr))
        return 3;
    const int nResult = RUN_ALL_TESTS();
    CoUninitialize();
    return nResult;
}
