#include "tools/host/PageView.h"

#include <oleacc.h>
#include <wincodec.h>

#include <algorithm>

#include "ptl/Bitmap.h"
#include "ptl/Dpi.h"
#include "ptl/Handle.h"

namespace Host
{
namespace
{

const wchar_t WINDOW_CLASS[] = L"PL5HostPage";

}  // namespace

CPageView::~CPageView() { Destroy(); }

bool CPageView::Create(std::shared_ptr<CPageState> pState, IHTMLDocument2* pDocument, const std::wstring& strTitle)
{
    m_pState = std::move(pState);
    m_pDocument = pDocument;
    m_nGetObjectMessage = RegisterWindowMessageW(L"WM_HTML_GETOBJECT");
    WNDCLASSEXW wc = {sizeof(wc)};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = WINDOW_CLASS;
    RegisterClassExW(&wc);  // fails harmlessly when a second page registers it again
    m_nDpi = PTL::WindowDpi(nullptr);
    RECT rc = {0, 0, PTL::ScaleForDpi(WIDTH, m_nDpi), PTL::ScaleForDpi(HEIGHT, m_nDpi)};
    const DWORD nStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    AdjustWindowRect(&rc, nStyle, FALSE);
    m_hWnd = CreateWindowExW(0, WINDOW_CLASS, strTitle.c_str(), nStyle, 0, 0, rc.right - rc.left, rc.bottom - rc.top,
                             nullptr, nullptr, wc.hInstance, this);
    if (!m_hWnd)
        return false;
    m_nDpi = PTL::WindowDpi(m_hWnd);
    ShowWindow(m_hWnd, SW_SHOWNORMAL);
    UpdateWindow(m_hWnd);
    return true;
}

void CPageView::Destroy()
{
    if (m_hWnd)
    {
        SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
        DestroyWindow(m_hWnd);
        m_hWnd = nullptr;
    }
    m_pDocument.Release();
}

void CPageView::ScrollTo(POINT pt)
{
    // A page scrolls as far as its furthest element reaches.
    RECT rcClient = {};
    GetClientRect(m_hWnd, &rcClient);
    rcClient.right = MulDiv(rcClient.right, 96, int(m_nDpi));  // in page pixels
    rcClient.bottom = MulDiv(rcClient.bottom, 96, int(m_nDpi));
    LONG nRight = 0, nBottom = m_pState->nPageHeight;
    for (const auto& node : m_pState->page.nodes)
    {
        nRight = std::max(nRight, node.rcPage.right);
        nBottom = std::max(nBottom, node.rcPage.bottom);
    }
    const LONG nMaxX = std::max<LONG>(0, nRight - rcClient.right);
    const LONG nMaxY = std::max<LONG>(0, nBottom - rcClient.bottom);
    m_pState->ptScroll.x = std::clamp<LONG>(pt.x, 0, nMaxX);
    m_pState->ptScroll.y = std::clamp<LONG>(pt.y, 0, nMaxY);
    if (onScrolled)
        onScrolled();
    InvalidateRect(m_hWnd, nullptr, TRUE);
}

RECT CPageView::ToClient(const RECT& rcPage) const
{
    RECT rc = rcPage;
    OffsetRect(&rc, -m_pState->ptScroll.x, -m_pState->ptScroll.y);
    const UINT nDpi = m_nDpi;
    return RECT{PTL::ScaleForDpi(rc.left, nDpi), PTL::ScaleForDpi(rc.top, nDpi), PTL::ScaleForDpi(rc.right, nDpi),
                PTL::ScaleForDpi(rc.bottom, nDpi)};
}

void CPageView::SetFocusedNode(size_t nNode)
{
    m_nFocusedNode = nNode;
    InvalidateRect(m_hWnd, nullptr, TRUE);
}

RECT CPageView::ToScreen(const RECT& rcPage) const
{
    RECT rc = ToClient(rcPage);
    MapWindowPoints(m_hWnd, nullptr, reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

void CPageView::Refresh()
{
    if (!m_hWnd)
        return;
    RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

// Elements with a box of their own get a border; every element shows its own text at its top
// left. An OBJECT's box is framed too; an active control covers it with its window.
void CPageView::Paint(HDC hdc) const
{
    RECT rcClient;
    GetClientRect(m_hWnd, &rcClient);
    FillRect(hdc, &rcClient, GetSysColorBrush(COLOR_WINDOW));
    const HGDIOBJ hOldFont = SelectObject(hdc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(hdc, TRANSPARENT);
    SetTextColor(hdc, GetSysColor(COLOR_WINDOWTEXT));
    const PTL::CGdiObject<HPEN> border(CreatePen(PS_SOLID, 1, RGB(160, 160, 160)));
    for (size_t i = 1; i < m_pState->page.nodes.size(); ++i)
    {
        const CPageNode& node = m_pState->page.nodes[i];
        const RECT rc = ToClient(node.rcPage);
        if (node.nObject >= 0 || node.bAbsolute || node.nStyleWidth >= 0 || node.nStyleHeight >= 0)
        {
            const HGDIOBJ hOldPen = SelectObject(hdc, border.Get());
            const HGDIOBJ hOldBrush = SelectObject(hdc, GetStockObject(NULL_BRUSH));
            Rectangle(hdc, rc.left, rc.top, rc.right, rc.bottom);
            SelectObject(hdc, hOldBrush);
            SelectObject(hdc, hOldPen);
        }
        if (i == m_nFocusedNode && node.nObject < 0)
        {
            RECT rcFocus = rc;
            InflateRect(&rcFocus, -1, -1);
            DrawFocusRect(hdc, &rcFocus);
        }
        if (!node.strText.empty())
        {
            const int nX = PTL::ScaleForDpi(3, m_nDpi), nY = PTL::ScaleForDpi(2, m_nDpi);
            RECT rcText = {rc.left + nX, rc.top + nY, std::max(rc.right - nX, rc.left + nX), rc.bottom};
            DrawTextW(hdc, node.strText.c_str(), int(node.strText.size()), &rcText,
                      DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
        }
    }
    SelectObject(hdc, hOldFont);
}

LRESULT CALLBACK CPageView::WindowProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam)
{
    if (nMsg == WM_NCCREATE)
    {
        const auto* pCreate = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, LONG_PTR(pCreate->lpCreateParams));
    }
    auto* pThis = reinterpret_cast<CPageView*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (!pThis)
        return DefWindowProcW(hWnd, nMsg, wParam, lParam);
    // Without a browser the control asks the window it lives in for the document.
    if (nMsg == pThis->m_nGetObjectMessage && pThis->m_nGetObjectMessage != 0 && pThis->m_pDocument)
        return LresultFromObject(IID_IHTMLDocument2, wParam, pThis->m_pDocument.Get());
    switch (nMsg)
    {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        const HDC hdc = BeginPaint(hWnd, &ps);
        pThis->Paint(hdc);
        EndPaint(hWnd, &ps);
        return 0;
    }
    case WM_ERASEBKGND: return 1;
    case WM_SETFOCUS:
        if (pThis->onFocus)
            pThis->onFocus();
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_TAB && pThis->onTab)
        {
            pThis->onTab(GetKeyState(VK_SHIFT) < 0);
            return 0;
        }
        break;
    case WM_DPICHANGED: {
        // Moved to a monitor of another DPI: the page is shown larger or smaller, its controls too.
        pThis->m_nDpi = HIWORD(wParam);
        const RECT* pSuggested = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(hWnd, nullptr, pSuggested->left, pSuggested->top, pSuggested->right - pSuggested->left,
                     pSuggested->bottom - pSuggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        if (pThis->onScrolled)
            pThis->onScrolled();
        InvalidateRect(hWnd, nullptr, TRUE);
        return 0;
    }
    case WM_CLOSE: return 0;  // the page ends when its script ends it
    }
    return DefWindowProcW(hWnd, nMsg, wParam, lParam);
}

HRESULT CPageView::Capture(const RECT& rcClient, std::vector<DWORD>& pixels) const
{
    if (!m_hWnd)
        return E_UNEXPECTED;
    const int nWidth = rcClient.right - rcClient.left, nHeight = rcClient.bottom - rcClient.top;
    if (nWidth <= 0 || nHeight <= 0)
        return E_INVALIDARG;
    const PTL::CWindowDC window(m_hWnd);
    if (!window.Get())
        return E_FAIL;
    const PTL::CMemoryDC memory(CreateCompatibleDC(window.Get()));
    const PTL::CGdiObject<HBITMAP> bitmap(CreateCompatibleBitmap(window.Get(), nWidth, nHeight));
    if (!memory.IsValid() || !bitmap.IsValid())
        return E_OUTOFMEMORY;
    HRESULT hr = S_OK;
    const HGDIOBJ hOld = SelectObject(memory.Get(), bitmap.Get());
    if (!BitBlt(memory.Get(), 0, 0, nWidth, nHeight, window.Get(), rcClient.left, rcClient.top, SRCCOPY))
        hr = HRESULT_FROM_WIN32(GetLastError());
    SelectObject(memory.Get(), hOld);
    if (SUCCEEDED(hr))
    {
        BITMAPINFO info = PTL::TopDownPixels(nWidth, nHeight);
        pixels.assign(size_t(nWidth) * nHeight, 0);
        if (GetDIBits(memory.Get(), bitmap.Get(), 0, UINT(nHeight), pixels.data(), &info, DIB_RGB_COLORS) != nHeight)
            hr = E_FAIL;
    }
    for (DWORD& px : pixels)
        px &= 0xFFFFFF;
    return hr;
}

HRESULT CPageView::SaveScreenshot(const std::wstring& strPath) const
{
    RECT rc = {};
    if (m_hWnd)
        GetClientRect(m_hWnd, &rc);
    std::vector<DWORD> pixels;
    HRESULT hr = Capture(rc, pixels);
    if (FAILED(hr))
        return hr;
    const UINT nWidth = UINT(rc.right), nHeight = UINT(rc.bottom);

    PTL::CComPtr<IWICImagingFactory> pFactory;
    hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&pFactory));
    PTL::CComPtr<IWICBitmap> pBitmap;
    if (SUCCEEDED(hr))
        hr =
            pFactory->CreateBitmapFromMemory(nWidth, nHeight, GUID_WICPixelFormat32bppBGR, nWidth * 4,
                                             UINT(pixels.size() * 4), reinterpret_cast<BYTE*>(pixels.data()), &pBitmap);
    PTL::CComPtr<IWICStream> pStream;
    if (SUCCEEDED(hr))
        hr = pFactory->CreateStream(&pStream);
    if (SUCCEEDED(hr))
        hr = pStream->InitializeFromFilename(strPath.c_str(), GENERIC_WRITE);
    PTL::CComPtr<IWICBitmapEncoder> pEncoder;
    if (SUCCEEDED(hr))
        hr = pFactory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &pEncoder);
    if (SUCCEEDED(hr))
        hr = pEncoder->Initialize(pStream.Get(), WICBitmapEncoderNoCache);
    PTL::CComPtr<IWICBitmapFrameEncode> pFrame;
    if (SUCCEEDED(hr))
        hr = pEncoder->CreateNewFrame(&pFrame, nullptr);
    if (SUCCEEDED(hr))
        hr = pFrame->Initialize(nullptr);
    if (SUCCEEDED(hr))
        hr = pFrame->SetSize(nWidth, nHeight);
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (SUCCEEDED(hr))
        hr = pFrame->SetPixelFormat(&format);
    if (SUCCEEDED(hr))
        hr = pFrame->WriteSource(pBitmap.Get(), nullptr);
    if (SUCCEEDED(hr))
        hr = pFrame->Commit();
    if (SUCCEEDED(hr))
        hr = pEncoder->Commit();
    return hr;
}

}  // namespace Host
