// The list's right-click menu: the first pop-up of menu 208 of the active language pack, with
// the commands that cannot act grayed. A chosen command reaches the owner window as WM_COMMAND.
#pragma once
#include <windows.h>

struct CMenuState
{
    size_t nSelected;      // selected rows
    bool bExecuteAllowed;  // the single selected row may be opened
};

// Grays what cannot act: "Remove Selected Files" without a selection, "Excute File" unless
// exactly one row is selected and it may be opened.
void ApplyMenuState(HMENU hPopup, const CMenuState& state);

// pt is the context-menu message's point, read as signed screen coordinates (a monitor left of
// or above the primary one has negative ones), or -1,-1 when the keyboard asked: the menu then
// opens below the focused row of hList, else its first selected row, else at its corner.
void ShowContextMenu(HWND hOwner, POINT pt, HWND hList, const CMenuState& state);

// Where the menu opens: the point, or the keyboard's place, moved onto the nearest monitor's
// work area when it lies on none.
POINT ContextMenuPoint(POINT pt, HWND hList);
