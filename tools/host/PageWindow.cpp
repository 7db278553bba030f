#include "tools/host/PageWindow.h"
#include "ptl/Text.h"

namespace Host
{
namespace
{
constexpr DISPID DISPID_ALERT = 1;
constexpr DISPID DISPID_CONFIRM = 2;
constexpr DISPID DISPID_SCROLLTO = 3;
constexpr DISPID DISPID_DOCUMENT = 4;
}  // namespace

bool CPageWindow::IsMethod(DISPID nId) const { return nId != DISPID_DOCUMENT; }

DISPID CPageWindow::FindMember(const std::wstring& strName)
{
    // Script names are case-sensitive in a browser's window object.
    if (strName == L"alert")
        return DISPID_ALERT;
    if (strName == L"confirm")
        return DISPID_CONFIRM;
    if (strName == L"scrollTo")
        return DISPID_SCROLLTO;
    if (strName == L"document")
        return DISPID_DOCUMENT;
    return DISPID_UNKNOWN;
}

HRESULT CPageWindow::InvokeMember(DISPID nId, WORD, const std::vector<const VARIANT*>& args, PTL::CComVariant& result,
                                  EXCEPINFO* pExcepInfo)
{
    if (nId == DISPID_DOCUMENT)
    {
        result = PTL::CComVariant::FromDispatch(m_pDocument.Get());
        return S_OK;
    }
    if (nId == DISPID_SCROLLTO)
    {
        LONG nX = 0, nY = 0;
        if (args.size() < 2 || !PTL::VariantToInt(*args[0], nX) || !PTL::VariantToInt(*args[1], nY))
            return Fail(pExcepInfo, L"scrollTo takes x and y");
        if (m_scroll)
            m_scroll(POINT{nX, nY});
        return S_OK;
    }
    std::wstring strText;
    if (!args.empty() && V_VT(args[0]) != VT_EMPTY && !PTL::VariantToText(*args[0], strText))
        strText = L"[object]";
    switch (nId)
    {
    case DISPID_ALERT: MessageBoxW(m_hOwner, strText.c_str(), CAPTION, MB_OK | MB_ICONWARNING); return S_OK;
    case DISPID_CONFIRM:
        result = PTL::CComVariant::FromBool(
            MessageBoxW(m_hOwner, strText.c_str(), CAPTION, MB_OKCANCEL | MB_ICONQUESTION) == IDOK);
        return S_OK;
    }
    return DISP_E_MEMBERNOTFOUND;
}

}  // namespace Host
