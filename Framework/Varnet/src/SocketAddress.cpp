#include "SocketAddress.h"

#include "PlatformNetwork.h"

#include <cctype>
#include <cstdlib>
#include <string>

namespace Kor {

int SocketAddress::s_AllowedTypes = SocketAddress::Allow_Both;

namespace {

// Lower rank wins; Unusable never does.
enum Rank { RankIPv4 = 0, RankIPv4LinkLocal, RankIPv6Global, RankIPv6LinkLocal, Unusable };

// Leading number of text in the given base, up to the first character that
// is not a digit of it; -1 when there is none or it is too long.
long leadingNumber(const std::string& text, int base, std::size_t maxDigits)
{
    std::size_t n = 0;
    while (n < text.size() && std::isxdigit(static_cast<unsigned char>(text[n]))
           && (base == 16 || std::isdigit(static_cast<unsigned char>(text[n]))))
        ++n;
    if (n == 0 || n > maxDigits)
        return -1;
    return std::strtol(text.substr(0, n).c_str(), nullptr, base);
}

Rank rankIPv4(const std::string& a)
{
    const long first = leadingNumber(a, 10, 3);
    if (first < 0 || first > 255 || first == 127 || a == "0.0.0.0")
        return Unusable;
    return a.rfind("169.254.", 0) == 0 ? RankIPv4LinkLocal : RankIPv4;
}

Rank rankIPv6(const std::string& a)
{
    if (a.empty() || a == "::" || a == "::1" || a.find(':') == std::string::npos)
        return Unusable;
    if (a[0] == ':')
        return RankIPv6Global; // first group is zero, e.g. an IPv4-compatible form
    const long group = leadingNumber(a, 16, 4);
    if (group < 0)
        return Unusable;
    return (group & 0xffc0) == 0xfe80 ? RankIPv6LinkLocal : RankIPv6Global;
}

Rank rank(const SocketAddress::InterfaceAddress& entry, int allowed)
{
    if (!entry.up || entry.loopback)
        return Unusable;
    const bool v4 = allowed != SocketAddress::Allow_IPv6;
    const bool v6 = allowed != SocketAddress::Allow_IPv4;
    if (entry.family == 4 && v4)
        return rankIPv4(entry.address.str());
    if (entry.family == 6 && v6)
        return rankIPv6(entry.address.str());
    return Unusable;
}

} // namespace

String SocketAddress::choosePreferredAddress(const TVector<InterfaceAddress>& addresses, int allowedTypes)
{
    if (allowedTypes != Allow_IPv4 && allowedTypes != Allow_IPv6)
        allowedTypes = Allow_Both;
    const InterfaceAddress* best = nullptr;
    Rank bestRank = Unusable;
    for (const InterfaceAddress& entry : addresses) {
        const Rank r = rank(entry, allowedTypes);
        if (r < bestRank) {
            bestRank = r;
            best = &entry;
        }
    }
    return best ? best->address : String();
}

String SocketAddress::getPrefferedLocalAddress()
{
    TVector<InterfaceAddress> list;
    for (const Platform::InterfaceAddress& p : Platform::interfaceAddresses())
        list.push_back({String(p.interfaceName), p.family, String(p.address), p.up, p.loopback});
    return choosePreferredAddress(list, s_AllowedTypes);
}

} // namespace Kor
