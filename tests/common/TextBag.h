#pragma once
#include <windows.h>
#include <ocidl.h>
#include <string>
#include <utility>
#include <vector>
#include "ptl/ComPtr.h"
#include "tests/common/CountedFake.h"

// A property bag holding texts, as an object tag's PARAMs; it converts to the type asked for
// and remembers the order of the reads.
class CTextBag : public CCountedFake<IPropertyBag>
{
public:
    std::vector<std::pair<std::wstring, std::wstring>> values;
    std::vector<std::wstring> reads;
    std::vector<std::pair<std::wstring, PTL::CComVariant>> written;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IPropertyBag)
        {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP Read(LPCOLESTR szName, VARIANT* pVar, IErrorLog*) override
    {
        reads.emplace_back(szName);
        for (const auto& v : values)
            if (_wcsicmp(v.first.c_str(), szName) == 0)
            {
                const VARTYPE vt = pVar->vt;
                PTL::CComVariant text(v.second.c_str());
                return VariantChangeType(pVar, &text, 0, vt == VT_EMPTY ? VT_BSTR : vt);
            }
        return E_INVALIDARG;
    }
    STDMETHODIMP Write(LPCOLESTR szName, VARIANT* pVar) override
    {
        written.emplace_back(szName, PTL::CComVariant(*pVar));
        return S_OK;
    }
};
