// Entry point of every GoogleTest program: the tests run in a single-threaded apartment, as the
// control does inside a browser.
#include <windows.h>
#include <objbase.h>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr))
        return 3;
    const int nResult = RUN_ALL_TESTS();
    CoUninitialize();
    return nResult;
}
