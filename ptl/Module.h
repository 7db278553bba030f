// The module that serves the control: its handle, its path and the counts that decide whether
// it may be unloaded.
#pragma once
#include <windows.h>
#include <string>

namespace PTL
{
class CModule
{
public:
    // The image this code is linked into: the control DLL, or a test program that embeds it.
    static HINSTANCE Instance();
    static std::wstring Path();
    // Writes one line to the debug output, headed by the module's file name without its
    // extension, so that a reader sees whose line it is. Safe inside a catch handler.
    static void DebugLine(const wchar_t* szText) noexcept;

    // Live objects and server locks; DllCanUnloadNow answers S_OK only when both are zero.
    static void Lock();
    static void Unlock();
    static LONG LockCount();
};

// Counts one live object for the module's lifetime; make it a member of every COM object.
class CModuleLock
{
public:
    CModuleLock() { CModule::Lock(); }
    CModuleLock(const CModuleLock&) { CModule::Lock(); }
    CModuleLock& operator=(const CModuleLock&) = default;
    ~CModuleLock() { CModule::Unlock(); }
};
}  // namespace PTL
