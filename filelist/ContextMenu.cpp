#include "filelist/ContextMenu.h"
#include <commctrl.h>
#include <initializer_list>
#include "lang/LangIds.h"
#include "lang/LangTable.h"
#include "ptl/Handle.h"

namespace
{
LONG Clamp(LONG n, LONG nLow, LONG nHigh) { return n < nLow ? nLow : (n >= nHigh ? nHigh - 1 : n); }
}  // namespace

POINT ContextMenuPoint(POINT pt, HWND hList)
{
    if (pt.x == -1 && pt.y == -1)
    {
        // From the keyboard: below the focused row, else the first selected one, else at the
        // list's corner; kept inside the list when the row is scrolled out of sight.
        pt = POINT{0, 0};
        int nRow = -1;
        for (UINT nFlag : {LVNI_FOCUSED, LVNI_SELECTED})
            if (hList && nRow < 0)
                nRow = static_cast<int>(SendMessageW(hList, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), nFlag));
        RECT rc = {};
        rc.left = LVIR_BOUNDS;
        RECT rcList = {};
        if (nRow >= 0 &&
            SendMessageW(hList, LVM_GETITEMRECT, static_cast<WPARAM>(nRow), reinterpret_cast<LPARAM>(&rc)) &&
            GetClientRect(hList, &rcList))
            pt = POINT{Clamp(rc.left, rcList.left, rcList.right), Clamp(rc.bottom, rcList.top, rcList.bottom)};
        if (hList)
            ClientToScreen(hList, &pt);
    }
    if (!MonitorFromPoint(pt, MONITOR_DEFAULTTONULL))
    {
        MONITORINFO info = {};
        info.cbSize = sizeof(info);
        if (GetMonitorInfoW(MonitorFromPoint(pt, MONITOR_DEFAULTTONEAREST), &info))
        {
            pt.x = Clamp(pt.x, info.rcWork.left, info.rcWork.right);
            pt.y = Clamp(pt.y, info.rcWork.top, info.rcWork.bottom);
        }
    }
    return pt;
}

void ApplyMenuState(HMENU hPopup, const CMenuState& state)
{
    if (state.nSelected == 0)
        EnableMenuItem(hPopup, ID_REMOVE_SELECTED, MF_BYCOMMAND | MF_GRAYED);
    if (state.nSelected != 1 || !state.bExecuteAllowed)
        EnableMenuItem(hPopup, ID_EXECUTE_FILE, MF_BYCOMMAND | MF_GRAYED);
}

void ShowContextMenu(HWND hOwner, POINT ptMessage, HWND hList, const CMenuState& state)
{
    const PL5Lang::CLangBlock* pBlock = PL5Lang::FindMenu(IDM_CONTEXT);
    if (!pBlock || pBlock->data.empty())
        return;
    const PTL::CMenuHandle menu(LoadMenuIndirectW(pBlock->data.data()));
    const HMENU hPopup = menu.Get() ? GetSubMenu(menu.Get(), 0) : nullptr;
    if (!hPopup)
    {
        OutputDebugStringW(L"Pelora5: the context menu cannot be made\n");
        return;
    }
    ApplyMenuState(hPopup, state);
    const POINT pt = ContextMenuPoint(ptMessage, hList);
    TrackPopupMenu(hPopup, TPM_LEFTALIGN | TPM_LEFTBUTTON, pt.x, pt.y, 0, hOwner, nullptr);
}
