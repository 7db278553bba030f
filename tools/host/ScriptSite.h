// The script engine of a page and the site it talks to: the system's JScript through
// IActiveScript and IActiveScriptParse, with named items for the page's objects and the host's
// own objects, and the first script error kept with its text and line.
#pragma once

#include "ptl/ComPtr.h"
#include "ptl/ComObject.h"

#include <activscp.h>

#include <map>
#include <string>

namespace Host
{

struct CScriptError
{
    bool bSet = false;
    std::wstring strText;        // "Microsoft JScript runtime error: ..." or the engine's words
    std::wstring strSourceLine;  // the offending line of source, when the engine has it
    DWORD nContext = 0;          // the source context cookie given with the script text
    ULONG nLine = 0;             // 1-based line in the page (0: unknown)
    LONG nColumn = -1;
    HRESULT hr = S_OK;
};

class CScriptSite : public IActiveScriptSite, public IActiveScriptSiteWindow, public PTL::CUncountedObjectRoot
{
public:
    static const QITAB* InterfaceTable()
    {
        static const QITAB qit[] = {
            QITABENT(CScriptSite, IActiveScriptSite),
            QITABENT(CScriptSite, IActiveScriptSiteWindow),
            {nullptr, 0},
        };
        return qit;
    }
    CScriptSite() = default;

    // Creates the engine for a language ("JScript") and puts it into the connected state.
    HRESULT Start(const wchar_t* pszLanguage, std::wstring& strError);
    // Adds a named item; with bGlobalMembers its members are reachable without the item's name.
    HRESULT AddItem(const std::wstring& strName, IUnknown* pObject, bool bGlobalMembers);
    // Runs (or, for declarations, defines) script text whose first line is nFirstLine of the
    // page (1-based) and whose first character stands at nFirstColumn of that line (from 0; less
    // than 0 when the code starts with text of the host's own). A failure is kept as the error
    // unless one is kept already.
    HRESULT Run(const std::wstring& strCode, DWORD nContext, ULONG nFirstLine, LONG nFirstColumn);
    // The script's global object, through which the host calls script functions.
    HRESULT Global(PTL::CComPtr<IDispatch>& pGlobal);
    // Closes the engine, which drops its references to the site and the named items.
    void Close();

    // Errors that arrive while this is set are the page ending itself, not faults.
    void SetEnding() { m_bEnding = true; }
    const CScriptError& Error() const { return m_error; }
    // Keeps an error that the host found itself (an exception returned by a script function).
    void KeepError(const CScriptError& error);

    // IActiveScriptSite
    STDMETHODIMP GetLCID(LCID* plcid) override;
    STDMETHODIMP GetItemInfo(LPCOLESTR pstrName, DWORD dwReturnMask, IUnknown** ppiunkItem, ITypeInfo** ppti) override;
    STDMETHODIMP GetDocVersionString(BSTR* pbstrVersion) override;
    STDMETHODIMP OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    STDMETHODIMP OnStateChange(SCRIPTSTATE) override { return S_OK; }
    STDMETHODIMP OnScriptError(IActiveScriptError* pError) override;
    STDMETHODIMP OnEnterScript() override { return S_OK; }
    STDMETHODIMP OnLeaveScript() override { return S_OK; }
    // IActiveScriptSiteWindow
    STDMETHODIMP GetWindow(HWND* phwnd) override;
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }

private:
    PTL::CComPtr<IActiveScript> m_pEngine;
    PTL::CComPtr<IActiveScriptParse> m_pParse;
    std::map<std::wstring, PTL::CComPtr<IUnknown>> m_items;
    struct CContext
    {
        ULONG nFirstLine;
        LONG nFirstColumn;
    };
    std::map<DWORD, CContext> m_contexts;
    CScriptError m_error;
    bool m_bEnding = false;
};

}  // namespace Host
