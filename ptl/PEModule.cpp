#include "ptl/PEModule.h"

#include <cstring>
#include <cwchar>

namespace PTL
{
namespace
{
const wchar_t szInvalidDosHeader[] = L"Not a valid Executable File.(Invalid DOS Header)";
const wchar_t szInvalidNtHeader[] = L"Not a valid Executable File.(Invalid NT Header)";
const wchar_t szCannotReserve[] = L"Can't reserve virtual-memory";
const wchar_t szCannotCommit[] = L"Can't commit virtual-memory";
const wchar_t szInvalidSection[] = L"Not a valid Executable File.(Invalid Section Table)";
const wchar_t szInvalidRelocation[] = L"Not a valid Executable File.(Invalid Relocation)";

constexpr DWORD nPageSize = 0x1000;

// The source is a heap copy of a resource and may sit at any alignment: read it by copying.
template <typename T>
T ReadAt(const BYTE* p) noexcept
{
    T value;
    std::memcpy(&value, p, sizeof(T));
    return value;
}

// True when [nOffset, nOffset + nSize) lies inside [0, nLimit), without overflow.
bool Fits(unsigned long long nOffset, unsigned long long nSize, unsigned long long nLimit) noexcept
{
    return nOffset <= nLimit && nSize <= nLimit - nOffset;
}

// Page protection by the section's executable, readable and writable flags.
DWORD SectionProtection(DWORD nCharacteristics) noexcept
{
    static const DWORD anProtection[2][2][2] = {
        // not executable: [readable][writable]
        {{PAGE_NOACCESS, PAGE_WRITECOPY}, {PAGE_READONLY, PAGE_READWRITE}},
        // executable
        {{PAGE_EXECUTE, PAGE_EXECUTE_WRITECOPY}, {PAGE_EXECUTE_READ, PAGE_EXECUTE_READWRITE}},
    };
    const int bExecutable = (nCharacteristics & IMAGE_SCN_MEM_EXECUTE) ? 1 : 0;
    const int bReadable = (nCharacteristics & IMAGE_SCN_MEM_READ) ? 1 : 0;
    const int bWritable = (nCharacteristics & IMAGE_SCN_MEM_WRITE) ? 1 : 0;
    DWORD nProtection = anProtection[bExecutable][bReadable][bWritable];
    if (nCharacteristics & IMAGE_SCN_MEM_NOT_CACHED)
        nProtection |= PAGE_NOCACHE;
    return nProtection;
}

bool IsReadableProtection(DWORD nProtect) noexcept
{
    if (nProtect & (PAGE_GUARD | PAGE_NOACCESS))
        return false;
    return (nProtect & (PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE |
                        PAGE_EXECUTE_WRITECOPY)) != 0;
}
}  // namespace

CPEException::CPEException(const wchar_t* szText) noexcept
{
    std::wcsncpy(szMessage, szText, 512);
    szMessage[512] = L'\0';
}

CVirtualRange& CVirtualRange::operator=(CVirtualRange&& other) noexcept
{
    if (this != &other)
    {
        Reset();
        pBase = other.Detach();
    }
    return *this;
}

void* CVirtualRange::Detach() noexcept
{
    void* p = pBase;
    pBase = nullptr;
    return p;
}

void CVirtualRange::Reset() noexcept
{
    if (pBase)
        VirtualFree(pBase, 0, MEM_RELEASE);
    pBase = nullptr;
}

bool CPEModule::Map(const void* pSource, size_t nSourceSize) noexcept
{
    Release();
    try
    {
        MapImage(static_cast<const BYTE*>(pSource), nSourceSize);
        szLastError[0] = L'\0';
        bLoaded = true;
        return true;
    }
    catch (const CPEException& e)
    {
        Release();
        std::wcscpy(szLastError, e.Message());
        return false;
    }
}

void CPEModule::Release() noexcept
{
    range.Reset();
    pHeaders = nullptr;
    bLoaded = false;
    nImageSize = 0;
    nSourceImageBase = 0;
    nSectionAlignment = 0;
    nHeaderSize = 0;
    nSectionTable = 0;
    nSections = 0;
    std::memset(aDirectories, 0, sizeof(aDirectories));
}

IMAGE_DATA_DIRECTORY CPEModule::Directory(UINT nIndex) const noexcept
{
    if (!bLoaded || nIndex >= IMAGE_NUMBEROF_DIRECTORY_ENTRIES)
        return IMAGE_DATA_DIRECTORY{};
    return aDirectories[nIndex];
}

const BYTE* CPEModule::Readable(DWORD nRva, DWORD nSize) const noexcept
{
    if (!bLoaded || !Fits(nRva, nSize, nImageSize))
        return nullptr;
    const BYTE* pStart = range.Get() + nRva;
    const BYTE* pEnd = pStart + nSize;
    for (const BYTE* p = pStart; p < pEnd;)
    {
        MEMORY_BASIC_INFORMATION mbi;
        if (!VirtualQuery(p, &mbi, sizeof(mbi)) || mbi.State != MEM_COMMIT || !IsReadableProtection(mbi.Protect))
            return nullptr;
        p = static_cast<const BYTE*>(mbi.BaseAddress) + mbi.RegionSize;
    }
    return pStart;
}

IMAGE_SECTION_HEADER CPEModule::SourceSection(const BYTE* pSource, UINT nIndex) const noexcept
{
    return ReadAt<IMAGE_SECTION_HEADER>(pSource + nSectionTable + nIndex * sizeof(IMAGE_SECTION_HEADER));
}

void CPEModule::MapImage(const BYTE* pSource, size_t nSourceSize)
{
    // Headers: the two signatures first, then the layout every later step relies on.
    if (!pSource || nSourceSize < sizeof(IMAGE_DOS_HEADER))
        throw CPEException(szInvalidDosHeader);
    const IMAGE_DOS_HEADER dos = ReadAt<IMAGE_DOS_HEADER>(pSource);
    if (dos.e_magic != IMAGE_DOS_SIGNATURE)
        throw CPEException(szInvalidDosHeader);
    if (dos.e_lfanew < 0 || !Fits(static_cast<DWORD>(dos.e_lfanew), sizeof(DWORD), nSourceSize))
        throw CPEException(szInvalidNtHeader);
    const size_t nNtOffset = static_cast<size_t>(dos.e_lfanew);
    if (ReadAt<DWORD>(pSource + nNtOffset) != IMAGE_NT_SIGNATURE)
        throw CPEException(szInvalidNtHeader);

    const size_t nFileHeader = nNtOffset + sizeof(DWORD);
    if (!Fits(nFileHeader, sizeof(IMAGE_FILE_HEADER), nSourceSize))
        throw CPEException(szInvalidNtHeader);
    const IMAGE_FILE_HEADER file = ReadAt<IMAGE_FILE_HEADER>(pSource + nFileHeader);
    const size_t nOptionalHeader = nFileHeader + sizeof(IMAGE_FILE_HEADER);
    const size_t nDirectoriesOffset = offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
    if (file.SizeOfOptionalHeader < nDirectoriesOffset ||
        !Fits(nOptionalHeader, file.SizeOfOptionalHeader, nSourceSize))
        throw CPEException(szInvalidNtHeader);
    // A short optional header leaves the directories it does not hold empty.
    IMAGE_OPTIONAL_HEADER32 optional{};
    std::memcpy(&optional, pSource + nOptionalHeader,
                file.SizeOfOptionalHeader < sizeof(optional) ? file.SizeOfOptionalHeader : sizeof(optional));
    if (optional.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC)
        throw CPEException(szInvalidNtHeader);
    const DWORD nDirectories = (file.SizeOfOptionalHeader - nDirectoriesOffset) / sizeof(IMAGE_DATA_DIRECTORY);
    for (DWORD i = 0; i < IMAGE_NUMBEROF_DIRECTORY_ENTRIES; ++i)
        if (i < nDirectories && i < optional.NumberOfRvaAndSizes)
            aDirectories[i] = optional.DataDirectory[i];

    nImageSize = optional.SizeOfImage;
    nSourceImageBase = optional.ImageBase;
    nSectionAlignment = optional.SectionAlignment;
    nHeaderSize = optional.SizeOfHeaders;
    nSectionTable = nOptionalHeader + file.SizeOfOptionalHeader;
    nSections = file.NumberOfSections;
    // The section table must lie inside the copied headers, which must fit both the source and
    // the image: the mapped section headers receive the sections' addresses.
    if (nImageSize == 0 || nImageSize > nMaxImageSize || !Fits(0, optional.SizeOfHeaders, nSourceSize) ||
        !Fits(0, optional.SizeOfHeaders, nImageSize) ||
        !Fits(nSectionTable, static_cast<size_t>(nSections) * sizeof(IMAGE_SECTION_HEADER), optional.SizeOfHeaders))
        throw CPEException(szInvalidNtHeader);

    void* pBase = VirtualAlloc(reinterpret_cast<void*>(static_cast<ULONG_PTR>(nSourceImageBase)), nImageSize,
                               MEM_RESERVE, PAGE_READWRITE);
    if (!pBase)
        pBase = VirtualAlloc(nullptr, nImageSize, MEM_RESERVE, PAGE_READWRITE);
    if (!pBase)
        throw CPEException(szCannotReserve);
    range = CVirtualRange(pBase);
    if (!VirtualAlloc(pBase, nImageSize, MEM_COMMIT, PAGE_READWRITE))
        throw CPEException(szCannotCommit);

    BYTE* pImage = range.Get();
    std::memcpy(pImage, pSource, optional.SizeOfHeaders);
    pHeaders = reinterpret_cast<IMAGE_NT_HEADERS32*>(pImage + nNtOffset);
    pHeaders->OptionalHeader.ImageBase = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(pImage));

    MapSections(pSource, nSourceSize);
    Relocate();
    Protect(pSource);
}

void CPEModule::MapSections(const BYTE* pSource, size_t nSourceSize)
{
    BYTE* pImage = range.Get();
    const unsigned long long nHeaderPages = (static_cast<unsigned long long>(nHeaderSize) + nPageSize - 1) &
                                            ~static_cast<unsigned long long>(nPageSize - 1);
    auto* pMapped = reinterpret_cast<IMAGE_SECTION_HEADER*>(pImage + nSectionTable);
    for (UINT i = 0; i < nSections; ++i)
    {
        const IMAGE_SECTION_HEADER section = SourceSection(pSource, i);
        // Sections start on their own pages after the headers, so that a section's
        // protection or decommit never reaches the headers.
        if (section.VirtualAddress % nPageSize != 0 || section.VirtualAddress < nHeaderPages)
            throw CPEException(szInvalidSection);
        BYTE* pSection = pImage + section.VirtualAddress;
        if (section.SizeOfRawData != 0)
        {
            if (!Fits(section.VirtualAddress, section.SizeOfRawData, nImageSize) ||
                !Fits(section.PointerToRawData, section.SizeOfRawData, nSourceSize))
                throw CPEException(szInvalidSection);
            if (!VirtualAlloc(pSection, section.SizeOfRawData, MEM_COMMIT, PAGE_READWRITE))
                throw CPEException(szCannotCommit);
            std::memcpy(pSection, pSource + section.PointerToRawData, section.SizeOfRawData);
        }
        else if (nSectionAlignment > 0)
        {
            if (!Fits(section.VirtualAddress, nSectionAlignment, nImageSize))
                throw CPEException(szInvalidSection);
            if (!VirtualAlloc(pSection, nSectionAlignment, MEM_COMMIT, PAGE_READWRITE))
                throw CPEException(szCannotCommit);
            std::memset(pSection, 0, nSectionAlignment);
        }
        // The physical-address slot holds the mapped address; a 64-bit process keeps its low
        // half, which is why the loader itself works from VirtualAddress.
        pMapped[i].Misc.PhysicalAddress = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(pSection));
    }
}

void CPEModule::Relocate()
{
    BYTE* pImage = range.Get();
    const ULONG_PTR nActualBase = reinterpret_cast<ULONG_PTR>(pImage);
    const IMAGE_DATA_DIRECTORY directory = aDirectories[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    if (nActualBase == nSourceImageBase || directory.Size == 0)
        return;
    if (!Fits(directory.VirtualAddress, directory.Size, nImageSize))
        throw CPEException(szInvalidRelocation);
    // The fixed-up values are 32-bit: in a 64-bit process they receive the low half of the
    // moved address, the same wrap-around the subtraction gives.
    const DWORD nDelta = static_cast<DWORD>(nActualBase - nSourceImageBase);
    const BYTE* pDirectory = pImage + directory.VirtualAddress;
    DWORD nOffset = 0;
    while (Fits(nOffset, sizeof(IMAGE_BASE_RELOCATION), directory.Size))
    {
        const IMAGE_BASE_RELOCATION block = ReadAt<IMAGE_BASE_RELOCATION>(pDirectory + nOffset);
        if (block.VirtualAddress == 0)
            break;
        if (block.SizeOfBlock < sizeof(IMAGE_BASE_RELOCATION) || !Fits(nOffset, block.SizeOfBlock, directory.Size))
            throw CPEException(szInvalidRelocation);
        const DWORD nEntries = (block.SizeOfBlock - sizeof(IMAGE_BASE_RELOCATION)) / sizeof(WORD);
        const BYTE* pEntries = pDirectory + nOffset + sizeof(IMAGE_BASE_RELOCATION);
        for (DWORD i = 0; i < nEntries; ++i)
        {
            const WORD nEntry = ReadAt<WORD>(pEntries + i * sizeof(WORD));
            if ((nEntry >> 12) != IMAGE_REL_BASED_HIGHLOW)
                continue;
            const unsigned long long nTarget =
                static_cast<unsigned long long>(block.VirtualAddress) + (nEntry & 0x0FFF);
            if (!Fits(nTarget, sizeof(DWORD), nImageSize))
                throw CPEException(szInvalidRelocation);
            BYTE* pTarget = pImage + nTarget;
            const DWORD nValue = ReadAt<DWORD>(pTarget) + nDelta;
            std::memcpy(pTarget, &nValue, sizeof(nValue));
        }
        nOffset += block.SizeOfBlock;
    }
}

void CPEModule::Protect(const BYTE* pSource)
{
    BYTE* pImage = range.Get();
    for (UINT i = 0; i < nSections; ++i)
    {
        const IMAGE_SECTION_HEADER section = SourceSection(pSource, i);
        BYTE* pSection = pImage + section.VirtualAddress;
        if (section.Characteristics & IMAGE_SCN_MEM_DISCARDABLE)
        {
            // Decommit what MapSections committed. A zero size must not reach VirtualFree:
            // from an address inside the range it would mean "to the end of the region".
            const DWORD nCommitted = section.SizeOfRawData != 0 ? section.SizeOfRawData : nSectionAlignment;
            if (nCommitted != 0)
                VirtualFree(pSection, nCommitted, MEM_DECOMMIT);
            continue;
        }
        // A protection the system refuses (write-copy on private memory, for one) leaves the
        // pages read-write; the resource reader checks readability itself.
        if (section.SizeOfRawData != 0)
        {
            DWORD nOld = 0;
            VirtualProtect(pSection, section.SizeOfRawData, SectionProtection(section.Characteristics), &nOld);
        }
    }
}
}  // namespace PTL
