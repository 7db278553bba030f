#include "tools/host/PageRunner.h"

namespace Host {

CPageRunner::CPageRunner(CRunOptions options)
    : m_options(std::move(options)), m_pWatcher(std::make_unique<CDialogWatcher>())
{
}

CPageRunner::~CPageRunner()
{
    Shutdown();
}

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
    if (m_pScript)
        m_pScript->SetEnding();
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
    const CScriptError& error = m_pScript->Error();
    std::wstring strWhere = m_options.strPageName + L":";
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
    m_pDocument.Attach(new CHtmlDocument(m_pState));
    if (!m_view.Create(m_pState, m_pDocument.Get(), m_options.strPageName)) {
        PrintError(m_options.strPageName + L": error: cannot create the page window: " +
                   DescribeHResult(HRESULT_FROM_WIN32(GetLastError())));
        return ExitCode::Internal;
    }
    ComPtr<IDispatch> pDocumentDispatch;
    m_pDocument.As(&pDocumentDispatch);
    m_pBrowser.Attach(new CWebBrowser(m_pState, pDocumentDispatch, m_view.Window()));
    m_pState->pBrowser = m_pBrowser.Get();
    m_pState->navigate = [this](const std::wstring& strUrl) { Print(L"navigated: " + strUrl); };
    m_pState->changed = [this] { InvalidateRect(m_view.Window(), nullptr, TRUE); };
    m_pState->scroll = [this](POINT pt) { m_view.ScrollTo(pt); };
    m_view.onScrolled = [this] {
        for (auto& object : m_objects)
            if (object.pSite)
                object.pSite->Reposition();
    };
    m_pFrame = MakeComObject<CPageFrame>(m_view.Window());

    m_pScript = MakeComObject<CScriptSite>();
    std::wstring strError;
    if (FAILED(m_pScript->Start(L"JScript", strError))) {
        PrintError(m_options.strPageName + L": error: " + strError);
        return ExitCode::Internal;
    }
    m_pHost = MakeComObject<CHostObject>(static_cast<IPageControl&>(*this));
    m_pWindow = MakeComObject<CPageWindow>();
    m_pWindow->SetOwner(m_view.Window());
    m_pWindow->SetDocument(pDocumentDispatch.Get());
    m_pWindow->SetScroll([this](POINT pt) { m_view.ScrollTo(pt); });
    HRESULT hr = m_pScript->AddItem(L"host", m_pHost.Get(), false);
    if (SUCCEEDED(hr))
        hr = m_pScript->AddItem(L"window", m_pWindow.Get(), true);
    if (SUCCEEDED(hr))
        hr = m_pScript->Global(m_pGlobal);
    if (FAILED(hr)) {
        PrintError(m_options.strPageName + L": error: the script engine refuses the host's objects: " +
                   DescribeHResult(hr));
        return ExitCode::Internal;
    }
    return 0;
}

// Each handler becomes a script function whose header stands on the line where the handler's
// text begins, so that the engine's line numbers are the page's.
int CPageRunner::CompileHandlers(const CPage& page)
{
    for (size_t i = 0; i < page.scripts.size(); ++i) {
        const CPageScript& script = page.scripts[i];
        if (!script.IsHandler())
            continue;
        CHandler handler;
        handler.pScript = &script;
        handler.strFunction = L"__hostHandler" + std::to_wstring(m_handlers.size());
        std::wstring strCode = L"function " + handler.strFunction + L"(";
        for (size_t n = 0; n < script.params.size(); ++n)
            strCode += (n ? L", " : L"") + script.params[n];
        strCode += L") {";
        const LONG nColumn = LONG(script.nTextColumn) - LONG(strCode.size());
        strCode += script.strText + L"\n}";
        m_pScript->Run(strCode, DWORD(i + 1), ULONG(script.nTextLine), nColumn);
        if (m_pScript->Error().bSet)
            return ReportScriptError();
        std::wstring strName = handler.strFunction;
        LPOLESTR pszName = &strName[0];
        const HRESULT hr = m_pGlobal->GetIDsOfNames(IID_NULL, &pszName, 1, LOCALE_USER_DEFAULT, &handler.nFunction);
        if (FAILED(hr))
            return Report(script.nLine, L"the handler did not compile to a function: " + DescribeHResult(hr),
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
    m_pDocument.As(&context.pDocument);
    const size_t nNode = element.nNode;
    context.box = [this, nNode] { return m_view.ToClient(m_pState->page.nodes[nNode].rcPage); };
    entry.pSite = MakeComObject<CObjectSite>(element, std::move(context));
    std::wstring strError;
    const HRESULT hrCreate = entry.pSite->Create(m_options.factory, strError);
    const size_t nObject = m_objects.size();
    m_objects.push_back(std::move(entry));  // kept even on failure, so Shutdown closes it
    if (FAILED(hrCreate))
        return Report(element.nLine, strName + L": " + strError, ExitCode::Object);
    if (hrCreate == S_FALSE) {
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
    ComPtr<ITypeInfo> pEvents;
    const HRESULT hrSource = FindDefaultSource(pObject, iid, pEvents);
    for (size_t i = 0; i < m_handlers.size(); ++i) {
        const CPageScript& script = *m_handlers[i].pScript;
        if (element.strId.empty() || script.strFor != element.strId)
            continue;
        if (FAILED(hrSource))
            return Report(script.nLine, strName + L" has no events (" + DescribeHResult(hrSource) + L")",
                          ExitCode::Object);
        const DISPID nEvent = FindEventId(pEvents.Get(), script.strEvent);
        if (nEvent == DISPID_UNKNOWN)
            return Report(script.nLine, strName + L" has no event '" + script.strEvent + L"'", ExitCode::Object);
        object.handlers[nEvent].push_back(i);
    }
    if (SUCCEEDED(hrSource)) {
        object.pSink = MakeComObject<CEventSink>(iid, [this, nObject](DISPID nId, DISPPARAMS* pParams, VARIANT* pResult) {
            return OnEvent(nObject, nId, pParams, pResult);
        });
        object.pConnection = std::make_unique<CEventConnection>();
        const HRESULT hr = object.pConnection->Connect(pObject, iid, object.pSink.Get());
        if (FAILED(hr) && !object.handlers.empty())
            return Report(element.nLine, strName + L": cannot connect to its events: " + DescribeHResult(hr),
                          ExitCode::Object);
    }
    if (!element.strId.empty()) {
        const HRESULT hr = m_pScript->AddItem(element.strId, pObject, false);
        if (FAILED(hr))
            return Report(element.nLine, strName + L": the script engine refuses the name: " + DescribeHResult(hr),
                          ExitCode::Object);
    }
    return 0;
}

int CPageRunner::RunScript(const CPageScript& script, size_t nIndex)
{
    m_pScript->Run(script.strText, DWORD(nIndex + 1), ULONG(script.nTextLine), LONG(script.nTextColumn));
    if (m_pScript->Error().bSet)
        return ReportScriptError();
    return 0;
}

int CPageRunner::Run(const CPage& page)
{
    m_pPage = &page;
    int nResult = Start(page);
    if (nResult == 0)
        nResult = CompileHandlers(page);
    for (size_t i = 0; nResult == 0 && !m_bEnding && i < page.elements.size(); ++i) {
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
    if (m_pScript && m_pScript->Error().bSet && !m_bErrorReported)
        return ReportScriptError();
    return m_bEnding ? m_nExitCode : 0;
}

HRESULT CPageRunner::OnEvent(size_t nObject, DISPID nId, DISPPARAMS* pParams, VARIANT* pResult)
{
    if (m_bEnding || m_bShutDown || nObject >= m_objects.size())
        return S_OK;
    const auto it = m_objects[nObject].handlers.find(nId);
    if (it == m_objects[nObject].handlers.end())
        return S_OK;
    DISPPARAMS params = {};
    if (pParams) {
        params.rgvarg = pParams->rgvarg;
        params.cArgs = pParams->cArgs;
    }
    const std::vector<size_t> handlers = it->second;  // a handler may end the page meanwhile
    CVariant result;
    for (size_t nHandler : handlers) {
        if (m_bEnding)
            break;
        const CHandler& handler = m_handlers[nHandler];
        result.Clear();
        EXCEPINFO info = {};
        UINT nArgError = 0;
        const HRESULT hr = m_pGlobal->Invoke(handler.nFunction, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                             &params, result.Ptr(), &info, &nArgError);
        if (FAILED(hr) && info.pfnDeferredFillIn)
            info.pfnDeferredFillIn(&info);
        if (FAILED(hr) && !m_bEnding) {
            // The engine reports most errors to the site itself, with their line; what it only
            // returns is reported at the handler's line.
            CScriptError error;
            error.hr = info.scode ? info.scode : hr;
            error.strText = info.bstrDescription ? info.bstrDescription : DescribeHResult(error.hr);
            error.nLine = ULONG(handler.pScript->nLine);
            m_pScript->KeepError(error);
            End(ExitCode::Script);
        }
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
        if (FAILED(hr))
            return S_OK;
    }
    if (pResult)
        result.DetachTo(pResult);
    return S_OK;
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

HRESULT CPageRunner::SaveScreenshot(const std::wstring& strPath)
{
    m_view.Refresh();
    return m_view.SaveScreenshot(strPath);
}

// Key messages go first to the in-place active object the message is meant for (the UI-active
// one, else the one whose window has the focus), as a browser's message loop does.
bool CPageRunner::PreTranslate(MSG& msg)
{
    if (msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST)
        return false;
    if (m_pFrame && m_pFrame->ActiveObject())
        return m_pFrame->ActiveObject()->TranslateAccelerator(&msg) == S_OK;
    for (const auto& object : m_objects) {
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
    for (auto& object : m_objects) {
        if (object.pSink)
            object.pSink->Detach();
        if (object.pConnection)
            object.pConnection->Disconnect();
    }
    if (m_pHost)
        m_pHost->Detach();
    m_pGlobal.Reset();
    if (m_pScript)
        m_pScript->Close();
    if (m_pWindow)
        m_pWindow->Detach();
    if (m_pState)
        for (auto& pControl : m_pState->controls)
            pControl.Reset();
    if (m_pFrame)
        m_pFrame->Close();
    int nResult = 0;
    for (auto it = m_objects.rbegin(); it != m_objects.rend(); ++it) {
        if (!it->pSite)
            continue;
        it->pConnection.reset();
        it->pSink.Reset();
        const ULONG nLeft = it->pSite->Close();
        if (nLeft != 0) {
            const CPageObject& element = it->pSite->Element();
            PrintError(m_options.strPageName + L":" + std::to_wstring(element.nLine) + L": error: object" +
                       (element.strId.empty() ? L"" : L" '" + element.strId + L"'") + L" is still referenced " +
                       std::to_wstring(nLeft) + L" time(s) after the page closed it");
            nResult = ExitCode::Leak;
        }
    }
    m_objects.clear();
    if (m_pDocument)
        m_pDocument->ReleaseElements();
    if (m_pBrowser)
        m_pBrowser->Close();
    if (m_pState) {
        m_pState->pBrowser.Reset();
        m_pState->navigate = nullptr;
        m_pState->changed = nullptr;
        m_pState->scroll = nullptr;
    }
    m_view.Destroy();
    m_pWatcher.reset();
    return nResult;
}

}  // namespace Host
