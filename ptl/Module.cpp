#include "ptl/Module.h"

#include <algorithm>

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

void CModule::DebugLine(const wchar_t* szText) noexcept
{
    try
    {
        std::wstring strLine = Path();
        strLine.erase(0, strLine.find_last_of(L"\\/") + 1);  // npos + 1 keeps the whole name
        strLine.erase(std::min(strLine.find_last_of(L'.'), strLine.size()));
        strLine.append(L": ").append(szText).append(L"\n");
        OutputDebugStringW(strLine.c_str());
    }
    catch (...)
    {
        OutputDebugStringW(szText);  // out of memory: the text without its heading
    }
}

void CModule::Lock() { InterlockedIncrement(&g_nLocks); }
void CModule::Unlock() { InterlockedDecrement(&g_nLocks); }
LONG CModule::LockCount() { return g_nLocks; }
}  // namespace PTL
