#include "tools/host/HostObject.h"

#include <algorithm>
#include <climits>

#include <ocidl.h>

#include "ptl/ExcepInfo.h"
#include "ptl/Handle.h"
#include "ptl/ObjectSafety.h"
#include "ptl/Text.h"
#include "ptl/Wait.h"
#include "tools/host/DialogWatcher.h"
#include "tools/host/PageModel.h"
#include "tools/host/XInput.h"

namespace Host
{
namespace
{

enum : DISPID
{
    DISPID_PRINT = 1,
    DISPID_FAIL,
    DISPID_EXIT,
    DISPID_WAIT,
    DISPID_PATH,
    DISPID_ARCH,
    DISPID_SET_POLICY,
    DISPID_QUEUE_ANSWER,
    DISPID_DIALOGS,
    DISPID_WAIT_DIALOGS,
    DISPID_SET_PROPERTY,
    DISPID_ELEMENT_RECT,
    DISPID_SCREENSHOT,
    DISPID_COLOR_BOX,
    DISPID_NAVIGATED_TO,
    DISPID_BROWSER_SINKS,
    DISPID_MOVE_TO,
    DISPID_CLICK,
    DISPID_DOUBLE_CLICK,
    DISPID_KEYS,
    DISPID_TYPE,
    DISPID_WAIT_PAINT,
    DISPID_RUN,
    DISPID_AS_BROWSER_MADE,
};

const struct
{
    const wchar_t* pszName;
    DISPID nId;
} g_members[] = {
    {L"Print", DISPID_PRINT},
    {L"Fail", DISPID_FAIL},
    {L"Exit", DISPID_EXIT},
    {L"Wait", DISPID_WAIT},
    {L"Path", DISPID_PATH},
    {L"Arch", DISPID_ARCH},
    {L"SetDialogPolicy", DISPID_SET_POLICY},
    {L"QueueDialogAnswer", DISPID_QUEUE_ANSWER},
    {L"Dialogs", DISPID_DIALOGS},
    {L"WaitForDialogs", DISPID_WAIT_DIALOGS},
    {L"SetProperty", DISPID_SET_PROPERTY},
    {L"ElementRect", DISPID_ELEMENT_RECT},
    {L"SaveScreenshot", DISPID_SCREENSHOT},
    {L"ColorBox", DISPID_COLOR_BOX},
    {L"NavigatedTo", DISPID_NAVIGATED_TO},
    {L"BrowserEventSinks", DISPID_BROWSER_SINKS},
    {L"MoveTo", DISPID_MOVE_TO},
    {L"Click", DISPID_CLICK},
    {L"DoubleClick", DISPID_DOUBLE_CLICK},
    {L"Keys", DISPID_KEYS},
    {L"Type", DISPID_TYPE},
    {L"WaitForPaint", DISPID_WAIT_PAINT},
    {L"Run", DISPID_RUN},
    {L"AsBrowserMade", DISPID_AS_BROWSER_MADE},
};

// The paints the page's thread has handled while WaitForPaint watches: those its message loops
// take from the queue (the host's own, a menu's, a control's) and those sent at once (UpdateWindow).
ULONG g_nPaints = 0;

LRESULT CALLBACK CountQueuedPaint(int nCode, WPARAM wParam, LPARAM lParam)
{
    if (nCode == HC_ACTION && wParam == PM_REMOVE && reinterpret_cast<const MSG*>(lParam)->message == WM_PAINT)
        ++g_nPaints;
    return CallNextHookEx(nullptr, nCode, wParam, lParam);
}

LRESULT CALLBACK CountSentPaint(int nCode, WPARAM wParam, LPARAM lParam)
{
    if (nCode == HC_ACTION && reinterpret_cast<const CWPRETSTRUCT*>(lParam)->message == WM_PAINT)
        ++g_nPaints;
    return CallNextHookEx(nullptr, nCode, wParam, lParam);
}

using CHook = PTL::CHandle<PTL::CHandleKind<HHOOK, UnhookWindowsHookEx>>;

}  // namespace

DISPID CHostObject::FindMember(const std::wstring& strName)
{
    for (const auto& member : g_members)
        if (SameName(strName, member.pszName))
            return member.nId;
    return DISPID_UNKNOWN;
}

bool CHostObject::IsMethod(DISPID nId) const
{
    return nId != DISPID_ARCH && nId != DISPID_DIALOGS && nId != DISPID_NAVIGATED_TO && nId != DISPID_BROWSER_SINKS;
}

HRESULT CHostObject::Stop(EXCEPINFO* pExcepInfo)
{
    if (pExcepInfo)
    {
        PTL::FillExcepInfo(pExcepInfo, HOST_E_PAGE_ENDED, L"host", L"the page has ended");
        return DISP_E_EXCEPTION;
    }
    return HOST_E_PAGE_ENDED;
}

HRESULT CHostObject::ReadSteps(const std::vector<const VARIANT*>& args, std::vector<CDialogStep>& steps,
                               EXCEPINFO* pExcepInfo)
{
    if (args.empty())
        return Fail(pExcepInfo, L"a dialog answer needs at least one step");
    for (const VARIANT* pArg : args)
    {
        std::wstring strStep, strError;
        CDialogStep step;
        if (!PTL::VariantToText(*pArg, strStep) || !ParseDialogStep(strStep, step, strError))
            return Fail(pExcepInfo, strError.empty() ? L"a dialog step is text" : strError);
        steps.push_back(step);
    }
    return S_OK;
}

PTL::CComPtr<IDispatch> CHostObject::DialogList()
{
    std::vector<PTL::CComVariant> records;
    for (const auto& record : m_page.Watcher().Records())
    {
        std::vector<PTL::CComVariant> controls;
        for (const auto& control : record.controls)
        {
            auto pControl = PTL::MakeComObject<CValueRecord>();
            pControl->Set(L"Id", PTL::CComVariant::FromInt(control.nId));
            pControl->Set(L"Class", PTL::CComVariant(control.strClass));
            pControl->Set(L"Text", PTL::CComVariant(control.strText));
            pControl->Set(L"Texts", PTL::CComVariant::FromDispatch(CValueList::FromTexts(control.history).Get()));
            pControl->Set(L"Visible", PTL::CComVariant::FromBool(control.bVisible));
            controls.push_back(PTL::CComVariant::FromDispatch(pControl.Get()));
        }
        std::wstring strText;
        for (const auto& str : record.VisibleTexts(L"Static"))
            strText += (strText.empty() ? L"" : L"\n") + str;
        auto pRecord = PTL::MakeComObject<CValueRecord>();
        pRecord->Set(L"Caption", PTL::CComVariant(record.strCaption));
        pRecord->Set(L"Text", PTL::CComVariant(strText));
        pRecord->Set(L"Buttons",
                     PTL::CComVariant::FromDispatch(CValueList::FromTexts(record.VisibleTexts(L"Button")).Get()));
        auto pControls = PTL::MakeComObject<CValueList>(std::move(controls));
        pRecord->Set(L"Controls", PTL::CComVariant::FromDispatch(pControls.Get()));
        pRecord->Set(L"Answer", PTL::CComVariant(record.strAnswer));
        pRecord->Set(L"Open", PTL::CComVariant::FromBool(record.bOpen));
        records.push_back(PTL::CComVariant::FromDispatch(pRecord.Get()));
    }
    return PTL::MakeComObject<CValueList>(std::move(records));
}

HRESULT CHostObject::InvokeMember(DISPID nId, WORD, const std::vector<const VARIANT*>& args, PTL::CComVariant& result,
                                  EXCEPINFO* pExcepInfo)
{
    if (m_bDetached || m_page.Ending())
        return Stop(pExcepInfo);

    switch (nId)
    {
    case DISPID_PRINT: {
        std::wstring strLine;
        for (size_t i = 0; i < args.size(); ++i)
        {
            std::wstring str;
            if (V_VT(args[i]) == VT_BOOL)
                str = V_BOOL(args[i]) ? L"true" : L"false";  // as script itself would print it
            else if (!PTL::VariantToText(*args[i], str))
                str = L"[object]";
            strLine += (i ? L" " : L"") + str;
        }
        m_page.Print(strLine);
        return S_OK;
    }
    case DISPID_FAIL: {
        std::wstring strMessage;
        if (!args.empty())
            PTL::VariantToText(*args[0], strMessage);
        m_page.PrintError(L"FAIL: " + strMessage);
        m_page.End(1);
        return Stop(pExcepInfo);
    }
    case DISPID_EXIT: {
        LONG nCode = 0;
        if (!args.empty() && !PTL::VariantToInt(*args[0], nCode))
            return Fail(pExcepInfo, L"Exit takes a number");
        m_page.End(int(nCode));
        return Stop(pExcepInfo);
    }
    case DISPID_WAIT: {
        LONG nMilliseconds = 0;
        if (args.empty() || !PTL::VariantToInt(*args[0], nMilliseconds) || nMilliseconds < 0)
            return Fail(pExcepInfo, L"Wait takes a time in milliseconds");
        bool bDone = false;
        return WaitUntil(
            DWORD(nMilliseconds), [] { return false; }, bDone, pExcepInfo);
    }
    case DISPID_PATH: {
        std::wstring strRelative;
        if (!args.empty() && !PTL::VariantToText(*args[0], strRelative))
            return Fail(pExcepInfo, L"Path takes a text");
        const std::wstring strFull = PageFilePath(m_page.PageFolder(), strRelative);
        if (strFull.empty())
            return Fail(pExcepInfo, L"no full path for " + strRelative);
        result = PTL::CComVariant(strFull);
        return S_OK;
    }
    case DISPID_ARCH: result = PTL::CComVariant(sizeof(void*) == 8 ? L"x64" : L"x86"); return S_OK;
    case DISPID_SET_POLICY:
    case DISPID_QUEUE_ANSWER: {
        std::vector<CDialogStep> steps;
        const HRESULT hr = ReadSteps(args, steps, pExcepInfo);
        if (FAILED(hr))
            return hr;
        if (nId == DISPID_SET_POLICY)
            m_page.Watcher().SetPolicy(std::move(steps));
        else
            m_page.Watcher().QueueAnswer(std::move(steps));
        return S_OK;
    }
    case DISPID_DIALOGS: result = PTL::CComVariant::FromDispatch(DialogList().Get()); return S_OK;
    case DISPID_WAIT_DIALOGS: {
        LONG nCount = 0, nMilliseconds = 0;
        if (args.size() < 2 || !PTL::VariantToInt(*args[0], nCount) || !PTL::VariantToInt(*args[1], nMilliseconds) ||
            nMilliseconds < 0)
            return Fail(pExcepInfo, L"WaitForDialogs takes a count and a time in milliseconds");
        CDialogWatcher& watcher = m_page.Watcher();
        bool bDone = false;
        const HRESULT hr = WaitUntil(
            DWORD(nMilliseconds), [&] { return watcher.Count() >= size_t(nCount); }, bDone, pExcepInfo);
        result = PTL::CComVariant::FromBool(bDone);
        return hr;
    }
    case DISPID_WAIT_PAINT: {
        LONG nMilliseconds = 0;
        if (args.empty() || !PTL::VariantToInt(*args[0], nMilliseconds) || nMilliseconds < 0)
            return Fail(pExcepInfo, L"WaitForPaint takes a time in milliseconds");
        const CHook queued(SetWindowsHookExW(WH_GETMESSAGE, CountQueuedPaint, nullptr, GetCurrentThreadId()));
        const CHook sent(SetWindowsHookExW(WH_CALLWNDPROCRET, CountSentPaint, nullptr, GetCurrentThreadId()));
        if (!queued.IsValid() || !sent.IsValid())
            return Fail(pExcepInfo, L"cannot watch the page's paints");
        const ULONG nBefore = g_nPaints;
        bool bDone = false;
        const HRESULT hr = WaitUntil(
            DWORD(nMilliseconds), [nBefore] { return g_nPaints != nBefore; }, bDone, pExcepInfo);
        result = PTL::CComVariant::FromBool(bDone);
        return hr;
    }
    case DISPID_RUN: {
        std::wstring strCommand;
        LONG nMilliseconds = 0;
        if (args.size() < 2 || !PTL::VariantToText(*args[0], strCommand) ||
            !PTL::VariantToInt(*args[1], nMilliseconds) || nMilliseconds < 0)
            return Fail(pExcepInfo, L"Run takes a command line and a time in milliseconds");
        STARTUPINFOW startup = {sizeof(startup)};
        PROCESS_INFORMATION info = {};
        if (!CreateProcessW(nullptr, &strCommand[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
            return Fail(pExcepInfo,
                        L"cannot run " + strCommand + L": " + PTL::DescribeHResult(HRESULT_FROM_WIN32(GetLastError())));
        const PTL::CKernelHandle process(info.hProcess), thread(info.hThread);
        bool bDone = false;
        const HRESULT hr = WaitUntil(
            DWORD(nMilliseconds), [&] { return WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0; }, bDone,
            pExcepInfo);
        DWORD nExit = 0;
        if (!bDone)
            TerminateProcess(process.Get(), 1);
        GetExitCodeProcess(process.Get(), &nExit);
        result = PTL::CComVariant::FromInt(bDone ? LONG(nExit) : -1L);
        return hr;
    }
    case DISPID_SET_PROPERTY: return SetProperty(args, pExcepInfo);
    case DISPID_AS_BROWSER_MADE: return AsBrowserMade(args, pExcepInfo);
    case DISPID_ELEMENT_RECT: {
        std::wstring strId;
        RECT rc = {};
        if (args.empty() || !PTL::VariantToText(*args[0], strId))
            return Fail(pExcepInfo, L"ElementRect takes an element id");
        if (!m_page.ElementRect(strId, rc))
            return Fail(pExcepInfo, L"the page has no element '" + strId + L"'");
        result = PTL::CComVariant(std::to_wstring(rc.left) + L"," + std::to_wstring(rc.top) + L"," +
                                  std::to_wstring(rc.right) + L"," + std::to_wstring(rc.bottom));
        return S_OK;
    }
    case DISPID_SCREENSHOT: {
        std::wstring strPath;
        if (args.empty() || !PTL::VariantToText(*args[0], strPath) || strPath.empty())
            return Fail(pExcepInfo, L"SaveScreenshot takes a file name");
        const HRESULT hr = m_page.SaveScreenshot(PagePath(strPath));
        if (FAILED(hr))
            return Fail(pExcepInfo, L"cannot save the screenshot " + strPath + L": " + PTL::DescribeHResult(hr));
        return S_OK;
    }
    case DISPID_COLOR_BOX: {
        RECT rc = {};
        std::wstring strColor;
        if (args.size() < 5 || !PTL::VariantToInt(*args[0], rc.left) || !PTL::VariantToInt(*args[1], rc.top) ||
            !PTL::VariantToInt(*args[2], rc.right) || !PTL::VariantToInt(*args[3], rc.bottom) ||
            !PTL::VariantToText(*args[4], strColor) || strColor.size() != 7 || strColor[0] != L'#')
            return Fail(pExcepInfo, L"ColorBox takes left, top, right, bottom in screen pixels and a colour #rrggbb");
        std::vector<DWORD> pixels;
        const HRESULT hr = m_page.Capture(rc, pixels);
        if (FAILED(hr))
            return Fail(pExcepInfo, L"cannot read the screen: " + PTL::DescribeHResult(hr));
        const DWORD nColor = wcstoul(strColor.c_str() + 1, nullptr, 16);
        RECT rcFound = {LONG_MAX, LONG_MAX, LONG_MIN, LONG_MIN};
        LONG nCount = 0;
        const LONG nWidth = rc.right - rc.left;
        for (size_t i = 0; i < pixels.size(); ++i)
        {
            bool bNear = true;
            for (int nShift = 0; nShift < 24; nShift += 8)
                bNear = bNear && abs(LONG((pixels[i] >> nShift) & 0xFF) - LONG((nColor >> nShift) & 0xFF)) <= 48;
            if (!bNear)
                continue;
            const LONG x = rc.left + LONG(i % nWidth), y = rc.top + LONG(i / nWidth);
            rcFound = {std::min(rcFound.left, x), std::min(rcFound.top, y), std::max(rcFound.right, x + 1),
                       std::max(rcFound.bottom, y + 1)};
            ++nCount;
        }
        result = PTL::CComVariant(nCount == 0 ? std::wstring()
                                              : std::to_wstring(rcFound.left) + L"," + std::to_wstring(rcFound.top) +
                                                    L"," + std::to_wstring(rcFound.right) + L"," +
                                                    std::to_wstring(rcFound.bottom) + L"," + std::to_wstring(nCount));
        return S_OK;
    }
    case DISPID_NAVIGATED_TO: result = PTL::CComVariant(m_page.NavigatedTo()); return S_OK;
    case DISPID_BROWSER_SINKS:
        result = PTL::CComVariant::FromInt(static_cast<LONG>(m_page.BrowserEventSinks()));
        return S_OK;
    case DISPID_MOVE_TO:
    case DISPID_CLICK:
    case DISPID_DOUBLE_CLICK: {
        LONG nX = 0, nY = 0, nButton = 1;
        std::wstring strModifiers;
        if (args.size() < 2 || !PTL::VariantToInt(*args[0], nX) || !PTL::VariantToInt(*args[1], nY) ||
            (args.size() > 2 && !PTL::VariantToInt(*args[2], nButton)) ||
            (args.size() > 3 && !PTL::VariantToText(*args[3], strModifiers)))
            return Fail(pExcepInfo, L"a pointer action takes x and y in screen pixels (and a button, modifiers)");
        const bool bDone = nId == DISPID_MOVE_TO        ? XInput::MoveTo(nX, nY)
                           : nId == DISPID_DOUBLE_CLICK ? XInput::DoubleClick(nX, nY)
                                                        : XInput::Click(nX, nY, int(nButton), strModifiers);
        return bDone ? S_OK : Fail(pExcepInfo, L"xdotool did not carry out the pointer action");
    }
    case DISPID_KEYS:
    case DISPID_TYPE: {
        std::wstring strText;
        if (args.empty() || !PTL::VariantToText(*args[0], strText))
            return Fail(pExcepInfo, L"Keys and Type take a text");
        const bool bDone = nId == DISPID_KEYS ? XInput::Keys(strText) : XInput::Type(strText);
        return bDone ? S_OK : Fail(pExcepInfo, L"xdotool did not carry out the keys");
    }
    }
    return DISP_E_MEMBERNOTFOUND;
}

// A message loop for the page's script: a queued message is handled completely (also by a loop it
// starts, such as a menu's) before done() is asked again.
HRESULT CHostObject::WaitUntil(DWORD nMilliseconds, const std::function<bool()>& done, bool& bDone,
                               EXCEPINFO* pExcepInfo)
{
    // Woken at least every 20 ms: the end of the page may come from another thread.
    const PTL::CWaitResult waited = PTL::CWait(nMilliseconds)
                                        .Until([&] { return m_page.Ending() || done(); })
                                        .Serving(PTL::EServe::AllMessages)
                                        .Taking([this](MSG& msg) { return m_page.PreTranslate(msg); })
                                        .Polling(20)
                                        .Run();
    if (waited.End() == PTL::EWaitEnd::Quit)
        m_page.End(waited.QuitCode());  // the thread was told to quit: so is the page
    if (m_page.Ending())
        return Stop(pExcepInfo);
    bDone = done();
    return S_OK;
}

// A Windows path as given, or relative to the page's folder.
std::wstring CHostObject::PagePath(const std::wstring& strPath) const
{
    std::wstring str = strPath;
    for (auto& ch : str)
        if (ch == L'/')
            ch = L'\\';
    const bool bAbsolute = (str.size() > 1 && str[1] == L':') || (!str.empty() && str[0] == L'\\');
    return bAbsolute ? str : m_page.PageFolder() + L"\\" + str;
}

HRESULT CHostObject::SetProperty(const std::vector<const VARIANT*>& args, EXCEPINFO* pExcepInfo)
{
    std::wstring strName;
    if (args.size() < 3 || V_VT(args[0]) != VT_DISPATCH || !V_DISPATCH(args[0]) ||
        !PTL::VariantToText(*args[1], strName))
        return Fail(pExcepInfo, L"SetProperty takes an object, a property name, its indices and the value");
    IDispatch* pObject = V_DISPATCH(args[0]);
    LPOLESTR pszName = &strName[0];
    DISPID nId = DISPID_UNKNOWN;
    HRESULT hr = pObject->GetIDsOfNames(IID_NULL, &pszName, 1, LOCALE_USER_DEFAULT, &nId);
    if (FAILED(hr))
        return Fail(pExcepInfo, L"the object has no property " + strName);
    // The value is the named DISPID_PROPERTYPUT argument; all arguments go last first.
    std::vector<VARIANT> reversed;
    for (size_t i = args.size(); i > 2; --i)
        reversed.push_back(*args[i - 1]);
    DISPID nPut = DISPID_PROPERTYPUT;
    DISPPARAMS params = {reversed.data(), &nPut, UINT(reversed.size()), 1};
    PTL::CExcepInfo info;
    hr = pObject->Invoke(nId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, &info, nullptr);
    if (FAILED(hr))
        return Fail(pExcepInfo, L"putting " + strName + L" failed: " + info.DescriptionOr(PTL::DescribeHResult(hr)));
    return S_OK;
}

HRESULT CHostObject::AsBrowserMade(const std::vector<const VARIANT*>& args, EXCEPINFO* pExcepInfo)
{
    if (args.empty() || V_VT(args[0]) != VT_DISPATCH || !V_DISPATCH(args[0]) ||
        (args.size() > 1 && (V_VT(args[1]) != VT_DISPATCH || !V_DISPATCH(args[1]))))
        return Fail(pExcepInfo, L"AsBrowserMade takes an object and, optionally, its site");
    PTL::CComPtr<IObjectSafety> pSafety;
    const DWORD nSafe = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
    if (FAILED(V_DISPATCH(args[0])->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(&pSafety))) ||
        FAILED(pSafety->SetInterfaceSafetyOptions(IID_IDispatch, nSafe, nSafe)))
        return Fail(pExcepInfo, L"the object is not safe for untrusted callers");
    if (args.size() < 2)
        return S_OK;
    PTL::CComPtr<IObjectWithSite> pWithSite;
    if (FAILED(V_DISPATCH(args[0])->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&pWithSite))) ||
        FAILED(pWithSite->SetSite(V_DISPATCH(args[1]))))
        return Fail(pExcepInfo, L"the object takes no site");
    return S_OK;
}

}  // namespace Host
