// What the file list needs from the hosting page: element texts for the status mirrors, and
// element rectangles and the page's scroll offsets for the drop zones. The control's page link
// answers it; the file list never talks to the browser itself.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <string>

class IListPage
{
public:
    virtual ~IListPage() = default;
    // Whether the page's document is at hand (a failed connection is tried again here).
    virtual bool HasDocument() = 0;
    // Sets the inner text of the element with this id; false when the page has none.
    virtual bool SetElementText(const std::wstring& strId, const std::wstring& strText) = 0;
    // An element's rectangle in page coordinates: offsets summed up the offset-parent chain,
    // right and bottom from the offset width and height. False when there is no such element.
    virtual bool ElementRectById(const std::wstring& strId, RECT& rc) = 0;
    virtual bool ElementRectOf(IDispatch* pElement, RECT& rc) = 0;
    // The page's scroll offsets: the body's, or the document element's when both of the
    // body's are 0. False without a document.
    virtual bool PageScroll(POINT& ptScroll) = 0;
};
