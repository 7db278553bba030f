// Pixels at the DPI of the window they are shown in. Sizes written for 96 DPI (the control's
// constants, and page pixels that script gives) are scaled to the window's DPI, as a browser
// scales the page's own elements.
//
// The window's DPI is what the system says for it: GetDpiForWindow where user32 has it (the
// monitor's DPI for a per-monitor aware container, the system's for a system-aware one, and 96
// for an unaware one, which the system itself stretches, so nothing is scaled twice), else the
// screen's LOGPIXELSX.
#pragma once
#include <windows.h>
#include <commctrl.h>

namespace PTL
{
const UINT DEFAULT_DPI = 96;

UINT WindowDpi(HWND hWnd);

// n pixels at 96 DPI, at nDpi.
inline int ScaleForDpi(int n, UINT nDpi) { return MulDiv(n, static_cast<int>(nDpi), static_cast<int>(DEFAULT_DPI)); }

// A system metric at nDpi (GetSystemMetricsForDpi where user32 has it).
int SystemMetricForDpi(int nIndex, UINT nDpi);

// The shell's image list of file icons whose size fits nDpi: for bLarge the one nearest to 32
// pixels scaled, else to 16 pixels scaled. Shared by the whole process: never destroyed. The
// icon indices are the same in every size.
HIMAGELIST SystemImageList(bool bLarge, UINT nDpi);

// WM_DPICHANGED_AFTERPARENT, which a child window receives after its top-level window has
// moved to a monitor of another DPI (older headers lack it).
const UINT WM_DPI_CHANGED_AFTER_PARENT = 0x02E3;
}  // namespace PTL
