// The file-open dialog of the control: the system's explorer-style common dialog with a hook,
// resizable, optionally with the language pack's panel below it, and a result buffer that grows
// with the selection so that no choice is lost to its size.
#pragma once
#include <windows.h>
#include <commdlg.h>
#include "ptl/Handle.h"
#include <string>
#include <vector>

namespace PL5Lang
{
struct CLangBlock;
}

// The dialog's filter string for a list of (name, pattern) pairs: name NUL pattern NUL per
// pair and one more NUL; with no pairs the catch-all strAllFiles with "*.*". Line feeds inside
// a name or a pattern separate as NULs do, so one text may carry several pairs.
struct CFilterPair
{
    std::wstring strName;
    std::wstring strPattern;
};
std::wstring MakeDialogFilter(const std::vector<CFilterPair>& pairs, const std::wstring& strAllFiles);

// The chosen paths in a dialog result: one full path, or a folder followed by names that are
// joined to it with one backslash.
std::vector<std::wstring> SplitDialogResult(const wchar_t* szResult);

// A private copy of a dialog template for the dialog's template handle, or nothing for null or
// an empty block.
PTL::CGlobalMemory CopyDialogTemplate(const PL5Lang::CLangBlock* pBlock);

class CFileDialogEx
{
public:
    static constexpr DWORD INITIAL_BUFFER = 10240;  // characters the dialog may fill at first

    // Always explorer style with the hook and resizing; pTemplate (may be null) becomes the
    // child panel when dwFlags asks for a template handle.
    CFileDialogEx(bool bOpen, DWORD dwFlags, const std::wstring& strFilter, HWND hOwner,
                  const PL5Lang::CLangBlock* pTemplate = nullptr);
    CFileDialogEx(const CFileDialogEx&) = delete;
    CFileDialogEx& operator=(const CFileDialogEx&) = delete;

    // IDOK when the user chose, else IDCANCEL (also when the dialog could not be shown).
    INT_PTR DoModal();
    std::vector<std::wstring> SelectedPaths() const { return SplitDialogResult(m_buffer.data()); }
    const wchar_t* Result() const { return m_buffer.data(); }

private:
    static UINT_PTR CALLBACK HookProc(HWND hChild, UINT uMsg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK DialogSubclassProc(HWND hDialog, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR uId,
                                               DWORD_PTR dwRef);
    // Makes the result buffer large enough for what the dialog would return now.
    void FitSelection(HWND hDialog);

    static constexpr size_t GUARD = 2;  // NULs behind what the dialog may fill

    bool m_bOpen;
    OPENFILENAMEW m_ofn;
    OPENFILENAMEW* m_pLive = nullptr;  // the description the dialog itself reads, from the hook
    std::vector<wchar_t> m_buffer;
    std::wstring m_strFilter;
    PTL::CGlobalMemory m_template;
};
