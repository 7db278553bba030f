#include "ptl/ElementRect.h"
#include "ptl/ComPtr.h"

namespace PTL
{
bool ElementPageRect(IHTMLElement* pElement, RECT& rc)
{
    if (!pElement)
        return false;
    long nWidth = 0, nHeight = 0;
    if (FAILED(pElement->get_offsetWidth(&nWidth)) || FAILED(pElement->get_offsetHeight(&nHeight)))
        return false;
    long nLeft = 0, nTop = 0;
    // Bounded: a page model whose parent chain loops must not hang the caller.
    CComPtr<IHTMLElement> pCurrent = pElement;
    for (int nDepth = 0; pCurrent && nDepth < 1000; ++nDepth)
    {
        long nX = 0, nY = 0;
        pCurrent->get_offsetLeft(&nX);
        pCurrent->get_offsetTop(&nY);
        nLeft += nX;
        nTop += nY;
        CComPtr<IHTMLElement> pParent;
        if (FAILED(pCurrent->get_offsetParent(&pParent)))
            break;
        pCurrent = pParent;
    }
    SetRect(&rc, nLeft, nTop, nLeft + nWidth, nTop + nHeight);
    return true;
}
}  // namespace PTL
