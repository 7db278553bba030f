#include "filelist/StatusBar.h"
#include <commctrl.h>
#include "filelist/Format.h"
#include "filelist/LimitMessages.h"
#include "lang/LangIds.h"
#include "lang/LangTable.h"

namespace
{
const ULONG NO_COUNT_LIMIT = 4294967295UL;
}  // namespace

CStatusTexts MakeStatusTexts(const CStatusFigures& figures)
{
    CStatusTexts texts;
    texts.strUsed = FormatSizeText(figures.nListedTotal, 2);
    // A total limit lowered below what is listed leaves no allowance, not a wrapped huge one.
    const ULONG nRemaining = figures.nMaxTotal > figures.nListedTotal ? figures.nMaxTotal - figures.nListedTotal : 0;
    texts.strRemaining = FormatSizeText(nRemaining, 2);
    const std::wstring strLimit =
        figures.nMaxFileCount == NO_COUNT_LIMIT
            ? std::wstring()
            : FormatPackText(PL5Lang::GetString(IDS_STATUS_COUNT_LIMIT).c_str(), figures.nMaxFileCount);
    const ULONG nCount = static_cast<ULONG>(figures.nCount);
    texts.strCountPart = FormatPackText(PL5Lang::GetString(IDS_STATUS_COUNT).c_str(), nCount, strLimit.c_str());
    texts.strSizePart = L"\t\t" + texts.strUsed + L"/" + texts.strRemaining;
    texts.strCount = std::to_wstring(static_cast<int>(nCount));
    return texts;
}

void ShowStatusTexts(const CStatusTexts& texts, HWND hStatusBar, IListPage* pPage, const std::wstring& strOwnId)
{
    if (hStatusBar)
    {
        SendMessageW(hStatusBar, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(texts.strCountPart.c_str()));
        SendMessageW(hStatusBar, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(texts.strSizePart.c_str()));
    }
    if (strOwnId.empty() || !pPage || !pPage->HasDocument())
        return;
    pPage->SetElementText(strOwnId + L"CurrentCount", texts.strCount);
    pPage->SetElementText(strOwnId + L"CurrentSize", texts.strUsed);
    pPage->SetElementText(strOwnId + L"RemainSize", texts.strRemaining);
}
