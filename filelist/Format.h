// Size and number texts shared by the file list, the status bar, the limit messages and the
// progress dialog: "1.50KB", "1,234,567", "1,024 / 4,096 Bytes (25%)".
#pragma once
#include <windows.h>
#include <string>
#include <type_traits>

// Decimal digits with "," before every group of three counted from the right.
std::wstring FormatGroupedNumber(ULONG n);
std::wstring FormatGroupedNumber(ULONGLONG n);

// Other integer types pick the form of their width; a signed value is taken as the unsigned
// value of the same width, so callers that may hold negatives must clamp first.
template <typename T, std::enable_if_t<
                          std::is_integral_v<T> && !std::is_same_v<T, ULONG> && !std::is_same_v<T, ULONGLONG>, int> = 0>
std::wstring FormatGroupedNumber(T n)
{
    if constexpr (sizeof(T) <= sizeof(ULONG))
        return FormatGroupedNumber(static_cast<ULONG>(static_cast<std::make_unsigned_t<T>>(n)));
    else
        return FormatGroupedNumber(static_cast<ULONGLONG>(n));
}

// Bytes in KB, MB or GB (binary units, KB also below 1024 bytes): grouped integer part, and with
// nDecimals > 0 a "." and the truncated fraction zero-padded to nDecimals digits; no space before
// the unit. nDecimals is taken within 0..9.
std::wstring FormatSizeText(ULONGLONG nBytes, int nDecimals);

// "<done> / <total> Bytes (<percent>%)", every number grouped.
std::wstring FormatByteProgress(ULONGLONG liDone, ULONGLONG liTotal, ULONG nPercent);
