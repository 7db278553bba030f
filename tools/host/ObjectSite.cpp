#include "tools/host/ObjectSite.h"

#include "tools/host/ParamBag.h"

#include <cwctype>

namespace Host {

HRESULT CreateRegisteredObject(const CLSID& clsid, IUnknown** ppObject)
{
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IUnknown,
                            reinterpret_cast<void**>(ppObject));
}

bool PixelsToHimetric(const std::wstring& strLength, LONG& nHimetric)
{
    std::wstring str = strLength;
    if (str.size() > 2 && CompareStringOrdinal(str.c_str() + str.size() - 2, 2, L"px", 2, TRUE) == CSTR_EQUAL)
        str.resize(str.size() - 2);
    if (str.empty() || str.size() > 6)
        return false;
    for (wchar_t ch : str)
        if (!std::iswdigit(ch))
            return false;
    // 96 pixels to the inch, 2540 HIMETRIC units to the inch.
    nHimetric = LONG(MulDiv(std::stoi(str), 2540, 96));
    return true;
}

HRESULT CObjectSite::Create(const CObjectFactory& factory, std::wstring& strError)
{
    CLSID clsid;
    HRESULT hr = CLSIDFromString(m_element.strClassId.c_str(), &clsid);
    if (FAILED(hr)) {
        strError = L"classid " + m_element.strClassId + L" is not a class identifier";
        return hr;
    }
    hr = factory(clsid, &m_pObject);
    if (FAILED(hr)) {
        strError = L"cannot create " + m_element.strClassId + L": " + DescribeHResult(hr);
        return hr;
    }
    m_pObject.As(&m_pOleObject);

    DWORD nMisc = 0;
    if (m_pOleObject && FAILED(m_pOleObject->GetMiscStatus(DVASPECT_CONTENT, &nMisc)))
        nMisc = 0;
    const bool bSiteFirst = (nMisc & OLEMISC_SETCLIENTSITEFIRST) != 0;
    if (m_pOleObject && bSiteFirst) {
        hr = m_pOleObject->SetClientSite(this);
        if (FAILED(hr)) {
            strError = L"SetClientSite failed: " + DescribeHResult(hr);
            return hr;
        }
        m_bSiteSet = true;
    }
    hr = Load(strError);
    if (FAILED(hr))
        return hr;
    if (m_pOleObject && !bSiteFirst) {
        hr = m_pOleObject->SetClientSite(this);
        if (FAILED(hr)) {
            strError = L"SetClientSite failed: " + DescribeHResult(hr);
            return hr;
        }
        m_bSiteSet = true;
    }
    SIZEL size = {};
    if (m_pOleObject && PixelsToHimetric(m_element.strWidth, size.cx) &&
        PixelsToHimetric(m_element.strHeight, size.cy))
        m_pOleObject->SetExtent(DVASPECT_CONTENT, &size);  // an object of fixed size may refuse
    return S_OK;
}

HRESULT CObjectSite::Load(std::wstring& strError)
{
    ComPtr<IPersistPropertyBag> pBagPersist;
    if (SUCCEEDED(m_pObject.As(&pBagPersist))) {
        HRESULT hr;
        if (m_element.params.empty()) {
            hr = pBagPersist->InitNew();
            if (FAILED(hr))
                strError = L"IPersistPropertyBag::InitNew failed: " + DescribeHResult(hr);
        } else {
            auto pBag = MakeComObject<CParamBag>(m_element.params);
            hr = pBagPersist->Load(pBag.Get(), nullptr);
            if (FAILED(hr))
                strError = L"loading the PARAMs failed: " + DescribeHResult(hr);
        }
        return hr;
    }
    if (!m_element.params.empty()) {
        strError = L"the object takes no PARAMs (it has no IPersistPropertyBag)";
        return E_NOINTERFACE;
    }
    ComPtr<IPersistStreamInit> pStreamPersist;
    if (SUCCEEDED(m_pObject.As(&pStreamPersist))) {
        const HRESULT hr = pStreamPersist->InitNew();
        if (FAILED(hr))
            strError = L"IPersistStreamInit::InitNew failed: " + DescribeHResult(hr);
        return hr;
    }
    return S_OK;
}

void CObjectSite::Close()
{
    if (m_pOleObject) {
        m_pOleObject->Close(OLECLOSE_NOSAVE);
        if (m_bSiteSet)
            m_pOleObject->SetClientSite(nullptr);
    }
    m_bSiteSet = false;
    m_pOleObject.Reset();
    m_pObject.Reset();
}

STDMETHODIMP CObjectSite::GetMoniker(DWORD, DWORD, IMoniker** ppMoniker)
{
    if (ppMoniker)
        *ppMoniker = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CObjectSite::GetContainer(IOleContainer** ppContainer)
{
    if (ppContainer)
        *ppContainer = nullptr;
    return E_NOINTERFACE;  // no document model yet
}

}  // namespace Host
