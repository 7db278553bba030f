// The in-memory module loader: refusals, relocation, protections, release, and a sweep of
// corrupted pack images that must never crash or leave memory reserved.
#include <gtest/gtest.h>

#include <functional>

#include "lang/LangTestUtil.h"
#include "lang/PEModule.h"
#include "lang/ResourceReader.h"
#include "resources/resource.h"

using namespace PL5Test;

namespace
{
const wchar_t szDos[] = L"Not a valid Executable File.(Invalid DOS Header)";
const wchar_t szNt[] = L"Not a valid Executable File.(Invalid NT Header)";
const wchar_t szSection[] = L"Not a valid Executable File.(Invalid Section Table)";
const wchar_t szRelocation[] = L"Not a valid Executable File.(Invalid Relocation)";

DWORD PreferredBase(const std::vector<BYTE>& image)
{
    return Get<IMAGE_OPTIONAL_HEADER32>(image, OptionalHeaderOffset(image)).ImageBase;
}

DWORD ImageSize(const std::vector<BYTE>& image)
{
    return Get<IMAGE_OPTIONAL_HEADER32>(image, OptionalHeaderOffset(image)).SizeOfImage;
}

// Occupies the image's preferred base so that the loader has to map it elsewhere.
PTL::CVirtualRange BlockPreferredBase(const std::vector<BYTE>& image)
{
    return PTL::CVirtualRange(VirtualAlloc(reinterpret_cast<void*>(static_cast<ULONG_PTR>(
                                               PreferredBase(image))),
                                           ImageSize(image), MEM_RESERVE, PAGE_NOACCESS));
}

size_t MarkerOffset(const BYTE* p, size_t nSize)
{
    for (size_t i = 0; i + 8 <= nSize; ++i)
        if (std::memcmp(p + i, "PL5RELO", 8) == 0)
            return i;
    return SIZE_MAX;
}

const size_t nTargets = 5;

// The fixture's five absolute addresses, as stored in the raw file.
std::vector<DWORD> RawTargets(const std::vector<BYTE>& image, size_t nMarker)
{
    std::vector<DWORD> targets;
    for (size_t i = 0; i < nTargets; ++i)
        targets.push_back(Get<DWORD>(image, nMarker + 8 + 4 * i));
    return targets;
}

size_t RelocationOffset(const std::vector<BYTE>& image)
{
    const IMAGE_OPTIONAL_HEADER32 optional =
        Get<IMAGE_OPTIONAL_HEADER32>(image, OptionalHeaderOffset(image));
    return RvaToOffset(image,
                       optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].VirtualAddress);
}

// Everything a refused Map must leave behind: no state and no new allocation.
void ExpectRefused(PTL::CPEModule& module, const std::vector<BYTE>& image, const wchar_t* szMessage,
                   int nCase)
{
    const size_t nBefore = CountAllocations();
    const bool bMapped = module.Map(image.data(), image.size());
    const size_t nAfter = CountAllocations();
    EXPECT_FALSE(bMapped) << "case " << nCase;
    EXPECT_EQ(Narrow(szMessage), Narrow(module.LastError())) << "case " << nCase;
    EXPECT_FALSE(module.IsLoaded()) << "case " << nCase;
    EXPECT_EQ(nullptr, module.Base()) << "case " << nCase;
    EXPECT_EQ(nullptr, module.Headers()) << "case " << nCase;
    EXPECT_EQ(nBefore, nAfter) << "case " << nCase;
}
} // namespace

TEST(PEModule, RefusesMalformedImages)
{
    using Mutation = std::function<void(std::vector<BYTE>&)>;
    const size_t nOptional = OptionalHeaderOffset(RelocFixture());
    const size_t nText = SectionHeaderOffset(RelocFixture(), ".text");
    const size_t nRdata = SectionHeaderOffset(RelocFixture(), ".rdata");
    const struct
    {
        Mutation mutate;
        const wchar_t* szMessage;
    } cases[] = {
        {[](std::vector<BYTE>& v) { v.clear(); }, szDos},
        {[](std::vector<BYTE>& v) { v.resize(10); }, szDos},
        {[](std::vector<BYTE>& v) { v[0] = 'Z'; v[1] = 'M'; }, szDos},
        {[](std::vector<BYTE>& v) { Put<LONG>(v, offsetof(IMAGE_DOS_HEADER, e_lfanew), -4); }, szNt},
        {[](std::vector<BYTE>& v) {
             Put<LONG>(v, offsetof(IMAGE_DOS_HEADER, e_lfanew), static_cast<LONG>(v.size() - 2));
         }, szNt},
        {[](std::vector<BYTE>& v) { v[NtOffset(v) + 3] = 1; }, szNt},
        {[](std::vector<BYTE>& v) { v.resize(NtOffset(v) + 30); }, szNt},
        // A 64-bit optional header is not read as a 32-bit one.
        {[=](std::vector<BYTE>& v) { Put<WORD>(v, nOptional, IMAGE_NT_OPTIONAL_HDR64_MAGIC); }, szNt},
        {[=](std::vector<BYTE>& v) {
             Put<DWORD>(v, nOptional + offsetof(IMAGE_OPTIONAL_HEADER32, SizeOfImage), 0x80000000);
         }, szNt},
        {[=](std::vector<BYTE>& v) {
             Put<DWORD>(v, nOptional + offsetof(IMAGE_OPTIONAL_HEADER32, SizeOfHeaders),
                        static_cast<DWORD>(v.size() + 1));
         }, szNt},
        {[](std::vector<BYTE>& v) {
             Put<WORD>(v, NtOffset(v) + 4 + offsetof(IMAGE_FILE_HEADER, NumberOfSections), 200);
         }, szNt},
        {[=](std::vector<BYTE>& v) {
             Put<DWORD>(v, nRdata + offsetof(IMAGE_SECTION_HEADER, PointerToRawData),
                        static_cast<DWORD>(v.size() - 0x100));
         }, szSection},
        {[=](std::vector<BYTE>& v) {
             Put<DWORD>(v, nRdata + offsetof(IMAGE_SECTION_HEADER, VirtualAddress), 0x7F00 & ~0xFFF);
             Put<DWORD>(v, nRdata + offsetof(IMAGE_SECTION_HEADER, SizeOfRawData), 0x1200);
         }, szSection},
        {[=](std::vector<BYTE>& v) {
             Put<DWORD>(v, nText + offsetof(IMAGE_SECTION_HEADER, VirtualAddress), 0x1200);
         }, szSection},
        {[=](std::vector<BYTE>& v) {
             Put<DWORD>(v, nText + offsetof(IMAGE_SECTION_HEADER, VirtualAddress), 0);
         }, szSection},
        {[](std::vector<BYTE>& v) { v.resize(v.size() - 0x300); }, szSection},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i)
    {
        std::vector<BYTE> image = RelocFixture();
        cases[i].mutate(image);
        PTL::CPEModule module;
        ExpectRefused(module, image, cases[i].szMessage, static_cast<int>(i));
    }
}

TEST(PEModule, RefusesRelocationsOutsideTheirBounds)
{
    using Mutation = std::function<void(std::vector<BYTE>&, size_t)>;
    const size_t nOptional = OptionalHeaderOffset(RelocFixture());
    const size_t nDirectory = nOptional + offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory) +
                              IMAGE_DIRECTORY_ENTRY_BASERELOC * sizeof(IMAGE_DATA_DIRECTORY);
    const Mutation cases[] = {
        // A block shorter than its own header.
        [](std::vector<BYTE>& v, size_t nBlock) { Put<DWORD>(v, nBlock + 4, 4); },
        // A block running past the directory's end.
        [](std::vector<BYTE>& v, size_t nBlock) { Put<DWORD>(v, nBlock + 4, 0x100); },
        // An entry whose target lies beyond the image.
        [](std::vector<BYTE>& v, size_t nBlock) { Put<DWORD>(v, nBlock, 0x7FFE); },
        [](std::vector<BYTE>& v, size_t nBlock) { Put<DWORD>(v, nBlock, 0xFFFFF000); },
        // A directory reaching beyond the image.
        [=](std::vector<BYTE>& v, size_t) { Put<DWORD>(v, nDirectory + 4, 0x10000); },
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i)
    {
        std::vector<BYTE> image = RelocFixture();
        cases[i](image, RelocationOffset(image));
        const PTL::CVirtualRange blocker = BlockPreferredBase(image);
        ASSERT_NE(nullptr, blocker.Get()) << "case " << i;
        PTL::CPEModule module;
        ExpectRefused(module, image, szRelocation, static_cast<int>(i));
    }
}

TEST(PEModule, ImageAtItsPreferredBaseKeepsItsValues)
{
    const std::vector<BYTE> image = RelocFixture();
    const void* pPreferred = reinterpret_cast<void*>(static_cast<ULONG_PTR>(PreferredBase(image)));
    if (!IsFree(pPreferred))
        GTEST_SKIP() << "the fixture's preferred base is taken in this process";
    PTL::CPEModule module;
    ASSERT_TRUE(module.Map(image.data(), image.size()));
    EXPECT_EQ(pPreferred, module.Base());
    const size_t nMarker = MarkerOffset(image.data(), image.size());
    const IMAGE_SECTION_HEADER data = Section(image, ".data");
    const size_t nMapped = MarkerOffset(module.Base() + data.VirtualAddress, data.SizeOfRawData);
    ASSERT_NE(SIZE_MAX, nMapped);
    const std::vector<DWORD> raw = RawTargets(image, nMarker);
    for (size_t i = 0; i < nTargets; ++i)
    {
        DWORD nMapped32;
        std::memcpy(&nMapped32, module.Base() + data.VirtualAddress + nMapped + 8 + 4 * i, 4);
        EXPECT_EQ(raw[i], nMapped32) << "case " << i;
    }
}

TEST(PEModule, MovedImageGetsEveryHighLowEntryMoved)
{
    const std::vector<BYTE> image = RelocFixture();
    const PTL::CVirtualRange blocker = BlockPreferredBase(image);
    ASSERT_NE(nullptr, blocker.Get());
    PTL::CPEModule module;
    ASSERT_TRUE(module.Map(image.data(), image.size()));
    ASSERT_NE(blocker.Get(), module.Base());

    const DWORD nBase = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(module.Base()));
    const DWORD nDelta = nBase - PreferredBase(image);
    EXPECT_EQ(nBase, module.Headers()->OptionalHeader.ImageBase);

    // The marker sits at the start of the relocated page: an ABSOLUTE padding entry (offset 0)
    // applied by mistake would corrupt it.
    const IMAGE_SECTION_HEADER data = Section(image, ".data");
    const BYTE* pData = module.Readable(data.VirtualAddress, data.SizeOfRawData);
    ASSERT_NE(nullptr, pData);
    const size_t nMarker = MarkerOffset(pData, data.SizeOfRawData);
    ASSERT_NE(SIZE_MAX, nMarker);
    const std::vector<DWORD> raw = RawTargets(image, MarkerOffset(image.data(), image.size()));
    for (size_t i = 0; i < nTargets; ++i)
    {
        DWORD nValue;
        std::memcpy(&nValue, pData + nMarker + 8 + 4 * i, 4);
        EXPECT_EQ(raw[i] + nDelta, nValue) << "case " << i;
    }
    // The first target is the structure itself: the moved value names its mapped address.
    DWORD nSelf;
    std::memcpy(&nSelf, pData + nMarker + 8, 4);
    EXPECT_EQ(static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(pData + nMarker)), nSelf);
}

TEST(PEModule, SectionsGetTheirProtections)
{
    const std::vector<BYTE> image = RelocFixture();
    PTL::CPEModule module;
    ASSERT_TRUE(module.Map(image.data(), image.size()));
    const struct
    {
        const char* szName;
        DWORD nState;
        DWORD nProtect;
        bool bReadable;
    } cases[] = {
        {".text", MEM_COMMIT, PAGE_EXECUTE_READ, true},
        {".data", MEM_COMMIT, PAGE_READWRITE, true},
        {".rdata", MEM_COMMIT, PAGE_READONLY, true},
        // No raw data: one zero-filled page, left read-write.
        {".bss", MEM_COMMIT, PAGE_READWRITE, true},
        // Discardable: decommitted once mapped.
        {".reloc", MEM_RESERVE, 0, false},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i)
    {
        const size_t nHeader = SectionHeaderOffset(image, cases[i].szName);
        const IMAGE_SECTION_HEADER section = Get<IMAGE_SECTION_HEADER>(image, nHeader);
        MEMORY_BASIC_INFORMATION mbi;
        ASSERT_TRUE(VirtualQuery(module.Base() + section.VirtualAddress, &mbi, sizeof(mbi)));
        EXPECT_EQ(cases[i].nState, mbi.State) << "case " << i;
        if (cases[i].nState == MEM_COMMIT)
        {
            EXPECT_EQ(cases[i].nProtect, mbi.Protect) << "case " << i;
        }
        EXPECT_EQ(cases[i].bReadable, module.Readable(section.VirtualAddress, 4) != nullptr)
            << "case " << i;
        const auto* pMapped = reinterpret_cast<const IMAGE_SECTION_HEADER*>(
            reinterpret_cast<const BYTE*>(module.Headers()) + (nHeader - NtOffset(image)));
        EXPECT_EQ(static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(module.Base() + section.VirtualAddress)),
                  pMapped->Misc.PhysicalAddress)
            << "case " << i;
    }
    const IMAGE_SECTION_HEADER bss = Section(image, ".bss");
    const BYTE* pBss = module.Readable(bss.VirtualAddress, 0x1000);
    ASSERT_NE(nullptr, pBss);
    EXPECT_EQ(std::vector<BYTE>(0x1000, 0), std::vector<BYTE>(pBss, pBss + 0x1000));
    // Beyond the image nothing is readable through the module.
    EXPECT_EQ(nullptr, module.Readable(module.ImageSize() - 2, 4));
    EXPECT_EQ(nullptr, module.Readable(0xFFFFFFF0, 0x20));
}

TEST(PEModule, ReleaseFreesTheWholeRange)
{
    const std::vector<BYTE> image = RelocFixture();
    PTL::CPEModule module;
    const size_t nBefore = CountAllocations();
    ASSERT_TRUE(module.Map(image.data(), image.size()));
    BYTE* pBase = module.Base();
    // A second Map releases the first mapping before making the next.
    ASSERT_TRUE(module.Map(image.data(), image.size()));
    EXPECT_EQ(nBefore + 1, CountAllocations());
    module.Release();
    EXPECT_TRUE(IsFree(pBase));
    EXPECT_EQ(nBefore, CountAllocations());
    EXPECT_EQ(nullptr, module.Base());
    EXPECT_EQ(nullptr, module.Headers());
    EXPECT_FALSE(module.IsLoaded());
    EXPECT_EQ(0u, module.Directory(IMAGE_DIRECTORY_ENTRY_RESOURCE).Size);
}

// Deterministic corruptions of both real packs: truncations at every 32 bytes and single-field
// damage in the headers and the resource tree. Each image is either refused or mapped and read;
// nothing may crash and no mapping may outlive its load.
TEST(PEModule, CorruptedPacksAreRefusedOrReadNeverCrash)
{
    const DWORD anInteresting[] = {0, 1, 0x7F, 0x80, 0xFF, 0xFFFF, 0x8000, 0x7FFFFFFF,
                                   0x80000000, 0xFFFFFFFF, 0x1000, 0xFFF, 0x80000010};
    const size_t nBefore = CountAllocations();
    unsigned nSeed = 12345;
    auto next = [&nSeed]() {
        nSeed = nSeed * 1103515245u + 12345u;
        return (nSeed >> 8) & 0xFFFFFF;
    };
    int nRuns = 0, nMapped = 0, nRead = 0;
    for (UINT nPack : {IDR_LANG_KO, IDR_LANG_EN})
    {
        const std::vector<BYTE> pack = PackImage(nPack);
        ASSERT_FALSE(pack.empty());
        const void* pPreferred = reinterpret_cast<void*>(static_cast<ULONG_PTR>(PreferredBase(pack)));
        const bool bPreferredFree = IsFree(pPreferred);
        const DWORD nRsrcFile = Section(pack, ".rsrc").PointerToRawData;
        std::vector<std::vector<BYTE>> images;
        for (size_t n = 0; n < pack.size(); n += 32)
            images.emplace_back(pack.begin(), pack.begin() + n);
        for (int i = 0; i < 500; ++i)
        {
            std::vector<BYTE> image = pack;
            // Half the damage hits the headers, half the resource tree and its data.
            const size_t nRegion = (i % 2 == 0) ? 0x200 : image.size() - nRsrcFile;
            const size_t nStart = (i % 2 == 0) ? 0 : nRsrcFile;
            const size_t nOffset = nStart + next() % (nRegion - 4);
            switch (i % 3)
            {
            case 0:
                image[nOffset] = static_cast<BYTE>(next());
                break;
            case 1:
                image[nOffset] ^= static_cast<BYTE>(1u << (next() % 8));
                break;
            default:
                Put<DWORD>(image, nOffset & ~size_t(1),
                           anInteresting[next() % (sizeof(anInteresting) / sizeof(DWORD))]);
                break;
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
                if (PL5Lang::ReadResources(module, table))
                    ++nRead;
                module.Release();
            }
            if (bPreferredFree)
            {
                ASSERT_TRUE(IsFree(pPreferred)) << "run " << nRuns;
            }
        }
    }
    EXPECT_GE(nRuns, 1000);
    // The sweep must exercise both outcomes, or it proves little.
    EXPECT_GT(nMapped, 0);
    EXPECT_LT(nMapped, nRuns);
    EXPECT_GT(nRead, 0);
    EXPECT_EQ(nBefore, CountAllocations());
}
