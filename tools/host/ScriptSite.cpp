#include "tools/host/ScriptSite.h"
#include "ptl/ExcepInfo.h"
#include "ptl/Text.h"

namespace Host
{

HRESULT CScriptSite::Start(const wchar_t* pszLanguage, std::wstring& strError)
{
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(pszLanguage, &clsid);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&m_pEngine));
    if (SUCCEEDED(hr))
        hr = m_pEngine.QueryInterface(&m_pParse);
    if (SUCCEEDED(hr))
        hr = m_pEngine->SetScriptSite(this);
    if (SUCCEEDED(hr))
        hr = m_pParse->InitNew();
    if (SUCCEEDED(hr))
        hr = m_pEngine->SetScriptState(SCRIPTSTATE_CONNECTED);
    if (FAILED(hr))
        strError = std::wstring(L"cannot start the ") + pszLanguage + L" engine: " + PTL::DescribeHResult(hr);
    return hr;
}

HRESULT CScriptSite::AddItem(const std::wstring& strName, IUnknown* pObject, bool bGlobalMembers)
{
    m_items[strName] = pObject;
    return m_pEngine->AddNamedItem(strName.c_str(),
                                   SCRIPTITEM_ISVISIBLE | (bGlobalMembers ? SCRIPTITEM_GLOBALMEMBERS : 0));
}

HRESULT CScriptSite::Run(const std::wstring& strCode, DWORD nContext, ULONG nFirstLine, LONG nFirstColumn)
{
    m_contexts[nContext] = {nFirstLine, nFirstColumn};
    PTL::CExcepInfo info;
    const HRESULT hr = m_pParse->ParseScriptText(strCode.c_str(), nullptr, nullptr, nullptr, nContext, nFirstLine - 1,
                                                 SCRIPTTEXT_ISVISIBLE, nullptr, &info);
    if (FAILED(hr) && !m_error.bSet && !m_bEnding)
    {
        CScriptError error;
        error.hr = info.Code(hr);
        error.strText = info.DescriptionOr(PTL::DescribeHResult(error.hr));
        error.nContext = nContext;
        error.nLine = nFirstLine;  // the engine named no line: the block's first
        KeepError(error);
    }
    return hr;
}

HRESULT CScriptSite::Global(PTL::CComPtr<IDispatch>& pGlobal)
{
    pGlobal.Release();
    return m_pEngine ? m_pEngine->GetScriptDispatch(nullptr, &pGlobal) : E_UNEXPECTED;
}

void CScriptSite::Close()
{
    if (m_pEngine)
        m_pEngine->Close();
    m_pParse.Release();
    m_pEngine.Release();
    m_items.clear();
}

void CScriptSite::KeepError(const CScriptError& error)
{
    if (m_error.bSet || m_bEnding)
        return;
    m_error = error;
    m_error.bSet = true;
}

STDMETHODIMP CScriptSite::GetLCID(LCID* plcid)
{
    if (!plcid)
        return E_POINTER;
    *plcid = LOCALE_USER_DEFAULT;
    return S_OK;
}

STDMETHODIMP CScriptSite::GetItemInfo(LPCOLESTR pstrName, DWORD dwReturnMask, IUnknown** ppiunkItem, ITypeInfo** ppti)
{
    if (ppiunkItem)
        *ppiunkItem = nullptr;
    if (ppti)
        *ppti = nullptr;
    if (!pstrName)
        return E_POINTER;
    std::map<std::wstring, PTL::CComPtr<IUnknown>>::const_iterator it;
    try
    {
        it = m_items.find(pstrName);
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    if (it == m_items.end())
        return TYPE_E_ELEMENTNOTFOUND;
    if (dwReturnMask & SCRIPTINFO_ITYPEINFO)
    {
        if (!ppti)
            return E_POINTER;
        PTL::CComPtr<IDispatch> pDispatch;
        if (FAILED(it->second.QueryInterface(&pDispatch)) ||
            FAILED(pDispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, ppti)))
            *ppti = nullptr;
        if (!*ppti && !(dwReturnMask & SCRIPTINFO_IUNKNOWN))
            return TYPE_E_ELEMENTNOTFOUND;
    }
    if (dwReturnMask & SCRIPTINFO_IUNKNOWN)
    {
        if (!ppiunkItem)
            return E_POINTER;
        *ppiunkItem = it->second.Get();
        (*ppiunkItem)->AddRef();
    }
    return S_OK;
}

STDMETHODIMP CScriptSite::GetDocVersionString(BSTR* pbstrVersion)
{
    if (pbstrVersion)
        *pbstrVersion = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CScriptSite::OnScriptError(IActiveScriptError* pError)
{
    if (!pError)
        return E_POINTER;
    try
    {
        if (m_error.bSet || m_bEnding)
            return S_OK;
        CScriptError error;
        PTL::CExcepInfo info;
        if (SUCCEEDED(pError->GetExceptionInfo(&info)))
        {
            info.FillIn();
            error.hr = info.scode;
            error.strText = info.Description();
            if (error.strText.empty())
                error.strText = info.Source();
        }
        if (error.strText.empty())
            error.strText = PTL::DescribeHResult(error.hr);
        DWORD nContext = 0;
        ULONG nLine = 0;
        LONG nColumn = -1;
        if (SUCCEEDED(pError->GetSourcePosition(&nContext, &nLine, &nColumn)))
        {
            error.nContext = nContext;
            error.nLine = nLine + 1;  // the engine counts from the starting line we gave, from 0
            error.nColumn = nColumn;
            // Columns on the first line count from the start of the code, not of the page's line.
            const auto it = m_contexts.find(nContext);
            if (it != m_contexts.end() && error.nLine == it->second.nFirstLine && nColumn >= 0)
            {
                error.nColumn = nColumn + it->second.nFirstColumn;
                if (error.nColumn < 0)
                    error.nColumn = -1;
            }
        }
        PTL::CComBSTR bstrLine;
        if (SUCCEEDED(pError->GetSourceLineText(&bstrLine)))
            error.strSourceLine = bstrLine.Str();
        KeepError(error);
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

STDMETHODIMP CScriptSite::GetWindow(HWND* phwnd)
{
    if (!phwnd)
        return E_POINTER;
    *phwnd = nullptr;  // no page window yet: the engine's boxes have no owner
    return S_OK;
}

}  // namespace Host
