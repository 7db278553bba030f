#include "ptl/ConnectionPoint.h"

namespace PTL
{
STDMETHODIMP CConnectionPoint::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IConnectionPoint)
    {
        *ppv = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP CConnectionPoint::GetConnectionInterface(IID* pIID)
{
    if (!pIID)
        return E_POINTER;
    *pIID = m_iidEvents;
    return S_OK;
}

STDMETHODIMP CConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC)
{
    if (!ppCPC)
        return E_POINTER;
    *ppCPC = m_pContainer;
    m_pContainer->AddRef();
    return S_OK;
}

STDMETHODIMP CConnectionPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie)
{
    if (!pdwCookie)
        return E_POINTER;
    *pdwCookie = 0;
    if (!pUnkSink)
        return E_POINTER;
    CComPtr<IDispatch> pSink;
    if (FAILED(pUnkSink->QueryInterface(m_iidEvents, reinterpret_cast<void**>(&pSink))) || !pSink)
        return CONNECT_E_CANNOTCONNECT;
    size_t nSlot = 0;
    while (nSlot < m_sinks.size() && m_sinks[nSlot])
        ++nSlot;
    if (nSlot == m_sinks.size())
        m_sinks.emplace_back();
    m_sinks[nSlot] = std::move(pSink);
    *pdwCookie = static_cast<DWORD>(nSlot + 1);
    return S_OK;
}

STDMETHODIMP CConnectionPoint::Unadvise(DWORD dwCookie)
{
    if (dwCookie == 0 || dwCookie > m_sinks.size() || !m_sinks[dwCookie - 1])
        return CONNECT_E_NOCONNECTION;
    // Clear the slot before the release: the sink's destructor may call back into us.
    CComPtr<IDispatch> pGone = std::move(m_sinks[dwCookie - 1]);
    m_sinks[dwCookie - 1] = nullptr;
    return S_OK;
}

size_t CConnectionPoint::ConnectionCount() const
{
    size_t n = 0;
    for (const CComPtr<IDispatch>& pSink : m_sinks)
        n += pSink ? 1 : 0;
    return n;
}

HRESULT CConnectionPoint::Invoke(DISPID dispid, VARIANT* pArgs, UINT nArgs, bool bFirstSinkOnly, VARIANT_BOOL* pvbVeto)
{
    HRESULT hr = S_OK;
    DISPPARAMS params = {pArgs, nullptr, nArgs, 0};
    // A handler may Unadvise while it runs: look each slot up afresh and hold the sink for the
    // duration of its call.
    for (size_t i = 0; i < m_sinks.size(); ++i)
    {
        CComPtr<IDispatch> pSink = m_sinks[i];
        if (!pSink)
            continue;
        CComVariant varResult;
        hr = pSink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                           pvbVeto ? &varResult : nullptr, nullptr, nullptr);
        if (pvbVeto && varResult.vt == VT_BOOL)
            *pvbVeto = varResult.boolVal;
        if (bFirstSinkOnly)
            break;
    }
    return hr;
}

STDMETHODIMP CConnectionPoint::EnumConnections(IEnumConnections** ppEnum)
{
    if (!ppEnum)
        return E_POINTER;
    std::vector<CONNECTDATA> connections;
    for (size_t i = 0; i < m_sinks.size(); ++i)
        if (m_sinks[i])
            connections.push_back({m_sinks[i].Get(), static_cast<DWORD>(i + 1)});
    return CEnum<IEnumConnections, &IID_IEnumConnections, CONNECTDATA, CCopyConnectData>::Create(connections, ppEnum);
}
}  // namespace PTL
