// Helpers shared by the language pack and loader tests: the raw images, header offsets in them,
// and views of the process's address space.
#pragma once
#include <windows.h>
#include <cstring>
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

size_t NtOffset(const std::vector<BYTE>& image);
size_t OptionalHeaderOffset(const std::vector<BYTE>& image);
size_t SectionHeaderOffset(const std::vector<BYTE>& image, const char* szName);

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
}  // namespace PL5Test
