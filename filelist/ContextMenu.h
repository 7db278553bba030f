// The list's right-click menu: the first pop-up of menu 208 of the active language pack, with
// the commands that cannot act grayed. A chosen command reaches the owner window as WM_COMMAND.
#pragma once
#include <windows.h>

struct CMenuState
{
    size_t nSelected;      // selected rows
    bool bExecuteAllowed;  // the single selected row may be opened
};

// lParamPoint is the context-menu message's point: screen coordinates, or -1,-1 when the
// keyboard asked (the menu then opens at the first selected row of hList, else its corner).
void ShowContextMenu(HWND hOwner, LPARAM lParamPoint, HWND hList, const CMenuState& state);

// Where the menu opens: the message's point read as signed coordinates (a monitor left of or
// above the primary one has negative ones), moved onto the nearest monitor's work area when it
// lies on none.
POINT ContextMenuPoint(LPARAM lParamPoint, HWND hList);
