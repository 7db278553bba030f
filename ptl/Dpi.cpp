#include "ptl/Dpi.h"
#include "ptl/Handle.h"
#include <shellapi.h>
#include <commoncontrols.h>
#include <cstdlib>
#include <initializer_list>

namespace PTL
{
namespace
{
// Looked up at run time: older systems lack them.
template <class F>
F User32Function(const char* szName)
{
    const HMODULE hUser = GetModuleHandleW(L"user32.dll");
    return hUser ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(hUser, szName))) : nullptr;
}

UINT ScreenDpi()
{
    const CWindowDC screen(nullptr);
    if (!screen.Get())
        return DEFAULT_DPI;
    const int n = GetDeviceCaps(screen.Get(), LOGPIXELSX);
    return n > 0 ? static_cast<UINT>(n) : DEFAULT_DPI;
}
}  // namespace

UINT WindowDpi(HWND hWnd)
{
    using FGetDpiForWindow = UINT(WINAPI*)(HWND);
    static const auto fnGetDpiForWindow = User32Function<FGetDpiForWindow>("GetDpiForWindow");
    if (fnGetDpiForWindow && hWnd)
        if (const UINT nDpi = fnGetDpiForWindow(hWnd))
            return nDpi;
    return ScreenDpi();
}

int SystemMetricForDpi(int nIndex, UINT nDpi)
{
    using FGetSystemMetricsForDpi = int(WINAPI*)(int, UINT);
    static const auto fnForDpi = User32Function<FGetSystemMetricsForDpi>("GetSystemMetricsForDpi");
    if (fnForDpi)
        return fnForDpi(nIndex, nDpi);
    // Without it the system's metrics are those of the screen's DPI.
    return MulDiv(GetSystemMetrics(nIndex), static_cast<int>(nDpi), static_cast<int>(ScreenDpi()));
}

HIMAGELIST SystemImageList(bool bLarge, UINT nDpi)
{
    // Make sure the shell has made its lists; this also gives the fallback.
    SHFILEINFOW info = {};
    const UINT nFlags = SHGFI_USEFILEATTRIBUTES | SHGFI_SYSICONINDEX | (bLarge ? SHGFI_LARGEICON : SHGFI_SMALLICON);
    const auto hDefault =
        reinterpret_cast<HIMAGELIST>(SHGetFileInfoW(L"*.*", FILE_ATTRIBUTE_NORMAL, &info, sizeof(info), nFlags));
    const int nWanted = ScaleForDpi(bLarge ? 32 : 16, nDpi);
    HIMAGELIST hBest = hDefault;
    int nBestSize = 0;
    if (hDefault)
        ImageList_GetIconSize(hDefault, &nBestSize, &nBestSize);
    for (int nList : {SHIL_SMALL, SHIL_LARGE, SHIL_EXTRALARGE})
    {
        IImageList* pList = nullptr;
        if (FAILED(SHGetImageList(nList, __uuidof(IImageList), reinterpret_cast<void**>(&pList))) || !pList)
            continue;
        int cx = 0, cy = 0;
        const HIMAGELIST hList = reinterpret_cast<HIMAGELIST>(pList);
        // The shell keeps its lists for the process: this reference is not the last.
        if (ImageList_GetIconSize(hList, &cx, &cy) && std::abs(cx - nWanted) < std::abs(nBestSize - nWanted))
        {
            hBest = hList;
            nBestSize = cx;
        }
        pList->Release();
    }
    return hBest;
}
}  // namespace PTL
