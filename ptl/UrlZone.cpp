#include "ptl/UrlZone.h"

#include "ptl/ComPtr.h"

namespace PTL
{
namespace
{
const DWORD NO_ZONE = static_cast<DWORD>(URLZONE_INVALID);
}  // namespace

DWORD UrlZone(const std::wstring& strUrl)
{
    // The security manager also serves threads that never joined an apartment (the upload's
    // worker): such a thread joins the free-threaded one for the call.
    const HRESULT hrInit = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    DWORD nZone = NO_ZONE;
    {
        CComPtr<IInternetSecurityManager> pManager;
        if (!strUrl.empty() && SUCCEEDED(CoInternetCreateSecurityManager(nullptr, &pManager, 0)) && pManager &&
            FAILED(pManager->MapUrlToZone(strUrl.c_str(), &nZone, 0)))
            nZone = NO_ZONE;
    }
    if (SUCCEEDED(hrInit))
        CoUninitialize();
    return nZone;
}

bool RaisesZone(const std::wstring& strTarget, const std::wstring& strPage)
{
    const DWORD nTarget = UrlZone(strTarget);
    DWORD nPage = UrlZone(strPage);
    if (nTarget == NO_ZONE)
        return true;
    if (nPage == NO_ZONE)
        nPage = URLZONE_INTERNET;
    return static_cast<LONG>(nTarget) < static_cast<LONG>(nPage);
}
}  // namespace PTL
