#include "control/PL5Ctrl.h"
#include <shellapi.h>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>
#include <vector>
#include "filelist/PathSafety.h"
#include "control/ScriptValues.h"
#include "filelist/LimitMessages.h"
#include "lang/LangIds.h"
#include "lang/LangTable.h"
#include "ptl/UrlZone.h"
#include "ptl/InternetUrl.h"

using namespace PL5Script;

namespace
{
const wchar_t NOTICE_CAPTION[] = L"알림";

// ShellExecute's own result codes, for when the shell did not set the thread's last error.
DWORD ErrorFromShellResult(INT_PTR nResult)
{
    switch (nResult)
    {
    case SE_ERR_FNF: return ERROR_FILE_NOT_FOUND;
    case SE_ERR_PNF: return ERROR_PATH_NOT_FOUND;
    case SE_ERR_ACCESSDENIED: return ERROR_ACCESS_DENIED;
    case SE_ERR_SHARE: return ERROR_SHARING_VIOLATION;
    case SE_ERR_DLLNOTFOUND: return ERROR_DLL_NOT_FOUND;
    case SE_ERR_NOASSOC:
    case SE_ERR_ASSOCINCOMPLETE: return ERROR_NO_ASSOCIATION;
    case SE_ERR_DDETIMEOUT:
    case SE_ERR_DDEFAIL:
    case SE_ERR_DDEBUSY: return ERROR_DDE_FAIL;
    default: return ERROR_NOT_ENOUGH_MEMORY;  // 0, SE_ERR_OOM, ERROR_BAD_FORMAT's relatives
    }
}

struct CLocalFree
{
    void operator()(void* p) const { LocalFree(p); }
};

// The system's text for an error, without the trailing line break.
std::wstring SystemErrorText(DWORD dwError)
{
    const DWORD dwFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS;
    wchar_t* pBuffer = nullptr;
    DWORD n = FormatMessageW(dwFlags, nullptr, static_cast<DWORD>(HRESULT_FROM_WIN32(dwError)), 0,
                             reinterpret_cast<wchar_t*>(&pBuffer), 0, nullptr);
    if (n == 0)  // some systems know the text only under the plain error code
        n = FormatMessageW(dwFlags, nullptr, dwError, 0, reinterpret_cast<wchar_t*>(&pBuffer), 0, nullptr);
    std::unique_ptr<wchar_t, CLocalFree> owner(pBuffer);
    std::wstring str = n ? std::wstring(pBuffer, n) : std::wstring();
    while (!str.empty() && (str.back() == L'\n' || str.back() == L'\r'))
        str.pop_back();
    return str;
}
// Instance numbers of the live controls of the process: a page tells its controls apart by
// them, so a new control draws again until its number is free.
class CInstanceNumbers
{
public:
    static ULONG Draw()
    {
        std::lock_guard<std::mutex> lock(Mutex());
        ULONG n;
        do
            n = static_cast<ULONG>(rand()) & 0x7FFF;  // 0 to 32767 on every runtime
        while (Live().count(n) != 0 && Live().size() < 0x8000);
        Live().insert(n);
        return n;
    }
    static void Release(ULONG n)
    {
        std::lock_guard<std::mutex> lock(Mutex());
        Live().erase(n);
    }

private:
    static std::mutex& Mutex()
    {
        static std::mutex s_mutex;
        return s_mutex;
    }
    static std::set<ULONG>& Live()
    {
        static std::set<ULONG> s_live;
        return s_live;
    }
};
}  // namespace

CPL5Ctrl::CPL5Ctrl()
    : m_policy(CControlPolicy::ReadMachinePolicy()), m_siteLock(CSiteLock::ForPolicy(m_policy)),
      m_nIdVal(CInstanceNumbers::Draw())
{
    PL5Lang::SetProgramTitle(DEFAULT_PROGRAM_TITLE);
    m_list.SetViewOwner(this);
    // The dialog calls page script (OnUploadRetry) from its own window's messages: the control
    // stays alive until such a message is handled, whatever the script does to its element.
    m_uploadDlg.SetOwner(this);
}

CPL5Ctrl::~CPL5Ctrl()
{
    // The window's teardown needs the members: it runs before any of them goes.
    DestroyWindowOfFinalRelease();
    if (m_pDropTarget)
    {
        m_pDropTarget->Disconnect();
        m_pDropTarget->Release();
    }
    CInstanceNumbers::Release(m_nIdVal);
}

const QITAB* CPL5Ctrl::InterfaceTable() const
{
    static const QITAB qit[] = {
        QITABENT(CPL5Ctrl, IPL5Ctrl2),
        QITABENTMULTI(CPL5Ctrl, IPL5Ctrl, IPL5Ctrl2),
        QITABENTMULTI(CPL5Ctrl, IDispatch, IPL5Ctrl2),
        QITABENT(CPL5Ctrl, IConnectionPointContainer),
        QITABENT(CPL5Ctrl, IPersistStreamInit),
        QITABENTMULTI(CPL5Ctrl, IPersist, IPersistStreamInit),
        QITABENT(CPL5Ctrl, IPersistPropertyBag),
        QITABENT(CPL5Ctrl, IProvideClassInfo2),
        QITABENTMULTI(CPL5Ctrl, IProvideClassInfo, IProvideClassInfo2),
        QITABENT(CPL5Ctrl, IObjectSafety),
        QITABENT(CPL5Ctrl, IOleObject),
        QITABENT(CPL5Ctrl, IOleInPlaceObjectWindowless),
        QITABENTMULTI(CPL5Ctrl, IOleInPlaceObject, IOleInPlaceObjectWindowless),
        QITABENTMULTI(CPL5Ctrl, IOleWindow, IOleInPlaceObjectWindowless),
        QITABENT(CPL5Ctrl, IOleInPlaceActiveObject),
        QITABENT(CPL5Ctrl, IOleControl),
        QITABENT(CPL5Ctrl, IViewObjectEx),
        QITABENTMULTI(CPL5Ctrl, IViewObject2, IViewObjectEx),
        QITABENTMULTI(CPL5Ctrl, IViewObject, IViewObjectEx),
        QITABENT(CPL5Ctrl, IDropTarget),
        {nullptr, 0},
    };
    // IObjectWithSite is offered once a container has marked the object safe for untrusted
    // callers or data, as a browser does with an object its page's script made before it hands
    // the object its site. Script hosts that never mark it (cscript, wscript) give no site, and
    // some of them refuse to make an object that would take one they do not have.
    static const std::vector<QITAB> withSite = [] {
        std::vector<QITAB> table(std::begin(qit), std::end(qit));
        table.insert(table.end() - 1, QITABENT(CPL5Ctrl, IObjectWithSite));
        return table;
    }();
    return EnabledSafetyOptions() ? withSite.data() : qit;
}

const PTL::PropMapEntry* CPL5Ctrl::PropertyMap()
{
#define PL5_MAP_ENTRY(name, dispid, ...)                                                                               \
    {L"" #name, dispid, false, false, dispid >= FIRST_CTRL2_DISPID ? CTRL2_STREAM_LAYOUT : PTL::FIRST_STREAM_VERSION},
    static const PTL::PropMapEntry map[] = {
        {L"_cx", 0, true, false},
        {L"_cy", 0, false, true},
        PL5_PROPERTIES(PL5_MAP_ENTRY, PL5_MAP_ENTRY)  // in the table's order, the order of loading
        {nullptr, 0, false, false},
    };
#undef PL5_MAP_ENTRY
    return map;
}

PTL::CPersistTarget CPL5Ctrl::PersistTarget()
{
    return {static_cast<IPL5Ctrl*>(this), PropertyMap(), &m_sizeExtent, &m_bDirty};
}

// ---- properties ---------------------------------------------------------------------------

// The properties the control keeps: a get answers the kept value; a put stores the new one by
// the row's rule and then does what the row says follows it.
#define PL5_DEFINE_ACCESSORS(name, dispid, kind, def, field, store, then)                                              \
    STDMETHODIMP CPL5Ctrl::get_##name(PL5Script::kind::Arg* pVal)                                                      \
    {                                                                                                                  \
        return PL5Script::kind::Get(m_props.field, pVal);                                                              \
    }                                                                                                                  \
    STDMETHODIMP CPL5Ctrl::put_##name(PL5Script::kind::Arg newVal)                                                     \
    {                                                                                                                  \
        store(m_props.field, PL5Script::kind::From(newVal));                                                           \
        then();                                                                                                        \
        return S_OK;                                                                                                   \
    }
#define PL5_WRITTEN_OUT(...)
PL5_PROPERTIES(PL5_DEFINE_ACCESSORS, PL5_WRITTEN_OUT)
#undef PL5_DEFINE_ACCESSORS
#undef PL5_WRITTEN_OUT

STDMETHODIMP CPL5Ctrl::get_ProgramTitle(BSTR* pVal) { return GetText(PL5Lang::ProgramTitle(), pVal); }
STDMETHODIMP CPL5Ctrl::put_ProgramTitle(BSTR newVal)
{
    // Process-wide; the message caption takes it at the next pack load.
    PL5Lang::SetProgramTitle(TextOf(newVal));
    m_uploadDlg.SetTitle(UploadTitleSuffix());
    return S_OK;
}

void CPL5Ctrl::ApplyInputType()
{
    if (m_props.strInputType.empty())
        return;
    const wchar_t* sz = m_props.strInputType.c_str();
    if (_wcsicmp(sz, L"fixed") == 0)
        m_props.bInputNameFixed = true;  // takes precedence over the array flag, which keeps its value
    else if (_wcsicmp(sz, L"array") == 0)
    {
        m_props.bInputNameFixed = false;
        m_props.bInputTypeArray = true;
    }
    else if (_wcsicmp(sz, L"ordernum") == 0)
    {
        m_props.bInputNameFixed = false;
        m_props.bInputTypeArray = false;
    }
    else
        m_props.strInputName.clear();  // an unknown naming type leaves no usable base name
}

void CPL5Ctrl::ApplyShowFullPath()
{
    m_list.SetShowFullPath(m_props.bShowFullPath);
    m_list.Invalidate(true);
}

void CPL5Ctrl::ApplyListHeight() { m_uploadDlg.SetListHeight(m_props.nDialogListHeight); }

void CPL5Ctrl::ApplyThumbnails() { m_list.SetShowThumbnails(m_props.bShowThumbnails); }

STDMETHODIMP CPL5Ctrl::get_IDVAL(ULONG* pVal) { return GetNumber(m_nIdVal, pVal); }

STDMETHODIMP CPL5Ctrl::put_SetStatusWidth(USHORT nIdx, SHORT newVal)
{
    if (nIdx > 2)
        return S_OK;
    m_nStatusWidths[nIdx] = newVal;
    // The recorded widths do not shape the bar: it keeps its two halves of the control's width.
    if (m_props.bShowStatus && m_hStatusBar && ControlWindow())
    {
        RECT rcClient;
        GetClientRect(ControlWindow(), &rcClient);
        SetWindowPos(m_hStatusBar, nullptr, rcClient.left, rcClient.top, rcClient.right - rcClient.left,
                     rcClient.bottom - rcClient.top, SWP_NOZORDER | SWP_NOACTIVATE);
        DivideStatusBar();
    }
    return S_OK;
}

// ---- site lock ----------------------------------------------------------------------------

bool CPL5Ctrl::SiteAllowed()
{
    if (!m_siteLock.InForce() || m_siteLock.Allows(PageUrl()))
        return true;
    OutputDebugStringW(L"Pelora5: refused, the page is not among the allowed sites\n");
    return false;
}

bool CPL5Ctrl::ZoneGuarded()
{
    const std::wstring& strPage = PageUrl();
    if (strPage.empty())
        return (EnabledSafetyOptions() & INTERFACESAFE_FOR_UNTRUSTED_CALLER) != 0;
    return !(m_siteLock.InForce() && m_siteLock.Allows(strPage));
}

DWORD CPL5Ctrl::PageZone()
{
    const std::wstring& strPage = PageUrl();
    if (strPage.empty())
        return URLZONE_INTERNET;
    // A page whose zone the system cannot tell is taken for an Internet page.
    const DWORD nZone =
        PTL::PageZone(strPage, ClientSite() ? static_cast<IUnknown*>(ClientSite()) : m_pObjectSite.Get());
    return nZone == PTL::NO_ZONE ? static_cast<DWORD>(URLZONE_INTERNET) : nZone;
}

bool CPL5Ctrl::ScriptPathReachable(const std::wstring& strPath)
{
    if (!IsNetworkOrDevicePath(strPath) && !NamesDevice(strPath))
        return true;
    OutputDebugStringW(L"Pelora5: refused, the page named a network or device path\n");
    return false;
}

bool CPL5Ctrl::ScriptPathAllowed(const std::wstring& strPath)
{
    if (!ScriptPathReachable(strPath))
        return false;
    if (!ZoneLimited())
        return true;
    // What the user is asked about must be what would be read: a whole path to a file on a disk.
    // A relative path would resolve against whatever folder the browser is in.
    if (!IsPlainLocalFile(strPath, sizeof(FileEntry::szFilePath) / sizeof(WCHAR)))
    {
        OutputDebugStringW(L"Pelora5: refused, the page named no existing local file by its full path\n");
        return false;
    }
    const std::wstring strPage = PageUrl();
    if (m_strConsentPage != strPage)
    {
        m_strConsentPage = strPage;
        m_nConsent = EConsent::Unasked;
    }
    if (m_nConsent == EConsent::Unasked)
    {
        // Asked once per control and page; a call made while the question is open is refused.
        // The path is shown cleaned and shortened, so the page cannot push the question out of
        // the box with a long path or write lines of its own into it.
        m_nConsent = EConsent::Asking;
        EnsureLanguage();
        const std::wstring strHost = strPage.empty() ? std::wstring() : HostOfUrl(strPage);
        const std::wstring strText = FormatPackText(PL5Lang::GetString(IDS_CONSENT_QUESTION).c_str(),
                                                    ShownText(strHost).c_str(), ShownText(strPath).c_str());
        const std::wstring strCaption = PL5Lang::MessageCaption();
        const int nAnswer =
            MessageBoxW(MessageOwner(), strText.c_str(), strCaption.c_str(), MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
        m_nConsent = nAnswer == IDYES ? EConsent::Allowed : EConsent::Refused;
    }
    if (m_nConsent == EConsent::Allowed)
        return true;
    OutputDebugStringW(L"Pelora5: refused, the user did not let this page add files\n");
    return false;
}

bool CPL5Ctrl::PageMayReach(const std::wstring& strUrl)
{
    if (!ZoneGuarded())
        return true;
    if (PTL::IsHttpUrl(strUrl) && !PTL::RaisesZone(strUrl, PageZone()))
        return true;
    OutputDebugStringW(L"Pelora5: refused, the page named an address outside http(s) or in a more trusted zone\n");
    return false;
}

// ---- IObjectWithSite ----------------------------------------------------------------------

STDMETHODIMP CPL5Ctrl::SetSite(IUnknown* pUnkSite)
{
    // A new site is a new page: what was found through the old one is forgotten.
    if (!ClientSite())
    {
        m_pageLink.Disconnect();
        m_strPageUrl.clear();
    }
    m_pObjectSite = pUnkSite;
    if (pUnkSite && !ClientSite() && m_pageLink.ConnectToSite(pUnkSite))
        m_strPageUrl = m_pageLink.PageUrl();
    return S_OK;
}

STDMETHODIMP CPL5Ctrl::GetSite(REFIID riid, void** ppvSite)
{
    if (!ppvSite)
        return E_POINTER;
    *ppvSite = nullptr;
    if (!m_pObjectSite)
        return E_FAIL;
    return m_pObjectSite->QueryInterface(riid, ppvSite);
}

// ---- ExcuteLocalFile ----------------------------------------------------------------------

void CPL5Ctrl::ShowSystemMessage(DWORD dwError) const
{
    const std::wstring strText = SystemErrorText(dwError);
    MessageBoxW(MessageOwner(), strText.c_str(), NOTICE_CAPTION, MB_ICONINFORMATION);
}

STDMETHODIMP CPL5Ctrl::ExcuteLocalFile(BSTR bstrFileName, VARIANT_BOOL* pVal)
{
    if (!pVal)
        return E_POINTER;
    *pVal = VARIANT_FALSE;
    if (!SiteAllowed())
        return S_OK;
    std::wstring strPath = TextOf(bstrFileName);
    // A web address reaches the shell only as rebuilt from its parts, and only where the page
    // may reach it.
    if (PTL::IsHttpUrl(strPath))
    {
        std::wstring strUrl;
        const bool bParsed = PTL::RebuildWebAddress(strPath, strUrl);
        if (!bParsed)
            OutputDebugStringW(L"Pelora5: refused, the page asked to open a malformed web address\n");
        if (!bParsed || !PageMayReach(strUrl))
        {
            ShowSystemMessage(ERROR_ACCESS_DENIED);
            return S_OK;
        }
        strPath = strUrl;
    }
    if (!MayExecute(strPath.c_str()))
    {
        ShowSystemMessage(ERROR_ACCESS_DENIED);
        return S_OK;
    }
    SetLastError(ERROR_SUCCESS);
    const INT_PTR nResult = reinterpret_cast<INT_PTR>(
        ShellExecuteW(MessageOwner(), L"open", strPath.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (nResult > 32)
    {
        *pVal = VARIANT_TRUE;
        return S_OK;
    }
    DWORD dwError = GetLastError();
    if (dwError == ERROR_SUCCESS)
        dwError = ErrorFromShellResult(nResult);
    ShowSystemMessage(dwError);
    return S_OK;
}
