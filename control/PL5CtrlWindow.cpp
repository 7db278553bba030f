// The control's window: its creation in the page, the routing of messages and keys, the layout
// of the list, the status bar or the embedded progress dialog, and its teardown.
#include "control/PL5Ctrl.h"

#include <commctrl.h>
#include <algorithm>
#include <shellapi.h>
#include <windowsx.h>

#include "lang/LangIds.h"
#include "lang/LangTable.h"
#include "ptl/Accessible.h"
#include "ptl/AddressSpace.h"
#include "ptl/Dpi.h"
#include "ptl/InternetUrl.h"
#include "ptl/Reflect.h"
#include "resources/resource.h"
#include "upload/UploadRequest.h"

namespace
{
// Pixels at 96 DPI; the window's DPI scales them.
const int MIN_FIRST_COLUMN = 150;
const int SIZE_COLUMN_WIDTH = 110;
const size_t MAX_PICTURE_URL = PTL::URL_BUFFER_CHARS;
const DWORD LIST_STYLE = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | LVS_REPORT | LVS_SHOWSELALWAYS |
                         LVS_SHAREIMAGELISTS | LVS_OWNERDATA;
// The style the scrolling switch writes before the view is restored from ListStyle.
const DWORD SWITCH_STYLE = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | LVS_SMALLICON |
                           LVS_SHOWSELALWAYS | LVS_SHAREIMAGELISTS | LVS_OWNERDATA;

int Width(const RECT& rc) { return rc.right - rc.left; }
int Height(const RECT& rc) { return rc.bottom - rc.top; }

void SetListView(HWND hList, DWORD dwView)
{
    const LONG_PTR nStyle = GetWindowLongPtrW(hList, GWL_STYLE);
    if ((nStyle & LVS_TYPEMASK) != static_cast<LONG_PTR>(dwView))
        SetWindowLongPtrW(hList, GWL_STYLE, (nStyle & ~static_cast<LONG_PTR>(LVS_TYPEMASK)) | dwView);
}

void InsertColumn(HWND hList, int nIndex, int nFormat, int nWidth, UINT nTitle)
{
    std::wstring strTitle = PL5Lang::GetString(nTitle);
    LVCOLUMNW column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = nFormat;
    column.cx = nWidth;
    column.pszText = &strTitle[0];
    column.iSubItem = nIndex;
    SendMessageW(hList, LVM_INSERTCOLUMNW, nIndex, reinterpret_cast<LPARAM>(&column));
}

bool IsSameOrDescendant(HWND hAncestor, HWND hWnd) { return hWnd && (hWnd == hAncestor || IsChild(hAncestor, hWnd)); }
}  // namespace

// ---- creation -----------------------------------------------------------------------------

LRESULT CPL5Ctrl::OnCreate()
{
    const HWND hWnd = ControlWindow();
    m_nDpi = PTL::WindowDpi(hWnd);
    // 1-2: the page, its address and this control's own OBJECT element.
    if (m_pageLink.Connect(ClientSite(), hWnd))
    {
        m_strPageUrl = m_pageLink.PageUrl();
        m_strOwnElementId = m_pageLink.FindOwnElementId(CLSID_PL5Ctrl, m_nIdVal);
        m_strOwnTitle = m_pageLink.ElementTitle(m_strOwnElementId);
    }
    // 3
    m_hAccel = LoadAcceleratorsW(PTL::CModule::Instance(), MAKEINTRESOURCEW(IDR_ACCELERATOR));
    // 4-5: the list over the whole window; the window's activation context gives controls 6.
    RECT rcWindow;
    GetWindowRect(hWnd, &rcWindow);
    const HWND hList =
        CreateWindowExW(0, WC_LISTVIEWW, L"", LIST_STYLE | (m_props.bScrolling ? 0 : LVS_NOSCROLL), 0, 0,
                        Width(rcWindow), Height(rcWindow), hWnd,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(ID_FILE_LIST)), PTL::CModule::Instance(), nullptr);
    if (!hList)
        return -1;
    m_list.AttachWindow(hList);
    // 6: the list view object answers these states itself.
    SendMessageW(hList, LVM_SETCALLBACKMASK, LVIS_SELECTED | LVIS_CUT, 0);
    // 7-8
    LoadLanguagePack();
    m_bWindowCreated = true;
    // 9-11
    SendMessageW(hList, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    SetImageLists();
    InsertColumn(hList, 0, LVCFMT_LEFT, PTL::ScaleForDpi(MIN_FIRST_COLUMN, m_nDpi), IDS_COLUMN_NAME);
    InsertColumn(hList, 1, LVCFMT_RIGHT, PTL::ScaleForDpi(SIZE_COLUMN_WIDTH, m_nDpi), IDS_COLUMN_SIZE);
    // 12
    if (m_props.strBkImgURL.empty())
        m_props.strBkImgURL = DefaultBackgroundUrl();
    // 13
    m_hStatusBar = CreateWindowExW(0, STATUSCLASSNAMEW, L"",
                                   WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | CCS_BOTTOM, 0, 0, 0, 0,
                                   hWnd, nullptr, PTL::CModule::Instance(), nullptr);
    if (m_hStatusBar)
        SetWindowPos(m_hStatusBar, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    DivideStatusBar();
    // 14-15
    m_uploadDlg.SetTitle(UploadTitleSuffix());
    // In child mode the embedded dialog lists what was listed before the window existed.
    if (m_props.bChildMode && m_uploadDlg.Create(hWnd))
        m_uploadDlg.SetChildFiles(ListedFiles());
    // 16
    ApplyColumnWidth();
    UpdateListView();
    Layout();
    // 17: the embedded dialog takes no drops, nor does a page the site lists refuse.
    if (!m_props.bChildMode && SiteAllowed())
    {
        const PTL::CComPtr<IDropTarget> pTarget = WindowDropTarget();
        if (m_props.bUseDragDrop)
            m_dropOnPage.Register(GetParent(hWnd), pTarget, true);
        m_dropOnControl.Register(hWnd, pTarget, false);
    }
    return 0;
}

std::wstring CPL5Ctrl::DefaultBackgroundUrl() const
{
    wchar_t szUrl[MAX_PICTURE_URL] = L"";
    const int nBitmap = _wcsicmp(m_props.strLanguage.c_str(), L"en") == 0 ? IDB_BACKGROUND_EN : IDB_BACKGROUND_KO;
    const int n = _snwprintf(szUrl, MAX_PICTURE_URL - 1, L"res://%s/%d/%d", PTL::CModule::Path().c_str(), 2, nBitmap);
    return n > 0 ? std::wstring(szUrl, static_cast<size_t>(n)) : std::wstring();
}

void CPL5Ctrl::LoadLanguagePack()
{
    // While an upload runs anywhere in the process the pack stays; the window is told when the
    // uploads are over and loads the pack Language names then. A control without a window
    // loads it when it next needs a text.
    const HWND hWnd = ControlWindow();
    const PL5Lang::CRetryNotice notice{hWnd, WM_LANGUAGE_RETRY};
    m_bLanguageLoaded = true;
    const bool bLoaded = PL5Lang::LoadLanguage(
        m_props.strLanguage.c_str(),
        [this] {
            PL5Lang::ApplyColumnTitles(m_list.Window());
            NameForAssistiveTechnology();
            AfterListChange();
        },
        notice);
    if (!bLoaded && !hWnd && PL5Lang::UploadsRun())
        m_bLanguageLoaded = false;
}

void CPL5Ctrl::NameForAssistiveTechnology()
{
    const HWND hWnd = ControlWindow();
    if (!hWnd)
        return;
    // The page's title for its OBJECT names the control, as a browser names an element by it.
    const std::wstring strName = m_strOwnTitle.empty() ? PL5Lang::GetString(IDS_CONTROL_NAME) : m_strOwnTitle;
    PTL::CAccessibleFacts facts;
    facts.strName = strName;
    facts.nRole = ROLE_SYSTEM_GROUPING;
    PTL::AnnotateWindow(hWnd, facts);
    // The list's own accessible object is the system's; its name comes from its text.
    if (const HWND hList = m_list.Window())
        SetWindowTextW(hList, strName.c_str());
}

void CPL5Ctrl::EnsureLanguage()
{
    if (!m_bLanguageLoaded)
        LoadLanguagePack();
}

const std::wstring& CPL5Ctrl::PageUrl()
{
    // An OBJECT finds its page through its client site, an object script made through the
    // site the browser gave it.
    if (!m_pageLink.IsConnected() && (ClientSite() || !m_pObjectSite ? m_pageLink.Connect(ClientSite(), ControlWindow())
                                                                     : m_pageLink.ConnectToSite(m_pObjectSite)))
        m_strPageUrl = m_pageLink.PageUrl();
    return m_strPageUrl;
}

HWND CPL5Ctrl::MessageOwner() const
{
    if (const HWND hWnd = ControlWindow())
        return hWnd;
    return ContainerWindow();
}

// ---- teardown -----------------------------------------------------------------------------

void CPL5Ctrl::OnDestroy()
{
    PL5Lang::ForgetRetryNotice(ControlWindow());
    m_pageLink.Disconnect();
    // A child-mode upload ends with the window that would hear of its end: the page is told it
    // failed, once the control is idle again (a control being released tells no one).
    const bool bRunEnded = m_uploadDlg.IsChild() && m_uploadDlg.DestroyChild();
    m_dropOnControl.Revoke();
    m_dropOnPage.Revoke();
    m_list.DetachWindow();
    m_hStatusBar = nullptr;
    if (bRunEnded && !InFinalRelease())
        Fire_OnUploadError();
}

// ---- routing ------------------------------------------------------------------------------

BOOL CPL5Ctrl::ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult)
{
    lResult = 0;
    switch (uMsg)
    {
    case WM_CREATE: lResult = OnCreate(); return TRUE;
    case WM_DESTROY: OnDestroy(); return FALSE;  // on to the default handling
    case WM_SIZE: Layout(); return TRUE;
    case PTL::WM_DPI_CHANGED_AFTER_PARENT:
        Layout();  // at the new DPI
        return TRUE;
    case WM_SETFOCUS: OnSetFocus(); return TRUE;
    case WM_LANGUAGE_RETRY: LoadLanguagePack(); return TRUE;
    case WM_CONTEXTMENU: ShowListMenu(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}); return TRUE;
    case WM_UPLOAD_COMPLETE:
    case WM_UPLOAD_CANCEL:
    case WM_UPLOAD_ERROR: lResult = OnUploadReport(uMsg); return TRUE;
    case WM_COMMAND:
        if (lParam == 0 && OnCommand(LOWORD(wParam)))
            return TRUE;
        break;
    case WM_NOTIFY: {
        const auto* pHeader = reinterpret_cast<const NMHDR*>(lParam);
        if (pHeader && pHeader->idFrom == ID_FILE_LIST && (pHeader->code == NM_CLICK || pHeader->code == NM_DBLCLK))
        {
            const int nItem = reinterpret_cast<const NMITEMACTIVATE*>(lParam)->iItem;
            if (nItem != -1)
            {
                if (pHeader->code == NM_CLICK)
                    Fire_OnItemClick(static_cast<ULONG>(nItem));
                else
                    Fire_OnItemDblClick(static_cast<ULONG>(nItem));
            }
        }
        break;
    }
    default: break;
    }
    return PTL::ReflectNotification(hWnd, uMsg, wParam, lParam, lResult);
}

bool CPL5Ctrl::OnCommand(WORD nCommand)
{
    switch (nCommand)
    {
    case ID_SELECT_ALL: m_list.SelectAll(); return true;
    case ID_ADD_FILE: OpenFile(nullptr); return true;
    case ID_REMOVE_SELECTED: RemoveSelectedFiles(); return true;
    case ID_REMOVE_ALL: RemoveAllFiles(); return true;
    case ID_EXECUTE_FILE: {
        const std::vector<size_t> selected = m_list.List().Selected();
        if (selected.empty())
            return true;
        PTL::CComBSTR bstrPath(m_list.List().At(selected.front()).szFilePath);
        VARIANT_BOOL vbDone = VARIANT_FALSE;
        ExcuteLocalFile(bstrPath, &vbDone);
        return true;
    }
    default: return false;
    }
}

HRESULT CPL5Ctrl::OnTranslateAccelerator(MSG* pMsg)
{
    if (pMsg->message == WM_KEYDOWN)
    {
        // Page keys, Home, End and arrows belong to the list: the container must not take them.
        if (pMsg->wParam >= VK_PRIOR && pMsg->wParam <= VK_DOWN)
            return S_FALSE;
        if (pMsg->wParam == VK_DELETE && m_props.bUseDeleteKey)
        {
            RemoveSelectedFiles();
            return S_FALSE;
        }
    }
    if (m_hAccel && ControlWindow() && ::TranslateAcceleratorW(ControlWindow(), m_hAccel, pMsg))
        return S_OK;
    const PTL::CComPtr<IOleControlSite> pSite = ControlSite();
    if (!pSite)
        return S_FALSE;
    DWORD dwModifiers = 0;
    if (GetKeyState(VK_SHIFT) < 0)
        dwModifiers |= 1;
    if (GetKeyState(VK_CONTROL) < 0)
        dwModifiers |= 2;
    if (GetKeyState(VK_MENU) < 0)
        dwModifiers |= 4;
    return pSite->TranslateAccelerator(pMsg, dwModifiers) == S_OK ? S_OK : S_FALSE;
}

void CPL5Ctrl::OnSetFocus()
{
    FrameworkSetFocus();
    const HWND hWnd = ControlWindow();
    if (!IsInPlaceActive() || !hWnd)
        return;
    // The window itself is no descendant: the focus goes on to the child that takes keys.
    const HWND hFocus = GetFocus();
    if (hFocus != hWnd && IsSameOrDescendant(hWnd, hFocus))
        return;
    const HWND hTarget = m_props.bChildMode ? m_uploadDlg.m_hWnd.load() : m_list.Window();
    if (hTarget)
        SetFocus(hTarget);
    if (hTarget && hTarget == m_list.Window())
        m_list.ShowFocusedRow();
}

// ---- layout -------------------------------------------------------------------------------

void CPL5Ctrl::Layout()
{
    const HWND hWnd = ControlWindow();
    if (!hWnd)
        return;
    FollowDpi();
    RECT rcClient;
    GetClientRect(hWnd, &rcClient);
    if (m_props.bChildMode)
    {
        if (const HWND hDialog = m_uploadDlg.m_hWnd.load())
            SetWindowPos(hDialog, HWND_TOP, 0, 0, Width(rcClient), Height(rcClient), SWP_NOACTIVATE);
        return;
    }
    int nStatusHeight = 0;
    if (m_hStatusBar)
    {
        RECT rcStatus;
        GetClientRect(m_hStatusBar, &rcStatus);
        if (m_props.bShowStatus)
            nStatusHeight = Height(rcStatus);
        ShowWindow(m_hStatusBar, m_props.bShowStatus ? SW_SHOWNA : SW_HIDE);
    }
    if (const HWND hList = m_list.Window())
        SetWindowPos(hList, nullptr, 0, 0, Width(rcClient), Height(rcClient) - nStatusHeight,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    if (m_hStatusBar)
        SendMessageW(m_hStatusBar, WM_SIZE, 0, 0);  // it keeps itself at the bottom edge
    ApplyColumnWidth();
    DivideStatusBar();
}

void CPL5Ctrl::DivideStatusBar()
{
    const HWND hWnd = ControlWindow();
    if (!hWnd || !m_hStatusBar)
        return;
    RECT rcClient;
    GetClientRect(hWnd, &rcClient);
    int anEdges[2] = {Width(rcClient) / 2, Width(rcClient)};
    SendMessageW(m_hStatusBar, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(anEdges));
}

void CPL5Ctrl::SetImageLists()
{
    const HWND hList = m_list.Window();
    SendMessageW(hList, LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(PTL::SystemImageList(true, m_nDpi)));
    SendMessageW(hList, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(PTL::SystemImageList(false, m_nDpi)));
}

void CPL5Ctrl::FollowDpi()
{
    const HWND hList = m_list.Window();
    const UINT nDpi = PTL::WindowDpi(ControlWindow());
    if (!hList || nDpi == m_nDpi)
        return;
    // The columns after the first keep their width in page pixels, one dragged by the user too;
    // the first follows from them in ApplyColumnWidth.
    const HWND hHeader = reinterpret_cast<HWND>(SendMessageW(hList, LVM_GETHEADER, 0, 0));
    const int nColumns = hHeader ? static_cast<int>(SendMessageW(hHeader, HDM_GETITEMCOUNT, 0, 0)) : 0;
    for (int i = 1; i < nColumns; ++i)
    {
        const int nWidth = static_cast<int>(SendMessageW(hList, LVM_GETCOLUMNWIDTH, i, 0));
        SendMessageW(hList, LVM_SETCOLUMNWIDTH, i,
                     MAKELPARAM(MulDiv(nWidth, static_cast<int>(nDpi), static_cast<int>(m_nDpi)), 0));
    }
    m_nDpi = nDpi;
    SetImageLists();
}

void CPL5Ctrl::ApplyColumnWidth()
{
    const HWND hWnd = ControlWindow();
    const HWND hList = m_list.Window();
    if (!hWnd || !hList)
        return;
    const wchar_t* szStyle = m_props.strListStyle.c_str();
    if (_wcsicmp(szStyle, L"large icon") == 0)
        SetListView(hList, LVS_ICON);
    else if (_wcsicmp(szStyle, L"small icon") == 0)
    {
        SetListView(hList, LVS_REPORT);
        SetListView(hList, LVS_SMALLICON);
    }
    else if (_wcsicmp(szStyle, L"list") == 0)
        SetListView(hList, LVS_LIST);
    else
        SetListView(hList, LVS_REPORT);

    const HWND hHeader = reinterpret_cast<HWND>(SendMessageW(hList, LVM_GETHEADER, 0, 0));
    const int nColumns = hHeader ? static_cast<int>(SendMessageW(hHeader, HDM_GETITEMCOUNT, 0, 0)) : 0;
    int nOthers = 0;
    for (int i = 1; i < nColumns; ++i)
        nOthers += static_cast<int>(SendMessageW(hList, LVM_GETCOLUMNWIDTH, i, 0));
    int nWidth;
    if (m_props.nItemWidth == -1)
    {
        RECT rcClient;
        GetClientRect(hWnd, &rcClient);
        const int nMinimum = PTL::ScaleForDpi(MIN_FIRST_COLUMN, m_nDpi);
        nWidth = Width(rcClient) - nOthers - PTL::SystemMetricForDpi(SM_CXVSCROLL, m_nDpi);
        if (nWidth <= nMinimum)
            nWidth = nMinimum;
    }
    else if (m_props.nItemWidth >= 0)  // page pixels, as script gave them; a column's width is 16 bits
        nWidth = std::min(PTL::ScaleForDpi(m_props.nItemWidth, m_nDpi), 0x7FFF);
    else  // the list's own meanings of widths above 32767, as before
        nWidth = static_cast<USHORT>(m_props.nItemWidth);
    SendMessageW(hList, LVM_SETCOLUMNWIDTH, 0, MAKELPARAM(nWidth, 0));
}

void CPL5Ctrl::SwitchScrolling()
{
    const HWND hList = m_list.Window();
    if (!hList)
        return;
    SetWindowLongPtrW(hList, GWL_STYLE, SWITCH_STYLE | (m_props.bScrolling ? 0 : LVS_NOSCROLL));
    ApplyColumnWidth();
    // Sized to nothing and back, the list recomputes its scroll bars.
    RECT rc;
    GetWindowRect(hList, &rc);
    MapWindowPoints(nullptr, GetParent(hList), reinterpret_cast<POINT*>(&rc), 2);
    SetWindowPos(hList, nullptr, rc.left, rc.top, 0, 0, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(hList, nullptr, rc.left, rc.top, Width(rc), Height(rc), SWP_NOZORDER | SWP_NOACTIVATE);
}

void CPL5Ctrl::RefreshBackground()
{
    const HWND hList = m_list.Window();
    if (!hList)
        return;
    std::wstring strUrl;
    const std::wstring& strPicture = m_props.strBkImgURL;
    if (m_list.List().Count() == 0 && !strPicture.empty())
    {
        // The control's own pictures, by the module's address; anything else as the page may reach.
        const std::wstring strOwn = L"res://" + PTL::CModule::Path() + L"/";
        if (strPicture.compare(0, 6, L"res://") == 0)
            strUrl = (!ZoneGuarded() || _wcsnicmp(strPicture.c_str(), strOwn.c_str(), strOwn.size()) == 0)
                         ? strPicture
                         : std::wstring();
        else
        {
            strUrl = ResolveActionUrl(strPicture.c_str(), m_strPageUrl.c_str());
            // The list loads the picture itself: its address is checked against the page's
            // network here, where the list's own load would block the page too.
            if (!PageMayReach(strUrl) || (ZoneLimited() && !PTL::PrivateNetworkAllows(strUrl, m_strPageUrl)))
                strUrl.clear();
        }
        // An address the list's buffer cannot hold is refused rather than cut to another one.
        if (strUrl.size() >= MAX_PICTURE_URL)
            strUrl.clear();
    }
    LVBKIMAGEW image = {};
    if (strUrl.empty())
        image.ulFlags = LVBKIF_SOURCE_NONE;
    else
    {
        image.ulFlags = LVBKIF_SOURCE_URL | LVBKIF_STYLE_NORMAL;
        image.pszImage = &strUrl[0];
        image.xOffsetPercent = 50;
        image.yOffsetPercent = 50;
    }
    SendMessageW(hList, LVM_SETBKIMAGEW, 0, reinterpret_cast<LPARAM>(&image));
}
