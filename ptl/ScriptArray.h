// Reading what script passes in a VARIANT argument: strings, objects and arrays, whether the
// engine passes them by value, by reference (VBScript passes variables that way) or wrapped in
// further variants, and whether an array is a script object with "length" and elements "0",
// "1", ... (JScript) or a SAFEARRAY (VBScript).
//
// The page is untrusted: an array's length may be huge or not a number, its getters may fail or
// call back into the control, and a reference may point at itself. Every reading here is
// bounded and ends in "not an array" or "not a string" rather than in a crash or a hang.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <string>
#include <utility>
#include <vector>

#include "ptl/ComPtr.h"

namespace PTL
{
// Most elements read from one array: the rest are ignored (a page offering more is no form).
constexpr ULONG MAX_SCRIPT_ARRAY = 65536;

// The script object in the value (not AddRef'd), or null.
IDispatch* ScriptObject(const VARIANT& var);

// One script array, held for reading: a script object (kept alive while it is read) or a
// one-dimensional SAFEARRAY (locked while it is read, so script cannot free it meanwhile).
class CScriptArray
{
public:
    CScriptArray() = default;
    ~CScriptArray();
    CScriptArray(const CScriptArray&) = delete;
    CScriptArray& operator=(const CScriptArray&) = delete;

    // False when the value is no array, or its length cannot be read as a count (absent,
    // failing, negative, not a number).
    bool Open(const VARIANT& var);
    // The length the array declares.
    ULONG Length() const { return m_nLength; }
    // The element at nIndex; VT_EMPTY when it cannot be read.
    void Element(ULONG nIndex, CComVariant& varElement) const;

private:
    CComPtr<IDispatch> m_pObject;
    SAFEARRAY* m_pArray = nullptr;
    VARTYPE m_vtElement = VT_EMPTY;
    LONG m_nLower = 0;
    ULONG m_nLength = 0;
};

// The two-argument form shared by methods that take names and values: two strings give one
// pair; two arrays of the same length give one pair per index (at most MAX_SCRIPT_ARRAY) where
// both elements are strings; anything else gives none. Getters that call back into a reading
// of arrays on the same thread are refused beyond a few levels.
std::vector<std::pair<std::wstring, std::wstring>> ReadStringPairs(const VARIANT& varFirst, const VARIANT& varSecond);
}  // namespace PTL
