// Fires the events of _IPL5CtrlEvents to the sinks connected to the control.
//
// Arguments go out in dispatch order (last declared first) with the VARIANT types pages have
// always received; a veto is read only from a VT_BOOL result and the last VT_BOOL wins. The
// answer of an upload goes to the first connected sink only.
#pragma once
#include <windows.h>
#include "ptl/ComPtr.h"
#include "ptl/ConnectionPoint.h"

enum PL5EventId : DISPID
{
    DISPID_ONBEFOREADDFILE = 1,
    DISPID_ONADDFILE = 2,
    DISPID_ONREMOVEITEMS = 3,
    DISPID_ONBEFOREREMOVEITEM = 4,
    DISPID_ONAFTERREMOVEITEM = 5,
    DISPID_ONITEMCLICK = 6,
    DISPID_ONITEMDBLCLICK = 7,
    DISPID_ONBEFOREDROP = 8,
    DISPID_ONAFTERDROP = 9,
    DISPID_ONUPLOADCOMPLETE = 10,
    DISPID_ONUPLOADCANCEL = 11,
    DISPID_ONUPLOADERROR = 12,
    DISPID_ONUPLOADRETRY = 1001,
};

// Why an upload attempt is tried again (OnUploadRetry's reason): the server's HTTP status when it
// answered one that is worth retrying (408, 429, 500, 502, 503, 504), else one of these.
enum PL5RetryReason : ULONG
{
    RETRY_REASON_CONNECT = 1,  // no connection could be made
    RETRY_REASON_LOST = 2,     // the connection was lost before the whole answer was read
    RETRY_REASON_TIMEOUT = 3,  // sending or receiving timed out
};

// One event argument as sent: a string or an unsigned 32-bit number.
class CEventArg
{
public:
    CEventArg(const wchar_t* sz) : m_sz(sz) {}
    CEventArg(ULONG n) : m_n(n), m_bNumber(true) {}

    // Fills var; false when a string cannot be copied.
    bool To(VARIANT& var) const
    {
        if (m_bNumber)
        {
            var.vt = VT_UI4;
            var.ulVal = m_n;
            return true;
        }
        var.vt = VT_BSTR;
        var.bstrVal = SysAllocString(m_sz ? m_sz : L"");
        return var.bstrVal != nullptr;
    }

private:
    const wchar_t* m_sz = nullptr;
    ULONG m_n = 0;
    bool m_bNumber = false;
};

template <class T>
class CProxy_IPL5CtrlEvents
{
public:
    HRESULT Fire_OnBeforeAddFile(const wchar_t* szFileName, VARIANT_BOOL* pvbRet)
    {
        return Fire(DISPID_ONBEFOREADDFILE, {szFileName}, pvbRet);
    }
    HRESULT Fire_OnAddFile(const wchar_t* szFileName, ULONG nFileSize)
    {
        return Fire(DISPID_ONADDFILE, {szFileName, nFileSize});
    }
    HRESULT Fire_OnRemoveItems() { return Fire(DISPID_ONREMOVEITEMS, {}); }
    HRESULT Fire_OnBeforeRemoveItem(UINT nIndex, VARIANT_BOOL* pvbRet)
    {
        return Fire(DISPID_ONBEFOREREMOVEITEM, {static_cast<ULONG>(nIndex)}, pvbRet);
    }
    HRESULT Fire_OnAfterRemoveItem(const wchar_t* szFileName) { return Fire(DISPID_ONAFTERREMOVEITEM, {szFileName}); }
    HRESULT Fire_OnItemClick(ULONG nIndex) { return Fire(DISPID_ONITEMCLICK, {nIndex}); }
    HRESULT Fire_OnItemDblClick(ULONG nIndex) { return Fire(DISPID_ONITEMDBLCLICK, {nIndex}); }
    HRESULT Fire_OnBeforeDrop(const wchar_t* szFileName, const wchar_t* szInputName, VARIANT_BOOL* pvbRet)
    {
        return Fire(DISPID_ONBEFOREDROP, {szFileName, szInputName}, pvbRet);
    }
    HRESULT Fire_OnAfterDrop() { return Fire(DISPID_ONAFTERDROP, {}); }
    HRESULT Fire_OnUploadComplete(const wchar_t* szResponse)
    {
        return Fire(DISPID_ONUPLOADCOMPLETE, {szResponse}, nullptr, true);
    }
    HRESULT Fire_OnUploadCancel() { return Fire(DISPID_ONUPLOADCANCEL, {}); }
    HRESULT Fire_OnUploadError() { return Fire(DISPID_ONUPLOADERROR, {}); }
    HRESULT Fire_OnUploadRetry(ULONG nAttempt, ULONG nDelayMs, ULONG nReason, VARIANT_BOOL* pvbRet)
    {
        return Fire(DISPID_ONUPLOADRETRY, {nAttempt, nDelayMs, nReason}, pvbRet);
    }

private:
    static constexpr size_t MAX_ARGS = 3;

    HRESULT Fire(DISPID dispid, std::initializer_list<CEventArg> args, VARIANT_BOOL* pvbVeto = nullptr,
                 bool bFirstSinkOnly = false)
    {
        T* pThis = static_cast<T*>(this);
        // A handler may release the page's last reference to the control; the connection point,
        // a member, is walked after each handler, so the control lives until the event is over.
        // No event fires from the destructor's teardown, where a reference cannot be taken.
        if (pThis->InFinalRelease())
            return S_OK;
        const PTL::CComPtr<IUnknown> pHold(pThis->ControllingUnknown());
        PTL::CComVariant vars[MAX_ARGS];
        const size_t n = args.size();
        size_t i = n;
        for (const CEventArg& arg : args)
            if (!arg.To(vars[--i]))
                return E_OUTOFMEMORY;
        return pThis->EventPoint().Invoke(dispid, n ? vars : nullptr, static_cast<UINT>(n), bFirstSinkOnly, pvbVeto);
    }
};
