#include "lang/LangTestUtil.h"

#include <stdexcept>

#include "reloc_fixture.h"

namespace PL5Test
{
std::vector<BYTE> PackImage(UINT nId)
{
    HMODULE hModule = GetModuleHandleW(nullptr);
    HRSRC hInfo = FindResourceW(hModule, MAKEINTRESOURCEW(nId), L"RSRC");
    if (!hInfo)
        return {};
    const BYTE* p = static_cast<const BYTE*>(LockResource(LoadResource(hModule, hInfo)));
    return std::vector<BYTE>(p, p + SizeofResource(hModule, hInfo));
}

std::vector<BYTE> RelocFixture()
{
    return std::vector<BYTE>(g_abRelocFixture, g_abRelocFixture + sizeof(g_abRelocFixture));
}

size_t CountAllocations()
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    size_t nCount = 0;
    const BYTE* p = static_cast<const BYTE*>(info.lpMinimumApplicationAddress);
    MEMORY_BASIC_INFORMATION mbi;
    while (p < info.lpMaximumApplicationAddress && VirtualQuery(p, &mbi, sizeof(mbi)))
    {
        if (mbi.State != MEM_FREE && mbi.BaseAddress == mbi.AllocationBase)
            ++nCount;
        p = static_cast<const BYTE*>(mbi.BaseAddress) + mbi.RegionSize;
    }
    return nCount;
}

bool IsFree(const void* p)
{
    MEMORY_BASIC_INFORMATION mbi;
    return VirtualQuery(p, &mbi, sizeof(mbi)) && mbi.State == MEM_FREE;
}

size_t NtOffset(const std::vector<BYTE>& image)
{
    return static_cast<size_t>(Get<IMAGE_DOS_HEADER>(image, 0).e_lfanew);
}

size_t OptionalHeaderOffset(const std::vector<BYTE>& image)
{
    return NtOffset(image) + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER);
}

size_t SectionHeaderOffset(const std::vector<BYTE>& image, const char* szName)
{
    const IMAGE_FILE_HEADER file = Get<IMAGE_FILE_HEADER>(image, NtOffset(image) + sizeof(DWORD));
    const size_t nTable = OptionalHeaderOffset(image) + file.SizeOfOptionalHeader;
    for (UINT i = 0; i < file.NumberOfSections; ++i)
    {
        const size_t nOffset = nTable + i * sizeof(IMAGE_SECTION_HEADER);
        const IMAGE_SECTION_HEADER section = Get<IMAGE_SECTION_HEADER>(image, nOffset);
        if (std::strncmp(reinterpret_cast<const char*>(section.Name), szName, 8) == 0)
            return nOffset;
    }
    throw std::runtime_error(std::string("no section ") + szName);
}

IMAGE_SECTION_HEADER Section(const std::vector<BYTE>& image, const char* szName)
{
    return Get<IMAGE_SECTION_HEADER>(image, SectionHeaderOffset(image, szName));
}

size_t RvaToOffset(const std::vector<BYTE>& image, DWORD nRva)
{
    const IMAGE_FILE_HEADER file = Get<IMAGE_FILE_HEADER>(image, NtOffset(image) + sizeof(DWORD));
    const size_t nTable = OptionalHeaderOffset(image) + file.SizeOfOptionalHeader;
    for (UINT i = 0; i < file.NumberOfSections; ++i)
    {
        const IMAGE_SECTION_HEADER section =
            Get<IMAGE_SECTION_HEADER>(image, nTable + i * sizeof(IMAGE_SECTION_HEADER));
        if (nRva >= section.VirtualAddress && nRva < section.VirtualAddress + section.SizeOfRawData)
            return section.PointerToRawData + (nRva - section.VirtualAddress);
    }
    throw std::runtime_error("rva outside the raw sections");
}

std::string Narrow(const std::wstring& str)
{
    std::string strOut;
    for (wchar_t c : str)
    {
        if (c >= 0x20 && c < 0x7F)
            strOut += static_cast<char>(c);
        else
        {
            char sz[12];
            wsprintfA(sz, "\\u%04X", static_cast<unsigned>(c));
            strOut += sz;
        }
    }
    return strOut;
}
} // namespace PL5Test
