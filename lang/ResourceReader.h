// Reads the strings, menus and dialog templates of a mapped pack into a language table.
#pragma once
#include "lang/LangTable.h"
#include "ptl/PEModule.h"

namespace PL5Lang
{
// Fills table from the mapped module's resource directory: RT_MENU and RT_DIALOG entries with a
// single language are copied, RT_STRING blocks are split into their strings, other types are
// ignored. A directory that points outside the image or at unreadable pages makes it return
// false with the table emptied.
bool ReadResources(const PTL::CPEModule& module, CLangTable& table);

// Maps the pack carried as resource nId of type "RSRC" in hModule and reads it into table.
// False when the resource is missing or empty, the loader refuses the image or its resources
// are malformed.
bool ReadPack(HMODULE hModule, UINT nId, CLangTable& table);
}  // namespace PL5Lang
