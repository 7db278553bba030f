// Calls this program makes into a system DLL, rerouted for a test: the program's import slot of
// a function is pointed at a stand-in while a CImportSwap is in scope. The product's code is
// linked into the test program, so its calls go through these slots too.
#pragma once
#include <windows.h>

#include <cstring>

// The import address slot of szName from szDll in this program, or nullptr.
inline void** ImportSlot(const char* szDll, const char* szName)
{
    BYTE* pBase = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const auto* pNt = reinterpret_cast<IMAGE_NT_HEADERS*>(pBase + reinterpret_cast<IMAGE_DOS_HEADER*>(pBase)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = pNt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* pImport = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(pBase + dir.VirtualAddress); pImport->Name;
         ++pImport)
    {
        if (_stricmp(reinterpret_cast<char*>(pBase + pImport->Name), szDll) != 0)
            continue;
        auto* pNames = reinterpret_cast<IMAGE_THUNK_DATA*>(pBase + pImport->OriginalFirstThunk);
        auto* pSlots = reinterpret_cast<IMAGE_THUNK_DATA*>(pBase + pImport->FirstThunk);
        for (; pNames->u1.AddressOfData; ++pNames, ++pSlots)
        {
            if (IMAGE_SNAP_BY_ORDINAL(pNames->u1.Ordinal))
                continue;
            const auto* pByName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(pBase + pNames->u1.AddressOfData);
            if (strcmp(reinterpret_cast<const char*>(pByName->Name), szName) == 0)
                return reinterpret_cast<void**>(&pSlots->u1.Function);
        }
    }
    return nullptr;
}

// Points one import slot at pTarget while in scope; Original() is the function it replaced.
class CImportSwap
{
public:
    CImportSwap(const char* szDll, const char* szName, void* pTarget) : m_ppSlot(ImportSlot(szDll, szName))
    {
        if (!m_ppSlot)
            return;
        m_pOriginal = *m_ppSlot;
        Swap(pTarget);
    }
    ~CImportSwap()
    {
        if (m_ppSlot)
            Swap(m_pOriginal);
    }
    CImportSwap(const CImportSwap&) = delete;
    CImportSwap& operator=(const CImportSwap&) = delete;

    bool Installed() const { return m_ppSlot != nullptr; }
    template <class Fn>
    Fn Original() const
    {
        return reinterpret_cast<Fn>(m_pOriginal);
    }

private:
    void Swap(void* pTarget)
    {
        DWORD nOld = 0;
        VirtualProtect(m_ppSlot, sizeof(void*), PAGE_READWRITE, &nOld);
        *m_ppSlot = pTarget;
        VirtualProtect(m_ppSlot, sizeof(void*), nOld, &nOld);
    }
    void** m_ppSlot;
    void* m_pOriginal = nullptr;
};
