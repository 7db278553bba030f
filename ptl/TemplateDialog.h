// A dialog whose window is made from an extended dialog template in memory (a language pack's
// copy), run modally or created as a modeless window, inside the control module's common
// controls 6 activation context.
//
// T derives from CTemplateDialogImpl<T> and provides
//   BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult)
// which returns TRUE for a message it handled (lResult is then the message's result), and may
// provide OnFinalMessage(HWND), called after the window's last message, and HoldOwner(), a
// reference to the COM object the dialog belongs to, held while each message is handled. Notifications that T
// does not handle can be passed to ReflectNotifications, which sends them back to the child
// control that sent them (as OCM_* messages, olectl.h), so a control answers its own notifications.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "ptl/ComPtr.h"
#include "ptl/Module.h"
#include "ptl/Reflect.h"

namespace PTL
{
// The activation context made from the control module's own manifest (resource 2), which asks
// for common controls 6. Windows made while it is active use those controls even when the
// hosting program asks for none. Made once per process and kept until the module goes.
class CModuleActivationContext
{
public:
    static HANDLE Get()
    {
        static CModuleActivationContext s_context;
        return s_context.m_hContext;
    }

private:
    CModuleActivationContext()
    {
        WCHAR szPath[MAX_PATH] = L"";
        GetModuleFileNameW(CModule::Instance(), szPath, MAX_PATH);
        ACTCTXW context = {};
        context.cbSize = sizeof(context);
        context.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
        context.hModule = CModule::Instance();
        context.lpSource = szPath;
        context.lpResourceName = MAKEINTRESOURCEW(2);
        m_hContext = CreateActCtxW(&context);
    }
    ~CModuleActivationContext()
    {
        if (m_hContext != INVALID_HANDLE_VALUE)
            ReleaseActCtx(m_hContext);
    }
    CModuleActivationContext(const CModuleActivationContext&) = delete;
    CModuleActivationContext& operator=(const CModuleActivationContext&) = delete;

    HANDLE m_hContext = INVALID_HANDLE_VALUE;
};

// Keeps the module's activation context active for one scope. Without a context (the module
// carries no manifest) the scope does nothing and the process's own controls are used.
class CActivationScope
{
public:
    CActivationScope()
    {
        const HANDLE hContext = CModuleActivationContext::Get();
        m_bActive = hContext != INVALID_HANDLE_VALUE && ActivateActCtx(hContext, &m_nCookie);
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
        InitCommonControlsEx(&controls);
    }
    ~CActivationScope()
    {
        if (m_bActive)
            DeactivateActCtx(0, m_nCookie);
    }
    CActivationScope(const CActivationScope&) = delete;
    CActivationScope& operator=(const CActivationScope&) = delete;

private:
    ULONG_PTR m_nCookie = 0;
    bool m_bActive = false;
};

// The leading fields of an extended dialog template (DLGTEMPLATEEX).
struct DLGTEMPLATEEX_HEAD
{
    WORD dlgVer;
    WORD signature;
    DWORD helpID;
    DWORD exStyle;
    DWORD style;
};

// Far beyond any dialog a language pack carries.
constexpr size_t MAX_TEMPLATE_SIZE = 1 << 20;

// A private, DWORD-aligned copy of a template block with its window styles changed: the styles
// in dwRemove and dwExRemove go, those in dwAdd are added. Empty when the block is no extended
// template.
inline std::vector<DWORD> RestyleDialogTemplate(const void* pTemplate, size_t nSize, DWORD dwRemove, DWORD dwAdd,
                                                DWORD dwExRemove)
{
    std::vector<DWORD> copy;
    if (!pTemplate || nSize < sizeof(DLGTEMPLATEEX_HEAD) || nSize > MAX_TEMPLATE_SIZE)
        return copy;
    copy.resize((nSize + sizeof(DWORD) - 1) / sizeof(DWORD));
    std::memcpy(copy.data(), pTemplate, nSize);
    auto* pHead = reinterpret_cast<DLGTEMPLATEEX_HEAD*>(copy.data());
    if (pHead->dlgVer != 1 || pHead->signature != 0xFFFF)
        return std::vector<DWORD>();
    pHead->style = (pHead->style & ~dwRemove) | dwAdd;
    pHead->exStyle &= ~dwExRemove;
    return copy;
}

template <class T>
class CTemplateDialogImpl
{
public:
    // The dialog's window while it exists. Atomic: the upload worker reads it on its own thread.
    std::atomic<HWND> m_hWnd{nullptr};

    CTemplateDialogImpl() = default;
    CTemplateDialogImpl(const CTemplateDialogImpl&) = delete;
    CTemplateDialogImpl& operator=(const CTemplateDialogImpl&) = delete;

    // Runs the dialog modally from the template (which must stay valid until this returns).
    // The result is the one given to EndDialog, or -1 when the dialog could not be made.
    INT_PTR DoModal(const void* pTemplate, HWND hOwner)
    {
        if (!pTemplate)
            return -1;
        m_bModeless = false;
        CActivationScope scope;
        return DialogBoxIndirectParamW(CModule::Instance(), static_cast<LPCDLGTEMPLATEW>(pTemplate), hOwner,
                                       &DialogProc, reinterpret_cast<LPARAM>(static_cast<T*>(this)));
    }

    // Creates the dialog as a modeless window (a child when the template says WS_CHILD).
    HWND Create(const void* pTemplate, HWND hParent)
    {
        if (!pTemplate)
            return nullptr;
        m_bModeless = true;
        CActivationScope scope;
        return CreateDialogIndirectParamW(CModule::Instance(), static_cast<LPCDLGTEMPLATEW>(pTemplate), hParent,
                                          &DialogProc, reinterpret_cast<LPARAM>(static_cast<T*>(this)));
    }

    BOOL EndDialog(INT_PTR nResult) { return ::EndDialog(m_hWnd, nResult); }

    BOOL DestroyWindow()
    {
        const HWND hWnd = m_hWnd;
        return hWnd ? ::DestroyWindow(hWnd) : FALSE;
    }

    bool IsModeless() const { return m_bModeless; }

    void OnFinalMessage(HWND) {}
    // None by default. A dialog whose handlers call page script returns its owner: the script
    // may drop the owner's last other reference, and the owner (with the dialog in it) must
    // outlive the handler.
    CComPtr<IUnknown> HoldOwner() { return CComPtr<IUnknown>(); }

protected:
    ~CTemplateDialogImpl()
    {
        // A window must not outlive the object its procedure points to. T should destroy it in
        // its own destructor; here T is already gone, so the window is cut off from it first.
        const HWND hWnd = m_hWnd.exchange(nullptr);
        if (hWnd && IsWindow(hWnd))
        {
            SetWindowLongPtrW(hWnd, DWLP_USER, 0);
            ::DestroyWindow(hWnd);
        }
    }

    // Sends a notification back to the child control it came from. Returns FALSE when the
    // message is none or its sender is not a child window.
    BOOL ReflectNotifications(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult)
    {
        return ReflectNotification(m_hWnd, uMsg, wParam, lParam, lResult);
    }

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
    {
        if (uMsg == WM_INITDIALOG)
        {
            T* pNew = reinterpret_cast<T*>(lParam);
            SetWindowLongPtrW(hWnd, DWLP_USER, reinterpret_cast<LONG_PTR>(pNew));
            pNew->m_hWnd = hWnd;
        }
        // Messages before WM_INITDIALOG (WM_SETFONT) go to the dialog manager's defaults.
        T* pThis = reinterpret_cast<T*>(GetWindowLongPtrW(hWnd, DWLP_USER));
        if (!pThis)
            return FALSE;
        // Released last, when the object is no longer touched.
        const CComPtr<IUnknown> pHold = pThis->HoldOwner();

        LRESULT lResult = 0;
        BOOL bHandled = FALSE;
        try
        {
            bHandled = pThis->ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult);
        }
        catch (...)
        {
            // Nothing may unwind through the system's dialog manager; the message counts as
            // not handled.
            bHandled = FALSE;
        }

        if (uMsg == WM_NCDESTROY)
        {
            SetWindowLongPtrW(hWnd, DWLP_USER, 0);
            pThis->m_hWnd = nullptr;
            pThis->OnFinalMessage(hWnd);
            return FALSE;
        }
        if (!bHandled)
            return FALSE;
        switch (uMsg)
        {
        // These return their result directly instead of through DWLP_MSGRESULT.
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
        case WM_INITDIALOG:
        case WM_QUERYDRAGICON:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC: return static_cast<INT_PTR>(lResult);
        default: SetWindowLongPtrW(hWnd, DWLP_MSGRESULT, lResult); return TRUE;
        }
    }

    bool m_bModeless = false;
};
}  // namespace PTL
