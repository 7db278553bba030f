// The control's upload methods: the extra form fields, starting an upload and handing its
// outcome back to the page, and cancelling a child-mode upload.
#include "control/PL5Ctrl.h"

#include <mshtml.h>

#include <new>

#include "control/ScriptValues.h"
#include "lang/LangTable.h"
#include "ptl/InternetUrl.h"
#include "response/InlineRewrite.h"
#include "upload/UploadRequest.h"

using namespace PL5Script;

namespace
{
// Clears a flag when the scope ends, however it ends.
// OnUploadRetry's reason: the server's status when one asked to come back, else why it failed.
ULONG PageRetryReason(const CUploadRetryWait& wait)
{
    switch (wait.nReason)
    {
    case EUploadRetryReason::Connect: return RETRY_REASON_CONNECT;
    case EUploadRetryReason::Lost: return RETRY_REASON_LOST;
    case EUploadRetryReason::Timeout: return RETRY_REASON_TIMEOUT;
    case EUploadRetryReason::Status: break;
    }
    return wait.nHttpStatus;
}

class CFlagScope
{
public:
    explicit CFlagScope(bool& b) : m_b(b) { m_b = true; }
    ~CFlagScope() { m_b = false; }
    CFlagScope(const CFlagScope&) = delete;
    CFlagScope& operator=(const CFlagScope&) = delete;

private:
    bool& m_b;
};
}  // namespace

STDMETHODIMP CPL5Ctrl::AppendPostData(VARIANT varName, VARIANT varValue)
{
    // Out of memory appends nothing and reaches the page as E_OUTOFMEMORY: it must not send a
    // form it believes complete.
    m_uploadDlg.FormFields().AppendPostData(varName, varValue);
    return S_OK;
}

STDMETHODIMP CPL5Ctrl::ClearPostData()
{
    m_uploadDlg.FormFields().ClearPostData();
    return S_OK;
}

std::wstring CPL5Ctrl::UploadTitleSuffix()
{
    const std::wstring strTitle = PL5Lang::ProgramTitle();
    return strTitle.empty() ? std::wstring() : L" - " + strTitle;
}

STDMETHODIMP CPL5Ctrl::StartUpload(BSTR* pVal)
{
    // Written only for a complete outcome; an [out] string starts as none.
    if (pVal)
        *pVal = nullptr;
    if (m_bUploadActive || m_uploadDlg.IsRunning())
        return S_OK;
    if (!SiteAllowed())
    {
        RefuseUpload();
        return S_OK;
    }
    // The dialog's template and texts come from the pack.
    EnsureLanguage();

    EUploadOutcome nOutcome = EUploadOutcome::Failed;
    std::wstring strResponse, strLocation;
    try
    {
        const std::wstring strPageUrl = PageUrl();
        const std::wstring strAction = ResolveActionUrl(m_props.strAction.c_str(), strPageUrl.c_str());
        if (!PageMayReach(strAction))
        {
            RefuseUpload();
            return S_OK;
        }
        // The inline fetches may not rise above the page's zone unless a site list covers it.
        const DWORD nGuardZone = ZoneGuarded() ? PageZone() : PTL::NO_ZONE;
        m_uploadDlg.SetRequestOptions(m_props.bUseUnicode, m_policy.bVerifyCertificates,
                                      m_props.bMakeInlineResponse
                                          ? MakeInlineAnswerStep(m_policy.bVerifyCertificates, nGuardZone, strPageUrl)
                                          : UploadAnswerStep());
        // A limited page's upload to another site goes without the user's cookies and logon: the
        // page reads the answer, which must not be one only the user's credentials would get.
        const bool bLimited = nGuardZone != PTL::NO_ZONE && PTL::IsLimitedZone(nGuardZone);
        m_uploadDlg.SetPrivateNetworkRule(bLimited);
        m_uploadDlg.SetSendCredentials(!(bLimited && !PTL::IsSameOrigin(strAction, strPageUrl)));
        m_uploadDlg.SetRetry(m_props.nRetryCount, m_props.nRetryDelay, true);
        if (m_uploadDlg.IsChild())
        {
            // What is listed now is sent; the outcome arrives later, through OnUploadReport.
            FollowListInChildMode();
            m_uploadDlg.StartChildUpload(strPageUrl, strAction);
            return S_OK;
        }
        if (m_props.bChildMode && m_bWindowCreated)
        {
            // The embedded dialog went with the window: nothing runs until the control is shown
            // again (a modal dialog here would block a page that expects to go on).
            OutputDebugStringW(L"Pelora5: StartUpload in child mode without the control's window\n");
            return S_OK;
        }

        CFlagScope active(m_bUploadActive);
        m_uploadDlg.bSilent = m_props.bSilentMode;
        m_uploadDlg.nListHeight = m_props.nDialogListHeight;
        m_uploadDlg.strTitle = UploadTitleSuffix();
        // The dialog works on a copy: the control's own list is never changed by an upload.
        m_uploadDlg.PrepareUpload(ListedFiles(), m_props.bInputTypeArray, m_props.bInputNameFixed, strPageUrl,
                                  strAction);
        // Without a dialog no worker ran and the outcome still describes an earlier upload.
        if (m_uploadDlg.DoModal(MessageOwner()))
        {
            nOutcome = m_uploadDlg.Result().nOutcome;
            strResponse = m_uploadDlg.Response();
            strLocation = m_uploadDlg.Location();
        }
    }
    catch (const std::bad_alloc&)
    {
        nOutcome = EUploadOutcome::Failed;
    }

    // Delivered from copies: a handler may start the next upload, which rebuilds the state.
    switch (nOutcome)
    {
    case EUploadOutcome::Redirected: NavigatePage(strLocation); break;
    case EUploadOutcome::Completed:
        Fire_OnUploadComplete(strResponse.c_str());
        if (pVal)
            GetText(strResponse, pVal);
        break;
    case EUploadOutcome::Cancelled: Fire_OnUploadCancel(); break;
    case EUploadOutcome::None:
    case EUploadOutcome::Failed: Fire_OnUploadError(); break;
    }
    return S_OK;
}

void CPL5Ctrl::RefuseUpload()
{
    // A child-mode page hears of its uploads once StartUpload has returned, and so of this one.
    if (m_uploadDlg.IsChild() && m_uploadDlg.PostChildReport(WM_UPLOAD_ERROR))
        return;
    Fire_OnUploadError();
}

bool CPL5Ctrl::AllowRetry(const CUploadRetryWait& wait)
{
    return PageAllowsRetry(wait.nAttempt, wait.nDelayMs, PageRetryReason(wait));
}

PTL::CComPtr<IUnknown> CPL5Ctrl::HoldForScript()
{
    return InFinalRelease() ? PTL::CComPtr<IUnknown>() : PTL::CComPtr<IUnknown>(ControllingUnknown());
}

bool CPL5Ctrl::PageAllowsRetry(ULONG nAttempt, ULONG nDelayMs, ULONG nReason)
{
    // As the other vetoes that stop an action: only a handler's false refuses.
    VARIANT_BOOL vbGoOn = VARIANT_TRUE;
    Fire_OnUploadRetry(nAttempt, nDelayMs, nReason, &vbGoOn);
    return vbGoOn != VARIANT_FALSE;
}

STDMETHODIMP CPL5Ctrl::UploadCancel()
{
    // Only an embedded upload can be stopped from script; a modal one has its own question.
    if (m_uploadDlg.IsChild() && m_uploadDlg.IsRunning())
        m_uploadDlg.Cancel();
    return S_OK;
}

void CPL5Ctrl::NavigatePage(const std::wstring& strUrl)
{
    PageUrl();  // connects when nothing did yet
    m_pageLink.Navigate(strUrl);
}

LRESULT CPL5Ctrl::OnUploadReport(UINT /*uMsg*/)
{
    // The report carries its run's own answer: a handler or a timer may start the next upload
    // before this message is handled.
    CUploadDlg::CChildReport report;
    if (!m_uploadDlg.TakeChildReport(report))
        return 0;  // the child window went meanwhile, and its reports with it
    if (report.nMessage == WM_UPLOAD_COMPLETE)
        Fire_OnUploadComplete(report.strResponse.c_str());
    else if (report.nMessage == WM_UPLOAD_CANCEL)
        Fire_OnUploadCancel();
    else
        Fire_OnUploadError();
    return 0;
}
