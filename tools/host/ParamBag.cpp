#include "tools/host/ParamBag.h"
#include "ptl/ExcepInfo.h"

namespace Host
{

STDMETHODIMP CParamBag::Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* pErrorLog)
{
    if (!pszPropName || !pVar)
        return E_POINTER;
    try
    {
        m_requests.emplace_back(pszPropName);
        const CPageParam* pParam = nullptr;
        for (const auto& param : m_params)
        {
            if (CompareStringOrdinal(param.strName.c_str(), int(param.strName.size()), pszPropName, -1, TRUE) ==
                CSTR_EQUAL)
            {
                pParam = &param;
                break;
            }
        }
        if (!pParam)
            return E_INVALIDARG;

        const VARTYPE nType = V_VT(pVar) == VT_EMPTY ? VARTYPE(VT_BSTR) : V_VT(pVar);
        PTL::CComVariant text(pParam->strValue);
        PTL::CComVariant converted;
        HRESULT hr = S_OK;
        if (nType == VT_BSTR)
            converted = text;
        else
            hr = VariantChangeType(&converted, &text, 0, nType);
        if (FAILED(hr))
        {
            if (pErrorLog)
            {
                PTL::CExcepInfo info;
                info.scode = hr;
                info.bstrSource = SysAllocString(L"PARAM");
                pErrorLog->AddError(pszPropName, &info);
            }
            return hr;
        }
        VariantClear(pVar);
        converted.Detach(pVar);
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP CParamBag::Write(LPCOLESTR, VARIANT*)
{
    return E_NOTIMPL;  // a page's PARAMs are read-only
}

}  // namespace Host
