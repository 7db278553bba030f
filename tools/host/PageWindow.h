// The page's "window" object, whose members script reaches without a name as in a browser:
// alert(text), confirm(text), scrollTo(x, y) and document.
#pragma once

#include "tools/host/DispatchObjects.h"

#include <functional>

namespace Host
{

class CPageWindow : public CDispatchObject
{
public:
    // The caption of the boxes alert and confirm show.
    static constexpr const wchar_t* CAPTION = L"Message from webpage";

    void SetOwner(HWND hOwner) { m_hOwner = hOwner; }
    void SetDocument(IDispatch* pDocument) { m_pDocument = pDocument; }
    void SetScroll(std::function<void(POINT)> scroll) { m_scroll = std::move(scroll); }
    // Drops the document and the page window when the page ends.
    void Detach()
    {
        m_pDocument.Release();
        m_scroll = nullptr;
        m_hOwner = nullptr;
    }

protected:
    DISPID FindMember(const std::wstring& strName) override;
    HRESULT InvokeMember(DISPID nId, WORD wFlags, const std::vector<const VARIANT*>& args, PTL::CComVariant& result,
                         EXCEPINFO* pExcepInfo) override;
    bool IsMethod(DISPID nId) const override;

private:
    HWND m_hOwner = nullptr;
    PTL::CComPtr<IDispatch> m_pDocument;
    std::function<void(POINT)> m_scroll;
};

}  // namespace Host
