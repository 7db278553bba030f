// The in-memory module loader: refusals, relocation, protections, release, and a sweep of
// corrupted pack images that must never crash or leave memory reserved.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "tests/lang/LangTestUtil.h"
#include "ptl/PEModule.h"
#include "lang/ResourceReader.h"
#include "resources/resource.h"

using namespace PL5Test;

namespace
{
IMAGE_OPTIONAL_HEADER32 Optional(const std::vector<BYTE>& image)
{
    return Get<IMAGE_OPTIONAL_HEADER32>(image, OptionalHeaderOffset(image));
}

IMAGE_SECTION_HEADER Section(const std::vector<BYTE>& image, const char* szName)
{
    return Get<IMAGE_SECTION_HEADER>(image, SectionHeaderOffset(image, szName));
}

void* PreferredBase(const std::vector<BYTE>& image)
{
    return reinterpret_cast<void*>(static_cast<ULONG_PTR>(Optional(image).ImageBase));
}

// Occupies the image's preferred base so that the loader has to map it elsewhere.
PTL::CVirtualRange BlockPreferredBase(const std::vector<BYTE>& image)
{
    return PTL::CVirtualRange(
        VirtualAlloc(PreferredBase(image), Optional(image).SizeOfImage, MEM_RESERVE, PAGE_NOACCESS));
}

// The fixture's marked structure: an 8-byte marker, then five absolute addresses.
size_t MarkerOffset(const BYTE* p, size_t nSize)
{
    for (size_t i = 0; i + 8 <= nSize; ++i)
        if (std::memcmp(p + i, "PL5RELO", 8) == 0)
            return i;
    return SIZE_MAX;
}
}  // namespace

TEST(PEModule, RefusesMalformedImagesLeavingNothingReserved)
{
    const std::vector<BYTE> fixture = RelocFixture();
    const size_t nOptional = OptionalHeaderOffset(fixture);
    const size_t nFile = NtOffset(fixture) + 4;
    const size_t nText = SectionHeaderOffset(fixture, ".text");
    const size_t nRdata = SectionHeaderOffset(fixture, ".rdata");
    const size_t nBlock = Section(fixture, ".reloc").PointerToRawData;
    const size_t nRelocDirectory = nOptional + offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory) +
                                   IMAGE_DIRECTORY_ENTRY_BASERELOC * sizeof(IMAGE_DATA_DIRECTORY);
    const wchar_t* szDos = L"Not a valid Executable File.(Invalid DOS Header)";
    const wchar_t* szNt = L"Not a valid Executable File.(Invalid NT Header)";
    const wchar_t* szSection = L"Not a valid Executable File.(Invalid Section Table)";
    const wchar_t* szReloc = L"Not a valid Executable File.(Invalid Relocation)";
    using V = std::vector<BYTE>;
    const struct
    {
        std::function<void(V&)> mutate;
        const wchar_t* szMessage;
        bool bMoved;  // relocations are only walked when the image has to move
    } cases[] = {
        {[](V& v) { v.clear(); }, szDos, false},
        {[](V& v) { v.resize(10); }, szDos, false},
        {[](V& v) {
             v[0] = 'Z';
             v[1] = 'M';
         },
         szDos, false},
        {[](V& v) { Put<LONG>(v, offsetof(IMAGE_DOS_HEADER, e_lfanew), -4); }, szNt, false},
        {[](V& v) { Put<LONG>(v, offsetof(IMAGE_DOS_HEADER, e_lfanew), LONG(v.size() - 2)); }, szNt, false},
        {[](V& v) { v[NtOffset(v) + 3] = 1; }, szNt, false},
        {[](V& v) { v.resize(NtOffset(v) + 30); }, szNt, false},
        // A 64-bit optional header is not read as a 32-bit one.
        {[=](V& v) { Put<WORD>(v, nOptional, IMAGE_NT_OPTIONAL_HDR64_MAGIC); }, szNt, false},
        {[=](V& v) { Put<DWORD>(v, nOptional + offsetof(IMAGE_OPTIONAL_HEADER32, SizeOfImage), 0x80000000); }, szNt,
         false},
        {[=](V& v) {
             Put<DWORD>(v, nOptional + offsetof(IMAGE_OPTIONAL_HEADER32, SizeOfHeaders), DWORD(v.size() + 1));
         },
         szNt, false},
        {[=](V& v) { Put<WORD>(v, nFile + offsetof(IMAGE_FILE_HEADER, NumberOfSections), 200); }, szNt, false},
        {[=](V& v) {
             Put<DWORD>(v, nRdata + offsetof(IMAGE_SECTION_HEADER, PointerToRawData), DWORD(v.size() - 0x100));
         },
         szSection, false},
        {[=](V& v) { Put<DWORD>(v, nRdata + offsetof(IMAGE_SECTION_HEADER, SizeOfRawData), 0x5200); }, szSection,
         false},
        {[=](V& v) { Put<DWORD>(v, nText + offsetof(IMAGE_SECTION_HEADER, VirtualAddress), 0x1200); }, szSection,
         false},
        {[=](V& v) { Put<DWORD>(v, nText + offsetof(IMAGE_SECTION_HEADER, VirtualAddress), 0); }, szSection, false},
        {[](V& v) { v.resize(v.size() - 0x300); }, szSection, false},
        // Relocation blocks shorter than their header or running past the directory, an entry
        // aimed beyond the image, a directory reaching beyond it.
        {[=](V& v) { Put<DWORD>(v, nBlock + 4, 4); }, szReloc, true},
        {[=](V& v) { Put<DWORD>(v, nBlock + 4, 0x100); }, szReloc, true},
        {[=](V& v) { Put<DWORD>(v, nBlock, 0x7FFE); }, szReloc, true},
        {[=](V& v) { Put<DWORD>(v, nBlock, 0xFFFFF000); }, szReloc, true},
        {[=](V& v) { Put<DWORD>(v, nRelocDirectory + 4, 0x10000); }, szReloc, true},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i)
    {
        std::vector<BYTE> image = fixture;
        cases[i].mutate(image);
        const PTL::CVirtualRange blocker = cases[i].bMoved ? BlockPreferredBase(fixture) : PTL::CVirtualRange();
        PTL::CPEModule module;
        const size_t nBefore = CountAllocations();
        EXPECT_FALSE(module.Map(image.data(), image.size())) << "case " << i;
        EXPECT_EQ(nBefore, CountAllocations()) << "case " << i;
        EXPECT_EQ(std::wstring(cases[i].szMessage), module.LastError()) << "case " << i;
        EXPECT_FALSE(module.IsLoaded()) << "case " << i;
        EXPECT_EQ(nullptr, module.Base()) << "case " << i;
        EXPECT_EQ(nullptr, module.Headers()) << "case " << i;
    }
}

// At its preferred base the image keeps its values; anywhere else every HIGHLOW value moves by
// the difference, and nothing else does (the marker shares its page with the ABSOLUTE padding
// entry's offset 0).
TEST(PEModule, RelocatesEveryHighLowEntryWhenMoved)
{
    const std::vector<BYTE> image = RelocFixture();
    const size_t nRawMarker = MarkerOffset(image.data(), image.size());
    const IMAGE_SECTION_HEADER data = Section(image, ".data");
    for (bool bBlocked : {false, true})
    {
        if (!bBlocked && !IsFree(PreferredBase(image)))
            continue;  // something else of this process sits there
        const PTL::CVirtualRange blocker = bBlocked ? BlockPreferredBase(image) : PTL::CVirtualRange();
        PTL::CPEModule module;
        ASSERT_TRUE(module.Map(image.data(), image.size())) << bBlocked;
        EXPECT_EQ(bBlocked, module.Base() != PreferredBase(image)) << bBlocked;
        const DWORD nBase = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(module.Base()));
        EXPECT_EQ(nBase, module.Headers()->OptionalHeader.ImageBase) << bBlocked;
        const BYTE* pData = module.Readable(data.VirtualAddress, data.SizeOfRawData);
        ASSERT_NE(nullptr, pData);
        const size_t nMarker = MarkerOffset(pData, data.SizeOfRawData);
        ASSERT_NE(SIZE_MAX, nMarker) << bBlocked;
        for (size_t i = 0; i < 5; ++i)
            EXPECT_EQ(Get<DWORD>(image, nRawMarker + 8 + 4 * i) + (nBase - Optional(image).ImageBase),
                      Get<DWORD>(std::vector<BYTE>(pData, pData + data.SizeOfRawData), nMarker + 8 + 4 * i))
                << bBlocked << " target " << i;
        // The first address is the structure's own: it names its mapped place.
        EXPECT_EQ(static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(pData + nMarker)),
                  *reinterpret_cast<const DWORD*>(pData + nMarker + 8));
    }
}

TEST(PEModule, SectionsGetTheirProtectionsAndReleaseFreesAll)
{
    const std::vector<BYTE> image = RelocFixture();
    const size_t nBefore = CountAllocations();
    PTL::CPEModule module;
    ASSERT_TRUE(module.Map(image.data(), image.size()));
    const struct
    {
        const char* szName;
        DWORD nState;
        DWORD nProtect;
    } cases[] = {
        {".text", MEM_COMMIT, PAGE_EXECUTE_READ},
        {".data", MEM_COMMIT, PAGE_READWRITE},
        {".rdata", MEM_COMMIT, PAGE_READONLY},
        {".bss", MEM_COMMIT, PAGE_READWRITE},  // no raw data: one zero-filled page
        {".reloc", MEM_RESERVE, 0},            // discardable: decommitted
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i)
    {
        const size_t nHeader = SectionHeaderOffset(image, cases[i].szName);
        const DWORD nRva = Get<IMAGE_SECTION_HEADER>(image, nHeader).VirtualAddress;
        MEMORY_BASIC_INFORMATION mbi;
        ASSERT_TRUE(VirtualQuery(module.Base() + nRva, &mbi, sizeof(mbi)));
        EXPECT_EQ(cases[i].nState, mbi.State) << "case " << i;
        EXPECT_EQ(cases[i].nProtect, mbi.State == MEM_COMMIT ? mbi.Protect : 0) << "case " << i;
        EXPECT_EQ(cases[i].nState == MEM_COMMIT, module.Readable(nRva, 4) != nullptr) << "case " << i;
        // The mapped section header records where the section went.
        const auto* pMapped = reinterpret_cast<const IMAGE_SECTION_HEADER*>(
            reinterpret_cast<const BYTE*>(module.Headers()) + (nHeader - NtOffset(image)));
        EXPECT_EQ(static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(module.Base() + nRva)), pMapped->Misc.PhysicalAddress)
            << "case " << i;
    }
    const BYTE* pBss = module.Readable(Section(image, ".bss").VirtualAddress, 0x1000);
    ASSERT_NE(nullptr, pBss);
    EXPECT_EQ(std::vector<BYTE>(0x1000, 0), std::vector<BYTE>(pBss, pBss + 0x1000));
    EXPECT_EQ(nullptr, module.Readable(module.ImageSize() - 2, 4));
    EXPECT_EQ(nullptr, module.Readable(0xFFFFFFF0, 0x20));

    // Mapping again releases the first mapping; Release frees the last.
    ASSERT_TRUE(module.Map(image.data(), image.size()));
    EXPECT_EQ(nBefore + 1, CountAllocations());
    BYTE* pBase = module.Base();
    module.Release();
    EXPECT_TRUE(IsFree(pBase));
    EXPECT_EQ(nBefore, CountAllocations());
    EXPECT_EQ(nullptr, module.Headers());
    EXPECT_FALSE(module.IsLoaded());
}

// Deterministic corruptions of both real packs: truncations every 32 bytes and damage to single
// bytes, bits and words, runs of random bytes and copied spans, in the headers and the resource
// tree. Each image is refused or mapped and read; nothing may crash and no mapping may outlive
// its load. PL5_PACK_MUTATIONS sets the mutations per pack: the tests run a slice, ./run fuzz the
// full 5,000 per pack.
TEST(PEModule, CorruptedPacksAreRefusedOrReadNeverCrash)
{
    char szMutations[16] = "";
    const int nMutations =
        GetEnvironmentVariableA("PL5_PACK_MUTATIONS", szMutations, sizeof(szMutations)) ? atoi(szMutations) : 600;
    const DWORD anInteresting[] = {0,          1,          0x7F,       0x80,   0xFF,  0xFFFF,    0x8000,
                                   0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0x1000, 0xFFF, 0x80000010};
    const size_t nBefore = CountAllocations();
    unsigned nSeed = 12345;
    auto next = [&nSeed]() { return ((nSeed = nSeed * 1103515245u + 12345u) >> 8) & 0xFFFFFF; };
    int nRuns = 0, nMapped = 0, nRead = 0;
    for (UINT nPack : {IDR_LANG_KO, IDR_LANG_EN})
    {
        const std::vector<BYTE> pack = PackImage(nPack);
        ASSERT_FALSE(pack.empty());
        const bool bPreferredFree = IsFree(PreferredBase(pack));
        const size_t nRsrc = Section(pack, ".rsrc").PointerToRawData;
        std::vector<std::vector<BYTE>> images;
        for (size_t n = 0; n < pack.size(); n += 32)
            images.emplace_back(pack.begin(), pack.begin() + n);
        for (int i = 0; i < nMutations; ++i)
        {
            std::vector<BYTE> image = pack;
            const size_t nOffset = (i % 2 == 0) ? next() % (nRsrc - 4) : nRsrc + next() % (pack.size() - nRsrc - 4);
            const size_t nSpan = std::min<size_t>(1 + next() % 64, image.size() - nOffset);
            switch (i % 5)
            {
            case 0: image[nOffset] = static_cast<BYTE>(next()); break;
            case 1: image[nOffset] ^= static_cast<BYTE>(1u << (next() % 8)); break;
            case 2: Put<DWORD>(image, nOffset & ~size_t(1), anInteresting[next() % (sizeof(anInteresting) / 4)]); break;
            case 3:
                for (size_t n = 0; n < nSpan; ++n)
                    image[nOffset + n] = static_cast<BYTE>(next());
                break;
            default: {
                // A span copied from elsewhere in the image: plausible values in the wrong places.
                const size_t nFrom = next() % (image.size() - nSpan);
                std::copy(pack.begin() + nFrom, pack.begin() + nFrom + nSpan, image.begin() + nOffset);
            }
            }
            images.push_back(std::move(image));
        }
        for (const std::vector<BYTE>& image : images)
        {
            ++nRuns;
            PTL::CPEModule module;
            if (module.Map(image.data(), image.size()))
            {
                ++nMapped;
                PL5Lang::CLangTable table;
                nRead += PL5Lang::ReadResources(module, table) ? 1 : 0;
                module.Release();
            }
            ASSERT_TRUE(!bPreferredFree || IsFree(PreferredBase(pack))) << "run " << nRuns;
        }
    }
    EXPECT_GE(nRuns, 2 * nMutations);
    // The sweep must reach both outcomes, or it proves little.
    EXPECT_GT(nMapped, 0);
    EXPECT_LT(nMapped, nRuns);
    EXPECT_GT(nRead, 0);
    EXPECT_EQ(nBefore, CountAllocations());
}
