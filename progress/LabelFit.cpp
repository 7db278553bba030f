#include "progress/LabelFit.h"

#include <string>
#include <vector>

namespace
{
bool IsLabel(HWND hWnd)
{
    wchar_t szClass[16] = L"";
    GetClassNameW(hWnd, szClass, 16);
    return _wcsicmp(szClass, L"Static") == 0 && GetDlgCtrlID(hWnd) == -1 && GetWindowTextLengthW(hWnd) > 0;
}

RECT RectInDialog(HWND hDialog, HWND hControl)
{
    RECT rc;
    GetWindowRect(hControl, &rc);
    MapWindowPoints(nullptr, hDialog, reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

void MoveTo(HWND hControl, const RECT& rc)
{
    SetWindowPos(hControl, nullptr, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}
} // namespace

int TextWidthInDialogFont(HWND hDialog, HWND hControl)
{
    const int nLength = GetWindowTextLengthW(hControl);
    std::wstring strText(static_cast<size_t>(nLength) + 1, L'\0');
    GetWindowTextW(hControl, &strText[0], nLength + 1);
    strText.resize(static_cast<size_t>(nLength));
    const HDC hdc = GetDC(hControl);
    if (!hdc)
        return 0;
    const HFONT hFont = reinterpret_cast<HFONT>(SendMessageW(hDialog, WM_GETFONT, 0, 0));
    const HGDIOBJ hOld = hFont ? SelectObject(hdc, hFont) : nullptr;
    SIZE size = {0, 0};
    GetTextExtentPoint32W(hdc, strText.c_str(), nLength, &size);
    if (hOld)
        SelectObject(hdc, hOld);
    ReleaseDC(hControl, hdc);
    return size.cx;
}

void FitDialogLabels(HWND hDialog)
{
    std::vector<HWND> children;
    for (HWND h = GetWindow(hDialog, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT))
        children.push_back(h);
    for (HWND hLabel : children)
    {
        if (!IsLabel(hLabel))
            continue;
        RECT rcLabel = RectInDialog(hDialog, hLabel);
        // One pixel of slack: the static control draws its text from its left edge.
        const int nGrow = TextWidthInDialogFont(hDialog, hLabel) + 1 - (rcLabel.right - rcLabel.left);
        if (nGrow <= 0)
            continue;
        const int nOldRight = rcLabel.right;
        rcLabel.right += nGrow;
        MoveTo(hLabel, rcLabel);
        // The nearest control to the right on the label's line is its value.
        HWND hValue = nullptr;
        RECT rcValue = {};
        for (HWND hOther : children)
        {
            const RECT rc = RectInDialog(hDialog, hOther);
            const bool bSameLine = rc.top < rcLabel.bottom && rc.bottom > rcLabel.top;
            if (hOther == hLabel || !(GetWindowLongPtrW(hOther, GWL_STYLE) & WS_VISIBLE) || !bSameLine || rc.left < nOldRight - 1)
                continue;
            if (!hValue || rc.left < rcValue.left)
            {
                hValue = hOther;
                rcValue = rc;
            }
        }
        if (!hValue)
            continue;
        rcValue.left += nGrow;
        if (rcValue.left > rcValue.right)
            rcValue.left = rcValue.right;
        MoveTo(hValue, rcValue);
    }
}
