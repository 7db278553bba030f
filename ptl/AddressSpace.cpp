#include "ptl/AddressSpace.h"

#include "ptl/InternetUrl.h"

namespace PTL
{
namespace
{
EAddressSpace SpaceOfIPv4(const BYTE* b)
{
    if (b[0] == 127 || b[0] == 0)  // loopback, and "this network", which reaches this machine
        return EAddressSpace::Loopback;
    if (b[0] == 10 || (b[0] == 172 && (b[1] & 0xF0) == 16) || (b[0] == 192 && b[1] == 168) ||
        (b[0] == 169 && b[1] == 254))
        return EAddressSpace::Private;
    return EAddressSpace::Public;
}

// The host of an http(s) address, without the brackets of an IPv6 literal; empty when none.
std::wstring HostOf(const std::wstring& strUrl)
{
    CUrlComponents parts;
    if (!IsHttpUrl(strUrl) || !CrackUrl(strUrl.c_str(), parts))
        return std::wstring();
    std::wstring strHost = parts.szHostName;
    if (strHost.size() >= 2 && strHost.front() == L'[' && strHost.back() == L']')
        strHost = strHost.substr(1, strHost.size() - 2);
    return strHost;
}
}  // namespace

EAddressSpace SpaceOfAddress(const sockaddr* pAddress)
{
    if (pAddress->sa_family == AF_INET)
        return SpaceOfIPv4(reinterpret_cast<const BYTE*>(&reinterpret_cast<const sockaddr_in*>(pAddress)->sin_addr));
    if (pAddress->sa_family != AF_INET6)
        return EAddressSpace::Public;
    const BYTE* b = reinterpret_cast<const sockaddr_in6*>(pAddress)->sin6_addr.s6_addr;
    bool bZeroPrefix = true;  // the first 80 bits
    for (int i = 0; i < 10; ++i)
        bZeroPrefix = bZeroPrefix && b[i] == 0;
    if (bZeroPrefix && b[10] == 0xFF && b[11] == 0xFF)
        return SpaceOfIPv4(b + 12);
    if (bZeroPrefix && b[10] == 0 && b[11] == 0 && b[12] == 0 && b[13] == 0 && b[14] == 0 && b[15] <= 1)
        return EAddressSpace::Loopback;  // ::1 and ::
    if ((b[0] & 0xFE) == 0xFC || (b[0] == 0xFE && (b[1] & 0xC0) == 0x80))
        return EAddressSpace::Private;  // fc00::/7 and fe80::/10
    return EAddressSpace::Public;
}

bool ResolveAddressSpace(const std::wstring& strHost, EAddressSpace& nSpace)
{
    if (strHost.empty())
        return false;
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return false;
    ADDRINFOW hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOW* pResult = nullptr;
    const bool bResolved = GetAddrInfoW(strHost.c_str(), nullptr, &hints, &pResult) == 0 && pResult;
    nSpace = EAddressSpace::Public;
    for (const ADDRINFOW* p = pResult; p; p = p->ai_next)
        if (p->ai_addr)
        {
            const EAddressSpace nOne = SpaceOfAddress(p->ai_addr);
            if (nOne > nSpace)
                nSpace = nOne;
        }
    if (pResult)
        FreeAddrInfoW(pResult);
    WSACleanup();
    return bResolved;
}

bool PrivateNetworkAllows(const std::wstring& strTarget, const std::wstring& strPage)
{
    EAddressSpace nPage = EAddressSpace::Public;
    if (!ResolveAddressSpace(HostOf(strPage), nPage))
        nPage = EAddressSpace::Public;
    if (nPage == EAddressSpace::Loopback)
        return true;
    EAddressSpace nTarget = EAddressSpace::Public;
    if (!ResolveAddressSpace(HostOf(strTarget), nTarget))
    {
        OutputDebugStringW(L"Pelora5: refused, the address's host does not resolve, so its network cannot be told\n");
        return false;
    }
    if (nTarget > nPage)
    {
        OutputDebugStringW(L"Pelora5: refused, the page named an address in a more private network than its own\n");
        return false;
    }
    return true;
}
}  // namespace PTL
