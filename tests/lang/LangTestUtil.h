// Helpers shared by the language pack and loader tests: the raw images, a few PE offsets in
// them, and views of the process's address space.
#pragma once
#include <windows.h>
#include <cstring>
#include <string>
#include <vector>

namespace PL5Test
{
// The raw bytes of pack nId ("RSRC" resource of this program) and of the relocation fixture.
std::vector<BYTE> PackImage(UINT nId);
std::vector<BYTE> RelocFixture();

// The number of allocations (reserved or committed ranges) in the process: a mapping that is
// not released shows up as one more.
size_t CountAllocations();
bool IsFree(const void* p);

// Offsets in a raw image, for tests that corrupt one field.
size_t NtOffset(const std::vector<BYTE>& image);
size_t OptionalHeaderOffset(const std::vector<BYTE>& image);
size_t SectionHeaderOffset(const std::vector<BYTE>& image, const char* szName);
IMAGE_SECTION_HEADER Section(const std::vector<BYTE>& image, const char* szName);
size_t RvaToOffset(const std::vector<BYTE>& image, DWORD nRva);

template <typename T>
T Get(const std::vector<BYTE>& image, size_t nOffset)
{
    T value;
    std::memcpy(&value, image.data() + nOffset, sizeof(T));
    return value;
}

template <typename T>
void Put(std::vector<BYTE>& image, size_t nOffset, T value)
{
    std::memcpy(image.data() + nOffset, &value, sizeof(T));
}

std::string Narrow(const std::wstring& str);
} // namespace PL5Test
