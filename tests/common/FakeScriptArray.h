// A script array as an engine shows it: "length" and elements named "0", "1", ... Any read can
// be made to fail, lie or call back.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ptl/ComPtr.h"
#include "tests/common/CountedFake.h"

class CFakeArray : public CCountedFake<IDispatch>
{
public:
    std::function<HRESULT(VARIANT*)> fnLength;  // none: the object has no "length"
    std::function<HRESULT(ULONG, VARIANT*)> fnElement;
    std::vector<PTL::CComVariant> elements;  // served when fnElement is not set
    ULONG nReads = 0;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = (riid == IID_IUnknown || riid == IID_IDispatch) ? static_cast<IDispatch*>(this) : nullptr;
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* p) override { return *p = 0, S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* pNames, UINT, LCID, DISPID* pId) override
    {
        const std::wstring strName = pNames[0];
        if (strName == L"length")
            return fnLength ? (*pId = 1, S_OK) : DISP_E_UNKNOWNNAME;
        const ULONG nIndex = wcstoul(strName.c_str(), nullptr, 10);
        if (strName.empty() || strName.find_first_not_of(L"0123456789") != std::wstring::npos ||
            (!fnElement && nIndex >= elements.size()))
            return DISP_E_UNKNOWNNAME;
        *pId = static_cast<DISPID>(100 + nIndex);
        return S_OK;
    }
    STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* pResult, EXCEPINFO*, UINT*) override
    {
        ++nReads;
        if (!pResult || (dispid != 1 && dispid < 100))
            return DISP_E_MEMBERNOTFOUND;  // e.g. the default value, asked for by conversions
        VariantInit(pResult);
        if (dispid == 1)
            return fnLength(pResult);
        const ULONG nIndex = static_cast<ULONG>(dispid - 100);
        if (fnElement)
            return fnElement(nIndex, pResult);
        return VariantCopy(pResult, &elements[nIndex]);
    }
};

inline HRESULT Count(VARIANT* p, LONG n)
{
    p->vt = VT_I4;
    p->lVal = n;
    return S_OK;
}

// An array of these elements, its length told truly; it lives until the end of the test.
inline CFakeArray* ArrayOf(std::vector<PTL::CComVariant> elements)
{
    auto pOwned = std::make_shared<CFakeArray>();
    PL5Test::AtTestEnd().push_back([pOwned]() mutable { pOwned.reset(); });
    CFakeArray* p = pOwned.get();
    const LONG n = static_cast<LONG>(elements.size());
    p->elements = std::move(elements);
    p->fnLength = [n](VARIANT* pv) { return Count(pv, n); };
    return p;
}

inline CFakeArray* Array(const std::vector<std::wstring>& texts)
{
    std::vector<PTL::CComVariant> elements;
    for (const std::wstring& str : texts)
        elements.emplace_back(str);
    return ArrayOf(std::move(elements));
}

inline VARIANT Object(IDispatch* p)
{
    VARIANT var;
    var.vt = VT_DISPATCH;
    var.pdispVal = p;
    return var;
}
