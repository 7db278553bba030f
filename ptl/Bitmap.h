// Pixel rows as GDI takes and gives them.
#pragma once
#include <windows.h>

namespace PTL
{
// Describes 32-bit pixels (0xAARRGGBB), nWidth by nHeight, top row first, for SetDIBitsToDevice
// and GetDIBits.
inline BITMAPINFO TopDownPixels(int nWidth, int nHeight)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = nWidth;
    info.bmiHeader.biHeight = -nHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}
}  // namespace PTL
