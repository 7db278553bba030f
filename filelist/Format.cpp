#include "filelist/Format.h"

std::wstring FormatGroupedNumber(ULONGLONG n)
{
    // Fill from the right; 20 digits and 6 separators cover the whole 64-bit range.
    wchar_t buf[32];
    wchar_t* p = buf + 32;
    int nDigits = 0;
    do
    {
        if (nDigits > 0 && nDigits % 3 == 0)
            *--p = L',';
        *--p = static_cast<wchar_t>(L'0' + n % 10);
        n /= 10;
        ++nDigits;
    } while (n != 0);
    return std::wstring(p, buf + 32);
}

std::wstring FormatGroupedNumber(ULONG n) { return FormatGroupedNumber(static_cast<ULONGLONG>(n)); }

std::wstring FormatSizeText(ULONGLONG nBytes, int nDecimals)
{
    const wchar_t* szUnit = L"KB";
    ULONGLONG nDivisor = 1024;
    if (nBytes >= 1073741824ull)
    {
        szUnit = L"GB";
        nDivisor = 1073741824ull;
    }
    else if (nBytes >= 1048576ull)
    {
        szUnit = L"MB";
        nDivisor = 1048576ull;
    }

    std::wstring strText = FormatGroupedNumber(nBytes / nDivisor);
    if (nDecimals > 0)
    {
        if (nDecimals > 9)
            nDecimals = 9;
        ULONGLONG nScale = 1;
        for (int i = 0; i < nDecimals; ++i)
            nScale *= 10;
        // The remainder over a power-of-two divisor is exact in a double, so the truncated
        // fraction never loses a digit to rounding, even for 64-bit sizes.
        const double dFraction = static_cast<double>(nBytes % nDivisor) / static_cast<double>(nDivisor);
        ULONGLONG nFraction = static_cast<ULONGLONG>(dFraction * static_cast<double>(nScale));
        if (nFraction >= nScale)
            nFraction = nScale - 1;

        std::wstring strFraction(static_cast<size_t>(nDecimals), L'0');
        for (size_t i = strFraction.size(); i-- > 0 && nFraction != 0; nFraction /= 10)
            strFraction[i] = static_cast<wchar_t>(L'0' + nFraction % 10);
        strText += L'.';
        strText += strFraction;
    }
    strText += szUnit;
    return strText;
}

std::wstring FormatByteProgress(ULONGLONG liDone, ULONGLONG liTotal, ULONG nPercent)
{
    return FormatGroupedNumber(liDone) + L" / " + FormatGroupedNumber(liTotal) + L" Bytes (" +
           FormatGroupedNumber(nPercent) + L"%)";
}
