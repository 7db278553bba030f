// The control made in-process from this program's own copy of the module's code, and event
// sinks connected to it through its connection point.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>
#include "control/PL5CtrlObject.h"
#include "ptl/ComPtr.h"

inline PTL::CComPtr<IPL5Ctrl> NewInProcessControl()
{
    PTL::CComPtr<IPL5Ctrl> p;
    EXPECT_EQ(S_OK, PTL::CreateComObject<CPL5CtrlObject>(IID_IPL5Ctrl, reinterpret_cast<void**>(&p)));
    return p;
}

inline void SetText(IPL5Ctrl* p, HRESULT (STDMETHODCALLTYPE IPL5Ctrl::*put)(BSTR), const std::wstring& str)
{
    PTL::CComBSTR bstr(str.c_str());
    ASSERT_EQ(S_OK, (p->*put)(bstr));
}

// One modal StartUpload to strUrl: its result, "" when there is none (*pbResult tells which).
inline std::wstring UploadTo(IPL5Ctrl* p, const std::wstring& strUrl, bool* pbResult = nullptr)
{
    SetText(p, &IPL5Ctrl::put_Action, strUrl);
    PTL::CComBSTR result;
    EXPECT_EQ(S_OK, p->StartUpload(&result));
    if (pbResult)
        *pbResult = result.Get() != nullptr;
    return result.Get() ? std::wstring(result.Get()) : std::wstring();
}

// A property read or written by its dispatch id, as a script engine does.
inline HRESULT GetProperty(IDispatch* p, DISPID dispid, PTL::CComVariant& var, WORD wFlags = DISPATCH_PROPERTYGET)
{
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    var.Clear();
    return p->Invoke(dispid, IID_NULL, 0, wFlags, &none, &var, nullptr, nullptr);
}

inline HRESULT PutProperty(IDispatch* p, DISPID dispid, const VARIANT& value)
{
    PTL::CComVariant var(value);
    DISPID dispidPut = DISPID_PROPERTYPUT;
    DISPPARAMS params = {&var, &dispidPut, 1, 1};
    return p->Invoke(dispid, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
}

inline PTL::CComPtr<IConnectionPoint> EventPoint(IPL5Ctrl* p)
{
    PTL::CComPtr<IConnectionPointContainer> pContainer;
    EXPECT_EQ(S_OK, p->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&pContainer)));
    PTL::CComPtr<IConnectionPoint> pPoint;
    if (pContainer)
        EXPECT_EQ(S_OK, pContainer->FindConnectionPoint(DIID__IPL5CtrlEvents, &pPoint));
    return pPoint;
}

// Connects a sink; returns its cookie.
inline DWORD AdviseSink(IPL5Ctrl* p, IDispatch* pSink)
{
    DWORD dwCookie = 0;
    PTL::CComPtr<IConnectionPoint> pPoint = EventPoint(p);
    if (pPoint)
        EXPECT_EQ(S_OK, pPoint->Advise(pSink, &dwCookie));
    return dwCookie;
}

inline void UnadviseSink(IPL5Ctrl* p, DWORD dwCookie)
{
    PTL::CComPtr<IConnectionPoint> pPoint = EventPoint(p);
    if (pPoint)
        EXPECT_EQ(S_OK, pPoint->Unadvise(dwCookie));
}
