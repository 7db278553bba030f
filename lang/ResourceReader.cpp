#include "lang/ResourceReader.h"

#include <cstring>

namespace PL5Lang
{
namespace
{
// A resource directory that cannot be walked; caught in ReadResources.
struct EMalformed
{
};

const UINT nStringsPerBlock = 16;

class CResourceWalker
{
public:
    CResourceWalker(const PTL::CPEModule& module, IMAGE_DATA_DIRECTORY directory) : module(module), directory(directory)
    {
    }

    // The entries of the directory at nOffset from the start of the resource directory.
    std::vector<IMAGE_RESOURCE_DIRECTORY_ENTRY> Entries(DWORD nOffset)
    {
        IMAGE_RESOURCE_DIRECTORY header;
        Read(nOffset, &header, sizeof(header));
        const DWORD nCount = static_cast<DWORD>(header.NumberOfNamedEntries) + header.NumberOfIdEntries;
        const DWORD nBytes = nCount * sizeof(IMAGE_RESOURCE_DIRECTORY_ENTRY);
        // Directories may point at each other; the budget bounds the walk of a corrupt tree
        // whose entries all lead to the same large directory.
        if (nCount > nEntryBudget)
            throw EMalformed();
        nEntryBudget -= nCount;
        Locate(nOffset + sizeof(header), nBytes);
        std::vector<IMAGE_RESOURCE_DIRECTORY_ENTRY> entries(nCount);
        if (nCount != 0)
            Read(nOffset + sizeof(header), entries.data(), nBytes);
        return entries;
    }

    // The offset of the directory an entry points to; the entry must point to a directory.
    static DWORD Subdirectory(const IMAGE_RESOURCE_DIRECTORY_ENTRY& entry)
    {
        if (!(entry.OffsetToData & IMAGE_RESOURCE_DATA_IS_DIRECTORY))
            throw EMalformed();
        return entry.OffsetToData & ~IMAGE_RESOURCE_DATA_IS_DIRECTORY;
    }

    // The bytes of the data entry a language entry points to.
    std::vector<BYTE> Data(const IMAGE_RESOURCE_DIRECTORY_ENTRY& entry) const
    {
        if (entry.OffsetToData & IMAGE_RESOURCE_DATA_IS_DIRECTORY)
            throw EMalformed();
        IMAGE_RESOURCE_DATA_ENTRY data;
        Read(entry.OffsetToData, &data, sizeof(data));
        const BYTE* p = module.Readable(data.OffsetToData, data.Size);
        if (!p)
            throw EMalformed();
        return std::vector<BYTE>(p, p + data.Size);
    }

private:
    const BYTE* Locate(DWORD nOffset, DWORD nSize) const
    {
        if (nOffset > directory.Size || nSize > directory.Size - nOffset ||
            directory.VirtualAddress > MAXDWORD - directory.Size)
            throw EMalformed();
        const BYTE* p = module.Readable(directory.VirtualAddress + nOffset, nSize);
        if (!p)
            throw EMalformed();
        return p;
    }

    void Read(DWORD nOffset, void* pTarget, DWORD nSize) const { std::memcpy(pTarget, Locate(nOffset, nSize), nSize); }

    const PTL::CPEModule& module;
    IMAGE_DATA_DIRECTORY directory;
    DWORD nEntryBudget = 0x10000;
};

// Splits one RT_STRING block into its strings: sixteen length-prefixed UTF-16 texts, the
// empty ones standing only for their id. A length that runs past the block ends the walk.
void ReadStringBlock(UINT nBlockId, const std::vector<BYTE>& data, CLangTable& table)
{
    UINT nId = (nBlockId - 1) * nStringsPerBlock;
    size_t nOffset = 0;
    for (UINT i = 0; i < nStringsPerBlock; ++i, ++nId)
    {
        if (data.size() - nOffset < sizeof(WORD))
            break;
        WORD nLength;
        std::memcpy(&nLength, data.data() + nOffset, sizeof(nLength));
        nOffset += sizeof(WORD);
        const size_t nBytes = static_cast<size_t>(nLength) * sizeof(wchar_t);
        if (data.size() - nOffset < nBytes)
            break;
        if (nLength != 0)
        {
            std::wstring strText(nLength, L'\0');
            std::memcpy(&strText[0], data.data() + nOffset, nBytes);
            table.strings[nId] = std::move(strText);
        }
        nOffset += nBytes;
    }
}

void ReadTree(CResourceWalker& walker, CLangTable& table)
{
    for (const IMAGE_RESOURCE_DIRECTORY_ENTRY& type : walker.Entries(0))
    {
        if (type.NameIsString)
            continue;
        const WORD nType = type.Id;
        if (nType != 4 /* RT_MENU */ && nType != 5 /* RT_DIALOG */ && nType != 6 /* RT_STRING */)
            continue;
        for (const IMAGE_RESOURCE_DIRECTORY_ENTRY& name : walker.Entries(CResourceWalker::Subdirectory(type)))
        {
            // Packs number their resources; a named one cannot be looked up by id.
            if (name.NameIsString)
                continue;
            const std::vector<IMAGE_RESOURCE_DIRECTORY_ENTRY> languages =
                walker.Entries(CResourceWalker::Subdirectory(name));
            if (languages.empty())
                continue;
            if (nType == 6)
            {
                // Block 0 would hold negative ids.
                if (name.Id != 0)
                    ReadStringBlock(name.Id, walker.Data(languages[0]), table);
                continue;
            }
            // A menu or template in more than one language is not taken: the pack must
            // decide which text the user sees.
            if (languages.size() >= 2)
                continue;
            CLangBlock block;
            block.data = walker.Data(languages[0]);
            (nType == 4 ? table.menus : table.dialogs)[name.Id] = std::move(block);
        }
    }
}
}  // namespace

bool ReadResources(const PTL::CPEModule& module, CLangTable& table)
{
    const IMAGE_DATA_DIRECTORY directory = module.Directory(IMAGE_DIRECTORY_ENTRY_RESOURCE);
    if (!module.IsLoaded() || directory.Size == 0)
        return module.IsLoaded();
    try
    {
        CResourceWalker walker(module, directory);
        ReadTree(walker, table);
        return true;
    }
    catch (const EMalformed&)
    {
        table = CLangTable();
        return false;
    }
}

bool ReadPack(HMODULE hModule, UINT nId, CLangTable& table)
{
    HRSRC hInfo = FindResourceW(hModule, MAKEINTRESOURCEW(nId), L"RSRC");
    if (!hInfo)
        return false;
    const DWORD nSize = SizeofResource(hModule, hInfo);
    HGLOBAL hData = LoadResource(hModule, hInfo);
    const void* pData = hData ? LockResource(hData) : nullptr;
    if (nSize == 0 || !pData)
        return false;
    // The resource lives in the module's read-only image for as long as the module is loaded,
    // and the loader only reads its source, so it maps straight from there.
    PTL::CPEModule module;
    if (!module.Map(pData, nSize))
        return false;
    return ReadResources(module, table);
}
}  // namespace PL5Lang
