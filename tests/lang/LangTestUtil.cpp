#include "tests/lang/LangTestUtil.h"

#include <stdexcept>
#include <string>

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
    for (size_t n = nTable; n < nTable + file.NumberOfSections * sizeof(IMAGE_SECTION_HEADER);
         n += sizeof(IMAGE_SECTION_HEADER))
        if (std::strncmp(reinterpret_cast<const char*>(image.data() + n), szName, 8) == 0)
            return n;
    throw std::runtime_error(std::string("no section ") + szName);
}
}  // namespace PL5Test
