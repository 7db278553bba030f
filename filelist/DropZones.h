// The page's drop zones: elements registered by script (by id or as element objects), each
// with the input name fixed at registration. The first registered zone under the pointer wins.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <string>
#include <vector>
#include "filelist/ListPage.h"
#include "ptl/ComPtr.h"

class CDropZones
{
public:
    // Text: an element id; an object: the element itself (held until Clear). Other kinds are
    // ignored (false). Zones are not checked here: an id that names nothing is kept.
    bool Append(const VARIANT& varTag, const std::wstring& strInputName);
    void Clear() { m_zones.clear(); }
    size_t Count() const { return m_zones.size(); }

    // The input name of the first zone whose element contains the point (screen coordinates),
    // with the page scrolled as it is and hPageWindow the window the page is drawn in. Right
    // and bottom edges are outside. False when no zone is hit or there is no document.
    bool HitTest(IListPage& page, HWND hPageWindow, POINT ptScreen, std::wstring& strInputName) const;

private:
    struct CZone
    {
        std::wstring strId;  // by id, when pElement is empty
        PTL::CComPtr<IDispatch> pElement;
        std::wstring strInputName;
    };
    std::vector<CZone> m_zones;
};
