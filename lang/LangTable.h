// The process-wide language table: texts, the context menu and dialog templates of the active
// language pack, looked up by id. All of it lives on the page's thread; the upload worker only
// reads strings, which is why a lookup never inserts and a pack change is refused while an
// upload runs.
#pragma once
#include <windows.h>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace PL5Lang
{
// A private copy of one menu or dialog template (RT_MENU / extended RT_DIALOG data).
struct CLangBlock
{
    std::vector<BYTE> data;
};

// The resources of one pack: the active table, or the scratch table while a pack is read.
struct CLangTable
{
    std::map<UINT, CLangBlock> menus;
    std::map<UINT, CLangBlock> dialogs;
    std::map<UINT, std::wstring> strings;
};

// Maps the embedded pack for the first two characters of szCode ("ko" in any case: Korean,
// anything else: English) and, when the pack's tag and its language code (compared with those
// two characters without regard to case) are right, makes it the active table and recomputes
// the message caption. Returns false, keeping the active table, when the pack cannot be used or
// an upload runs.
bool LoadLanguage(const wchar_t* szCode);

// The same, then calls fnActivated after a pack was made active: the asking control sets its
// column titles and refreshes its status texts there. fnActivated must not throw.
bool LoadLanguage(const wchar_t* szCode, const std::function<void()>& fnActivated);

// The active table's text for an id, or the empty text. Never inserts.
std::wstring GetString(UINT nId);

// Template blocks of the active table, or nullptr. A pointer stays valid until the next pack
// is made active.
const CLangBlock* FindMenu(UINT nId);
const CLangBlock* FindDialog(UINT nId);

// String 100 of the active pack, plus " - " and the program title when that is not empty, as
// computed when the pack was made active.
std::wstring MessageCaption();

// The process-wide program title (ProgramTitle); reset to "Pelora" by every new control.
void SetProgramTitle(const wchar_t* szTitle);
std::wstring ProgramTitle();

// Uploads in progress: while any runs, LoadLanguage refuses to swap the table. Call both on the
// page's thread, BeginUpload before the worker starts and EndUpload after it has ended.
void BeginUpload();
void EndUpload();

// Sets columns 0 and 1 of a report list view to strings 101 and 102.
void ApplyColumnTitles(HWND hListView);
} // namespace PL5Lang
