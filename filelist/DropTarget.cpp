#include "filelist/DropTarget.h"
#include <shellapi.h>
#include <shlobj.h>
#include "filelist/PathSafety.h"
#include "ptl/ComPtr.h"

namespace
{
// A medium from GetData, released with it.
class CStgMedium : public STGMEDIUM
{
public:
    CStgMedium() : STGMEDIUM() {}
    ~CStgMedium() { ReleaseStgMedium(this); }
    CStgMedium(const CStgMedium&) = delete;
    CStgMedium& operator=(const CStgMedium&) = delete;
};

bool InRect(HWND hWnd, POINTL pt)
{
    RECT rc = {};
    const POINT p = {pt.x, pt.y};
    return hWnd && GetWindowRect(hWnd, &rc) && PtInRect(&rc, p);
}
}  // namespace

bool DroppedFileNames(IDataObject* pData, std::vector<std::wstring>& names)
{
    names.clear();
    if (!pData)
        return false;
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    CStgMedium medium;
    if (FAILED(pData->GetData(&format, &medium)) || medium.tymed != TYMED_HGLOBAL || !medium.hGlobal)
        return false;
    auto hDrop = static_cast<HDROP>(GlobalLock(medium.hGlobal));
    if (!hDrop)
        return false;
    const UINT nFiles = DragQueryFileW(hDrop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < nFiles; ++i)
    {
        // A name longer than an entry holds would be listed as some other name: it is kept whole
        // here and left out when the list measures it.
        const UINT nLength = DragQueryFileW(hDrop, i, nullptr, 0);
        std::wstring strName(nLength + 1, L'\0');
        strName.resize(DragQueryFileW(hDrop, i, &strName[0], nLength + 1));
        names.push_back(strName);
    }
    GlobalUnlock(medium.hGlobal);
    return true;
}

bool AllPlainFiles(const std::vector<std::wstring>& names)
{
    if (names.empty())
        return false;
    for (const std::wstring& strName : names)
    {
        // INVALID_FILE_ATTRIBUTES has every bit set, so an unreadable name is refused here too.
        const DWORD dwAttributes = GetFileAttributesW(strName.c_str());
        if (dwAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))
            return false;
    }
    return true;
}

std::wstring ResolveShellLink(const std::wstring& strPath)
{
    PTL::CComPtr<IShellLinkW> pLink;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&pLink))))
        return strPath;
    PTL::CComPtr<IPersistFile> pFile;
    if (FAILED(pLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&pFile))) ||
        FAILED(pFile->Load(strPath.c_str(), STGM_READ)))
        return strPath;
    WCHAR szTarget[MAX_PATH] = L"";
    if (pLink->GetPath(szTarget, MAX_PATH, nullptr, SLGP_UNCPRIORITY) != S_OK || !szTarget[0])
        return strPath;
    // The user dropped the link, not what it points to: a target on another machine or a device
    // is not opened on the link's say-so, as a page's path is not.
    if (IsNetworkOrDevicePath(szTarget) || NamesDevice(szTarget))
    {
        OutputDebugStringW(L"Pelora5: refused, a dropped shortcut points to a network or device path\n");
        return std::wstring();
    }
    return szTarget;
}

CDropTarget* CDropTarget::Create(IDropSite* pSite)
{
    IDropTarget* pTarget = nullptr;
    PTL::CreateComObject<CDropTarget>(IID_IDropTarget, reinterpret_cast<void**>(&pTarget), pSite);
    return static_cast<CDropTarget*>(pTarget);
}

STDMETHODIMP CDropTarget::DragEnter(IDataObject* pData, DWORD grfKeyState, POINTL, DWORD* pdwEffect)
{
    if (!pdwEffect)
        return E_POINTER;
    m_bAccept = false;
    *pdwEffect = DROPEFFECT_NONE;
    if (!m_pSite || !(grfKeyState & MK_LBUTTON))
        return S_OK;
    std::vector<std::wstring> names;
    if (!DroppedFileNames(pData, names) || !AllPlainFiles(names))
        return S_OK;
    m_bAccept = true;
    *pdwEffect = DROPEFFECT_COPY;
    return S_OK;
}

STDMETHODIMP CDropTarget::DragOver(DWORD, POINTL pt, DWORD* pdwEffect)
{
    if (!pdwEffect)
        return E_POINTER;
    *pdwEffect = DROPEFFECT_NONE;
    if (!m_bAccept || !m_pSite)
        return S_OK;
    if (InRect(m_pSite->DropListWindow(), pt))
    {
        m_strDropInputName = m_pSite->CurrentInputName();
        *pdwEffect = DROPEFFECT_COPY;
        return S_OK;
    }
    std::wstring strInputName;
    if (m_pSite->DropZoneAt(POINT{pt.x, pt.y}, strInputName))
    {
        m_strDropInputName = strInputName;
        *pdwEffect = DROPEFFECT_COPY;
    }
    return S_OK;
}

STDMETHODIMP CDropTarget::DragLeave() { return E_NOTIMPL; }

STDMETHODIMP CDropTarget::Drop(IDataObject* pData, DWORD grfKeyState, POINTL pt, DWORD* pdwEffect)
{
    if (!pdwEffect)
        return E_POINTER;
    // The system drops only where the last DragOver offered a copy; the point is checked once
    // more so a drop that moved off every target since then is not taken.
    DWORD dwEffect = DROPEFFECT_NONE;
    DragOver(grfKeyState, pt, &dwEffect);
    *pdwEffect = DROPEFFECT_NONE;
    if (dwEffect == DROPEFFECT_NONE || !m_pSite)
        return S_OK;
    std::vector<std::wstring> names;
    if (!DroppedFileNames(pData, names))
        return S_OK;
    // The site may go while the page's handlers run; it is held in a local meanwhile and
    // checked again after each of them.
    IDropSite* pSite = m_pSite;
    const std::wstring strInputName = m_strDropInputName;
    std::vector<std::wstring> kept;
    for (const std::wstring& strName : names)
    {
        const std::wstring strPath = ResolveShellLink(strName);
        if (strPath.empty())
            continue;
        if (!m_pSite || !pSite->BeforeDrop(strPath, strInputName))
            return S_OK;  // one veto abandons the whole drop, OnAfterDrop included
        kept.push_back(strPath);
    }
    if (!m_pSite)
        return S_OK;
    if (!kept.empty())
        pSite->AddDropped(kept, strInputName);
    if (m_pSite)
        pSite->AfterDrop();
    *pdwEffect = DROPEFFECT_COPY;
    return S_OK;
}
