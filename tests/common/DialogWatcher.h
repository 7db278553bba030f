// Watches for dialogs and message boxes of this process and answers them as a user would:
// read the caption and texts, then press a button. Product code knows nothing of it.
#pragma once
#include <windows.h>
#include <atomic>
#include <functional>
#include <iterator>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct CSeenControl
{
    int nId;
    std::wstring strClass;
    std::wstring strText;
};

struct CSeenDialog
{
    std::wstring strCaption;
    std::vector<CSeenControl> controls;

    // The text of a message box (its static with id 0xFFFF), or of the first static.
    std::wstring MessageText() const
    {
        for (const CSeenControl& c : controls)
            if (c.nId == 0xFFFF && _wcsicmp(c.strClass.c_str(), L"Static") == 0)
                return c.strText;
        for (const CSeenControl& c : controls)
            if (_wcsicmp(c.strClass.c_str(), L"Static") == 0 && !c.strText.empty())
                return c.strText;
        return std::wstring();
    }
};

class CDialogWatcher
{
public:
    // answer returns the id of the button to press (IDOK, IDYES, ...), or 0 to leave it open.
    explicit CDialogWatcher(std::function<int(const CSeenDialog&)> answer) : m_answer(std::move(answer))
    {
        m_thread = std::thread([this] { Run(); });
    }
    ~CDialogWatcher()
    {
        m_bStop = true;
        m_thread.join();
    }
    CDialogWatcher(const CDialogWatcher&) = delete;
    CDialogWatcher& operator=(const CDialogWatcher&) = delete;

    std::vector<CSeenDialog> Seen()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_seen;
    }

private:
    static std::wstring WindowText(HWND hwnd)
    {
        wchar_t sz[4096] = L"";
        // WM_GETTEXT across threads is answered by the owning thread's message loop.
        DWORD_PTR n = 0;
        SendMessageTimeoutW(hwnd, WM_GETTEXT, _countof(sz), reinterpret_cast<LPARAM>(sz), SMTO_ABORTIFHUNG, 2000, &n);
        return sz;
    }

    static BOOL CALLBACK OnChild(HWND hwnd, LPARAM lParam)
    {
        auto* pDialog = reinterpret_cast<CSeenDialog*>(lParam);
        wchar_t szClass[64] = L"";
        GetClassNameW(hwnd, szClass, _countof(szClass));
        pDialog->controls.push_back({GetDlgCtrlID(hwnd), szClass, WindowText(hwnd)});
        return TRUE;
    }

    static BOOL CALLBACK OnTopLevel(HWND hwnd, LPARAM lParam)
    {
        DWORD dwPid = 0;
        GetWindowThreadProcessId(hwnd, &dwPid);
        wchar_t szClass[64] = L"";
        GetClassNameW(hwnd, szClass, _countof(szClass));
        if (dwPid == GetCurrentProcessId() && IsWindowVisible(hwnd) && wcscmp(szClass, L"#32770") == 0)
            reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(hwnd);
        return TRUE;
    }

    void Run()
    {
        while (!m_bStop)
        {
            // Forget closed windows, so a new box that reuses a handle is seen.
            for (auto it = m_handled.begin(); it != m_handled.end();)
                it = IsWindow(*it) ? std::next(it) : m_handled.erase(it);
            std::vector<HWND> dialogs;
            EnumWindows(OnTopLevel, reinterpret_cast<LPARAM>(&dialogs));
            for (HWND hwnd : dialogs)
            {
                if (m_handled.count(hwnd))
                    continue;
                CSeenDialog seen;
                seen.strCaption = WindowText(hwnd);
                EnumChildWindows(hwnd, OnChild, reinterpret_cast<LPARAM>(&seen));
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_seen.push_back(seen);
                }
                m_handled.insert(hwnd);
                const int nButton = m_answer(seen);
                if (nButton)
                {
                    HWND hButton = GetDlgItem(hwnd, nButton);
                    if (hButton)
                        PostMessageW(hButton, BM_CLICK, 0, 0);
                    else
                        PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(nButton, BN_CLICKED), 0);
                }
            }
            Sleep(50);
        }
    }

    std::function<int(const CSeenDialog&)> m_answer;
    std::atomic<bool> m_bStop{false};
    std::mutex m_mutex;
    std::vector<CSeenDialog> m_seen;
    std::set<HWND> m_handled;
    std::thread m_thread;
};
