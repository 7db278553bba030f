// IProvideClassInfo2: the coclass's type information and its default source interface.
#pragma once
#include <windows.h>
#include <ocidl.h>
#include "ptl/TypeLib.h"

namespace PTL
{
template <const CLSID* pclsid, const IID* piidSource>
class IProvideClassInfo2Impl : public IProvideClassInfo2
{
public:
    STDMETHODIMP GetClassInfo(ITypeInfo** ppTI) override
    {
        if (!ppTI)
            return E_POINTER;
        return CTypeLib::GetTypeInfo(*pclsid, ppTI);
    }
    STDMETHODIMP GetGUID(DWORD dwGuidKind, GUID* pGUID) override
    {
        if (!pGUID)
            return E_POINTER;
        if (dwGuidKind != GUIDKIND_DEFAULT_SOURCE_DISP_IID)
        {
            *pGUID = GUID_NULL;
            return E_INVALIDARG;
        }
        *pGUID = *piidSource;
        return S_OK;
    }
};
}  // namespace PTL
