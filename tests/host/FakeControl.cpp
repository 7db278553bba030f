#include "host/FakeControl.h"

#include "Pelora5_h.h"

#include <olectl.h>

namespace HostTest {
namespace {

HRESULT LoadOwnTypeLib(ComPtr<ITypeLib>& pLib)
{
    wchar_t szPath[MAX_PATH];
    GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    return LoadTypeLibEx(szPath, REGKIND_NONE, &pLib);
}

}  // namespace

CVariant CFakeControl::Fire(DISPID nId, std::vector<CVariant> args, HRESULT* phr)
{
    std::vector<VARIANT> reversed;
    for (auto it = args.rbegin(); it != args.rend(); ++it)
        reversed.push_back(*it->Ptr());  // shallow: args keeps ownership
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr, UINT(reversed.size()), 0};
    CVariant result;
    HRESULT hr = S_OK;
    const auto sinks = m_sinks;
    for (const auto& pSink : sinks) {
        if (!pSink)
            continue;
        result.Clear();
        hr = pSink->Invoke(nId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.Ptr(), nullptr,
                           nullptr);
    }
    if (phr)
        *phr = hr;
    return result;
}

size_t CFakeControl::SinkCount() const
{
    size_t n = 0;
    for (const auto& pSink : m_sinks)
        n += pSink ? 1 : 0;
    return n;
}

STDMETHODIMP CFakeControl::GetTypeInfoCount(UINT* pn)
{
    *pn = 0;
    return S_OK;
}

STDMETHODIMP CFakeControl::GetTypeInfo(UINT, LCID, ITypeInfo** pp)
{
    *pp = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CFakeControl::GetClassInfo(ITypeInfo** ppTI)
{
    ComPtr<ITypeLib> pLib;
    const HRESULT hr = LoadOwnTypeLib(pLib);
    if (FAILED(hr))
        return hr;
    return pLib->GetTypeInfoOfGuid(CLSID_PL5Ctrl, ppTI);
}

STDMETHODIMP CFakeControl::GetGUID(DWORD dwGuidKind, GUID* pGUID)
{
    if (dwGuidKind != GUIDKIND_DEFAULT_SOURCE_DISP_IID)
        return E_INVALIDARG;
    *pGUID = DIID__IPL5CtrlEvents;
    return S_OK;
}

STDMETHODIMP CFakeControl::EnumConnectionPoints(IEnumConnectionPoints** pp)
{
    *pp = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CFakeControl::FindConnectionPoint(REFIID riid, IConnectionPoint** pp)
{
    *pp = nullptr;
    if (!IsEqualIID(riid, DIID__IPL5CtrlEvents))
        return CONNECT_E_NOCONNECTION;
    *pp = this;
    AddRef();
    return S_OK;
}

STDMETHODIMP CFakeControl::GetConnectionInterface(IID* pIID)
{
    *pIID = DIID__IPL5CtrlEvents;
    return S_OK;
}

STDMETHODIMP CFakeControl::GetConnectionPointContainer(IConnectionPointContainer** pp)
{
    *pp = this;
    AddRef();
    return S_OK;
}

STDMETHODIMP CFakeControl::Advise(IUnknown* pUnkSink, DWORD* pdwCookie)
{
    ComPtr<IDispatch> pSink;
    if (FAILED(pUnkSink->QueryInterface(DIID__IPL5CtrlEvents, reinterpret_cast<void**>(pSink.GetAddressOf()))))
        return CONNECT_E_CANNOTCONNECT;
    m_sinks.push_back(pSink);
    *pdwCookie = DWORD(m_sinks.size());
    return S_OK;
}

STDMETHODIMP CFakeControl::Unadvise(DWORD dwCookie)
{
    if (dwCookie == 0 || dwCookie > m_sinks.size() || !m_sinks[dwCookie - 1])
        return CONNECT_E_NOCONNECTION;
    m_sinks[dwCookie - 1].Reset();
    return S_OK;
}

STDMETHODIMP CFakeControl::EnumConnections(IEnumConnections** pp)
{
    *pp = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CFakeControl::GetClassID(CLSID* pClassID)
{
    *pClassID = CLSID_PL5Ctrl;
    return S_OK;
}

STDMETHODIMP CFakeControl::InitNew()
{
    bInitNew = true;
    return S_OK;
}

STDMETHODIMP CFakeControl::Load(IPropertyBag* pPropBag, IErrorLog*)
{
    bLoaded = true;
    for (const auto& request : requests) {
        CVariant value;
        V_VT(value.Ptr()) = request.nType;  // an empty "current value" of the property's type
        if (request.nType == VT_BSTR)
            V_BSTR(value.Ptr()) = nullptr;
        const HRESULT hr = pPropBag->Read(request.strName.c_str(), value.Ptr(), nullptr);
        answers.push_back({request.strName, hr, value});
    }
    return S_OK;
}

}  // namespace HostTest
