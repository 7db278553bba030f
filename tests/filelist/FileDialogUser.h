// Works the file dialog of this process as a user would, from its own thread: waits for the
// dialog, notes what it offers (filters, panel texts, style), then for each step types a text
// into the file name box and presses Open, and at the end presses Open once more or Cancel.
#pragma once
#include <windows.h>
#include <dlgs.h>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

struct CSeenFileDialog
{
    bool bFound = false;
    std::vector<std::wstring> filters;  // the file type box's entries
    std::vector<std::wstring> texts;    // every window text inside the dialog, panel included
    bool bResizable = false;
    bool bLeftOpen = false;  // still open after the last step: it was cancelled to end the test
};

class CFileDialogUser
{
public:
    // steps: texts typed in turn, each followed by Open; bCancel presses Cancel after them.
    CFileDialogUser(std::vector<std::wstring> steps, bool bCancel)
        : m_steps(std::move(steps)), m_bCancel(bCancel), m_thread([this] { Run(); })
    {
    }
    ~CFileDialogUser() { Finish(); }
    CFileDialogUser(const CFileDialogUser&) = delete;
    CFileDialogUser& operator=(const CFileDialogUser&) = delete;

    // Waits for the user to be done; the dialog's method has returned by then.
    const CSeenFileDialog& Seen()
    {
        Finish();
        return m_seen;
    }

    // A file dialog of this process that is open now: the file dialog found, or null.
    static HWND FindOpen()
    {
        HWND hFound = nullptr;
        EnumWindows(
            [](HWND hWnd, LPARAM lParam) -> BOOL {
                DWORD dwPid = 0;
                GetWindowThreadProcessId(hWnd, &dwPid);
                wchar_t szClass[16] = L"";
                GetClassNameW(hWnd, szClass, 16);
                if (dwPid == GetCurrentProcessId() && IsWindowVisible(hWnd) && wcscmp(szClass, L"#32770") == 0 &&
                    (GetDlgItem(hWnd, cmb13) || GetDlgItem(hWnd, edt1)))
                {
                    *reinterpret_cast<HWND*>(lParam) = hWnd;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&hFound));
        return hFound;
    }

private:
    void Finish()
    {
        if (m_thread.joinable())
            m_thread.join();
    }

    static std::wstring Text(HWND hWnd)
    {
        std::vector<wchar_t> text(GetWindowTextLengthW(hWnd) + 1, L'\0');
        GetWindowTextW(hWnd, text.data(), static_cast<int>(text.size()));
        return text.data();
    }

    // The edit window a user types the name into: the box itself or the edit inside it.
    static HWND NameEdit(HWND hDialog)
    {
        HWND hBox = GetDlgItem(hDialog, cmb13);
        if (!hBox)
            return GetDlgItem(hDialog, edt1);
        HWND hEdit = FindWindowExW(hBox, nullptr, L"Edit", nullptr);
        if (!hEdit)  // an extended combo holds a combo that holds the edit
            if (HWND hInner = FindWindowExW(hBox, nullptr, L"ComboBox", nullptr))
                hEdit = FindWindowExW(hInner, nullptr, L"Edit", nullptr);
        return hEdit ? hEdit : hBox;
    }

    void Note(HWND hDialog)
    {
        m_seen.bFound = true;
        m_seen.bResizable = (GetWindowLongW(hDialog, GWL_STYLE) & WS_THICKFRAME) != 0;
        HWND hTypes = GetDlgItem(hDialog, cmb1);
        const LRESULT nTypes = hTypes ? SendMessageW(hTypes, CB_GETCOUNT, 0, 0) : 0;
        for (LRESULT i = 0; i < nTypes; ++i)
        {
            std::vector<wchar_t> text(SendMessageW(hTypes, CB_GETLBTEXTLEN, i, 0) + 1, L'\0');
            SendMessageW(hTypes, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()));
            m_seen.filters.push_back(text.data());
        }
        EnumChildWindows(
            hDialog,
            [](HWND hWnd, LPARAM lParam) -> BOOL {
                reinterpret_cast<std::vector<std::wstring>*>(lParam)->push_back(Text(hWnd));
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&m_seen.texts));
    }

    void Run()
    {
        HWND hDialog = nullptr;
        for (int i = 0; i < 200 && !hDialog; ++i, Sleep(50))
            hDialog = FindOpen();
        if (!hDialog)
            return;
        Sleep(300);  // let the dialog finish filling itself
        Note(hDialog);
        for (const std::wstring& strStep : m_steps)
        {
            SendMessageW(NameEdit(hDialog), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(strStep.c_str()));
            PostMessageW(GetDlgItem(hDialog, IDOK), BM_CLICK, 0, 0);
            Sleep(300);
            if (!IsWindow(hDialog))
                return;
        }
        for (int i = 0; i < 60 && !m_bCancel && IsWindow(hDialog); ++i)
            Sleep(50);
        m_seen.bLeftOpen = !m_bCancel && IsWindow(hDialog);
        if (IsWindow(hDialog))
            PostMessageW(GetDlgItem(hDialog, IDCANCEL), BM_CLICK, 0, 0);
        for (int i = 0; i < 200 && IsWindow(hDialog); ++i)
            Sleep(50);
    }

    std::vector<std::wstring> m_steps;
    bool m_bCancel;
    CSeenFileDialog m_seen;
    std::thread m_thread;
};
