#include "tools/host/DialogWatcher.h"
#include "ptl/Wait.h"

#include <algorithm>
#include <cwctype>

namespace Host
{
namespace
{

constexpr DWORD POLL_MS = 20;
// A dialog is answered only after it has been up this long, so that its record holds what it
// shows once initialised rather than a window caught half-built.
constexpr ULONGLONG SETTLE_MS = 60;
constexpr UINT TEXT_TIMEOUT_MS = 500;

bool SameText(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()), TRUE) == CSTR_EQUAL;
}

// A button's text as the user reads it: without the '&' that marks the access key.
std::wstring ButtonLabel(const std::wstring& strText)
{
    std::wstring strOut;
    for (size_t i = 0; i < strText.size(); ++i)
    {
        if (strText[i] == L'&' && i + 1 < strText.size())
            ++i;
        strOut += strText[i];
    }
    while (!strOut.empty() && std::iswspace(strOut.back()))
        strOut.pop_back();
    return strOut;
}

bool ParseNumber(const std::wstring& str, int& nOut)
{
    if (str.empty() || str.size() > 9 ||
        !std::all_of(str.begin(), str.end(), [](wchar_t ch) { return std::iswdigit(ch) != 0; }))
        return false;
    nOut = std::stoi(str);
    return true;
}

std::wstring ClassOf(HWND hWnd)
{
    wchar_t szClass[64] = {};
    GetClassNameW(hWnd, szClass, 64);
    return szClass;
}

// The text of a window without waiting on its thread for long: statics and buttons keep their
// text in the window itself; edit fields and combo boxes are asked, with a time-out.
std::wstring TextOf(HWND hWnd)
{
    const std::wstring strClass = ClassOf(hWnd);
    if (SameText(strClass, L"Edit") || SameText(strClass, L"ComboBox") || SameText(strClass, L"ComboBoxEx32"))
    {
        DWORD_PTR nLen = 0;
        if (!SendMessageTimeoutW(hWnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, TEXT_TIMEOUT_MS, &nLen))
            return std::wstring();
        std::wstring str(size_t(nLen) + 1, L'\0');
        DWORD_PTR nGot = 0;
        if (!SendMessageTimeoutW(hWnd, WM_GETTEXT, str.size(), reinterpret_cast<LPARAM>(&str[0]), SMTO_ABORTIFHUNG,
                                 TEXT_TIMEOUT_MS, &nGot))
            return std::wstring();
        str.resize(std::min(size_t(nGot), size_t(nLen)));
        return str;
    }
    wchar_t szText[1024];
    const int nLen = InternalGetWindowText(hWnd, szText, 1024);
    return std::wstring(szText, size_t(std::max(nLen, 0)));
}

struct CFindDialogs
{
    DWORD nProcess;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND hWnd, LPARAM lParam)
{
    auto& find = *reinterpret_cast<CFindDialogs*>(lParam);
    DWORD nProcess = 0;
    GetWindowThreadProcessId(hWnd, &nProcess);
    if (nProcess == find.nProcess && IsWindowVisible(hWnd) && ClassOf(hWnd) == L"#32770")
        find.found.push_back(hWnd);
    return TRUE;
}

BOOL CALLBACK CollectChild(HWND hWnd, LPARAM lParam)
{
    reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(hWnd);
    return TRUE;
}

std::vector<HWND> ChildrenOf(HWND hWnd)
{
    std::vector<HWND> children;
    EnumChildWindows(hWnd, CollectChild, reinterpret_cast<LPARAM>(&children));
    return children;
}

std::vector<HWND> ProcessDialogs()
{
    CFindDialogs find{GetCurrentProcessId(), {}};
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&find));
    return find.found;
}

}  // namespace

std::wstring WindowClass(HWND hWnd) { return ClassOf(hWnd); }

std::wstring WindowText(HWND hWnd) { return TextOf(hWnd); }

bool WaitUntil(const std::function<bool()>& fnDone, DWORD nMilliseconds)
{
    return PTL::CWait(nMilliseconds).Until(fnDone).Polling(POLL_MS).Run().Done();
}

HWND WaitForDialog(const std::function<bool(HWND)>& fnWanted, DWORD nMilliseconds)
{
    HWND hFound = nullptr;
    WaitUntil(
        [&] {
            for (HWND hWnd : ProcessDialogs())
                if (fnWanted(hWnd))
                {
                    hFound = hWnd;
                    return true;
                }
            return false;
        },
        nMilliseconds);
    return hFound;
}

bool ParseDialogStep(const std::wstring& strStep, CDialogStep& step, std::wstring& strError)
{
    step = CDialogStep();
    const size_t nColon = strStep.find(L':');
    const std::wstring strVerb = strStep.substr(0, nColon);
    const std::wstring strRest = nColon == std::wstring::npos ? std::wstring() : strStep.substr(nColon + 1);
    const bool bHasRest = nColon != std::wstring::npos;
    if (SameText(strVerb, L"escape") && !bHasRest)
    {
        step.nKind = CDialogStep::Escape;
    }
    else if (SameText(strVerb, L"enter") && !bHasRest)
    {
        step.nKind = CDialogStep::Enter;
    }
    else if (SameText(strVerb, L"close") && !bHasRest)
    {
        step.nKind = CDialogStep::Close;
    }
    else if (SameText(strVerb, L"leave"))
    {
        step.nKind = CDialogStep::Leave;
        if (bHasRest && !ParseNumber(strRest, step.nMilliseconds))
        {
            strError = L"'" + strStep + L"': leave takes a time in milliseconds";
            return false;
        }
    }
    else if (SameText(strVerb, L"press") && !strRest.empty())
    {
        step.nKind = CDialogStep::Press;
        if (strRest[0] == L'#')
        {
            if (!ParseNumber(strRest.substr(1), step.nId))
            {
                strError = L"'" + strStep + L"': a button id is #number";
                return false;
            }
        }
        else
        {
            step.strText = strRest;
        }
    }
    else if (SameText(strVerb, L"type"))
    {
        step.nKind = CDialogStep::Type;
        const size_t nSecond = strRest.find(L':');
        if (nSecond == std::wstring::npos || !ParseNumber(strRest.substr(0, nSecond), step.nId))
        {
            strError = L"'" + strStep + L"': type is written type:ID:text";
            return false;
        }
        step.strText = strRest.substr(nSecond + 1);
    }
    else
    {
        strError = L"'" + strStep + L"' is no dialog step (press:Name, escape, enter, close, type:ID:text, leave[:ms])";
        return false;
    }
    return true;
}

std::wstring DescribeDialogStep(const CDialogStep& step)
{
    switch (step.nKind)
    {
    case CDialogStep::Press: return step.nId >= 0 ? L"press:#" + std::to_wstring(step.nId) : L"press:" + step.strText;
    case CDialogStep::Escape: return L"escape";
    case CDialogStep::Enter: return L"enter";
    case CDialogStep::Close: return L"close";
    case CDialogStep::Type: return L"type:" + std::to_wstring(step.nId) + L":" + step.strText;
    case CDialogStep::Leave: return step.nMilliseconds < 0 ? L"leave" : L"leave:" + std::to_wstring(step.nMilliseconds);
    }
    return std::wstring();
}

std::vector<std::wstring> CDialogRecord::VisibleTexts(const wchar_t* pszClass) const
{
    std::vector<std::wstring> texts;
    for (const auto& control : controls)
    {
        if (!control.bVisible || !SameText(control.strClass, pszClass) || control.strText.empty())
            continue;
        texts.push_back(SameText(control.strClass, L"Button") ? ButtonLabel(control.strText) : control.strText);
    }
    return texts;
}

CDialogWatcher::CDialogWatcher() : m_policy{CDialogStep()}, m_thread([this] { Run(); }) {}

CDialogWatcher::~CDialogWatcher()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void CDialogWatcher::SetAnswerer(CDialogAnswerer answerer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answerer = std::move(answerer);
}

void CDialogWatcher::SetPolicy(CDialogAnswer answer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_policy = std::move(answer);
}

void CDialogWatcher::QueueAnswer(CDialogAnswer answer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queued.push_back(std::move(answer));
}

std::vector<CDialogRecord> CDialogWatcher::Records() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<CDialogRecord> records = m_records;
    // A box closed since the watcher last looked is closed for the reader too.
    for (auto& record : records)
        if (record.bOpen && (!IsWindow(record.hWnd) || !IsWindowVisible(record.hWnd)))
            record.bOpen = false;
    return records;
}

size_t CDialogWatcher::Count() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_records.size();
}

void CDialogWatcher::Run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_bStop)
    {
        lock.unlock();
        try
        {
            Poll();
        }
        catch (...)
        {
            // Out of memory while recording: the watcher goes on with what it has.
        }
        lock.lock();
        m_wake.wait_for(lock, std::chrono::milliseconds(POLL_MS), [this] { return m_bStop; });
    }
}

void CDialogWatcher::Poll()
{
    const std::vector<HWND> found = ProcessDialogs();

    // Dialogs that went away since the last look.
    for (auto it = m_tracked.begin(); it != m_tracked.end();)
    {
        if (std::find(found.begin(), found.end(), it->hWnd) != found.end())
        {
            ++it;
            continue;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_records[it->nRecord].bOpen = false;
        m_records[it->nRecord].hWnd = nullptr;
        it = m_tracked.erase(it);
    }

    for (HWND hWnd : found)
    {
        auto it =
            std::find_if(m_tracked.begin(), m_tracked.end(), [hWnd](const CTracked& t) { return t.hWnd == hWnd; });
        CDialogRecord record;
        Snapshot(hWnd, record);
        // A dialog hidden while it was read (it is closing) shows every control as hidden: keep
        // what the user saw last instead.
        if (it != m_tracked.end() && !IsWindowVisible(hWnd))
            continue;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (it == m_tracked.end())
        {
            CTracked tracked;
            tracked.hWnd = hWnd;
            tracked.nRecord = m_records.size();
            if (!m_queued.empty())
            {
                tracked.answer = std::move(m_queued.front());
                m_queued.pop_front();
            }
            else if (m_answerer)
            {
                tracked.answer = m_answerer(record);
            }
            else
            {
                tracked.answer = m_policy;
            }
            tracked.nStepTime = GetTickCount64() + SETTLE_MS;
            record.hWnd = hWnd;
            m_records.push_back(std::move(record));
            m_tracked.push_back(std::move(tracked));
            continue;
        }
        // Still open: keep the texts as the user sees them now, and every text shown so far.
        CDialogRecord& kept = m_records[it->nRecord];
        kept.strCaption = record.strCaption;
        for (auto& control : record.controls)
        {
            auto old = std::find_if(kept.controls.begin(), kept.controls.end(), [&control](const CDialogControl& c) {
                return c.nId == control.nId && c.strClass == control.strClass;
            });
            if (old == kept.controls.end())
            {
                kept.controls.push_back(control);
                continue;
            }
            if (old->history.empty() || old->history.back() != control.strText)
                old->history.push_back(control.strText);
            old->strText = control.strText;
            old->bVisible = control.bVisible;
        }
    }

    for (auto& tracked : m_tracked)
        if (!tracked.bLeftOpen && GetTickCount64() >= tracked.nStepTime)
            Step(tracked);
}

void CDialogWatcher::Snapshot(HWND hWnd, CDialogRecord& record) const
{
    record.strCaption = TextOf(hWnd);
    for (HWND hChild : ChildrenOf(hWnd))
    {
        CDialogControl control;
        control.nId = GetDlgCtrlID(hChild);
        control.strClass = ClassOf(hChild);
        control.strText = TextOf(hChild);
        control.history.push_back(control.strText);
        control.bVisible = IsWindowVisible(hChild) != FALSE;
        record.controls.push_back(std::move(control));
    }
}

void CDialogWatcher::Step(CTracked& tracked)
{
    auto Note = [this, &tracked](const std::wstring& strDone) {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::wstring& strAnswer = m_records[tracked.nRecord].strAnswer;
        strAnswer += (strAnswer.empty() ? L"" : L", ") + strDone;
    };

    if (tracked.nNextStep >= tracked.answer.size())
    {
        // Nothing (more) to do: a dialog whose answer ended with a timed wait gets Esc.
        const bool bTimedLeave = !tracked.answer.empty() && tracked.answer.back().nKind == CDialogStep::Leave;
        if (bTimedLeave)
        {
            Note(L"escape");
            PressDialogKey(tracked.hWnd, VK_ESCAPE);
        }
        tracked.bLeftOpen = true;
        return;
    }
    // Each step is written into the record before it is done: the dialog may be gone, and
    // its record read, the moment the step takes effect.
    const CDialogStep& step = tracked.answer[tracked.nNextStep++];
    tracked.nStepTime = GetTickCount64();
    switch (step.nKind)
    {
    case CDialogStep::Press: {
        HWND hButton = nullptr;
        for (HWND hChild : ChildrenOf(tracked.hWnd))
        {
            if (!SameText(ClassOf(hChild), L"Button") || !IsWindowVisible(hChild))
                continue;
            const bool bMatch =
                step.nId >= 0 ? GetDlgCtrlID(hChild) == step.nId : SameText(ButtonLabel(TextOf(hChild)), step.strText);
            if (bMatch)
            {
                hButton = hChild;
                break;
            }
        }
        if (hButton && IsWindowEnabled(hButton))
        {
            Note(DescribeDialogStep(step));
            PostMessageW(hButton, BM_CLICK, 0, 0);
        }
        else
        {
            Note(std::wstring(hButton ? L"disabled button " : L"no button ") + DescribeDialogStep(step).substr(6) +
                 L", escape");
            PressDialogKey(tracked.hWnd, VK_ESCAPE);
        }
        break;
    }
    case CDialogStep::Escape:
        Note(DescribeDialogStep(step));
        PressDialogKey(tracked.hWnd, VK_ESCAPE);
        break;
    case CDialogStep::Enter:
        Note(DescribeDialogStep(step));
        PressDialogKey(tracked.hWnd, VK_RETURN);
        break;
    case CDialogStep::Close:
        Note(DescribeDialogStep(step));
        PostMessageW(tracked.hWnd, WM_CLOSE, 0, 0);
        break;
    case CDialogStep::Type: {
        HWND hControl = nullptr;
        for (HWND hChild : ChildrenOf(tracked.hWnd))
            if (GetDlgCtrlID(hChild) == step.nId && !hControl)
                hControl = hChild;
        DWORD_PTR nResult = 0;
        const bool bDone =
            hControl && SendMessageTimeoutW(hControl, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(step.strText.c_str()),
                                            SMTO_ABORTIFHUNG, TEXT_TIMEOUT_MS, &nResult);
        Note((bDone ? L"" : L"failed ") + DescribeDialogStep(step));
        break;
    }
    case CDialogStep::Leave:
        if (step.nMilliseconds < 0)
            tracked.bLeftOpen = true;
        else
            tracked.nStepTime += ULONGLONG(step.nMilliseconds);
        Note(DescribeDialogStep(step));
        break;
    }
}

// Presses a key as the user would: the key goes to the dialog's focused control, where the
// dialog manager of its message loop turns Esc and Enter into the dialog's commands.
void PressDialogKey(HWND hDialog, WPARAM nKey)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    HWND hTarget = hDialog;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(hDialog, nullptr), &info) && info.hwndFocus &&
        (info.hwndFocus == hDialog || IsChild(hDialog, info.hwndFocus)))
        hTarget = info.hwndFocus;
    const UINT nScan = MapVirtualKeyW(UINT(nKey), MAPVK_VK_TO_VSC);
    PostMessageW(hTarget, WM_KEYDOWN, nKey, LPARAM(1 | (nScan << 16)));
    PostMessageW(hTarget, WM_KEYUP, nKey, LPARAM(1 | (nScan << 16) | (1u << 30) | (1u << 31)));
}

}  // namespace Host
