// The page's window: the parent of every control on the page. It paints the page's elements as
// boxes with their texts, scrolls, hands its document to whoever sends the registered message
// "WM_HTML_GETOBJECT", and saves what it shows as a PNG. As a browser does, it shows page pixels
// at the window's DPI: 100 page pixels are 150 screen pixels at 144 DPI.
#pragma once

#include "tools/host/PageDocument.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Host
{

class CPageView
{
public:
    static constexpr int WIDTH = 800;  // client size of the page window, in page pixels
    static constexpr int HEIGHT = 600;

    CPageView() = default;
    ~CPageView();
    CPageView(const CPageView&) = delete;
    CPageView& operator=(const CPageView&) = delete;

    // Creates and shows the window titled strTitle; false when it cannot be made.
    bool Create(std::shared_ptr<CPageState> pState, IHTMLDocument2* pDocument, const std::wstring& strTitle);
    void Destroy();
    HWND Window() const { return m_hWnd; }

    // Scrolls to page coordinates (kept inside the page); onScrolled then moves the controls.
    void ScrollTo(POINT pt);
    std::function<void()> onScrolled;

    // Tab (bBack: Shift+Tab) pressed while the page itself has the focus.
    std::function<void(bool bBack)> onTab;
    // The page window got the focus (it was activated again, a dialog it owned closed).
    std::function<void()> onFocus;
    // The node drawn with the focus rectangle; 0 (the body) for none.
    void SetFocusedNode(size_t nNode);

    // A page box in client and in screen coordinates.
    RECT ToClient(const RECT& rcPage) const;
    RECT ToScreen(const RECT& rcPage) const;
    // Paints now what has changed, so a screenshot or a person sees the current page.
    void Refresh();
    // Writes the window as it is on the screen (its frame excluded) to a PNG file.
    HRESULT SaveScreenshot(const std::wstring& strPath) const;
    // The pixels the window shows in rcClient (client coordinates), 0x00RRGGBB, top row first.
    HRESULT Capture(const RECT& rcClient, std::vector<DWORD>& pixels) const;

private:
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
    void Paint(HDC hdc) const;

    HWND m_hWnd = nullptr;
    std::shared_ptr<CPageState> m_pState;
    PTL::CComPtr<IHTMLDocument2> m_pDocument;
    UINT m_nGetObjectMessage = 0;
    UINT m_nDpi = 96;
    size_t m_nFocusedNode = 0;
};

}  // namespace Host
