// Notification reflection: a message that a child control sends to its parent is sent back to
// that child as OCM__BASE (0x2000) plus the message number, so the control can answer its own
// notifications (custom drawing, owner data) instead of its parent.
#pragma once
#include <windows.h>
#include <olectl.h>  // OCM__BASE

namespace PTL
{
// The child that sent a parent notification, or nullptr when the message is none.
inline HWND NotificationSender(HWND hParent, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg)
    {
    case WM_COMMAND: return reinterpret_cast<HWND>(lParam);  // null for menus and accelerators
    case WM_NOTIFY: return lParam ? reinterpret_cast<const NMHDR*>(lParam)->hwndFrom : nullptr;
    case WM_PARENTNOTIFY:
        switch (LOWORD(wParam))
        {
        case WM_CREATE:
        case WM_DESTROY: return reinterpret_cast<HWND>(lParam);
        default: return GetDlgItem(hParent, HIWORD(wParam));
        }
    case WM_DRAWITEM: return (wParam && lParam) ? reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)->hwndItem : nullptr;
    case WM_MEASUREITEM:
        return (wParam && lParam)
                   ? GetDlgItem(hParent, static_cast<int>(reinterpret_cast<const MEASUREITEMSTRUCT*>(lParam)->CtlID))
                   : nullptr;
    case WM_COMPAREITEM: return lParam ? reinterpret_cast<const COMPAREITEMSTRUCT*>(lParam)->hwndItem : nullptr;
    case WM_DELETEITEM: return lParam ? reinterpret_cast<const DELETEITEMSTRUCT*>(lParam)->hwndItem : nullptr;
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_HSCROLL:
    case WM_VSCROLL:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: return reinterpret_cast<HWND>(lParam);
    default: return nullptr;
    }
}

// Sends a notification back to the direct child that sent it. FALSE when the message is no
// notification or its sender is not a child of hParent; the caller then handles it itself.
inline BOOL ReflectNotification(HWND hParent, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult)
{
    const HWND hChild = NotificationSender(hParent, uMsg, wParam, lParam);
    if (!hChild || !IsWindow(hChild) || GetParent(hChild) != hParent)
        return FALSE;
    lResult = SendMessageW(hChild, OCM__BASE + uMsg, wParam, lParam);
    // A control that ignores a reflected colour request answers 0, which is no brush: the
    // parent's default colours apply then.
    if (lResult == 0 && uMsg >= WM_CTLCOLORMSGBOX && uMsg <= WM_CTLCOLORSTATIC)
        return FALSE;
    return TRUE;
}
}  // namespace PTL
