#include "filelist/DropZones.h"

bool CDropZones::Append(const VARIANT& varTag, const std::wstring& strInputName)
{
    // VBScript hands arguments over by reference.
    const VARIANT& var = (varTag.vt == (VT_BYREF | VT_VARIANT) && varTag.pvarVal) ? *varTag.pvarVal : varTag;
    CZone zone;
    zone.strInputName = strInputName;
    switch (var.vt)
    {
    case VT_BSTR:
        zone.strId.assign(var.bstrVal ? var.bstrVal : L"", var.bstrVal ? SysStringLen(var.bstrVal) : 0);
        break;
    case VT_DISPATCH:
        if (!var.pdispVal)
            return false;
        zone.pElement = var.pdispVal;
        break;
    case VT_UNKNOWN:
        if (!var.punkVal ||
            FAILED(var.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&zone.pElement))))
            return false;
        break;
    default: return false;
    }
    m_zones.push_back(std::move(zone));
    return true;
}

bool CDropZones::HitTest(IListPage& page, HWND hPageWindow, POINT ptScreen, std::wstring& strInputName) const
{
    if (m_zones.empty() || !page.HasDocument())
        return false;
    POINT ptScroll = {};
    if (!page.PageScroll(ptScroll))
        return false;
    // Page coordinates: the point in the page window's client area plus how far it is scrolled.
    POINT pt = ptScreen;
    if (!ScreenToClient(hPageWindow, &pt))
        return false;
    pt.x += ptScroll.x;
    pt.y += ptScroll.y;
    for (const CZone& zone : m_zones)
    {
        RECT rc = {};
        const bool bFound =
            zone.pElement ? page.ElementRectOf(zone.pElement, rc) : page.ElementRectById(zone.strId, rc);
        if (bFound && PtInRect(&rc, pt))
        {
            strInputName = zone.strInputName;
            return true;
        }
    }
    return false;
}
