// The address spaces a request may cross, as browsers rule private network access: a page may
// not reach an address space more private than its own, so a page from the Internet cannot post
// to the user's router or to a server on the user's own machine.
#pragma once
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <string>

namespace PTL
{
// From the most public to the most private; a higher value is more private.
enum class EAddressSpace
{
    Public = 0,
    Private = 1,   // RFC 1918, RFC 4193 unique local, link-local
    Loopback = 2,  // loopback and unspecified addresses
};

// The space of one IPv4 or IPv6 address (IPv4-mapped IPv6 addresses as their IPv4 address).
EAddressSpace SpaceOfAddress(const sockaddr* pAddress);

// Resolves a host name or address literal (IPv6 with or without its brackets) as the platform
// would to connect, and gives the most private space among its addresses. False when it does not
// resolve.
bool ResolveAddressSpace(const std::wstring& strHost, EAddressSpace& nSpace);

// The private-network rule, for a page its zone limits (the caller tells: PTL::IsLimitedZone): an
// http(s) target whose host resolves to a space more private than the page's own, or does not
// resolve, is refused. A page whose host does not resolve (a local file among them) is public;
// a page on loopback is not limited. Writes one debug line when it refuses.
bool PrivateNetworkAllows(const std::wstring& strTarget, const std::wstring& strPage);
}  // namespace PTL
