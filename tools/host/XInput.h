// Real user input through the X server's test extension: the pointer moves, buttons and keys go
// down and up as a person's would, and reach whatever window is under the pointer or has the
// focus. Coordinates are screen pixels (Wine's screen is the X screen). Used by the page host and
// by the C++ tests.
//
// xdotool is a Linux program: Wine starts it directly (a file that is no Windows program is
// executed as a Unix one), but gives no process handle to wait on. So it runs through the shell,
// which writes xdotool's exit status to a marker file when it has finished; the caller waits
// (bounded) for the file and succeeds only on status 0.
#pragma once

#include <windows.h>
#include "ptl/Handle.h"
#include "ptl/Wait.h"

#include <atomic>
#include <string>

namespace Host
{
namespace XInput
{

// One argument for a Windows command line, quoted so that Wine splits it back unchanged.
inline std::wstring QuoteArgument(const std::wstring& str)
{
    std::wstring strOut = L"\"";
    size_t nSlashes = 0;
    for (wchar_t ch : str)
    {
        if (ch == L'\\')
        {
            ++nSlashes;
            continue;
        }
        strOut.append(ch == L'"' ? 2 * nSlashes + 1 : nSlashes, L'\\');
        nSlashes = 0;
        strOut += ch;
    }
    strOut.append(2 * nSlashes, L'\\');
    return strOut + L"\"";
}

// A text for the shell, in single quotes.
inline std::wstring ShellQuote(const std::wstring& str)
{
    std::wstring strOut = L"'";
    for (wchar_t ch : str)
        strOut += ch == L'\'' ? std::wstring(L"'\\''") : std::wstring(1, ch);
    return strOut + L"'";
}

// Runs xdotool with the arguments (already quoted for the shell) and waits until it has
// finished; false when it could not be started, did not finish in time or failed.
inline bool Run(const std::wstring& strArgs, DWORD nTimeoutMs = 10000)
{
    static std::atomic<unsigned> s_nCall{0};
    const std::wstring strMarker =
        L"/tmp/pl5-xinput-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++s_nCall);
    std::wstring strMarkerDos = L"Z:" + strMarker;
    for (auto& ch : strMarkerDos)
        if (ch == L'/')
            ch = L'\\';
    // Written aside and renamed, so the marker never exists half written.
    const std::wstring strScript = L"/usr/bin/xdotool " + strArgs + L"; echo $? >" + strMarker + L".part && mv " +
                                   strMarker + L".part " + strMarker;
    std::wstring strCommand = L"Z:\\bin\\sh -c " + QuoteArgument(strScript);
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(L"Z:\\bin\\sh", &strCommand[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    const PTL::CKernelHandle thread(pi.hThread), process(pi.hProcess);  // the marker says when it ended
    // No messages are pumped here: the input the X server delivers stays queued for the
    // caller's message loop, which offers keys to the active control before dispatching them.
    if (!PTL::CWait(nTimeoutMs)
             .Until([&] { return GetFileAttributesW(strMarkerDos.c_str()) != INVALID_FILE_ATTRIBUTES; })
             .Polling(10)
             .Run()
             .Done())
        return false;
    char szStatus[8] = "";
    DWORD nRead = 0;
    {
        const PTL::CKernelHandle marker(CreateFileW(strMarkerDos.c_str(), GENERIC_READ,
                                                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                                    nullptr));
        if (marker.IsValid())
            ReadFile(marker.Get(), szStatus, sizeof(szStatus) - 1, &nRead, nullptr);
    }
    DeleteFileW(strMarkerDos.c_str());
    return nRead >= 1 && szStatus[0] == '0' && (nRead == 1 || szStatus[1] == '\n');
}

// "shift+ctrl" to xdotool's "keydown shift keydown ctrl" and back.
inline std::wstring Modifiers(const std::wstring& strModifiers, bool bDown)
{
    std::wstring strOut;
    size_t nBegin = 0;
    while (nBegin < strModifiers.size())
    {
        size_t nEnd = strModifiers.find(L'+', nBegin);
        if (nEnd == std::wstring::npos)
            nEnd = strModifiers.size();
        const std::wstring strKey = strModifiers.substr(nBegin, nEnd - nBegin);
        if (!strKey.empty())
            strOut += (bDown ? L"keydown " : L"keyup ") + ShellQuote(strKey) + L" ";
        nBegin = nEnd + 1;
    }
    return strOut;
}

inline bool MoveTo(int nX, int nY)
{
    return Run(L"mousemove --sync " + std::to_wstring(nX) + L" " + std::to_wstring(nY));
}

// Button 1 is the left button, 3 the right one; modifiers like "shift", "ctrl", "shift+ctrl".
inline bool Click(int nX, int nY, int nButton = 1, const std::wstring& strModifiers = std::wstring(), int nRepeat = 1)
{
    return Run(L"mousemove --sync " + std::to_wstring(nX) + L" " + std::to_wstring(nY) + L" " +
               Modifiers(strModifiers, true) + L"click --repeat " + std::to_wstring(nRepeat) + L" " +
               std::to_wstring(nButton) + L" " + Modifiers(strModifiers, false));
}

inline bool DoubleClick(int nX, int nY) { return Click(nX, nY, 1, std::wstring(), 2); }

// Key names as xdotool knows them, separated by spaces: "ctrl+a Delete Down".
inline bool Keys(const std::wstring& strKeys)
{
    std::wstring strArgs = L"key";
    size_t nBegin = 0;
    while (nBegin < strKeys.size())
    {
        size_t nEnd = strKeys.find(L' ', nBegin);
        if (nEnd == std::wstring::npos)
            nEnd = strKeys.size();
        if (nEnd > nBegin)
            strArgs += L" " + ShellQuote(strKeys.substr(nBegin, nEnd - nBegin));
        nBegin = nEnd + 1;
    }
    return Run(strArgs);
}

inline bool Type(const std::wstring& strText) { return Run(L"type -- " + ShellQuote(strText)); }

}  // namespace XInput
}  // namespace Host
