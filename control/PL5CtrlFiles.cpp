// The control's file list methods: adding, removing, moving and reading back files.
#include "control/PL5Ctrl.h"
#include "control/ScriptValues.h"

using namespace PL5Script;

std::vector<FileEntry> CPL5Ctrl::ListedFiles() const { return {}; }

STDMETHODIMP CPL5Ctrl::get_GetCount(LONG* pVal) { return GetNumber(0L, pVal); }
STDMETHODIMP CPL5Ctrl::get_GetFileName(LONG, BSTR* pVal) { return GetText(std::wstring(), pVal); }
STDMETHODIMP CPL5Ctrl::get_GetFileSize(LONG, LONG* pVal) { return pVal ? S_OK : E_POINTER; }
STDMETHODIMP CPL5Ctrl::get_GetFileID(LONG, BSTR* pVal) { return GetText(std::wstring(), pVal); }
STDMETHODIMP CPL5Ctrl::get_IsTempFile(LONG, VARIANT_BOOL* pVal) { return GetFlag(false, pVal); }
STDMETHODIMP CPL5Ctrl::get_SelectState(LONG, VARIANT_BOOL* pVal) { return GetFlag(false, pVal); }
STDMETHODIMP CPL5Ctrl::put_SelectState(LONG, VARIANT_BOOL) { return S_OK; }

// Not built yet: accepted, no effect.
STDMETHODIMP CPL5Ctrl::AppendDragDrop(VARIANT, BSTR) { return S_OK; }
STDMETHODIMP CPL5Ctrl::ClearDragDrop() { return S_OK; }
STDMETHODIMP CPL5Ctrl::AppendFilter(VARIANT, VARIANT) { return S_OK; }
STDMETHODIMP CPL5Ctrl::ClearFilter() { return S_OK; }
STDMETHODIMP CPL5Ctrl::OpenFile(BSTR) { return S_OK; }
STDMETHODIMP CPL5Ctrl::AddFile(BSTR, BSTR) { return S_OK; }
STDMETHODIMP CPL5Ctrl::AddTempFile(BSTR, ULONG, BSTR) { return S_OK; }
STDMETHODIMP CPL5Ctrl::SelectSingleFile(BSTR, BSTR, VARIANT* pVal)
{
    if (!pVal)
        return E_POINTER;
    VariantInit(pVal);
    return S_OK;
}
STDMETHODIMP CPL5Ctrl::RemoveAllFiles() { return S_OK; }
STDMETHODIMP CPL5Ctrl::RemoveSelectedFiles() { return S_OK; }
STDMETHODIMP CPL5Ctrl::RemoveFromIndex(UINT) { return S_OK; }
STDMETHODIMP CPL5Ctrl::MoveItem(LONG, LONG) { return S_OK; }

bool CPL5Ctrl::MayExecute(const wchar_t* szPath) const
{
    // A page may only open web addresses and the files the user put into the list; anything
    // else (a program, a UNC path, a document of the page's choosing) would let any page run
    // code on the user's machine.
    const std::wstring strPath = szPath ? szPath : L"";
    auto startsWith = [&strPath](const wchar_t* szPrefix) {
        const size_t n = wcslen(szPrefix);
        return strPath.size() >= n && _wcsnicmp(strPath.c_str(), szPrefix, n) == 0;
    };
    return startsWith(L"http://") || startsWith(L"https://");
}
