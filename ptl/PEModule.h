// The in-memory module loader: maps a 32-bit resource-only library image into private memory
// so that its resources can be read without writing it to disk or registering it with the
// system loader. No imports, no entry point, no TLS callbacks.
#pragma once
#include <windows.h>
#include <cstddef>

namespace PTL
{
// Thrown by the mapping steps on an image they cannot map. Map catches it; it never leaves the
// loader.
class CPEException
{
public:
    explicit CPEException(const wchar_t* szText) noexcept;
    const wchar_t* Message() const noexcept { return szMessage; }

private:
    wchar_t szMessage[513];
};

// Owns one reserved address range and releases it whole.
class CVirtualRange
{
public:
    CVirtualRange() noexcept = default;
    explicit CVirtualRange(void* pBase) noexcept : pBase(pBase) {}
    ~CVirtualRange() { Reset(); }
    CVirtualRange(CVirtualRange&& other) noexcept : pBase(other.Detach()) {}
    CVirtualRange& operator=(CVirtualRange&& other) noexcept;
    CVirtualRange(const CVirtualRange&) = delete;
    CVirtualRange& operator=(const CVirtualRange&) = delete;

    BYTE* Get() const noexcept { return static_cast<BYTE*>(pBase); }
    void* Detach() noexcept;
    void Reset() noexcept;

private:
    void* pBase = nullptr;
};

// One mapping of one image. Everything the mapping reads from the source is checked against the
// source size and everything it writes against SizeOfImage, so a malformed image is refused
// rather than read or written out of bounds; a refused image leaves nothing reserved.
class CPEModule
{
public:
    // Resource-only images are small; refusing larger ones keeps a corrupt
    // SizeOfImage from committing gigabytes.
    static constexpr DWORD nMaxImageSize = 64u << 20;

    CPEModule() noexcept = default;
    ~CPEModule() = default;
    CPEModule(const CPEModule&) = delete;
    CPEModule& operator=(const CPEModule&) = delete;

    // Maps the raw image file; the source must stay valid during the call only. Returns false
    // (with everything released) when the image is refused.
    bool Map(const void* pSource, size_t nSourceSize) noexcept;
    // Frees the whole mapped range.
    void Release() noexcept;

    bool IsLoaded() const noexcept { return bLoaded; }
    BYTE* Base() const noexcept { return range.Get(); }
    // The PE headers inside the mapped image; ImageBase there holds the actual base (its low
    // 32 bits in a 64-bit process).
    IMAGE_NT_HEADERS32* Headers() const noexcept { return pHeaders; }
    DWORD ImageSize() const noexcept { return nImageSize; }
    // The message of the last refusal, empty after a successful Map.
    const wchar_t* LastError() const noexcept { return szLastError; }

    // A data directory entry as the source image declared it (empty when absent).
    IMAGE_DATA_DIRECTORY Directory(UINT nIndex) const noexcept;
    // nSize bytes at nRva, when the whole range lies inside the image and is committed and
    // readable; nullptr otherwise. Section flags can leave pages decommitted or inaccessible,
    // so every read of mapped data goes through here.
    const BYTE* Readable(DWORD nRva, DWORD nSize) const noexcept;

private:
    void MapImage(const BYTE* pSource, size_t nSourceSize);
    void MapSections(const BYTE* pSource, size_t nSourceSize);
    void Relocate();
    void Protect(const BYTE* pSource);
    IMAGE_SECTION_HEADER SourceSection(const BYTE* pSource, UINT nIndex) const noexcept;

    CVirtualRange range;
    IMAGE_NT_HEADERS32* pHeaders = nullptr;
    bool bLoaded = false;
    DWORD nImageSize = 0;
    DWORD nSourceImageBase = 0;
    DWORD nSectionAlignment = 0;
    DWORD nHeaderSize = 0;
    // Where the section table sits in the source, and the data directories copied from it: the
    // loader never reads back what it wrote into the mapped headers.
    size_t nSectionTable = 0;
    WORD nSections = 0;
    IMAGE_DATA_DIRECTORY aDirectories[IMAGE_NUMBEROF_DIRECTORY_ENTRIES] = {};
    wchar_t szLastError[513] = {};
};
}  // namespace PTL
