// The property bag an OBJECT tag's PARAMs are handed over in. Like a browser's, it holds text and
// converts it to whatever type the object asks for.
#pragma once

#include "ptl/ComPtr.h"
#include "ptl/ComObject.h"
#include "tools/host/PageModel.h"

#include <ocidl.h>

#include <vector>

namespace Host
{

class CParamBag : public IPropertyBag, public PTL::CUncountedObjectRoot
{
public:
    static const QITAB* InterfaceTable()
    {
        static const QITAB qit[] = {QITABENT(CParamBag, IPropertyBag), {nullptr, 0}};
        return qit;
    }
    explicit CParamBag(std::vector<CPageParam> params) : m_params(std::move(params)) {}

    // Read: the PARAM of that name (without regard to case; the first of duplicates). With an
    // empty VARIANT the text comes back as a BSTR; otherwise it is converted to the type the
    // VARIANT carries. E_INVALIDARG when there is no such PARAM, the conversion's error when the
    // text does not convert.
    STDMETHODIMP Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* pErrorLog) override;
    STDMETHODIMP Write(LPCOLESTR pszPropName, VARIANT* pVar) override;

    // Names the object asked for, in the order asked (tests read this).
    const std::vector<std::wstring>& Requests() const { return m_requests; }

private:
    std::vector<CPageParam> m_params;
    std::vector<std::wstring> m_requests;
};

}  // namespace Host
