// Owners of the system's handles, one kind each: move-only, closing what they hold when they go.
#pragma once
#include <windows.h>
#include <memory>
#include <utility>

namespace PTL
{
// Owns one handle of the kind TKind describes: its type, which values hold nothing and how it is
// closed. A raw handle lives only inside the function that wraps it.
template <class TKind>
class CHandle
{
public:
    using Type = typename TKind::Type;

    CHandle() = default;
    explicit CHandle(Type h) : m_h(h) {}
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;
    CHandle(CHandle&& other) noexcept : m_h(other.Detach()) {}
    CHandle& operator=(CHandle&& other) noexcept
    {
        if (this != std::addressof(other))
            Reset(other.Detach());
        return *this;
    }
    ~CHandle() { Close(); }

    void Close()
    {
        if (IsValid())
            TKind::Close(m_h);
        m_h = Type();
    }
    // Takes a handle as the function that made it returned it; a failure value counts as none.
    void Reset(Type h)
    {
        Close();
        m_h = h;
    }
    Type Detach()
    {
        const Type h = m_h;
        m_h = Type();
        return h;
    }
    bool IsValid() const { return TKind::IsValid(m_h); }
    Type Get() const { return m_h; }
    // For functions that fill a handle in (RegOpenKeyExW): closes what is held, hands out the slot.
    Type* operator&()
    {
        Close();
        return &m_h;
    }

private:
    Type m_h = Type();
};

// A kind of handle: its type, and the function that closes it; null holds nothing.
template <class T, auto pfnClose>
struct CHandleKind
{
    using Type = T;
    static bool IsValid(T h) { return h != nullptr; }
    static void Close(T h) { pfnClose(h); }
};

struct CKernelHandleKind : CHandleKind<HANDLE, CloseHandle>
{
    // CreateFile and its friends fail with INVALID_HANDLE_VALUE, the others with null.
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
};

// A kernel object: file, thread, process, event.
using CKernelHandle = CHandle<CKernelHandleKind>;
// An open registry key.
using CRegKeyHandle = CHandle<CHandleKind<HKEY, RegCloseKey>>;
// A menu loaded or made by this code (not one attached to a window, which goes with it).
using CMenuHandle = CHandle<CHandleKind<HMENU, DestroyMenu>>;
// A library this code loaded.
using CLibraryHandle = CHandle<CHandleKind<HMODULE, FreeLibrary>>;
// A pen, brush, font, bitmap or region this code made.
template <class T>
using CGdiObject = CHandle<CHandleKind<T, DeleteObject>>;
// A memory DC this code made (CreateCompatibleDC).
using CMemoryDC = CHandle<CHandleKind<HDC, DeleteDC>>;
// A block of global memory (drag data, a dialog template in memory).
using CGlobalMemory = CHandle<CHandleKind<HGLOBAL, GlobalFree>>;

// The DC of a window (of the screen for null), released when it goes.
class CWindowDC
{
public:
    explicit CWindowDC(HWND hWnd) : m_hWnd(hWnd), m_hdc(GetDC(hWnd)) {}
    CWindowDC(const CWindowDC&) = delete;
    CWindowDC& operator=(const CWindowDC&) = delete;
    ~CWindowDC()
    {
        if (m_hdc)
            ReleaseDC(m_hWnd, m_hdc);
    }
    HDC Get() const { return m_hdc; }

private:
    HWND m_hWnd;
    HDC m_hdc;
};
}  // namespace PTL
