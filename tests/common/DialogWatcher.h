// The dialog watcher for C++ tests: the tree's one watcher (tools/host/DialogWatcher) with the
// answer chosen by a function of what the dialog shows. Dialogs and message boxes of this
// process are read and answered as a user would; product code knows nothing of it.
#pragma once
#include "tools/host/DialogWatcher.h"

#include <functional>
#include <string>
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
    explicit CDialogWatcher(std::function<int(const CSeenDialog&)> answer)
    {
        m_watcher.SetAnswerer([answer](const Host::CDialogRecord& record) {
            Host::CDialogStep step;
            const int nButton = answer(Seen(record));
            step.nKind = nButton ? Host::CDialogStep::Press : Host::CDialogStep::Leave;
            step.nId = nButton ? nButton : -1;
            return Host::CDialogAnswer{step};
        });
    }
    CDialogWatcher(const CDialogWatcher&) = delete;
    CDialogWatcher& operator=(const CDialogWatcher&) = delete;

    std::vector<CSeenDialog> Seen() const
    {
        std::vector<CSeenDialog> seen;
        for (const auto& record : m_watcher.Records())
            seen.push_back(Seen(record));
        return seen;
    }

private:
    static CSeenDialog Seen(const Host::CDialogRecord& record)
    {
        CSeenDialog dialog{record.strCaption, {}};
        for (const auto& control : record.controls)
            dialog.controls.push_back({control.nId, control.strClass, control.strText});
        return dialog;
    }

    Host::CDialogWatcher m_watcher;
};

// The system's text for an error as a message box shows it: without the closing line break.
inline std::wstring SystemErrorText(DWORD dwError)
{
    wchar_t sz[1024] = L"";
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, dwError, 0, sz, 1024, nullptr);
    return std::wstring(sz, wcscspn(sz, L"\r\n"));
}
