// CPL5Ctrl: the control object a page creates for its OBJECT element. It is what script sees
// (IPL5Ctrl), what the container persists (the property map), and the owner of everything else
// the control has.
#pragma once
#include <windows.h>
#include <ocidl.h>
#include <objsafe.h>
#include <string>
#include <vector>
#include "Pelora5_h.h"
#include "control/PL5CtrlEvents.h"
#include "control/PL5Properties.h"
#include "control/PageLink.h"
#include "control/SiteLock.h"
#include "filelist/FileEntry.h"
#include "progress/UploadDlg.h"
#include "ptl/ComPtr.h"
#include "filelist/ContextMenu.h"
#include "filelist/DropTarget.h"
#include "filelist/DropZones.h"
#include "filelist/FilterList.h"
#include "filelist/ListPage.h"
#include "filelist/MainListCtrl.h"
#include "filelist/StatusBar.h"
#include "ptl/ComObject.h"
#include "ptl/ConnectionPoint.h"
#include "ptl/DropRegistration.h"
#include "ptl/ObjectSafety.h"
#include "ptl/OleControl.h"
#include "ptl/Persist.h"
#include "ptl/ProvideClassInfo.h"
#include "ptl/TypeLib.h"
#include "ptl/UrlZone.h"

class CPL5Ctrl : public PTL::CComObjectRoot,
                 public PTL::IDispatchImpl<IPL5Ctrl2, &IID_IPL5Ctrl2>,
                 public PTL::COleControlImpl<CPL5Ctrl, &CLSID_PL5Ctrl>,
                 public PTL::IConnectionPointContainerImpl<CPL5Ctrl, &DIID__IPL5CtrlEvents>,
                 public PTL::IPersistStreamInitImpl<CPL5Ctrl, &CLSID_PL5Ctrl>,
                 public PTL::IPersistPropertyBagImpl<CPL5Ctrl, &CLSID_PL5Ctrl>,
                 public PTL::IProvideClassInfo2Impl<&CLSID_PL5Ctrl, &DIID__IPL5CtrlEvents>,
                 public PTL::IObjectSafetyImpl<CPL5Ctrl>,
                 public CProxy_IPL5CtrlEvents<CPL5Ctrl>,
                 public IObjectWithSite,
                 public IDropTarget,
                 private IDropSite,
                 private IListPage,
                 private IListViewOwner,
                 private IUploadDlgOwner
{
public:
    // Recompose on resize, no links inside, inside-out, active when visible, and the client site
    // before the properties: the page link can find the page while the tag is still loading.
    static constexpr DWORD MISC_STATUS = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
                                         OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST;
    // Control ids of the children.
    static constexpr int ID_FILE_LIST = 50001;
    // Posted to the control window when the uploads that refused its pack change are over.
    static constexpr UINT WM_LANGUAGE_RETRY = WM_APP + 0x40;

    CPL5Ctrl();
    ~CPL5Ctrl() override;
    CPL5Ctrl(const CPL5Ctrl&) = delete;
    CPL5Ctrl& operator=(const CPL5Ctrl&) = delete;

    const QITAB* InterfaceTable() const;
    static const PTL::PropMapEntry* PropertyMap();
    PTL::CPersistTarget PersistTarget();

    const CPL5Properties& Properties() const { return m_props; }

    // A copy of the listed files in list order, for an upload to take.
    std::vector<FileEntry> ListedFiles() const;

    // ---- IPL5Ctrl: properties, a get and a put for each row of control/PL5Properties.h ----
#define PL5_DECLARE_ACCESSORS(name, dispid, kind, ...)                                                                 \
    STDMETHODIMP get_##name(PL5Script::kind::Arg* pVal) override;                                                      \
    STDMETHODIMP put_##name(PL5Script::kind::Arg newVal) override;
    PL5_PROPERTIES(PL5_DECLARE_ACCESSORS, PL5_DECLARE_ACCESSORS)
#undef PL5_DECLARE_ACCESSORS

    // ---- IPL5Ctrl: the file list's getters ----
    STDMETHODIMP get_GetCount(LONG* pVal) override;
    STDMETHODIMP get_GetFileName(LONG nItem, BSTR* pVal) override;
    STDMETHODIMP get_GetFileSize(LONG nItem, LONG* pVal) override;
    STDMETHODIMP get_GetFileID(LONG nItem, BSTR* pVal) override;
    STDMETHODIMP get_IsTempFile(LONG nItem, VARIANT_BOOL* pVal) override;
    STDMETHODIMP get_SelectState(LONG nIdx, VARIANT_BOOL* pVal) override;
    STDMETHODIMP put_SelectState(LONG nIdx, VARIANT_BOOL newVal) override;
    STDMETHODIMP put_SetStatusWidth(USHORT nIdx, SHORT newVal) override;

    // ---- IPL5Ctrl: methods ----
    STDMETHODIMP AppendDragDrop(VARIANT varTag, BSTR bstrInputName) override;
    STDMETHODIMP ClearDragDrop() override;
    STDMETHODIMP AppendFilter(VARIANT bstrName, VARIANT bstrExt) override;
    STDMETHODIMP ClearFilter() override;
    STDMETHODIMP AppendPostData(VARIANT varName, VARIANT varValue) override;
    STDMETHODIMP ClearPostData() override;
    STDMETHODIMP OpenFile(BSTR bstrInputName) override;
    STDMETHODIMP AddFile(BSTR bstrFileName, BSTR bstrInputName) override;
    STDMETHODIMP AddTempFile(BSTR bstrFileName, ULONG nFileSize, BSTR bstrFileID) override;
    STDMETHODIMP SelectSingleFile(BSTR bstrFilterName, BSTR bstrFilterExt, VARIANT* pVal) override;
    STDMETHODIMP RemoveAllFiles() override;
    STDMETHODIMP RemoveSelectedFiles() override;
    STDMETHODIMP RemoveFromIndex(UINT nItem) override;
    STDMETHODIMP MoveItem(LONG nIdx, LONG nMoveTo) override;
    STDMETHODIMP StartUpload(BSTR* pVal) override;
    STDMETHODIMP UploadCancel() override;
    STDMETHODIMP ExcuteLocalFile(BSTR bstrFileName, VARIANT_BOOL* pVal) override;
    STDMETHODIMP get_IDVAL(ULONG* pVal) override;

    // Asks the page whether an upload goes on with another attempt (OnUploadRetry): nAttempt is
    // the attempt about to be made (2 for the first retry), nDelayMs the wait before it, nReason a
    // PL5RetryReason or the server's HTTP status. False when a handler returned false. On the
    // control's thread only, as every event.
    bool PageAllowsRetry(ULONG nAttempt, ULONG nDelayMs, ULONG nReason);

    // The object's own IUnknown, for a reference the control takes on itself.
    IUnknown* ControllingUnknown() { return static_cast<IPL5Ctrl*>(this); }

    // ---- IObjectWithSite: the site a browser gives an object its page's script made, through
    // which the control finds its page as through a client site ----
    STDMETHODIMP SetSite(IUnknown* pUnkSite) override;
    STDMETHODIMP GetSite(REFIID riid, void** ppvSite) override;

    // ---- IDropTarget: the object answers as the drop target registered on its window, which
    // it hands each call to (control/PL5CtrlList.cpp) ----
    STDMETHODIMP DragEnter(IDataObject* pData, DWORD grfKeyState, POINTL pt, DWORD* pdwEffect) override;
    STDMETHODIMP DragOver(DWORD grfKeyState, POINTL pt, DWORD* pdwEffect) override;
    STDMETHODIMP DragLeave() override;
    STDMETHODIMP Drop(IDataObject* pData, DWORD grfKeyState, POINTL pt, DWORD* pdwEffect) override;

    // ---- site lock (control/PL5Ctrl.cpp) ----
    // Whether the object may be marked safe for scripting and initialisation: the page it is on
    // is allowed by the machine's site lists (always, when no list is in force).
    bool MayBeMarkedSafe() { return SiteAllowed(); }

    // ---- window (control/PL5CtrlWindow.cpp) ----
    BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult);
    HRESULT OnTranslateAccelerator(MSG* pMsg);
    void OnContainerGone() { m_pageLink.Disconnect(); }

    // The page link and what it found at window creation.
    CPageLink& PageLink() { return m_pageLink; }
    // The page's address: recorded when the control first connects; before its window exists
    // the client site is asked (a browser sets it before the safety check).
    const std::wstring& PageUrl();
    const std::wstring& OwnElementId() const { return m_strOwnElementId; }
    HWND StatusBar() const { return m_hStatusBar; }

    // The window that owns the control's message boxes and dialogs: its own, else the
    // container's, else none.
    HWND MessageOwner() const;
    // Loads the pack named by Language unless this control has loaded one: a control made from
    // script never gets a window, yet its texts, dialogs and menus need a pack.
    void EnsureLanguage();

private:
    LRESULT OnCreate();
    void OnDestroy();
    void OnSetFocus();
    bool OnCommand(WORD nCommand);
    void Layout();
    void ApplyColumnWidth();
    void SwitchScrolling();
    void RefreshBackground();
    void DivideStatusBar();
    void SetImageLists();
    // Scales the columns and icons when the window's DPI has changed since they were set.
    void FollowDpi();
    // The accessible name (the OBJECT's title, else the pack's) and role of the window and list.
    void NameForAssistiveTechnology();
    void LoadLanguagePack();
    std::wstring DefaultBackgroundUrl() const;

    // ---- how a put stores a property (the store column of control/PL5Properties.h) ----
    template <class T>
    void Store(T& field, T value)
    {
        field = std::move(value);
    }
    // "english" is "en"; a value without a pack stays stored while the texts that were active
    // stay in force.
    void StoreTwoChars(std::wstring& field, const std::wstring& value) { field = value.substr(0, 2); }
    void StoreFileSize(ULONG& field, ULONG value) { field = value > MAX_FILE_SIZE ? MAX_FILE_SIZE : value; }
    // ChildMode is fixed once the window exists: it decides how the window is built.
    void StoreIfNoWindow(bool& field, bool value)
    {
        if (!m_bWindowCreated)
            field = value;
    }
    // InputType, once given, decides the naming flags; a direct put no longer changes them.
    void StoreIfNoInputType(bool& field, bool value)
    {
        if (m_props.strInputType.empty())
            field = value;
    }
    // ---- what follows a put at once (the then column) ----
    void Nothing() {}
    void ApplyInputType();
    void ApplyShowFullPath();
    void ApplyThumbnails();
    void ApplyListHeight();

    // The page is allowed by the site lists; a refusal writes one line to the debug output.
    // Methods that list, open or upload files do nothing on a page that is not allowed.
    bool SiteAllowed();
    // The page has an address and no administrator's site list covers it: its security zone
    // bounds what it may reach (Action, BkImgURL, the inline fetches) and, outside the trusted
    // zones, the user is asked before script lists a file. A control that a browser marked safe
    // for untrusted callers but that knows no page is guarded as an Internet page. Other pages
    // (and script hosts and programs without a page) work as they always did.
    bool ZoneGuarded();
    // The page's zone as its security context gives it (PTL::PageZone); Internet for a guarded
    // control without a page and for a page whose zone cannot be told.
    DWORD PageZone();
    // A guarded page in the Internet or Restricted sites zone.
    bool ZoneLimited() { return ZoneGuarded() && PTL::IsLimitedZone(PageZone()); }
    // Whether a path named by script may enter the list: never a network or device path nor a
    // device name; on a limited page only a plain local file (an absolute path to an existing
    // file on a disk), and only once the user allowed this page to add files. A refusal writes
    // one line to the debug output.
    bool ScriptPathAllowed(const std::wstring& strPath);
    // Never a network or device path nor a device name, on any page.
    bool ScriptPathReachable(const std::wstring& strPath);
    // Whether the page may send or point the control to an address: http or https, in no more
    // trusted zone than its own.
    bool PageMayReach(const std::wstring& strUrl);
    // Whether ExcuteLocalFile may hand this path to the shell.
    bool MayExecute(const wchar_t* szPath) const;
    void ShowSystemMessage(DWORD dwError) const;

    // ---- file list ------------------------------------------------------------------------
public:
    CMainListCtrl& MainList() { return m_list; }
    ULONG ListedTotal() const { return m_nListedTotal; }

    // The batch add behind the file dialog, AddFile and drops: measures the paths, asks the
    // page, applies the limits with their messages, lists what is left and tells the page.
    // bChosenByUser: the paths come from the user (dialog, drop), not from script. False only
    // when the count or the total limit refused the whole batch.
    bool AddFiles(const std::vector<std::wstring>& paths, const std::wstring& strInputName, bool bChosenByUser);
    // The refresh after every change of the list: the page's mirrors at once; the view's row
    // count, the status bar and the background when the page's thread next serves its messages.
    void AfterListChange();
    // The deferred part: status bar texts and their page mirrors, then the background. Each does
    // nothing while the control has no window.
    void UpdateListView();
    void OnListViewUpdate() override { UpdateListView(); }
    // IUploadDlgOwner (control/PL5CtrlUpload.cpp): the page's OnUploadRetry, and the control held
    // while the dialog's messages may run page script.
    bool AllowRetry(const CUploadRetryWait& wait) override;
    PTL::CComPtr<IUnknown> HoldForScript() override;

    // ---- what the user does to the list in the control's window (control/PL5CtrlList.cpp) ----
    // The status texts for the list as it is.
    CStatusTexts StatusTexts() const;
    // What the right-click menu offers for the selection as it is: "Excute File" only for a
    // single selected row that ExcuteLocalFile would open.
    CMenuState ListMenuState() const;

private:
    void RefreshStatusBar();
    void RefreshStatusMirrors();
    // The right-click menu (UseContextMenu); pt as the message gives it.
    void ShowListMenu(POINT pt);

    // The drop target registered on the control's window (and, with UseDragDrop, on the page's
    // window), made at its first use.
    PTL::CComPtr<IDropTarget> WindowDropTarget();

    // ---- IDropSite ----
    HWND DropListWindow() override { return m_list.Window(); }
    std::wstring CurrentInputName() override { return m_props.strInputName; }
    bool DropZoneAt(POINT ptScreen, std::wstring& strInputName) override;
    bool BeforeDrop(const std::wstring& strPath, const std::wstring& strInputName) override;
    void AddDropped(const std::vector<std::wstring>& paths, const std::wstring& strInputName) override;
    void AfterDrop() override { Fire_OnAfterDrop(); }

    // ---- IListPage, through the page link ----
    bool HasDocument() override;
    bool SetElementText(const std::wstring& strId, const std::wstring& strText) override;
    bool ElementRectById(const std::wstring& strId, RECT& rc) override;
    bool ElementRectOf(IDispatch* pElement, RECT& rc) override;
    bool PageScroll(POINT& ptScroll) override;

    CDropZones m_dropZones;
    // Made for the window's first registration; told to do nothing more when the control goes,
    // since the system may hold it a little longer.
    CDropTarget* m_pDropTarget = nullptr;

    void ShowListMessage(const std::wstring& strText) const;
    std::wstring EffectiveInputName(BSTR bstrInputName) const;
    bool UploadRunningInChildMode() const;
    // Child mode, no upload running: the embedded list and its parts become the listed files
    // (after removals and moves, and before an upload starts).
    void FollowListInChildMode();

    CMainListCtrl m_list;
    ULONG m_nListedTotal = 0;  // sum of the entries' sizes
    CFilterList m_filters;
    // ---- end of file list -----------------------------------------------------------------

    CPL5Properties m_props;
    // The machine's policy, read when the control is made, and the site lists it puts in force.
    const CControlPolicy m_policy;
    const CSiteLock m_siteLock;
    // The user's answer to "may this page add files", for the page address it was given on.
    enum class EConsent
    {
        Unasked,
        Asking,
        Allowed,
        Refused
    };
    EConsent m_nConsent = EConsent::Unasked;
    std::wstring m_strConsentPage;
    ULONG m_nIdVal;
    bool m_bWindowCreated = false;   // latch: set once at window creation, never cleared
    bool m_bLanguageLoaded = false;  // this control has loaded (or tried) its pack, or waits to
    SHORT m_nStatusWidths[3] = {180, 125, -1};
    bool m_bDirty = false;

    // ---- window ----
    // The site a browser gave the object script made (IObjectWithSite); null for an OBJECT.
    PTL::CComPtr<IUnknown> m_pObjectSite;
    CPageLink m_pageLink;
    std::wstring m_strOwnElementId;
    std::wstring m_strOwnTitle;   // the title attribute of that element
    UINT m_nDpi = 96;             // the DPI the window's columns and icons are set for
    HACCEL m_hAccel = nullptr;    // a resource table: freed with the module
    HWND m_hStatusBar = nullptr;  // child of the control's window, dies with it
    // Exactly what was registered at creation, revoked at WM_DESTROY whatever UseDragDrop says
    // by then.
    PTL::CDropRegistration m_dropOnPage;
    PTL::CDropRegistration m_dropOnControl;

    // ---- upload ----
    // Members and helpers of StartUpload, UploadCancel, AppendPostData and ClearPostData
    // (control/PL5CtrlUpload.cpp).
    //
    // The progress dialog with the upload's state, request description and worker, for the
    // control's whole life.
    CUploadDlg m_uploadDlg;
    // The hosting page's address (the base of Action) and its document (a redirect answer sends
    // the page there); empty until the control is connected to its page.
    std::wstring m_strPageUrl;
    // A modal upload is being prepared or run: StartUpload does nothing meanwhile.
    bool m_bUploadActive = false;

    // The caption suffix of the progress dialog for the current program title.
    static std::wstring UploadTitleSuffix();
    // A StartUpload that the site list or the zone rule refused ends as a failed one: the page
    // hears OnUploadError (in child mode, once StartUpload has returned).
    void RefuseUpload();
    // Sends the page to a redirect answer's address; nothing without a document.
    void NavigatePage(const std::wstring& strUrl);
    // Child mode: the control window's handler of WM_UPLOAD_COMPLETE, _CANCEL and _ERROR
    // fires the matching event; the message's result is 0.
    LRESULT OnUploadReport(UINT uMsg);
};
