// The page's "window" object, whose members script reaches without a name as in a browser:
// alert(text) and confirm(text). The page model of a later form of the host (document, elements,
// navigation) hangs from here.
#pragma once

#include "tools/host/DispatchObjects.h"

namespace Host {

class CPageWindow : public CDispatchObject {
public:
    // The caption of the boxes alert and confirm show.
    static constexpr const wchar_t* CAPTION = L"Message from webpage";

    void SetOwner(HWND hOwner) { m_hOwner = hOwner; }

protected:
    DISPID FindMember(const std::wstring& strName) override;
    HRESULT InvokeMember(DISPID nId, WORD wFlags, const std::vector<const VARIANT*>& args, CVariant& result,
                         EXCEPINFO* pExcepInfo) override;
    bool IsMethod(DISPID) const override { return true; }

private:
    HWND m_hOwner = nullptr;
};

}  // namespace Host
