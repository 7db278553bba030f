// The process-wide language table: texts, the context menu and dialog templates of the active
// language pack, looked up by id. All of it lives on the page's thread; the upload worker only
// reads strings, which is why a lookup never inserts and a pack change is refused while an
// upload runs.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace PL5Lang
{
// A private copy of one menu or dialog template (RT_MENU / extended RT_DIALOG data).
struct CLangBlock
{
    std::vector<BYTE> data;
};

// Maps the embedded pack for a two-letter code ("ko"/"KO" Korean, anything else English) and,
// when its signature is right, makes it the active table and recomputes the message caption.
// Returns false (and keeps the active table) when the pack cannot be used or an upload runs.
bool LoadLanguage(const wchar_t* szCode);

// The active table's text for an id, or the empty text. Never inserts.
std::wstring GetString(UINT nId);

// Template blocks of the active table, or nullptr.
const CLangBlock* FindMenu(UINT nId);
const CLangBlock* FindDialog(UINT nId);

// String 100 of the active pack, plus " - " and the program title when that is not empty.
std::wstring MessageCaption();

// The process-wide program title (ProgramTitle); reset to "Pelora" by every new control.
void SetProgramTitle(const wchar_t* szTitle);
std::wstring ProgramTitle();

// Uploads in progress: while any runs, LoadLanguage refuses to swap the table.
void BeginUpload();
void EndUpload();
} // namespace PL5Lang
