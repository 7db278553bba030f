#include "ptl/Module.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace PTL
{
namespace
{
volatile LONG g_nLocks = 0;
}

HINSTANCE CModule::Instance() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

std::wstring CModule::Path()
{
    std::wstring strPath(MAX_PATH, L'\0');
    for (;;)
    {
        const DWORD n = GetModuleFileNameW(Instance(), &strPath[0], static_cast<DWORD>(strPath.size()));
        if (n == 0)
            return std::wstring();
        if (n < strPath.size())
        {
            strPath.resize(n);
            return strPath;
        }
        strPath.resize(strPath.size() * 2);
    }
}

void CModule::Lock() { InterlockedIncrement(&g_nLocks); }
void CModule::Unlock() { InterlockedDecrement(&g_nLocks); }
LONG CModule::LockCount() { return g_nLocks; }
}  // namespace PTL
