#include "tools/host/PageWindow.h"

namespace Host {
namespace {
constexpr DISPID DISPID_ALERT = 1;
constexpr DISPID DISPID_CONFIRM = 2;
}  // namespace

DISPID CPageWindow::FindMember(const std::wstring& strName)
{
    // Script names are case-sensitive in a browser's window object.
    if (strName == L"alert")
        return DISPID_ALERT;
    if (strName == L"confirm")
        return DISPID_CONFIRM;
    return DISPID_UNKNOWN;
}

HRESULT CPageWindow::InvokeMember(DISPID nId, WORD, const std::vector<const VARIANT*>& args, CVariant& result,
                                  EXCEPINFO*)
{
    std::wstring strText;
    if (!args.empty() && V_VT(args[0]) != VT_EMPTY && !VariantToText(*args[0], strText))
        strText = L"[object]";
    switch (nId) {
    case DISPID_ALERT:
        MessageBoxW(m_hOwner, strText.c_str(), CAPTION, MB_OK | MB_ICONWARNING);
        return S_OK;
    case DISPID_CONFIRM:
        result = CVariant::FromBool(MessageBoxW(m_hOwner, strText.c_str(), CAPTION, MB_OKCANCEL | MB_ICONQUESTION) == IDOK);
        return S_OK;
    }
    return DISP_E_MEMBERNOTFOUND;
}

}  // namespace Host
