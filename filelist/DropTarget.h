// The control's OLE drop target, registered on the control's window and (UseDragDrop) on the
// page's window. It accepts only left-button drags of files (no folder, device or unreadable
// name anywhere in the selection); the pointer decides the input name: the control's list, else
// the first page drop zone under it. Dropped shell links stand for their targets.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <string>
#include <vector>
#include "ptl/ComObject.h"

// What the drop target asks of the control that owns it.
class IDropSite
{
public:
    virtual ~IDropSite() = default;
    // The list view's window (the drop there takes the InputName property), or none.
    virtual HWND DropListWindow() = 0;
    virtual std::wstring CurrentInputName() = 0;
    // The input name of the page drop zone under the point (screen coordinates).
    virtual bool DropZoneAt(POINT ptScreen, std::wstring& strInputName) = 0;
    // OnBeforeDrop: false when the page vetoes the file.
    virtual bool BeforeDrop(const std::wstring& strPath, const std::wstring& strInputName) = 0;
    virtual void AddDropped(const std::vector<std::wstring>& paths, const std::wstring& strInputName) = 0;
    virtual void AfterDrop() = 0;
};

// The file names of a drop list (CF_HDROP) in their order; false when the data has none.
bool DroppedFileNames(IDataObject* pData, std::vector<std::wstring>& names);
// Whether every name is a readable file: a folder, a device or a name whose attributes cannot
// be read refuses the whole selection, as does an empty one.
bool AllPlainFiles(const std::vector<std::wstring>& names);
// The target of a shell link, or the name itself when it is no link or its target is empty;
// "" when the target is a network or device path, which a drop never lists.
std::wstring ResolveShellLink(const std::wstring& strPath);

class CDropTarget : public IDropTarget, public PTL::CUncountedObjectRoot
{
public:
    static const QITAB* InterfaceTable()
    {
        static const QITAB qit[] = {QITABENT(CDropTarget, IDropTarget), {nullptr, 0}};
        return qit;
    }
    // Made with one reference, for the caller; null when out of memory.
    static CDropTarget* Create(IDropSite* pSite);
    // The site is going: later calls (the system may still hold the target) do nothing.
    void Disconnect() { m_pSite = nullptr; }

    STDMETHODIMP DragEnter(IDataObject* pData, DWORD grfKeyState, POINTL pt, DWORD* pdwEffect) override;
    STDMETHODIMP DragOver(DWORD grfKeyState, POINTL pt, DWORD* pdwEffect) override;
    STDMETHODIMP DragLeave() override;
    STDMETHODIMP Drop(IDataObject* pData, DWORD grfKeyState, POINTL pt, DWORD* pdwEffect) override;

protected:
    explicit CDropTarget(IDropSite* pSite) : m_pSite(pSite) {}

private:
    IDropSite* m_pSite;
    bool m_bAccept = false;           // this drag's data can be dropped
    std::wstring m_strDropInputName;  // of the target under the pointer at the last DragOver
};
