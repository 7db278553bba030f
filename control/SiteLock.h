// The sites a control may serve, and the machine's certificate rule.
//
// The control is marked safe for scripting, so any page can drive it. An administrator confines
// it with a list of allowed sites in the machine-wide policy key (HKLM\SOFTWARE\Policies\Pelora5,
// value AllowedSites, REG_MULTI_SZ), and a vendor's build can carry a fixed list of its own
// (CMake option PL5_ALLOWED_SITES). Each list in force must allow the page; without any list every
// page is allowed. Only the machine-wide key is read: neither a page nor an ordinary user can
// widen the lists.
//
// A site pattern is [scheme "://"] host [":" port] ["/"]:
//   uploads.example.com          that host, over http or https, any port
//   *.example.com                example.com and every host under it
//   https://uploads.example.com  that host over https only
//   *                            every host (over http or https)
// A page without an http or https address (a script host, a local file) matches no pattern.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// The machine's policy for the control, as read from the policy key.
struct CControlPolicy
{
    bool bSiteListSet = false;  // AllowedSites is present: the list is in force
    std::vector<std::wstring> allowedSites;
    bool bVerifyCertificates = false;  // VerifyCertificates = 1

    // Reads the machine-wide key (the 64-bit view from either architecture). A list value of an
    // unexpected type or size is in force with no site in it: a damaged policy locks, never opens.
    static CControlPolicy ReadMachinePolicy();
};

// True when the page address matches the site pattern.
bool SiteMatches(const std::wstring& strPattern, const std::wstring& strPageUrl);

class CSiteLock
{
public:
    // No list: every page is allowed.
    CSiteLock() = default;
    // The lists in force (the policy's, the built-in one): each must allow a page.
    explicit CSiteLock(std::vector<std::vector<std::wstring>> lists) : m_lists(std::move(lists)) {}

    // The machine policy's list, if set, and the list this build carries, if any.
    static CSiteLock ForPolicy(const CControlPolicy& policy);

    bool InForce() const { return !m_lists.empty(); }
    bool Allows(const std::wstring& strPageUrl) const;

private:
    std::vector<std::vector<std::wstring>> m_lists;
};
