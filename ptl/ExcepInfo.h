// CExcepInfo: an EXCEPINFO this code receives from an Invoke, a parse or a script error, or fills
// in to pass on, whose texts it frees when it goes. It is an EXCEPINFO: &info goes where one is asked for.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <string>

namespace PTL
{
class CExcepInfo : public EXCEPINFO
{
public:
    CExcepInfo() : EXCEPINFO() {}
    ~CExcepInfo() { Clear(); }
    CExcepInfo(const CExcepInfo&) = delete;
    CExcepInfo& operator=(const CExcepInfo&) = delete;

    // Frees the texts and empties every field.
    void Clear()
    {
        SysFreeString(bstrSource);
        SysFreeString(bstrDescription);
        SysFreeString(bstrHelpFile);
        static_cast<EXCEPINFO&>(*this) = EXCEPINFO();
    }
    // Where the object left the texts for later (pfnDeferredFillIn), they are filled in now.
    void FillIn()
    {
        if (pfnDeferredFillIn)
            pfnDeferredFillIn(this);
        pfnDeferredFillIn = nullptr;
    }
    // The error's code: scode, or hr when the object gave none.
    HRESULT Code(HRESULT hr) const { return scode ? scode : hr; }
    std::wstring Description() const { return bstrDescription ? bstrDescription : L""; }
    // The description, or strElse when the object gave none.
    std::wstring DescriptionOr(const std::wstring& strElse) const
    {
        return bstrDescription ? bstrDescription : strElse;
    }
    std::wstring Source() const { return bstrSource ? bstrSource : L""; }
};

// Fills in a caller's EXCEPINFO (where it gave one) with an error of ours; the caller frees the texts.
inline void FillExcepInfo(EXCEPINFO* pExcepInfo, HRESULT scode, const wchar_t* szSource,
                          const std::wstring& strDescription)
{
    if (!pExcepInfo)
        return;
    *pExcepInfo = EXCEPINFO();
    pExcepInfo->scode = scode;
    pExcepInfo->bstrSource = SysAllocString(szSource);
    pExcepInfo->bstrDescription = SysAllocStringLen(strDescription.data(), static_cast<UINT>(strDescription.size()));
}
}  // namespace PTL
