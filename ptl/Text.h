// Text conversions: UTF-16 to and from bytes, HRESULTs as the system describes them, script
// values, window texts.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <string>

namespace PTL
{
// The byte encodings text takes outside the program: UTF-8, or the calling thread's ANSI code
// page. Encoding to ANSI, a character the code page lacks becomes its default character, without
// best-fit look-alikes: best fit would turn a fullwidth quote, legal in a file name, into the
// quote that ends the name in a part header.
enum class ECharset
{
    Utf8,
    Ansi,
};
inline ECharset CharsetFor(bool bUtf8) { return bUtf8 ? ECharset::Utf8 : ECharset::Ansi; }

std::string EncodeText(const std::wstring& strText, ECharset nCharset = ECharset::Utf8);
std::wstring DecodeText(const std::string& strBytes, ECharset nCharset = ECharset::Utf8);

// The system's message for an HRESULT ("0x80070002 The system cannot find the file
// specified."), for error reports.
std::wstring DescribeHResult(HRESULT hr);

// The value behind by-reference variants, or null when the chain is broken or too long.
const VARIANT* ScriptValueOf(const VARIANT& var);

// What VariantToText takes as text: strings only (what script means as a text), or any value
// the system converts to one (numbers, dates, booleans).
enum class ETextFrom
{
    AnyValue,
    StringOnly,
};

// Reads a script value as text, following by-reference variants (VBScript passes variables that
// way). A string ends at its first NUL, as every text of the control does; a null BSTR is the
// empty text and *pbNull tells it apart. False when the value is no text.
bool VariantToText(const VARIANT& var, std::wstring& strOut, ETextFrom nFrom = ETextFrom::AnyValue,
                   bool* pbNull = nullptr);
bool VariantToInt(const VARIANT& var, LONG& nOut);

// A window's text ("" for none).
std::wstring WindowText(HWND hWnd);
}  // namespace PTL
