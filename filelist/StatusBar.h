// The status texts: the number of listed files (with the count limit when there is one) and
// the used and remaining size allowance, shown in the status bar's two parts and mirrored
// into the page's elements <own id>CurrentCount, <own id>CurrentSize and <own id>RemainSize.
#pragma once
#include <windows.h>
#include <string>
#include "filelist/ListPage.h"

struct CStatusFigures
{
    size_t nCount;        // listed entries
    ULONG nListedTotal;   // bytes listed
    ULONG nMaxTotal;      // MaxTotalFileSize
    ULONG nMaxFileCount;  // MaxFileCount; 4294967295 is no limit
};

struct CStatusTexts
{
    std::wstring strCountPart;  // part 0, from strings 104 and 105 of the active pack
    std::wstring strSizePart;   // part 1: "\t\t<used>/<remaining>", right-aligned
    std::wstring strCount;      // the mirror texts
    std::wstring strUsed;
    std::wstring strRemaining;
};

CStatusTexts MakeStatusTexts(const CStatusFigures& figures);

// Writes the texts to the status bar (when there is one) and to the page's mirror elements
// (when the control has an element id and the page those elements); missing ones are skipped.
void ShowStatusTexts(const CStatusTexts& texts, HWND hStatusBar, IListPage* pPage, const std::wstring& strOwnId);
