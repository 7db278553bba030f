#include "filelist/FileDialog.h"
#include <commctrl.h>
#include <dlgs.h>
#include <algorithm>
#include <cstring>
#include "lang/LangTable.h"

namespace
{
const UINT_PTR SUBCLASS_ID = 0x504C35;  // one subclass of ours per dialog

BOOL CALLBACK LongestText(HWND hWnd, LPARAM lParam)
{
    auto* pLongest = reinterpret_cast<size_t*>(lParam);
    const size_t n = static_cast<size_t>(GetWindowTextLengthW(hWnd));
    if (n > *pLongest)
        *pLongest = n;
    return TRUE;
}

// The length of what the user typed as the file name, read from the box and whatever edit
// and combo windows it is built of.
size_t TypedNameLength(HWND hDialog)
{
    size_t nLongest = 0;
    for (int nId : {cmb13, edt1})
    {
        HWND hBox = GetDlgItem(hDialog, nId);
        if (!hBox)
            continue;
        LongestText(hBox, reinterpret_cast<LPARAM>(&nLongest));
        EnumChildWindows(hBox, LongestText, reinterpret_cast<LPARAM>(&nLongest));
    }
    return nLongest;
}
}  // namespace

std::wstring MakeDialogFilter(const std::vector<CFilterPair>& pairs, const std::wstring& strAllFiles)
{
    std::wstring strFilter;
    if (pairs.empty())
        strFilter = strAllFiles + L"\n*.*\n";
    for (const CFilterPair& pair : pairs)
        strFilter += pair.strName + L'\n' + pair.strPattern + L'\n';
    for (wchar_t& ch : strFilter)
        if (ch == L'\n')
            ch = L'\0';
    strFilter += L'\0';
    return strFilter;
}

std::vector<std::wstring> SplitDialogResult(const wchar_t* szResult)
{
    std::vector<std::wstring> paths;
    if (!szResult || !*szResult)
        return paths;
    std::wstring strFirst = szResult;
    const wchar_t* pName = szResult + strFirst.size() + 1;
    if (!*pName)
    {
        paths.push_back(strFirst);
        return paths;
    }
    if (strFirst.back() != L'\\')
        strFirst += L'\\';
    for (; *pName; pName += wcslen(pName) + 1)
        paths.push_back(strFirst + pName);
    return paths;
}

PTL::CGlobalMemory CopyDialogTemplate(const PL5Lang::CLangBlock* pBlock)
{
    PTL::CGlobalMemory copy;
    if (!pBlock || pBlock->data.empty())
        return copy;
    // A fixed block: its handle is its address, which is what the dialog reads the template
    // from whether it locks it as a resource or as global memory.
    copy.Reset(GlobalAlloc(GMEM_FIXED, pBlock->data.size()));
    if (copy.IsValid())
        memcpy(copy.Get(), pBlock->data.data(), pBlock->data.size());
    return copy;
}

CFileDialogEx::CFileDialogEx(bool bOpen, DWORD dwFlags, const std::wstring& strFilter, HWND hOwner,
                             const PL5Lang::CLangBlock* pTemplate)
    : m_bOpen(bOpen), m_ofn(), m_buffer(INITIAL_BUFFER + GUARD, L'\0'), m_strFilter(strFilter)
{
    m_ofn.lStructSize = sizeof(m_ofn);
    m_ofn.hwndOwner = hOwner;
    m_ofn.lpstrFilter = m_strFilter.empty() ? nullptr : m_strFilter.c_str();
    m_ofn.nFilterIndex = 0;
    m_ofn.Flags = dwFlags | OFN_EXPLORER | OFN_ENABLEHOOK | OFN_ENABLESIZING;
    m_ofn.lpfnHook = HookProc;
    m_ofn.lCustData = reinterpret_cast<LPARAM>(this);
    if (dwFlags & OFN_ENABLETEMPLATEHANDLE)
    {
        m_template = CopyDialogTemplate(pTemplate);
        if (m_template.IsValid())
            m_ofn.hInstance = static_cast<HINSTANCE>(m_template.Get());
        else  // no pack loaded: the dialog without its panel is better than no dialog
            m_ofn.Flags &= ~(OFN_ENABLETEMPLATE | OFN_ENABLETEMPLATEHANDLE);
    }
}

INT_PTR CFileDialogEx::DoModal()
{
    m_buffer.assign(m_buffer.size(), L'\0');
    m_ofn.lpstrFile = m_buffer.data();
    m_ofn.nMaxFile = static_cast<DWORD>(m_buffer.size() - GUARD);
    m_pLive = nullptr;
    // The keyboard goes on where it was (the list, for the menu's Add File): the owner's window
    // is activated again when the dialog ends, but the focus is not put back inside it.
    const HWND hFocus = GetFocus();
    const BOOL bChosen = m_bOpen ? GetOpenFileNameW(&m_ofn) : GetSaveFileNameW(&m_ofn);
    if (hFocus && IsWindow(hFocus))
        SetFocus(hFocus);
    m_pLive = nullptr;
    if (!bChosen)
    {
        CommDlgExtendedError();  // cancel and failure end alike: nothing chosen
        m_buffer[0] = L'\0';
        return IDCANCEL;
    }
    // The guard stays two NULs whatever the dialog wrote, so a full buffer still ends a list.
    std::fill(m_buffer.end() - GUARD, m_buffer.end(), L'\0');
    return IDOK;
}

void CFileDialogEx::FitSelection(HWND hDialog)
{
    // The result is the folder, then every name; a name typed with a path of its own may come
    // back joined to the folder, so allow the folder once per quoted name.
    LRESULT nSpec = SendMessageW(hDialog, CDM_GETSPEC, 0, 0);
    LRESULT nFolder = SendMessageW(hDialog, CDM_GETFOLDERPATH, 0, 0);
    size_t nTyped = TypedNameLength(hDialog);
    if (nSpec > 0 && static_cast<size_t>(nSpec) > nTyped)
        nTyped = static_cast<size_t>(nSpec);
    const size_t nFolderChars = (nFolder > MAX_PATH ? static_cast<size_t>(nFolder) : MAX_PATH) + 1;
    std::vector<wchar_t> typed(nTyped + 1, L'\0');
    size_t nNames = 1;
    if (nTyped)
    {
        if (SendMessageW(hDialog, CDM_GETSPEC, typed.size(), reinterpret_cast<LPARAM>(typed.data())) <= 0)
            typed[0] = L'\0';
        size_t nQuotes = 0;
        for (wchar_t ch : typed)
            nQuotes += ch == L'"';
        nNames += nQuotes / 2;
        if (nQuotes == 0 && !typed[0])
            nNames = nTyped / 2 + 1;  // the text could not be read: assume the most names it can hold
    }
    const size_t nNeeded = nFolderChars * (nNames + 1) + nTyped + 2;
    if (nNeeded + GUARD <= m_buffer.size())
        return;
    m_buffer.resize(nNeeded + GUARD, L'\0');
    for (OPENFILENAMEW* pOfn : {&m_ofn, m_pLive})
        if (pOfn)
        {
            pOfn->lpstrFile = m_buffer.data();
            pOfn->nMaxFile = static_cast<DWORD>(m_buffer.size() - GUARD);
        }
}

UINT_PTR CALLBACK CFileDialogEx::HookProc(HWND hChild, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg)
    {
    case WM_INITDIALOG: {
        auto* pOfn = reinterpret_cast<OPENFILENAMEW*>(lParam);
        auto* pThis = pOfn ? reinterpret_cast<CFileDialogEx*>(pOfn->lCustData) : nullptr;
        if (!pThis)
            return TRUE;
        pThis->m_pLive = pOfn;
        SetWindowLongPtrW(hChild, DWLP_USER, reinterpret_cast<LONG_PTR>(pThis));
        // OK is pressed on the dialog itself, before any notification reaches the hook: the
        // buffer is fitted there to what the user typed.
        SetWindowSubclass(GetParent(hChild), DialogSubclassProc, SUBCLASS_ID, reinterpret_cast<DWORD_PTR>(pThis));
        return TRUE;
    }
    case WM_NOTIFY: {
        auto* pThis = reinterpret_cast<CFileDialogEx*>(GetWindowLongPtrW(hChild, DWLP_USER));
        const auto* pHeader = reinterpret_cast<const NMHDR*>(lParam);
        if (pThis && pHeader && pHeader->code == CDN_SELCHANGE)
            pThis->FitSelection(GetParent(hChild));
        return 0;  // every notification keeps its default answer
    }
    case WM_DESTROY: RemoveWindowSubclass(GetParent(hChild), DialogSubclassProc, SUBCLASS_ID); return 0;
    default: return 0;
    }
}

LRESULT CALLBACK CFileDialogEx::DialogSubclassProc(HWND hDialog, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR uId,
                                                   DWORD_PTR dwRef)
{
    if (uMsg == WM_COMMAND && LOWORD(wParam) == IDOK)
        reinterpret_cast<CFileDialogEx*>(dwRef)->FitSelection(hDialog);
    else if (uMsg == WM_NCDESTROY)
        RemoveWindowSubclass(hDialog, DialogSubclassProc, uId);
    return DefSubclassProc(hDialog, uMsg, wParam, lParam);
}
