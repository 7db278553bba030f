// The control's properties as its property table lists them, for tests: each dispid by the
// property's name (PropertyId::MaxFileCount), and the names in the table's order.
#pragma once
#include <string>
#include <vector>

#include "control/PL5Properties.h"

namespace PropertyId
{
#define PL5_PROPERTY_ID(name, dispid, ...) constexpr DISPID name = dispid;
PL5_PROPERTIES(PL5_PROPERTY_ID, PL5_PROPERTY_ID)
#undef PL5_PROPERTY_ID

// Every name of the table, in its order (the order a container loads them in).
#define PL5_PROPERTY_NAME(name, ...) L"" #name,
inline const std::vector<std::wstring> Names = {PL5_PROPERTIES(PL5_PROPERTY_NAME, PL5_PROPERTY_NAME)};
#undef PL5_PROPERTY_NAME
}  // namespace PropertyId
