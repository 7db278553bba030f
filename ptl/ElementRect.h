// Where an HTML element lies on its page, read through the browser's element interface.
#pragma once
#include <windows.h>
#include <mshtml.h>

namespace PTL
{
// The element's rectangle in page coordinates: its offsets summed up the offset-parent chain,
// its offset size. False when the element or its size cannot be read.
bool ElementPageRect(IHTMLElement* pElement, RECT& rc);
}  // namespace PTL
