// What the user does to the file list in the control's window: drops on the control and on the
// page's drop zones, the status texts, the right-click menu and its commands.
#include "control/PL5Ctrl.h"
#include "control/ScriptValues.h"
#include "filelist/ContextMenu.h"
#include "filelist/StatusBar.h"
#include "lang/LangIds.h"
#include "resources/resource.h"

using namespace PL5Script;

// ---- drop zones and the drop target -----------------------------------------------------------

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

void CPL5Ctrl::RegisterDropTargets(HWND hWnd, HWND hPageWindow, IListPage* pPage)
{
    if (m_props.bChildMode || !hWnd)
        return;
    if (!m_pDropTarget)
        m_pDropTarget = CDropTarget::Create(this);
    if (!m_pDropTarget)
        return;
    m_pDropPage = pPage;
    m_hDropPageWindow = hPageWindow;
    // The page's own target is replaced, so drops anywhere on the page reach the control.
    if (m_props.bUseDragDrop && hPageWindow)
        m_dropOnPage.Register(hPageWindow, m_pDropTarget, true);
    m_dropOnWindow.Register(hWnd, m_pDropTarget, false);
}

void CPL5Ctrl::RevokeDropTargets()
{
    m_dropOnWindow.Revoke();
    m_dropOnPage.Revoke();
    m_pDropPage = nullptr;
    m_hDropPageWindow = nullptr;
    if (m_pDropTarget)
    {
        m_pDropTarget->Disconnect();
        m_pDropTarget->Release();
        m_pDropTarget = nullptr;
    }
}

bool CPL5Ctrl::DropZoneAt(POINT ptScreen, std::wstring& strInputName)
{
    return m_pDropPage && m_hDropPageWindow && m_dropZones.HitTest(*m_pDropPage, m_hDropPageWindow, ptScreen, strInputName);
}

bool CPL5Ctrl::BeforeDrop(const std::wstring& strPath, const std::wstring& strInputName)
{
    VARIANT_BOOL vbKeep = VARIANT_TRUE;
    Fire_OnBeforeDrop(strPath.c_str(), strInputName.c_str(), &vbKeep);
    return vbKeep != VARIANT_FALSE;
}

void CPL5Ctrl::AddDropped(const std::vector<std::wstring>& paths, const std::wstring& strInputName)
{
    // A drop is the user's own choice, like the file dialog: such files may be opened later.
    if (!UploadRunningInChildMode())
        AddFiles(paths, strInputName, true);
}

// ---- status -----------------------------------------------------------------------------------

void CPL5Ctrl::RefreshStatus(HWND hStatusBar, IListPage* pPage, const std::wstring& strOwnId)
{
    const CStatusFigures figures = {m_list.List().Count(), m_nListedTotal, m_props.nMaxTotalFileSize,
                                    m_props.nMaxFileCount};
    ShowStatusTexts(MakeStatusTexts(figures), hStatusBar, pPage, strOwnId);
}

// ---- menu and commands ------------------------------------------------------------------------

bool CPL5Ctrl::MayExecuteSelected() const
{
    const std::vector<size_t> selected = m_list.List().Selected();
    return selected.size() == 1 && MayExecute(m_list.List().At(selected[0]).szFilePath);
}

void CPL5Ctrl::ShowListMenu(HWND hWnd, LPARAM lParamPoint)
{
    if (!m_props.bUseContextMenu)
        return;
    // The model's selection, which the commands act on, decides what is offered.
    const CMenuState state = {m_list.List().Selected().size(), MayExecuteSelected()};
    ShowContextMenu(hWnd, lParamPoint, m_list.Window(), state);
}

bool CPL5Ctrl::OnListCommand(WORD nCommand)
{
    switch (nCommand)
    {
    case ID_SELECT_ALL:
        m_list.SelectAll();
        return true;
    case ID_ADD_FILE:
        OpenFile(nullptr);
        return true;
    case ID_REMOVE_SELECTED:
        RemoveSelectedFiles();
        return true;
    case ID_REMOVE_ALL:
        RemoveAllFiles();
        return true;
    case ID_EXECUTE_FILE:
    {
        const std::vector<size_t> selected = m_list.List().Selected();
        if (selected.empty())
            return true;
        PTL::CComBSTR bstrPath(m_list.List().At(selected[0]).szFilePath);
        VARIANT_BOOL vbDone = VARIANT_FALSE;
        ExcuteLocalFile(bstrPath, &vbDone);
        return true;
    }
    default:
        return false;
    }
}
