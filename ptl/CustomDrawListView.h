// CCustomDrawListView<T>: a list view window subclassed by the class T that uses it. The parent
// window reflects its children's notifications back to them (OCM_NOTIFY, olectl.h), so the view
// answers its own display-information requests, item changes, clicks and custom drawing; T
// gets them without virtual calls by hiding the default handlers below.
//
// The object does not own the window: the window dies with its parent, and the subclass is
// removed when the window goes (WM_NCDESTROY) or the object does, whichever comes first.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <olectl.h>
#include "ptl/Module.h"

namespace PTL
{
template <class T>
class CCustomDrawListView
{
public:
    CCustomDrawListView() = default;
    ~CCustomDrawListView() { UnsubclassWindow(); }
    CCustomDrawListView(const CCustomDrawListView&) = delete;
    CCustomDrawListView& operator=(const CCustomDrawListView&) = delete;

    bool SubclassWindow(HWND hWnd)
    {
        UnsubclassWindow();
        if (!hWnd || !SetWindowSubclass(hWnd, &SubclassProc, SUBCLASS_ID, reinterpret_cast<DWORD_PTR>(this)))
            return false;
        m_hWnd = hWnd;
        return true;
    }

    void UnsubclassWindow()
    {
        if (!m_hWnd)
            return;
        RemoveWindowSubclass(m_hWnd, &SubclassProc, SUBCLASS_ID);
        m_hWnd = nullptr;
    }

    HWND Window() const { return m_hWnd; }
    bool HasWindow() const { return m_hWnd != nullptr; }

    LRESULT Send(UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return m_hWnd ? SendMessageW(m_hWnd, uMsg, wParam, lParam) : 0;
    }

protected:
    // ---- default handlers; T hides the ones it answers ----
    void OnGetDispInfo(NMLVDISPINFOW&) {}
    void OnItemChanged(const NMLISTVIEW&) {}
    void OnClick(const NMITEMACTIVATE&) {}
    void OnDblClick(const NMITEMACTIVATE&) {}
    // Asks for the item and sub-item stages and leaves every one of them to the view.
    LRESULT OnCustomDraw(NMLVCUSTOMDRAW& draw)
    {
        switch (draw.nmcd.dwDrawStage)
        {
        case CDDS_PREPAINT: return CDRF_NOTIFYITEMDRAW;
        case CDDS_ITEMPREPAINT: return CDRF_NOTIFYSUBITEMDRAW;
        default: return CDRF_DODEFAULT;
        }
    }
    // Any other message before the view sees it; true when handled (lResult is the answer).
    bool ProcessWindowMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }
    // The window is going; the subclass is already removed.
    void OnFinalMessage() {}

private:
    static const UINT_PTR SUBCLASS_ID = 0x504C35;

    LRESULT OnReflectedNotify(NMHDR& header)
    {
        T* pThis = static_cast<T*>(this);
        switch (header.code)
        {
        case LVN_GETDISPINFOW: pThis->OnGetDispInfo(reinterpret_cast<NMLVDISPINFOW&>(header)); return 0;
        case LVN_ITEMCHANGED: pThis->OnItemChanged(reinterpret_cast<NMLISTVIEW&>(header)); return 0;
        case NM_CLICK: pThis->OnClick(reinterpret_cast<NMITEMACTIVATE&>(header)); return 0;
        case NM_DBLCLK: pThis->OnDblClick(reinterpret_cast<NMITEMACTIVATE&>(header)); return 0;
        case NM_CUSTOMDRAW: return pThis->OnCustomDraw(reinterpret_cast<NMLVCUSTOMDRAW&>(header));
        default: return 0;
        }
    }

    static LRESULT CALLBACK SubclassProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR pData)
    {
        auto* pBase = reinterpret_cast<CCustomDrawListView*>(pData);
        T* pThis = static_cast<T*>(pBase);
        // Handlers run on the window's thread inside the system's dispatch: nothing may leave them
        // as an exception (a row's text that cannot be made stays empty until the next paint).
        try
        {
            if (uMsg == OCM_NOTIFY && lParam)
                return pBase->OnReflectedNotify(*reinterpret_cast<NMHDR*>(lParam));
            LRESULT lResult = 0;
            if (pThis->ProcessWindowMessage(uMsg, wParam, lParam, lResult))
                return lResult;
        }
        catch (...)
        {
            CModule::DebugLine(L"a list view handler failed");
            if (uMsg == OCM_NOTIFY)
                return 0;
        }
        if (uMsg == WM_NCDESTROY)
        {
            const LRESULT lResult = DefSubclassProc(hWnd, uMsg, wParam, lParam);
            pBase->UnsubclassWindow();
            pThis->OnFinalMessage();
            return lResult;
        }
        return DefSubclassProc(hWnd, uMsg, wParam, lParam);
    }

    HWND m_hWnd = nullptr;
};
}  // namespace PTL
