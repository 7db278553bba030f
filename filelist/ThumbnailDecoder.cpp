#include "filelist/ThumbnailDecoder.h"
#include <shlwapi.h>
#include <algorithm>
#include <cstring>
#include "ptl/ComPtr.h"

namespace
{
// The orientation tag sits in the first segments of a JPEG (the Exif block is at most 64 KB) and
// in the first directory of a TIFF, which writers put near the start.
const ULONG HEADER_BYTES = 128 * 1024;
const WORD TAG_ORIENTATION = 0x0112;
const WORD TYPE_SHORT = 3;

// The orientation tag of a TIFF structure (a TIFF file, or the body of a JPEG's Exif block).
// Every offset is checked against the bytes at hand.
UINT TiffOrientation(const BYTE* p, size_t cb)
{
    if (cb < 8)
        return 1;
    const bool bIntel = p[0] == 'I' && p[1] == 'I';
    if (!bIntel && !(p[0] == 'M' && p[1] == 'M'))
        return 1;
    const auto U16 = [&](size_t n) -> UINT { return bIntel ? p[n] | (p[n + 1] << 8) : (p[n] << 8) | p[n + 1]; };
    const auto U32 = [&](size_t n) -> size_t {
        return bIntel ? U16(n) | (size_t(U16(n + 2)) << 16) : (size_t(U16(n)) << 16) | U16(n + 2);
    };
    if (U16(2) != 42)
        return 1;
    const size_t nDirectory = U32(4);
    if (nDirectory < 8 || nDirectory > cb - 2)
        return 1;
    const size_t nEntries = U16(nDirectory);
    for (size_t i = 0; i < nEntries; ++i)
    {
        const size_t n = nDirectory + 2 + 12 * i;
        if (n + 12 > cb)
            break;
        if (U16(n) != TAG_ORIENTATION)
            continue;
        const UINT nValue = U16(n + 8);  // a single SHORT sits at the start of the value field
        return U16(n + 2) == TYPE_SHORT && nValue >= 1 && nValue <= 8 ? nValue : 1;
    }
    return 1;
}

// Reads up to cb bytes from the start of the stream and goes back to its start.
std::vector<BYTE> ReadHeader(IStream* pStream, ULONG cb)
{
    std::vector<BYTE> header(cb);
    ULONG cbRead = 0;
    if (FAILED(pStream->Read(header.data(), cb, &cbRead)))
        cbRead = 0;
    header.resize(cbRead);
    const LARGE_INTEGER zero = {};
    pStream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return header;
}

void Premultiply(std::vector<DWORD>& pixels)
{
    for (DWORD& px : pixels)
    {
        const DWORD a = px >> 24;
        if (a == 255)
            continue;
        const auto Channel = [&](int nShift) { return (((px >> nShift) & 0xFF) * a + 127) / 255 << nShift; };
        px = (a << 24) | Channel(16) | Channel(8) | Channel(0);
    }
}
}  // namespace

UINT PictureOrientation(const BYTE* p, size_t cb)
{
    if (cb >= 4 && (std::memcmp(p, "II*\0", 4) == 0 || std::memcmp(p, "MM\0*", 4) == 0))
        return TiffOrientation(p, cb);
    if (cb < 4 || p[0] != 0xFF || p[1] != 0xD8)
        return 1;
    // JPEG segments up to the image data: the marker, a 16-bit length that counts itself, the body.
    size_t i = 2;
    while (i + 4 <= cb && p[i] == 0xFF)
    {
        const BYTE nMarker = p[i + 1];
        if (nMarker == 0xFF)  // fill byte
        {
            ++i;
            continue;
        }
        if (nMarker == 0xDA || nMarker == 0xD9)  // start of scan, end of image
            break;
        const size_t nLength = (size_t(p[i + 2]) << 8) | p[i + 3];
        if (nLength < 2 || i + 2 + nLength > cb)
            break;
        if (nMarker == 0xE1 && nLength >= 8 && std::memcmp(p + i + 4, "Exif\0\0", 6) == 0)
            return TiffOrientation(p + i + 10, nLength - 8);
        i += 2 + nLength;
    }
    return 1;
}

void ApplyOrientation(CThumbnail& thumbnail, UINT nOrientation)
{
    if (nOrientation < 2 || nOrientation > 8 || thumbnail.Empty())
        return;
    const size_t w = thumbnail.nWidth, h = thumbnail.nHeight;
    const bool bSwap = nOrientation >= 5;
    const size_t nOutWidth = bSwap ? h : w;
    std::vector<DWORD> out(thumbnail.pixels.size());
    for (size_t y = 0; y < h; ++y)
        for (size_t x = 0; x < w; ++x)
        {
            // Where the stored pixel (x, y) is shown.
            size_t nx = x, ny = y;
            switch (nOrientation)
            {
            case 2: nx = w - 1 - x; break;
            case 3: nx = w - 1 - x, ny = h - 1 - y; break;
            case 4: ny = h - 1 - y; break;
            case 5: nx = y, ny = x; break;
            case 6: nx = h - 1 - y, ny = x; break;
            case 7: nx = h - 1 - y, ny = w - 1 - x; break;
            default: nx = y, ny = w - 1 - x; break;  // 8
            }
            out[ny * nOutWidth + nx] = thumbnail.pixels[y * w + x];
        }
    thumbnail.pixels.swap(out);
    if (bSwap)
        std::swap(thumbnail.nWidth, thumbnail.nHeight);
}

CThumbnail MakeThumbnail(IWICImagingFactory* pFactory, const std::wstring& strPath, UINT nEdge)
{
    CThumbnail thumbnail;
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!pFactory || nEdge == 0 || !GetFileAttributesExW(strPath.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        ((ULONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow) > THUMBNAIL_MAX_FILE_BYTES)
        return thumbnail;
    // Others may go on writing, renaming or deleting the file meanwhile, as with any listed file.
    PTL::CComPtr<IStream> pStream;
    if (FAILED(SHCreateStreamOnFileEx(strPath.c_str(), STGM_READ | STGM_SHARE_DENY_NONE, FILE_ATTRIBUTE_NORMAL, FALSE,
                                      nullptr, &pStream)))
        return thumbnail;
    const std::vector<BYTE> header = ReadHeader(pStream.Get(), HEADER_BYTES);
    const UINT nOrientation = PictureOrientation(header.data(), header.size());

    PTL::CComPtr<IWICBitmapDecoder> pDecoder;
    PTL::CComPtr<IWICBitmapFrameDecode> pFrame;
    UINT w = 0, h = 0;
    if (FAILED(pFactory->CreateDecoderFromStream(pStream.Get(), nullptr, WICDecodeMetadataCacheOnDemand, &pDecoder)) ||
        FAILED(pDecoder->GetFrame(0, &pFrame)) || FAILED(pFrame->GetSize(&w, &h)) || w == 0 || h == 0 ||
        ULONGLONG(w) * h > THUMBNAIL_MAX_PIXELS)
        return thumbnail;
    // The size it is shown at, then that size as stored (before turning).
    const bool bSwap = nOrientation >= 5;
    const double dShownWidth = bSwap ? h : w, dShownHeight = bSwap ? w : h;
    const double dScale = std::min({1.0, nEdge / dShownWidth, nEdge / dShownHeight});
    const UINT nShownWidth = std::max(1u, UINT(dShownWidth * dScale + 0.5));
    const UINT nShownHeight = std::max(1u, UINT(dShownHeight * dScale + 0.5));
    const UINT nWidth = bSwap ? nShownHeight : nShownWidth, nHeight = bSwap ? nShownWidth : nShownHeight;

    PTL::CComPtr<IWICFormatConverter> pConverter;
    if (FAILED(pFactory->CreateFormatConverter(&pConverter)) ||
        FAILED(pConverter->Initialize(pFrame.Get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0,
                                      WICBitmapPaletteTypeCustom)))
        return thumbnail;
    PTL::CComPtr<IWICBitmapSource> pSource(pConverter.Get());
    if (nWidth != w || nHeight != h)
    {
        PTL::CComPtr<IWICBitmapScaler> pScaler;
        if (FAILED(pFactory->CreateBitmapScaler(&pScaler)) ||
            FAILED(pScaler->Initialize(pSource.Get(), nWidth, nHeight, WICBitmapInterpolationModeFant)))
            return thumbnail;
        pSource = pScaler.Get();
    }
    std::vector<DWORD> pixels(size_t(nWidth) * nHeight);
    if (FAILED(
            pSource->CopyPixels(nullptr, nWidth * 4, UINT(pixels.size() * 4), reinterpret_cast<BYTE*>(pixels.data()))))
        return thumbnail;
    Premultiply(pixels);
    thumbnail.nWidth = nWidth;
    thumbnail.nHeight = nHeight;
    thumbnail.pixels.swap(pixels);
    ApplyOrientation(thumbnail, nOrientation);
    return thumbnail;
}
