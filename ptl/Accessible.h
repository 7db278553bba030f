// What a window tells assistive technology beyond the system's own accessible object for it: a
// name, a role, a value read from the window. Everything else (state, location, children,
// navigation) stays the system's: the window answers WM_GETOBJECT for its client object with
// the system's object (CreateStdAccessibleObject) wrapped so that only these answers change.
#pragma once
#include <windows.h>
#include <oleacc.h>
#include <string>

namespace PTL
{
enum class EAccessibleValue
{
    System,           // the system's answer
    WindowText,       // the window's text, as a label's value
    ProgressPercent,  // a progress bar's position in its range, as "40%"
};

struct CAccessibleFacts
{
    std::wstring strName;  // empty: the system's
    LONG nRole = 0;        // 0: the system's
    EAccessibleValue value = EAccessibleValue::System;
};

// Gives hWnd's client object these facts, replacing the ones given before; the window keeps
// them until it is destroyed.
bool AnnotateWindow(HWND hWnd, const CAccessibleFacts& facts);

// A label's text as a name: without the mnemonic mark and the trailing colon and spaces
// ("Current File : " reads "Current File").
std::wstring NameFromLabel(const std::wstring& strLabel);
}  // namespace PTL
