// A connectable sink for _IPL5CtrlEvents that records every call with its arguments as they
// arrived and answers with a result chosen by the test.
#pragma once
#include <windows.h>
#include <functional>
#include <vector>
#include "Pelora5_h.h"
#include "ptl/ComPtr.h"
#include "tests/common/CountedFake.h"

class CRecordingSink : public CCountedFake<IDispatch>
{
public:
    struct CCall
    {
        DISPID dispid;
        std::vector<PTL::CComVariant> args;  // in dispatch order (last declared first)
        bool bResultAsked;
    };

    // What the handler "returns": VT_EMPTY by default.
    std::function<void(DISPID, VARIANT*)> onCall;
    std::vector<CCall> calls;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID__IPL5CtrlEvents)
        {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* p) override
    {
        *p = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD wFlags, DISPPARAMS* pParams, VARIANT* pResult, EXCEPINFO*,
                        UINT*) override
    {
        CCall call{dispid, {}, pResult != nullptr};
        for (UINT i = 0; i < pParams->cArgs; ++i)
            call.args.emplace_back(pParams->rgvarg[i]);
        calls.push_back(std::move(call));
        if (pResult && onCall)
            onCall(dispid, pResult);
        return wFlags == DISPATCH_METHOD ? S_OK : E_INVALIDARG;
    }
};

// Sets a handler's result.
inline std::function<void(DISPID, VARIANT*)> Returns(VARTYPE vt, LONG nValue)
{
    return [vt, nValue](DISPID, VARIANT* pResult) {
        pResult->vt = vt;
        if (vt == VT_BOOL)
            pResult->boolVal = static_cast<VARIANT_BOOL>(nValue);
        else
            pResult->lVal = nValue;
    };
}
