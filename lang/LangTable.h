// The process-wide language table: texts, the context menu and dialog templates of the active
// language pack, looked up by id. A browser runs the pages of several tabs on several threads of
// one process, and upload workers read texts too, so every function here may be called from any
// thread: a pack change is one step under a lock, lookups never insert, the tables of both packs
// stay in memory once read (a block handed out stays valid), and no pack change is made while
// an upload runs anywhere in the process.
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

// A window to tell when a pack change refused because uploads run may be asked again: it is
// posted nMsg once the last upload of the process has ended.
struct CRetryNotice
{
    HWND hWnd = nullptr;
    UINT nMsg = 0;
};

// The same, then calls fnActivated after a pack was made active: the asking control sets its
// column titles and refreshes its status texts there. fnActivated must not throw. When the
// change is refused because an upload runs, the notice's window (if any) is told when the
// uploads are over; a window is told once however often it asked.
bool LoadLanguage(const wchar_t* szCode, const std::function<void()>& fnActivated,
                  const CRetryNotice& notice = CRetryNotice());

// Drops the notices of a window that goes away.
void ForgetRetryNotice(HWND hWnd);

// The active table's text for an id, or the empty text. Never inserts.
std::wstring GetString(UINT nId);

// Template blocks of the active table, or nullptr. A block stays valid until the module is
// unloaded, whatever pack is made active meanwhile.
const CLangBlock* FindMenu(UINT nId);
const CLangBlock* FindDialog(UINT nId);

// String 100 of the active pack, plus " - " and the program title when that is not empty, as
// computed when the pack was made active.
std::wstring MessageCaption();

// The process-wide program title (ProgramTitle); reset to "Pelora" by every new control.
void SetProgramTitle(const wchar_t* szTitle);
void SetProgramTitle(std::wstring strTitle);
std::wstring ProgramTitle();

// Uploads in progress, counted for the whole process: while any runs, on any thread,
// LoadLanguage refuses to swap the table. BeginUpload before the worker starts, EndUpload after
// it has ended.
void BeginUpload();
void EndUpload();
bool UploadsRun();

// Sets columns 0 and 1 of a report list view to strings 101 and 102.
void ApplyColumnTitles(HWND hListView);
}  // namespace PL5Lang
