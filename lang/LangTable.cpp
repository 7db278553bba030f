// Placeholder until the pack loader lands: no pack is ever active.
#include "lang/LangTable.h"

namespace PL5Lang
{
namespace
{
std::wstring g_strProgramTitle = L"Pelora";
}
bool LoadLanguage(const wchar_t*) { return false; }
std::wstring GetString(UINT) { return std::wstring(); }
const CLangBlock* FindMenu(UINT) { return nullptr; }
const CLangBlock* FindDialog(UINT) { return nullptr; }
std::wstring MessageCaption() { return std::wstring(); }
void SetProgramTitle(const wchar_t* szTitle) { g_strProgramTitle = szTitle ? szTitle : L""; }
std::wstring ProgramTitle() { return g_strProgramTitle; }
void BeginUpload() {}
void EndUpload() {}
} // namespace PL5Lang
