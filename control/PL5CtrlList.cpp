// What the user does to the file list in the control's window: drops on the control and on the
// page's drop zones, the status texts with their page mirrors, and the right-click menu.
#include "control/PL5Ctrl.h"
#include "control/ScriptValues.h"
#include "ptl/ElementRect.h"
#include "ptl/GuardedCall.h"

using namespace PL5Script;

// ---- drop zones and drops ---------------------------------------------------------------------

STDMETHODIMP CPL5Ctrl::AppendDragDrop(VARIANT varTag, BSTR bstrInputName)
{
    // The input name is fixed now: a later change of InputName leaves this zone's name alone.
    m_dropZones.Append(varTag, EffectiveInputName(bstrInputName));
    return S_OK;
}

STDMETHODIMP CPL5Ctrl::ClearDragDrop()
{
    m_dropZones.Clear();
    return S_OK;
}

bool CPL5Ctrl::DropZoneAt(POINT ptScreen, std::wstring& strInputName)
{
    const HWND hWnd = ControlWindow();
    return hWnd && m_dropZones.HitTest(*this, GetParent(hWnd), ptScreen, strInputName);
}

bool CPL5Ctrl::BeforeDrop(const std::wstring& strPath, const std::wstring& strInputName)
{
    // A refused page hears nothing of a drop (a browser may keep a target registered longer).
    if (!SiteAllowed())
        return false;
    VARIANT_BOOL vbKeep = VARIANT_TRUE;
    Fire_OnBeforeDrop(strPath.c_str(), strInputName.c_str(), &vbKeep);
    return vbKeep != VARIANT_FALSE;
}

void CPL5Ctrl::AddDropped(const std::vector<std::wstring>& paths, const std::wstring& strInputName)
{
    // A drop is the user's own choice, like the file dialog: such files may be opened later.
    // Called from the system's drop loop: the page's handlers may let go of the control, and
    // nothing thrown may reach the loop.
    PTL::GuardedCall(ControllingUnknown(), [&] {
        if (!UploadRunningInChildMode())
            AddFiles(paths, strInputName, true);
        return S_OK;
    });
}

PTL::CComPtr<IDropTarget> CPL5Ctrl::WindowDropTarget()
{
    if (!m_pDropTarget)
        m_pDropTarget = CDropTarget::Create(this);
    return PTL::CComPtr<IDropTarget>(m_pDropTarget);
}

STDMETHODIMP CPL5Ctrl::DragEnter(IDataObject* pData, DWORD grfKeyState, POINTL pt, DWORD* pdwEffect)
{
    const PTL::CComPtr<IDropTarget> pTarget = WindowDropTarget();
    return pTarget ? pTarget->DragEnter(pData, grfKeyState, pt, pdwEffect) : E_UNEXPECTED;
}

STDMETHODIMP CPL5Ctrl::DragOver(DWORD grfKeyState, POINTL pt, DWORD* pdwEffect)
{
    const PTL::CComPtr<IDropTarget> pTarget = WindowDropTarget();
    return pTarget ? pTarget->DragOver(grfKeyState, pt, pdwEffect) : E_UNEXPECTED;
}

STDMETHODIMP CPL5Ctrl::DragLeave()
{
    const PTL::CComPtr<IDropTarget> pTarget = WindowDropTarget();
    return pTarget ? pTarget->DragLeave() : E_UNEXPECTED;
}

STDMETHODIMP CPL5Ctrl::Drop(IDataObject* pData, DWORD grfKeyState, POINTL pt, DWORD* pdwEffect)
{
    const PTL::CComPtr<IDropTarget> pTarget = WindowDropTarget();
    return pTarget ? pTarget->Drop(pData, grfKeyState, pt, pdwEffect) : E_UNEXPECTED;
}

// ---- the page, through the page link ------------------------------------------------------------

bool CPL5Ctrl::HasDocument()
{
    // A connection that failed before (the page was not ready) is tried again.
    return m_pageLink.IsConnected() || m_pageLink.Connect(ClientSite(), ControlWindow());
}

bool CPL5Ctrl::SetElementText(const std::wstring& strId, const std::wstring& strText)
{
    return m_pageLink.SetInnerText(strId, strText);
}

bool CPL5Ctrl::ElementRectById(const std::wstring& strId, RECT& rc)
{
    const PTL::CComPtr<IHTMLElement> pElement = m_pageLink.ElementById(strId);
    return pElement && PTL::ElementPageRect(pElement, rc);
}

bool CPL5Ctrl::ElementRectOf(IDispatch* pObject, RECT& rc)
{
    PTL::CComPtr<IHTMLElement> pElement;
    return pObject && SUCCEEDED(pObject->QueryInterface(IID_IHTMLElement, reinterpret_cast<void**>(&pElement))) &&
           PTL::ElementPageRect(pElement, rc);
}

bool CPL5Ctrl::PageScroll(POINT& ptScroll)
{
    if (!HasDocument())
        return false;
    ptScroll = m_pageLink.PageScroll();
    return true;
}

// ---- status -----------------------------------------------------------------------------------

CStatusTexts CPL5Ctrl::StatusTexts() const
{
    const CStatusFigures figures = {m_list.List().Count(), m_nListedTotal, m_props.nMaxTotalFileSize,
                                    m_props.nMaxFileCount};
    return MakeStatusTexts(figures);
}

void CPL5Ctrl::RefreshStatusBar()
{
    if (m_hStatusBar)
        ShowStatusTexts(StatusTexts(), m_hStatusBar, nullptr, std::wstring());
}

void CPL5Ctrl::RefreshStatusMirrors()
{
    if (!m_strOwnElementId.empty())
        ShowStatusTexts(StatusTexts(), nullptr, this, m_strOwnElementId);
}

// ---- menu -------------------------------------------------------------------------------------

CMenuState CPL5Ctrl::ListMenuState() const
{
    // The model's selection, which the commands act on, decides what is offered.
    const CFileList& list = m_list.List();
    CMenuState state = {list.SelectedCount(), false};
    if (state.nSelected == 1)
    {
        const size_t nRow = list.Selected().front();
        state.bExecuteAllowed = nRow < list.Count() && MayExecute(list.At(nRow).szFilePath);
    }
    return state;
}

void CPL5Ctrl::ShowListMenu(POINT pt)
{
    if (!m_props.bUseContextMenu)
        return;
    EnsureLanguage();
    ShowContextMenu(ControlWindow(), pt, m_list.Window(), ListMenuState());
}
