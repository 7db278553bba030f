#include "tools/host/PageRunner.h"
#include "ptl/ExcepInfo.h"
#include "ptl/Text.h"

namespace Host
{

CPageRunner::CPageRunner(CRunOptions options)
    : m_options(std::move(options)), m_pWatcher(std::make_unique<CDialogWatcher>())
{
}

CPageRunner::~CPageRunner() { Shutdown(); }

void CPageRunner::Print(const std::wstring& strLine)
{
    if (m_options.print)
        m_options.print(strLine);
}

void CPageRunner::PrintError(const std::wstring& strLine)
{
    if (m_options.printError)
        m_options.printError(strLine);
}

void CPageRunner::End(int nExitCode)
{
    if (m_bEnding)
        return;
    m_bEnding = true;
    m_nExitCode = nExitCode;
    for (auto& engine : m_engines)
        engine.pSite->SetEnding();
}

int CPageRunner::Report(int nLine, const std::wstring& strMessage, int nExitCode)
{
    PrintError(m_options.strPageName + L":" + std::to_wstring(nLine) + L": error: " + strMessage);
    End(nExitCode);
    return nExitCode;
}

int CPageRunner::ReportScriptError()
{
    m_bErrorReported = true;
    const CScriptError& error = FailedEngine() ? FailedEngine()->Error() : CScriptError();
    // An error in a script file names the file and its line.
    const size_t nScript = size_t(error.nContext) - 1;
    const bool bFile = m_pPage && nScript < m_pPage->scripts.size() && !m_pPage->scripts[nScript].strSrc.empty();
    std::wstring strWhere =
        (bFile ? PageFilePath(m_options.strPageFolder, m_pPage->scripts[nScript].strSrc) : m_options.strPageName) +
        L":";
    if (error.nLine > 0)
        strWhere += std::to_wstring(error.nLine) + L":";
    if (error.nLine > 0 && error.nColumn >= 0)
        strWhere += std::to_wstring(error.nColumn + 1) + L":";
    PrintError(strWhere + L" script error: " + error.strText);
    if (!error.strSourceLine.empty())
        PrintError(L"    " + error.strSourceLine);
    m_bEnding = true;
    m_nExitCode = ExitCode::Script;
    return ExitCode::Script;
}

int CPageRunner::Start(const CPage& page)
{
    m_pState = std::make_shared<CPageState>();
    m_pState->page = page;
    m_pState->nPageHeight = LayOutPage(m_pState->page, CPageView::WIDTH);
    m_pState->strUrl = m_options.strUrl;
    m_pState->bBrowserService = m_options.bBrowserService;
    m_pState->controls.resize(page.objects.size());
    m_pDocument = PTL::MakeComObject<CHtmlDocument>(m_pState);
    if (!m_view.Create(m_pState, m_pDocument.Get(), m_options.strPageName))
    {
        PrintError(m_options.strPageName + L": error: cannot create the page window: " +
                   PTL::DescribeHResult(HRESULT_FROM_WIN32(GetLastError())));
        return ExitCode::Internal;
    }
    PTL::CComPtr<IDispatch> pDocumentDispatch;
    m_pDocument.QueryInterface(&pDocumentDispatch);
    m_pBrowser = PTL::MakeComObject<CWebBrowser>(m_pState, pDocumentDispatch, m_view.Window());
    m_pState->pBrowser = m_pBrowser.Get();
    m_pState->navigate = [this](const std::wstring& strUrl) { Print(L"navigated: " + strUrl); };
    m_pState->changed = [this] { InvalidateRect(m_view.Window(), nullptr, TRUE); };
    m_pState->scroll = [this](POINT pt) { m_view.ScrollTo(pt); };
    m_pState->remove = [this](int nNode) { RemoveElement(nNode); };
    m_view.onScrolled = [this] {
        for (auto& object : m_objects)
            if (object.pSite)
                object.pSite->Reposition();
    };
    m_view.onTab = [this](bool bBack) { MoveFocus(bBack); };
    // As a browser does when its window is activated again, the focused element gets the focus
    // back: an object, in its own window.
    m_view.onFocus = [this] {
        for (const auto& object : m_objects)
            if (object.pSite && object.pSite->Element().nNode == m_nFocusedNode && object.pSite->ObjectWindow())
                SetFocus(object.pSite->ObjectWindow());
    };
    m_pFrame = PTL::MakeComObject<CPageFrame>(m_view.Window());

    size_t nEngine = 0;
    if (const int nResult = Engine(L"JScript", nEngine))
        return nResult;
    m_pHost = PTL::MakeComObject<CHostObject>(static_cast<IPageControl&>(*this));
    m_pWindow = PTL::MakeComObject<CPageWindow>();
    m_pWindow->SetOwner(m_view.Window());
    m_pWindow->SetDocument(pDocumentDispatch.Get());
    m_pWindow->SetScroll([this](POINT pt) { m_view.ScrollTo(pt); });
    HRESULT hr = AddItem(L"host", m_pHost.Get(), false);
    if (SUCCEEDED(hr))
        hr = AddItem(L"window", m_pWindow.Get(), true);
    if (FAILED(hr))
    {
        PrintError(m_options.strPageName + L": error: the script engine refuses the host's objects: " +
                   PTL::DescribeHResult(hr));
        return ExitCode::Internal;
    }
    return 0;
}

int CPageRunner::Engine(const std::wstring& strLanguage, size_t& nEngine)
{
    for (nEngine = 0; nEngine < m_engines.size(); ++nEngine)
        if (m_engines[nEngine].strLanguage == strLanguage)
            return 0;
    CEngine engine{strLanguage, PTL::MakeComObject<CScriptSite>(), nullptr};
    std::wstring strError;
    HRESULT hr = engine.pSite->Start(strLanguage.c_str(), strError);
    if (FAILED(hr))
    {
        PrintError(m_options.strPageName + L": error: " + strError);
        return ExitCode::Internal;
    }
    for (size_t i = 0; SUCCEEDED(hr) && i < m_items.size(); ++i)
        hr = engine.pSite->AddItem(m_items[i].strName, m_items[i].pObject, m_items[i].bGlobalMembers);
    if (SUCCEEDED(hr))
        hr = engine.pSite->Global(engine.pGlobal);
    if (FAILED(hr))
    {
        engine.pSite->Close();
        PrintError(m_options.strPageName + L": error: the " + strLanguage + L" engine refuses the page's objects: " +
                   PTL::DescribeHResult(hr));
        return ExitCode::Internal;
    }
    if (m_bEnding)
        engine.pSite->SetEnding();
    m_engines.push_back(std::move(engine));
    return 0;
}

HRESULT CPageRunner::AddItem(const std::wstring& strName, IUnknown* pObject, bool bGlobalMembers)
{
    m_items.push_back({strName, pObject, bGlobalMembers});
    HRESULT hr = S_OK;
    for (size_t i = 0; SUCCEEDED(hr) && i < m_engines.size(); ++i)
        hr = m_engines[i].pSite->AddItem(strName, pObject, bGlobalMembers);
    return hr;
}

CScriptSite* CPageRunner::FailedEngine() const
{
    for (const auto& engine : m_engines)
        if (engine.pSite->Error().bSet)
            return engine.pSite.Get();
    return nullptr;
}

// Each handler becomes a script function whose header stands on the line where the handler's
// text begins, so that the engine's line numbers are the page's (VBScript: on the line before,
// as its procedures need a line of their own).
int CPageRunner::CompileHandlers(const CPage& page)
{
    for (size_t i = 0; i < page.scripts.size(); ++i)
    {
        const CPageScript& script = page.scripts[i];
        if (!script.IsHandler())
            continue;
        CHandler handler;
        handler.pScript = &script;
        if (const int nResult = Engine(script.strLanguage, handler.nEngine))
            return nResult;
        const CEngine& engine = m_engines[handler.nEngine];
        const bool bVBScript = script.strLanguage == L"VBScript";
        // VBScript names begin with a letter.
        handler.strFunction = (bVBScript ? L"HostHandler_" : L"__hostHandler") + std::to_wstring(m_handlers.size());
        std::wstring strCode = (bVBScript ? L"Function " : L"function ") + handler.strFunction + L"(";
        for (size_t n = 0; n < script.params.size(); ++n)
            strCode += (n ? L", " : L"") + script.params[n];
        if (bVBScript)
        {
            strCode += L")\n" + script.strText + L"\nEnd Function";
            engine.pSite->Run(strCode, DWORD(i + 1), ULONG(script.nTextLine - 1), -1);
        }
        else
        {
            strCode += L") {";
            const LONG nColumn = LONG(script.nTextColumn) - LONG(strCode.size());
            strCode += script.strText + L"\n}";
            engine.pSite->Run(strCode, DWORD(i + 1), ULONG(script.nTextLine), nColumn);
        }
        if (engine.pSite->Error().bSet)
            return ReportScriptError();
        std::wstring strName = handler.strFunction;
        LPOLESTR pszName = &strName[0];
        const HRESULT hr =
            engine.pGlobal->GetIDsOfNames(IID_NULL, &pszName, 1, LOCALE_USER_DEFAULT, &handler.nFunction);
        if (FAILED(hr))
            return Report(script.nLine, L"the handler did not compile to a function: " + PTL::DescribeHResult(hr),
                          ExitCode::Script);
        m_handlers.push_back(std::move(handler));
    }
    return 0;
}

int CPageRunner::CreateObject(const CPageObject& element)
{
    const std::wstring strName = element.strId.empty() ? L"object" : L"object '" + element.strId + L"'";
    CObjectEntry entry;
    CSiteContext context;
    context.hPage = m_view.Window();
    context.pFrame = m_pFrame;
    m_pDocument.QueryInterface(&context.pDocument);
    const size_t nNode = element.nNode;
    context.box = [this, nNode] { return m_view.ToClient(m_pState->page.nodes[nNode].rcPage); };
    context.tab = [this](bool bBack) { MoveFocus(bBack); };
    context.uiActivated = [this, nNode] {
        m_nFocusedNode = nNode;
        m_view.SetFocusedNode(nNode);
    };
    entry.pSite = PTL::MakeComObject<CObjectSite>(element, std::move(context));
    std::wstring strError;
    const HRESULT hrCreate = entry.pSite->Create(m_options.factory, strError);
    const size_t nObject = m_objects.size();
    m_objects.push_back(std::move(entry));  // kept even on failure, so Shutdown closes it
    if (FAILED(hrCreate))
        return Report(element.nLine, strName + L": " + strError, ExitCode::Object);
    if (hrCreate == S_FALSE)
    {
        // As a browser does, the page goes on without the object and is told why.
        PrintError(m_options.strPageName + L":" + std::to_wstring(element.nLine) + L": warning: " + strName + L": " +
                   strError);
        return 0;
    }
    CObjectEntry& object = m_objects.back();
    IUnknown* pObject = object.pSite->Object();
    const int nPageObject = m_pState->page.nodes[nNode].nObject;
    if (nPageObject >= 0)
        pObject->QueryInterface(IID_PPV_ARGS(&m_pState->controls[size_t(nPageObject)]));
    HRESULT hrActivate = object.pSite->Activate(strError);
    if (FAILED(hrActivate))
        return Report(element.nLine, strName + L": " + strError, ExitCode::Object);

    // Every object with an event interface gets a sink, as in a browser; an object with
    // handlers must have one, and every handler must name one of its events.
    IID iid = IID_NULL;
    PTL::CComPtr<ITypeInfo> pEvents;
    const HRESULT hrSource = FindDefaultSource(pObject, iid, pEvents);
    for (size_t i = 0; i < m_handlers.size(); ++i)
    {
        const CPageScript& script = *m_handlers[i].pScript;
        if (element.strId.empty() || script.strFor != element.strId)
            continue;
        if (FAILED(hrSource))
            return Report(script.nLine, strName + L" has no events (" + PTL::DescribeHResult(hrSource) + L")",
                          ExitCode::Object);
        const DISPID nEvent = FindEventId(pEvents.Get(), script.strEvent);
        if (nEvent == DISPID_UNKNOWN)
            return Report(script.nLine, strName + L" has no event '" + script.strEvent + L"'", ExitCode::Object);
        object.handlers[nEvent].push_back(i);
    }
    if (SUCCEEDED(hrSource))
    {
        object.pEvents = pEvents;
        object.pSink =
            PTL::MakeComObject<CEventSink>(iid, [this, nObject](DISPID nId, DISPPARAMS* pParams, VARIANT* pResult) {
                return OnEvent(nObject, nId, pParams, pResult);
            });
        object.pConnection = std::make_unique<CEventConnection>();
        const HRESULT hr = object.pConnection->Connect(pObject, iid, object.pSink.Get());
        if (FAILED(hr) && !object.handlers.empty())
            return Report(element.nLine, strName + L": cannot connect to its events: " + PTL::DescribeHResult(hr),
                          ExitCode::Object);
    }
    if (!element.strId.empty())
    {
        // Script names the element, as in a browser, and reaches the object through it: once the
        // element leaves the page, the page holds the object no more.
        const HRESULT hr = AddItem(element.strId, m_pDocument->Element(int(nNode)).Get(), false);
        if (FAILED(hr))
            return Report(element.nLine, strName + L": the script engine refuses the name: " + PTL::DescribeHResult(hr),
                          ExitCode::Object);
    }
    return 0;
}

int CPageRunner::RunScript(const CPageScript& script, size_t nIndex)
{
    size_t nEngine = 0;
    if (const int nResult = Engine(script.strLanguage, nEngine))
        return nResult;
    if (script.strSrc.empty())
    {
        m_engines[nEngine].pSite->Run(script.strText, DWORD(nIndex + 1), ULONG(script.nTextLine),
                                      LONG(script.nTextColumn));
    }
    else
    {
        // A script file is read when the page reaches its tag, as a browser loads it, and runs
        // instead of the tag's own text.
        std::wstring strText;
        DWORD nError = 0;
        if (!ReadPageFile(PageFilePath(m_options.strPageFolder, script.strSrc), strText, nError))
            return Report(script.nLine,
                          L"cannot read the script '" + script.strSrc + L"': " +
                              PTL::DescribeHResult(HRESULT_FROM_WIN32(nError)),
                          ExitCode::Page);
        m_engines[nEngine].pSite->Run(strText, DWORD(nIndex + 1), 1, 0);
    }
    if (m_engines[nEngine].pSite->Error().bSet)
        return ReportScriptError();
    return 0;
}

int CPageRunner::Run(const CPage& page)
{
    m_pPage = &page;
    int nResult = Start(page);
    if (nResult == 0)
        nResult = CompileHandlers(page);
    for (size_t i = 0; nResult == 0 && !m_bEnding && i < page.elements.size(); ++i)
    {
        const CPageElement& element = page.elements[i];
        if (element.nKind == CPageElement::Object)
            nResult = CreateObject(page.objects[element.nIndex]);
        else if (!page.scripts[element.nIndex].IsHandler())
            nResult = RunScript(page.scripts[element.nIndex], element.nIndex);
    }
    return nResult != 0 ? nResult : Result();
}

int CPageRunner::Result()
{
    // An error inside an event handler ends the page from within the object's call; it is
    // reported here, once the script that made the call has returned.
    if (FailedEngine() && !m_bErrorReported)
        return ReportScriptError();
    return m_bEnding ? m_nExitCode : 0;
}

// An event goes to the page's <script for= event=> handlers of the object, then, as a browser
// binds them by name, to a VBScript procedure named after the object and the event
// ("Sub Uploader_OnAddFile(name, size)"). The last handler's value is the event's result.
HRESULT CPageRunner::OnEvent(size_t nObject, DISPID nId, DISPPARAMS* pParams, VARIANT* pResult)
{
    if (m_bEnding || m_bShutDown || nObject >= m_objects.size())
        return S_OK;
    DISPPARAMS params = {};
    if (pParams)
    {
        params.rgvarg = pParams->rgvarg;
        params.cArgs = pParams->cArgs;
    }
    PTL::CComVariant result;
    const auto it = m_objects[nObject].handlers.find(nId);
    if (it != m_objects[nObject].handlers.end())
    {
        const std::vector<size_t> handlers = it->second;  // a handler may end the page meanwhile
        for (size_t nHandler : handlers)
        {
            const CHandler& handler = m_handlers[nHandler];
            if (m_bEnding || !InvokeHandler(handler.nEngine, handler.nFunction, handler.pScript->nLine, params, result))
                return S_OK;
        }
    }
    const CObjectEntry& object = m_objects[nObject];
    BSTR bstrEvent = nullptr;
    UINT nNames = 0;
    size_t nEngine = m_engines.size();
    for (size_t i = 0; i < m_engines.size(); ++i)
        if (m_engines[i].strLanguage == L"VBScript")
            nEngine = i;
    if (nEngine < m_engines.size() && !object.pSite->Element().strId.empty() && object.pEvents &&
        SUCCEEDED(object.pEvents->GetNames(nId, &bstrEvent, 1, &nNames)) && nNames == 1)
    {
        std::wstring strName = object.pSite->Element().strId + L"_" + bstrEvent;
        SysFreeString(bstrEvent);
        LPOLESTR pszName = &strName[0];
        DISPID nFunction = DISPID_UNKNOWN;
        if (SUCCEEDED(
                m_engines[nEngine].pGlobal->GetIDsOfNames(IID_NULL, &pszName, 1, LOCALE_USER_DEFAULT, &nFunction)) &&
            !InvokeHandler(nEngine, nFunction, object.pSite->Element().nLine, params, result))
            return S_OK;
    }
    if (pResult)
        result.Detach(pResult);
    return S_OK;
}

// An element leaves the page: as a browser does, every object inside it is unhooked from its
// handlers, closed and released at once, even while it is busy in a call of the page's.
void CPageRunner::RemoveElement(int nNode)
{
    const auto inside = [this, nNode](size_t n) {
        for (;; n = m_pState->page.nodes[n].nParent)
        {
            if (n == size_t(nNode))
                return true;
            if (n == 0)
                return false;
        }
    };
    for (auto& object : m_objects)
    {
        if (!object.pSite || !object.pSite->Object() || !inside(object.pSite->Element().nNode))
            continue;
        if (object.pSink)
            object.pSink->Detach();
        if (object.pConnection)
            object.pConnection->Disconnect();
        const int nPageObject = m_pState->page.nodes[object.pSite->Element().nNode].nObject;
        if (nPageObject >= 0)
            m_pState->controls[size_t(nPageObject)].Release();
        // The site stays in the list (an event under way still reads it), closed.
        object.pSite->Close();
    }
}

// Calls one handler; false when it failed, which ends the page with its error.
bool CPageRunner::InvokeHandler(size_t nEngine, DISPID nFunction, int nLine, DISPPARAMS& params,
                                PTL::CComVariant& result)
{
    if (m_bEnding)
        return false;
    result.Clear();
    PTL::CExcepInfo info;
    UINT nArgError = 0;
    const HRESULT hr = m_engines[nEngine].pGlobal->Invoke(nFunction, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                                          &params, &result, &info, &nArgError);
    if (FAILED(hr))
        info.FillIn();
    if (FAILED(hr) && !m_bEnding)
    {
        // The engine reports most errors to the site itself, with their line; what it only
        // returns is reported at the handler's line.
        CScriptError error;
        error.hr = info.Code(hr);
        error.strText = info.DescriptionOr(PTL::DescribeHResult(error.hr));
        error.nLine = ULONG(nLine);
        m_engines[nEngine].pSite->KeepError(error);
        End(ExitCode::Script);
    }
    return SUCCEEDED(hr);
}

IUnknown* CPageRunner::Object(const std::wstring& strId) const
{
    for (const auto& object : m_objects)
        if (object.pSite && object.pSite->Element().strId == strId)
            return object.pSite->Object();
    return nullptr;
}

CObjectSite* CPageRunner::Site(const std::wstring& strId) const
{
    for (const auto& object : m_objects)
        if (object.pSite && object.pSite->Element().strId == strId)
            return object.pSite.Get();
    return nullptr;
}

bool CPageRunner::ElementRect(const std::wstring& strId, RECT& rcScreen)
{
    const int nNode = m_pState ? m_pState->page.FindNode(strId) : -1;
    if (nNode < 0)
        return false;
    rcScreen = m_view.ToScreen(m_pState->page.nodes[size_t(nNode)].rcPage);
    return true;
}

void CPageRunner::MoveFocus(bool bBack)
{
    std::vector<size_t> order;
    const auto& nodes = m_pState->page.nodes;
    for (size_t i = 1; i < nodes.size(); ++i)
        if (nodes[i].bFocusable)
            order.push_back(i);
    if (order.empty())
        return;
    size_t nAt = order.size();  // none focused: Tab goes to the first, Shift+Tab to the last
    for (size_t i = 0; i < order.size(); ++i)
        if (order[i] == m_nFocusedNode)
            nAt = i;
    size_t nNext;
    if (nAt == order.size())
        nNext = bBack ? order.size() - 1 : 0;
    else
        nNext = bBack ? (nAt + order.size() - 1) % order.size() : (nAt + 1) % order.size();
    FocusNode(order[nNext]);
}

void CPageRunner::FocusNode(size_t nNode)
{
    const CPageNode& node = m_pState->page.nodes[nNode];
    CObjectSite* pTarget = nullptr;
    for (const auto& object : m_objects)
        if (object.pSite && object.pSite->Element().nNode == nNode && object.pSite->ObjectWindow())
            pTarget = object.pSite.Get();
    for (const auto& object : m_objects)
        if (object.pSite && object.pSite.Get() != pTarget)
            object.pSite->UIDeactivate();
    m_nFocusedNode = nNode;
    m_view.SetFocusedNode(nNode);
    if (pTarget && SUCCEEDED(pTarget->UIActivate()))
        return;
    if (node.nObject < 0 || !pTarget)
        SetFocus(m_view.Window());
}

std::wstring CPageRunner::FocusedElementId() const
{
    return m_pState && m_nFocusedNode > 0 ? m_pState->page.nodes[m_nFocusedNode].strId : std::wstring();
}

HRESULT CPageRunner::SaveScreenshot(const std::wstring& strPath)
{
    m_view.Refresh();
    return m_view.SaveScreenshot(strPath);
}

HRESULT CPageRunner::Capture(const RECT& rcScreen, std::vector<DWORD>& pixels)
{
    m_view.Refresh();
    RECT rc = rcScreen;
    MapWindowPoints(nullptr, m_view.Window(), reinterpret_cast<POINT*>(&rc), 2);
    return m_view.Capture(rc, pixels);
}

// Key messages go first to the in-place active object the message is meant for (the UI-active
// one, else the one whose window has the focus), as a browser's message loop does.
size_t CPageRunner::BrowserEventSinks() const { return m_pBrowser ? m_pBrowser->EventPoint().ConnectionCount() : 0; }

bool CPageRunner::PreTranslate(MSG& msg)
{
    if (msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST)
        return false;
    if (m_pFrame && m_pFrame->ActiveObject())
        return m_pFrame->ActiveObject()->TranslateAccelerator(&msg) == S_OK;
    for (const auto& object : m_objects)
    {
        const HWND hObject = object.pSite ? object.pSite->ObjectWindow() : nullptr;
        if (hObject && (msg.hwnd == hObject || IsChild(hObject, msg.hwnd)))
            return object.pSite->TranslateAccelerator(msg);
    }
    return false;
}

int CPageRunner::Shutdown()
{
    if (m_bShutDown)
        return 0;
    m_bShutDown = true;
    m_bEnding = true;
    for (auto& object : m_objects)
    {
        if (object.pSink)
            object.pSink->Detach();
        if (object.pConnection)
            object.pConnection->Disconnect();
    }
    if (m_pHost)
        m_pHost->Detach();
    for (auto& engine : m_engines)
    {
        engine.pGlobal.Release();
        engine.pSite->Close();
    }
    m_items.clear();
    if (m_pWindow)
        m_pWindow->Detach();
    if (m_pState)
        for (auto& pControl : m_pState->controls)
            pControl.Release();
    if (m_pFrame)
        m_pFrame->Close();
    int nResult = 0;
    for (auto it = m_objects.rbegin(); it != m_objects.rend(); ++it)
    {
        if (!it->pSite)
            continue;
        it->pConnection.reset();
        it->pSink.Release();
        it->pEvents.Release();
        const ULONG nLeft = it->pSite->Close();
        if (nLeft != 0)
        {
            const CPageObject& element = it->pSite->Element();
            PrintError(m_options.strPageName + L":" + std::to_wstring(element.nLine) + L": error: object" +
                       (element.strId.empty() ? L"" : L" '" + element.strId + L"'") + L" is still referenced " +
                       std::to_wstring(nLeft) + L" time(s) after the page closed it");
            nResult = ExitCode::Leak;
        }
    }
    m_objects.clear();
    // A control connects to the browser's events while it is shown and must leave before it goes.
    if (const size_t nSinks = BrowserEventSinks())
    {
        PrintError(m_options.strPageName + L": error: " + std::to_wstring(nSinks) +
                   L" sink(s) still connected to the browser's events after the page closed its objects");
        nResult = ExitCode::Leak;
    }
    if (m_pDocument)
        m_pDocument->ReleaseElements();
    if (m_pBrowser)
        m_pBrowser->Close();
    if (m_pState)
    {
        m_pState->pBrowser.Release();
        m_pState->navigate = nullptr;
        m_pState->changed = nullptr;
        m_pState->scroll = nullptr;
        m_pState->remove = nullptr;
    }
    m_view.Destroy();
    m_pWatcher.reset();
    return nResult;
}

}  // namespace Host
