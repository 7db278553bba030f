// Runs one page: shows the page window with the page's document and browser, starts the script
// engine with the host's objects, compiles the event handlers, then walks the page in document
// order, creating each object (loaded from its PARAMs, activated in place at its box, its events
// advised to the page's handlers, named for script by its id) and running each script block. The
// first script error or host failure ends the page with a message naming the line.
#pragma once

#include "tools/host/DialogWatcher.h"
#include "tools/host/EventSink.h"
#include "tools/host/HostObject.h"
#include "tools/host/ObjectSite.h"
#include "tools/host/PageDocument.h"
#include "tools/host/PageModel.h"
#include "tools/host/PageView.h"
#include "tools/host/PageWindow.h"
#include "tools/host/ScriptSite.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace Host
{

// Exit codes of the host for its own outcomes; a page that ends itself chooses its own code
// (by convention 0 for success and 1 for a failed check).
namespace ExitCode
{
constexpr int Usage = 2;     // bad command line
constexpr int Page = 3;      // the page cannot be read or is malformed
constexpr int Script = 4;    // a script error
constexpr int Object = 5;    // an object cannot be created, loaded or connected to its handlers
constexpr int Timeout = 6;   // the page did not end in the time allowed
constexpr int Internal = 7;  // the host itself cannot run (no script engine)
constexpr int Leak = 8;      // an object was still referenced after the page closed it
}  // namespace ExitCode

struct CRunOptions
{
    std::wstring strPageName;     // the page as named to the user, the prefix of every message
    std::wstring strPageFolder;   // the Windows path of the page's folder, base of host.Path
    std::wstring strUrl;          // the document's address
    bool bBrowserService = true;  // the sites answer the web-browser service
    CObjectFactory factory = CreateRegisteredObject;
    std::function<void(const std::wstring&)> print;       // one line for standard output
    std::function<void(const std::wstring&)> printError;  // one line for standard error
};

class CPageRunner : private IPageControl
{
public:
    explicit CPageRunner(CRunOptions options);
    ~CPageRunner();
    CPageRunner(const CPageRunner&) = delete;
    CPageRunner& operator=(const CPageRunner&) = delete;

    // Runs the page's scripts and returns the exit code. The objects stay alive (and their
    // events keep reaching the handlers) until Shutdown, so that a caller may go on pumping.
    int Run(const CPage& page);
    // The exit code as things stand; reports an error that a handler met after Run returned.
    int Result();
    // Unhooks the events, closes the script engine and the objects. Returns ExitCode::Leak when
    // an object is still referenced afterwards (reported on stderr), else 0. Idempotent.
    int Shutdown();

    IUnknown* Object(const std::wstring& strId) const;
    CObjectSite* Site(const std::wstring& strId) const;
    CPageView& View() { return m_view; }
    std::wstring NavigatedTo() const override { return m_pState ? m_pState->strNavigatedTo : std::wstring(); }
    size_t BrowserEventSinks() const override;
    // Offers a key message to the page's objects before it is dispatched; true when one took it.
    bool PreTranslate(MSG& msg) override;
    IHTMLDocument2* Document() const { return m_pDocument.Get(); }
    // The element Tab has reached (or a click made UI active): its id, "" for none or no id.
    std::wstring FocusedElementId() const;
    CDialogWatcher& Watcher() override { return *m_pWatcher; }
    bool Ending() const override { return m_bEnding; }

private:
    // One engine per script language of the page, as in a browser: JScript from the start,
    // VBScript from the page's first VBScript block. Both see the same named items.
    struct CEngine
    {
        std::wstring strLanguage;
        PTL::CObjectPtr<CScriptSite> pSite;
        PTL::CComPtr<IDispatch> pGlobal;
    };
    struct CNamedItem
    {
        std::wstring strName;
        IUnknown* pObject;  // owned by the host object, the window or the object's site
        bool bGlobalMembers;
    };
    struct CHandler
    {
        const CPageScript* pScript = nullptr;
        size_t nEngine = 0;
        std::wstring strFunction;
        DISPID nFunction = DISPID_UNKNOWN;
    };
    struct CObjectEntry
    {
        PTL::CObjectPtr<CObjectSite> pSite;
        PTL::CObjectPtr<CEventSink> pSink;
        std::unique_ptr<CEventConnection> pConnection;
        PTL::CComPtr<ITypeInfo> pEvents;                 // the event interface, for names
        std::map<DISPID, std::vector<size_t>> handlers;  // event dispid to indices in m_handlers
    };

    // IPageControl
    void Print(const std::wstring& strLine) override;
    void PrintError(const std::wstring& strLine) override;
    void End(int nExitCode) override;
    std::wstring PageFolder() const override { return m_options.strPageFolder; }
    bool ElementRect(const std::wstring& strId, RECT& rcScreen) override;
    HRESULT SaveScreenshot(const std::wstring& strPath) override;
    HRESULT Capture(const RECT& rcScreen, std::vector<DWORD>& pixels) override;

    int Start(const CPage& page);
    // Tab: the focus goes to the next focusable element in document order (bBack: the previous),
    // after the last to the first. An object is made UI active and takes the focus; for any
    // other element the page window takes it and the UI-active object is deactivated.
    void MoveFocus(bool bBack);
    void FocusNode(size_t nNode);
    // The engine of a language, started (with every named item so far) on first use; ExitCode
    // Internal when the system has no such engine.
    int Engine(const std::wstring& strLanguage, size_t& nEngine);
    HRESULT AddItem(const std::wstring& strName, IUnknown* pObject, bool bGlobalMembers);
    CScriptSite* FailedEngine() const;
    bool InvokeHandler(size_t nEngine, DISPID nFunction, int nLine, DISPPARAMS& params, PTL::CComVariant& result);
    int CompileHandlers(const CPage& page);
    int CreateObject(const CPageObject& element);
    int RunScript(const CPageScript& script, size_t nIndex);
    int ReportScriptError();
    int Report(int nLine, const std::wstring& strMessage, int nExitCode);
    HRESULT OnEvent(size_t nObject, DISPID nId, DISPPARAMS* pParams, VARIANT* pResult);
    void RemoveElement(int nNode);

    CRunOptions m_options;
    const CPage* m_pPage = nullptr;
    std::unique_ptr<CDialogWatcher> m_pWatcher;
    std::shared_ptr<CPageState> m_pState;
    CPageView m_view;
    PTL::CObjectPtr<CHtmlDocument> m_pDocument;
    PTL::CObjectPtr<CWebBrowser> m_pBrowser;
    PTL::CObjectPtr<CPageFrame> m_pFrame;
    std::vector<CEngine> m_engines;
    std::vector<CNamedItem> m_items;
    PTL::CObjectPtr<CHostObject> m_pHost;
    PTL::CObjectPtr<CPageWindow> m_pWindow;
    std::vector<CHandler> m_handlers;
    std::vector<CObjectEntry> m_objects;
    size_t m_nFocusedNode = 0;  // 0 (the body): no element has the focus
    bool m_bEnding = false;
    bool m_bShutDown = false;
    bool m_bErrorReported = false;
    int m_nExitCode = 0;
};

}  // namespace Host
