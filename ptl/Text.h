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

// The text in that encoding; empty when it cannot be encoded (EncodeInCodePage).
std::string EncodeText(const std::wstring& strText, ECharset nCharset = ECharset::Utf8);
// The text in a code page (CP_UTF8, CP_THREAD_ACP or a number), without best-fit look-alikes
// where the code page allows that choice: UTF-8, UTF-7, GB 18030, the ISO-2022 and ISCII code
// pages and the symbol page reject the flag, and the conversion would fail. False (and no bytes)
// when the system cannot encode the text, so that no caller mistakes a failure for empty text.
bool EncodeInCodePage(const std::wstring& strText, UINT nCodePage, std::string& strBytes);
// WC_NO_BEST_FIT_CHARS for a code page that takes it, 0 for one whose conversions fail with
// any flag (Windows rejects them with ERROR_INVALID_FLAGS; Wine lets them pass).
DWORD NoBestFitFlagFor(UINT nCodePage);
// The code page the charset stands for on this thread.
UINT CodePageOf(ECharset nCharset);
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
