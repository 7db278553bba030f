// A time-out configured for the platform's internet functions, as an administrator sets it, for
// the life of the object.
#pragma once
#include <windows.h>

// The receive time-out configured for the platform's internet functions while it lives; none
// (0) leaves the value out.
class CConfiguredReceiveTimeout
{
public:
    explicit CConfiguredReceiveTimeout(DWORD nMs)
    {
        if (nMs)
            RegSetKeyValueW(HKEY_CURRENT_USER, KEY, L"ReceiveTimeout", REG_DWORD, &nMs, sizeof(nMs));
    }
    ~CConfiguredReceiveTimeout() { RegDeleteKeyValueW(HKEY_CURRENT_USER, KEY, L"ReceiveTimeout"); }
    CConfiguredReceiveTimeout(const CConfiguredReceiveTimeout&) = delete;
    CConfiguredReceiveTimeout& operator=(const CConfiguredReceiveTimeout&) = delete;

private:
    static constexpr const wchar_t* KEY = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
};
