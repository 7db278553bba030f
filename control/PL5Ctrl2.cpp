// The members IPL5Ctrl2 adds to the control: thumbnails in the icon views, and the retry settings
// of an upload with the page's say over each retry.
#include "control/PL5Ctrl.h"
#include "control/ScriptValues.h"

using namespace PL5Script;

STDMETHODIMP CPL5Ctrl::get_ShowThumbnails(VARIANT_BOOL* pVal) { return GetFlag(m_props.bShowThumbnails, pVal); }
STDMETHODIMP CPL5Ctrl::put_ShowThumbnails(VARIANT_BOOL newVal)
{
    m_props.bShowThumbnails = FlagFrom(newVal);
    m_list.SetShowThumbnails(m_props.bShowThumbnails);
    return S_OK;
}

STDMETHODIMP CPL5Ctrl::get_RetryCount(ULONG* pVal) { return GetNumber(m_props.nRetryCount, pVal); }
STDMETHODIMP CPL5Ctrl::put_RetryCount(ULONG newVal)
{
    m_props.nRetryCount = newVal;
    return S_OK;
}

STDMETHODIMP CPL5Ctrl::get_RetryDelay(ULONG* pVal) { return GetNumber(m_props.nRetryDelay, pVal); }
STDMETHODIMP CPL5Ctrl::put_RetryDelay(ULONG newVal)
{
    m_props.nRetryDelay = newVal;
    return S_OK;
}

bool CPL5Ctrl::PageAllowsRetry(ULONG nAttempt, ULONG nDelayMs, ULONG nReason)
{
    // As the other vetoes that stop an action: only a handler's false refuses.
    VARIANT_BOOL vbGoOn = VARIANT_TRUE;
    Fire_OnUploadRetry(nAttempt, nDelayMs, nReason, &vbGoOn);
    return vbGoOn != VARIANT_FALSE;
}
