#include "progress/LabelFit.h"

#include <string>
#include "ptl/Dpi.h"
#include "ptl/Handle.h"
#include "ptl/Text.h"
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
}  // namespace

int TextWidthInDialogFont(HWND hDialog, HWND hControl)
{
    const std::wstring strText = PTL::WindowText(hControl);
    const int nLength = static_cast<int>(strText.size());
    const PTL::CWindowDC dc(hControl);
    const HDC hdc = dc.Get();
    if (!hdc)
        return 0;
    const HFONT hFont = reinterpret_cast<HFONT>(SendMessageW(hDialog, WM_GETFONT, 0, 0));
    const HGDIOBJ hOld = hFont ? SelectObject(hdc, hFont) : nullptr;
    SIZE size = {0, 0};
    GetTextExtentPoint32W(hdc, strText.c_str(), nLength, &size);
    if (hOld)
        SelectObject(hdc, hOld);
    return size.cx;
}

namespace
{
std::vector<HWND> Children(HWND hDialog)
{
    std::vector<HWND> children;
    for (HWND h = GetWindow(hDialog, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT))
        children.push_back(h);
    return children;
}

// The nearest visible control on the label's line that begins at nFromX or to its right: the
// label's value.
HWND ValueOf(HWND hDialog, const std::vector<HWND>& children, HWND hLabel, const RECT& rcLabel, int nFromX,
             RECT& rcValue)
{
    HWND hValue = nullptr;
    for (HWND hOther : children)
    {
        const RECT rc = RectInDialog(hDialog, hOther);
        const bool bSameLine = rc.top < rcLabel.bottom && rc.bottom > rcLabel.top;
        if (hOther == hLabel || !(GetWindowLongPtrW(hOther, GWL_STYLE) & WS_VISIBLE) || !bSameLine || rc.left < nFromX)
            continue;
        if (!hValue || rc.left < rcValue.left)
        {
            hValue = hOther;
            rcValue = rc;
        }
    }
    return hValue;
}
}  // namespace

void FitDialogLabels(HWND hDialog)
{
    const std::vector<HWND> children = Children(hDialog);
    const int nSlack = PTL::ScaleForDpi(1, PTL::WindowDpi(hDialog));
    for (HWND hLabel : children)
    {
        if (!IsLabel(hLabel))
            continue;
        RECT rcLabel = RectInDialog(hDialog, hLabel);
        // One pixel of slack at 96 DPI: the static control draws its text from its left edge.
        const int nGrow = TextWidthInDialogFont(hDialog, hLabel) + nSlack - (rcLabel.right - rcLabel.left);
        if (nGrow <= 0)
            continue;
        const int nOldRight = rcLabel.right;
        rcLabel.right += nGrow;
        MoveTo(hLabel, rcLabel);
        RECT rcValue = {};
        const HWND hValue = ValueOf(hDialog, children, hLabel, rcLabel, nOldRight - nSlack, rcValue);
        if (!hValue)
            continue;
        rcValue.left += nGrow;
        if (rcValue.left > rcValue.right)
            rcValue.left = rcValue.right;
        MoveTo(hValue, rcValue);
    }
}

HWND LabelledControl(HWND hDialog, HWND hLabel)
{
    RECT rcValue = {};
    const RECT rcLabel = RectInDialog(hDialog, hLabel);
    return ValueOf(hDialog, Children(hDialog), hLabel, rcLabel, rcLabel.left + 1, rcValue);
}

std::vector<HWND> DialogLabels(HWND hDialog)
{
    std::vector<HWND> labels;
    for (HWND h : Children(hDialog))
        if (IsLabel(h))
            labels.push_back(h);
    return labels;
}
