// Works this process's file dialog as a user would, from its own thread: waits for it (through
// the dialog watcher's finding), notes its file type entries, texts and frame, types each step
// into the file name box and presses Open; at the end (or if it is still open) presses Cancel.
#pragma once
#include <windows.h>
#include <dlgs.h>
#include "tools/host/DialogWatcher.h"
#include <string>
#include <thread>
#include <vector>

struct CSeenFileDialog
{
    std::vector<std::wstring> filters, texts;
    bool bResizable = false, bLeftOpen = false;
};

class CFileDialogUser
{
public:
    CFileDialogUser(std::vector<std::wstring> steps, bool bCancel)
        : m_steps(std::move(steps)), m_bCancel(bCancel), m_thread([this] { Run(); })
    {
    }
    ~CFileDialogUser() { Seen(); }
    const CSeenFileDialog& Seen()
    {
        if (m_thread.joinable())
            m_thread.join();
        return m_seen;
    }

private:
    static BOOL CALLBACK NoteText(HWND hWnd, LPARAM lParam)
    {
        std::vector<wchar_t> text(GetWindowTextLengthW(hWnd) + 1, L'\0');
        GetWindowTextW(hWnd, text.data(), static_cast<int>(text.size()));
        reinterpret_cast<std::vector<std::wstring>*>(lParam)->push_back(text.data());
        return TRUE;
    }
    // Where a user types the name: the edit inside the name box (or inside its inner combo).
    static HWND NameEdit(HWND hDialog)
    {
        HWND hBox = GetDlgItem(hDialog, cmb13) ? GetDlgItem(hDialog, cmb13) : GetDlgItem(hDialog, edt1);
        HWND hInner = FindWindowExW(hBox, nullptr, L"ComboBox", nullptr);
        HWND hEdit = FindWindowExW(hInner ? hInner : hBox, nullptr, L"Edit", nullptr);
        return hEdit ? hEdit : hBox;
    }

    // Sends a message as a user's action would arrive, bounded so that a dialog stuck in a box of
    // its own cannot hold the test.
    static bool Answers(HWND hWnd, UINT nMessage)
    {
        DWORD_PTR nResult = 0;
        return SendMessageTimeoutW(hWnd, nMessage, 0, 0, SMTO_NORMAL, 10000, &nResult) != 0;
    }

    void Run()
    {
        const HWND hDialog = Host::WaitForDialog([](HWND hWnd) { return GetDlgItem(hWnd, cmb1) != nullptr; }, 10000);
        // Shown means its initialisation has run; a message it answers means its loop serves input.
        if (!hDialog || !Host::WaitUntil([hDialog] { return IsWindowVisible(hDialog) != FALSE; }, 10000) ||
            !Answers(hDialog, WM_NULL))
            return;
        m_seen.bResizable = (GetWindowLongW(hDialog, GWL_STYLE) & WS_THICKFRAME) != 0;
        HWND hTypes = GetDlgItem(hDialog, cmb1);
        for (LRESULT i = 0, n = SendMessageW(hTypes, CB_GETCOUNT, 0, 0); i < n; ++i)
        {
            std::vector<wchar_t> text(SendMessageW(hTypes, CB_GETLBTEXTLEN, i, 0) + 1, L'\0');
            SendMessageW(hTypes, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()));
            m_seen.filters.push_back(text.data());
        }
        EnumChildWindows(hDialog, NoteText, reinterpret_cast<LPARAM>(&m_seen.texts));
        for (const std::wstring& strStep : m_steps)
        {
            SendMessageW(NameEdit(hDialog), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(strStep.c_str()));
            // Sent, so the step (a change of folder, or the choice) has been handled when it returns.
            Answers(GetDlgItem(hDialog, IDOK), BM_CLICK);
        }
        if (!m_bCancel)
            Host::WaitUntil([hDialog] { return !IsWindow(hDialog); }, 3000);
        m_seen.bLeftOpen = !m_bCancel && IsWindow(hDialog);
        PostMessageW(GetDlgItem(hDialog, IDCANCEL), BM_CLICK, 0, 0);
        Host::WaitUntil([hDialog] { return !IsWindow(hDialog); }, 10000);
    }

    std::vector<std::wstring> m_steps;
    bool m_bCancel;
    CSeenFileDialog m_seen;
    std::thread m_thread;
};
