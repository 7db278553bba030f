// Applies the module's registry scripts (resources of type "REGISTRY").
//
// The script language is the usual one for COM servers:
//   HKCR { [NoRemove|ForceRemove|Delete] name [= s 'text' | = d 'number'] [{ ... }] }
// with "val name = s 'text'" for named values inside a key's braces. %NAME% is replaced by the
// caller's values before parsing. Registering creates every key and value (a ForceRemove key is
// deleted with its subtree first); unregistering deletes every key not marked NoRemove, and
// walks into NoRemove keys to delete what is below them.
#pragma once
#include <windows.h>
#include <string>
#include <utility>
#include <vector>

namespace PTL
{
using RegistrarReplacements = std::vector<std::pair<std::wstring, std::wstring>>;

class CRegistrar
{
public:
    static HRESULT UpdateFromResource(HINSTANCE hInstance, UINT nId, bool bRegister,
                                      const RegistrarReplacements& replacements);
    // The same for a script text; used by the resource path and by tests.
    static HRESULT UpdateFromScript(const std::wstring& strScript, bool bRegister,
                                    const RegistrarReplacements& replacements);
};
}  // namespace PTL
