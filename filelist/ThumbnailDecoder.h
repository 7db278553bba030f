// A thumbnail made from a picture file by the system's imaging component (WIC): scaled to fit a
// square, aspect kept, never enlarged, and turned as the picture's orientation tag says. Only
// the scaled pixels are kept; the file is read and closed within the call.
#pragma once
#include <windows.h>
#include <wincodec.h>
#include <string>
#include <vector>

struct CThumbnail
{
    UINT nWidth = 0;
    UINT nHeight = 0;
    std::vector<DWORD> pixels;  // premultiplied BGRA, top row first; none: the file keeps its icon
    bool Empty() const { return pixels.empty(); }
};

// Larger files and pictures are not decoded: a thumbnail is not worth that much memory and time.
const ULONGLONG THUMBNAIL_MAX_FILE_BYTES = 50ull * 1024 * 1024;
const ULONGLONG THUMBNAIL_MAX_PIXELS = 100ull * 1000 * 1000;

// The thumbnail of the file at strPath within nEdge by nEdge pixels; empty when the file is gone,
// over the bounds, or nothing the factory decodes.
CThumbnail MakeThumbnail(IWICImagingFactory* pFactory, const std::wstring& strPath, UINT nEdge);

// The orientation tag (EXIF/TIFF tag 274, 1 to 8) of a JPEG or TIFF file given by its first
// bytes; 1 (shown as stored) when there is none or the header is not sound.
UINT PictureOrientation(const BYTE* pData, size_t cbData);

// The pixels turned and mirrored as an orientation tag asks (5 to 8 swap width and height).
void ApplyOrientation(CThumbnail& thumbnail, UINT nOrientation);
