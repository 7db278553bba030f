// The site lock and the certificate rule as an administrator sets them: patterns against page
// addresses, the lists in force and the policy as read from the registry. What the control
// refuses on a page that is not allowed is shown by pages in the host and by cscript.
#include <gtest/gtest.h>

#include <windows.h>

#include "tests/common/PolicyKey.h"
#include "control/SiteLock.h"

TEST(SiteLock, PatternsAgainstPageAddresses)
{
    const struct
    {
        const wchar_t* szPattern;
        const wchar_t* szUrl;
        bool bMatch;
    } cases[] = {
        {L"uploads.example.com", L"http://uploads.example.com/page.html", true},
        {L"uploads.example.com", L"https://UPLOADS.Example.COM./a?b#c", true},
        {L"uploads.example.com", L"http://uploads.example.com:8080/", true},
        {L"uploads.example.com", L"http://www.example.com/", false},
        {L"uploads.example.com", L"http://uploads.example.com.evil.net/", false},
        {L"uploads.example.com", L"http://evil.net/uploads.example.com", false},
        {L"uploads.example.com", L"http://evil.net?uploads.example.com", false},
        // A user name before the host, and a backslash that a browser reads as a slash.
        {L"uploads.example.com", L"http://uploads.example.com@evil.net/", false},
        {L"uploads.example.com", L"http://evil.net\\@uploads.example.com/", false},
        {L"uploads.example.com", L"file:///C:/uploads.example.com/page.html", false},
        {L"uploads.example.com", L"ftp://uploads.example.com/", false},
        {L"uploads.example.com", L"", false},
        {L"uploads.example.com", L"about:blank", false},
        {L"*.example.com", L"http://example.com/", true},
        {L"*.example.com", L"http://a.b.example.com/", true},
        {L"*.example.com", L"http://badexample.com/", false},
        {L"*.example.com", L"http://example.com.evil.net/", false},
        {L"https://uploads.example.com", L"https://uploads.example.com/", true},
        {L"https://uploads.example.com/", L"http://uploads.example.com/", false},
        {L"HTTP://uploads.example.com", L"http://uploads.example.com/", true},
        {L"uploads.example.com:8443", L"https://uploads.example.com:8443/", true},
        {L"uploads.example.com:8443", L"https://uploads.example.com/", false},
        {L"http://uploads.example.com:80", L"http://uploads.example.com/", true},
        {L"  uploads.example.com\t", L"http://uploads.example.com/", true},
        {L"127.0.0.1", L"http://127.0.0.1:4711/x", true},
        {L"[::1]", L"http://[::1]:8080/", true},
        {L"*", L"https://anything.example/", true},
        {L"*", L"file:///C:/page.html", false},
        // Patterns that cannot be read allow nothing.
        {L"uploads.example.com/path", L"http://uploads.example.com/path", false},
        {L"ftp://uploads.example.com", L"ftp://uploads.example.com/", false},
        {L"**.example.com", L"http://a.example.com/", false},
        {L"*example.com", L"http://example.com/", false},
        {L"uploads.example.com:0", L"http://uploads.example.com/", false},
        {L"uploads.example.com:99999", L"http://uploads.example.com/", false},
        {L"", L"http://uploads.example.com/", false},
        {L"upl\xF6"
         L"ads.example.com",
         L"http://upl\xF6"
         L"ads.example.com/",
         false},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].bMatch, SiteMatches(cases[i].szPattern, cases[i].szUrl)) << "case " << i;
}

TEST(SiteLock, EveryListInForceMustAllowThePage)
{
    const std::wstring strA = L"http://a.example.com/", strB = L"http://b.example.com/";
    EXPECT_TRUE(CSiteLock().Allows(L""));
    EXPECT_FALSE(CSiteLock().InForce());
    using CLists = std::vector<std::vector<std::wstring>>;
    const CSiteLock empty(CLists{{}});
    EXPECT_TRUE(empty.InForce());
    EXPECT_FALSE(empty.Allows(strA));
    const CSiteLock one(CLists{{L"b.example.com", L"a.example.com"}});
    EXPECT_TRUE(one.Allows(strA));
    EXPECT_TRUE(one.Allows(strB));
    EXPECT_FALSE(one.Allows(L""));
    // A policy cannot widen a vendor's list, nor the list a policy.
    const CSiteLock both(CLists{{L"*.example.com"}, {L"a.example.com"}});
    EXPECT_TRUE(both.Allows(strA));
    EXPECT_FALSE(both.Allows(strB));
}

TEST(SiteLock, PolicyReadFromTheMachineKeyOnly)
{
    {
        CPolicyKey user(HKEY_CURRENT_USER);
        user.SetSites({L"a.example.com"});
        user.SetVerifyCertificates(1);
        const CControlPolicy policy = CControlPolicy::ReadMachinePolicy();
        EXPECT_FALSE(policy.bSiteListSet);
        EXPECT_FALSE(policy.bVerifyCertificates);
    }
    const std::wstring strOne = L"a.example.com";
    const DWORD nNumber = 1;
    const struct
    {
        DWORD nType;
        const void* pData;
        DWORD nBytes;
        std::vector<std::wstring> expected;
    } cases[] = {
        {REG_MULTI_SZ,
         L"a.example.com\0\0*.b.example.com\0\0",
         34 * sizeof(wchar_t),
         {L"a.example.com", L"*.b.example.com"}},
        {REG_MULTI_SZ, L"\0", sizeof(wchar_t), {}},
        // Without its terminators, and as a plain string: still read.
        {REG_MULTI_SZ, strOne.data(), static_cast<DWORD>(strOne.size() * sizeof(wchar_t)), {L"a.example.com"}},
        {REG_SZ, L"a.example.com", 14 * sizeof(wchar_t), {L"a.example.com"}},
        // A value of another type locks everything rather than nothing.
        {REG_DWORD, &nNumber, sizeof(nNumber), {}},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        CPolicyKey machine;
        machine.SetRaw(L"AllowedSites", cases[i].nType, cases[i].pData, cases[i].nBytes);
        const CControlPolicy policy = CControlPolicy::ReadMachinePolicy();
        EXPECT_TRUE(policy.bSiteListSet) << "case " << i;
        EXPECT_EQ(cases[i].expected, policy.allowedSites) << "case " << i;
        EXPECT_FALSE(policy.bVerifyCertificates) << "case " << i;
    }
    for (DWORD nVerify : {0u, 1u})
    {
        CPolicyKey machine;
        machine.SetVerifyCertificates(nVerify);
        const CControlPolicy policy = CControlPolicy::ReadMachinePolicy();
        EXPECT_FALSE(policy.bSiteListSet);
        EXPECT_EQ(nVerify == 1, policy.bVerifyCertificates);
    }
}
