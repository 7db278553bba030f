#include "tools/host/EventSink.h"

namespace Host
{

HRESULT FindDefaultSource(IUnknown* pObject, IID& iid, PTL::CComPtr<ITypeInfo>& pTypeInfo)
{
    PTL::CComPtr<IProvideClassInfo> pClassInfo;
    HRESULT hr = pObject->QueryInterface(IID_PPV_ARGS(&pClassInfo));
    if (FAILED(hr))
        return E_NOINTERFACE;
    PTL::CComPtr<ITypeInfo> pClass;
    hr = pClassInfo->GetClassInfo(&pClass);
    if (FAILED(hr))
        return hr;

    // The class's default source interface, by its flags; IProvideClassInfo2 may name it
    // directly, and then that one is taken.
    PTL::CComPtr<IProvideClassInfo2> pClassInfo2;
    const bool bHasGuid = SUCCEEDED(pObject->QueryInterface(IID_PPV_ARGS(&pClassInfo2))) &&
                          SUCCEEDED(pClassInfo2->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &iid));
    TYPEATTR* pClassAttr = nullptr;
    hr = pClass->GetTypeAttr(&pClassAttr);
    if (FAILED(hr))
        return hr;
    const UINT nImplTypes = pClassAttr->cImplTypes;
    pClass->ReleaseTypeAttr(pClassAttr);
    for (UINT i = 0; i < nImplTypes; ++i)
    {
        INT nFlags = 0;
        HREFTYPE hRef = 0;
        PTL::CComPtr<ITypeInfo> pImpl;
        if (FAILED(pClass->GetImplTypeFlags(i, &nFlags)) || FAILED(pClass->GetRefTypeOfImplType(i, &hRef)) ||
            FAILED(pClass->GetRefTypeInfo(hRef, &pImpl)))
            continue;
        TYPEATTR* pAttr = nullptr;
        if (FAILED(pImpl->GetTypeAttr(&pAttr)))
            continue;
        const IID implIid = pAttr->guid;
        pImpl->ReleaseTypeAttr(pAttr);
        const bool bDefaultSource =
            (nFlags & (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE)) == (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
        if (bHasGuid ? IsEqualIID(implIid, iid) : bDefaultSource)
        {
            iid = implIid;
            pTypeInfo = pImpl;
            return S_OK;
        }
    }
    if (bHasGuid)
    {  // named by the object but not listed in its class: look it up in the library
        PTL::CComPtr<ITypeLib> pLib;
        UINT nIndex = 0;
        if (SUCCEEDED(pClass->GetContainingTypeLib(&pLib, &nIndex)) &&
            SUCCEEDED(pLib->GetTypeInfoOfGuid(iid, &pTypeInfo)))
            return S_OK;
    }
    return E_NOINTERFACE;
}

DISPID FindEventId(ITypeInfo* pTypeInfo, const std::wstring& strEvent)
{
    std::wstring strName = strEvent;
    LPOLESTR pszName = &strName[0];
    DISPID nId = DISPID_UNKNOWN;
    if (FAILED(pTypeInfo->GetIDsOfNames(&pszName, 1, &nId)))
        return DISPID_UNKNOWN;
    return nId;
}

STDMETHODIMP CEventSink::Invoke(DISPID nId, REFIID, LCID, WORD, DISPPARAMS* pParams, VARIANT* pResult, EXCEPINFO*,
                                UINT*)
{
    if (pResult)
        VariantInit(pResult);
    if (!m_handler)
        return S_OK;
    try
    {
        // Keep the sink alive for the call even if the handler ends the page.
        PTL::CComPtr<IDispatch> pSelf(this);
        CHandler handler = m_handler;
        return handler(nId, pParams, pResult);
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}

HRESULT CEventConnection::Connect(IUnknown* pObject, const IID& iid, IUnknown* pSink)
{
    Disconnect();
    PTL::CComPtr<IConnectionPointContainer> pContainer;
    HRESULT hr = pObject->QueryInterface(IID_PPV_ARGS(&pContainer));
    if (FAILED(hr))
        return hr;
    PTL::CComPtr<IConnectionPoint> pPoint;
    hr = pContainer->FindConnectionPoint(iid, &pPoint);
    if (FAILED(hr))
        return hr;
    DWORD nCookie = 0;
    hr = pPoint->Advise(pSink, &nCookie);
    if (FAILED(hr))
        return hr;
    m_pPoint = pPoint;
    m_nCookie = nCookie;
    return S_OK;
}

void CEventConnection::Disconnect()
{
    if (m_pPoint)
        m_pPoint->Unadvise(m_nCookie);
    m_pPoint.Release();
    m_nCookie = 0;
}

}  // namespace Host
