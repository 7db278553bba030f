// Text conversions: UTF-16 and UTF-8, HRESULTs as the system describes them, VARIANT arguments,
// window texts.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <string>

namespace PTL
{
std::string ToUtf8(const std::wstring& str);
std::wstring FromUtf8(const std::string& str);

// The system's message for an HRESULT ("0x80070002 The system cannot find the file
// specified."), for error reports.
std::wstring DescribeHResult(HRESULT hr);

// Reads a VARIANT argument as text or as a number; false when it cannot be converted.
bool VariantToText(const VARIANT& var, std::wstring& strOut);
bool VariantToInt(const VARIANT& var, LONG& nOut);

// A window's text ("" for none).
std::wstring WindowText(HWND hWnd);
}  // namespace PTL
