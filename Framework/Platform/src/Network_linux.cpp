#include "PlatformNetwork.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace Kor::Platform {

namespace {

bool addressText(const sockaddr* sa, InterfaceAddress& entry)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (sa->sa_family == AF_INET) {
        entry.family = 4;
        const auto* in = reinterpret_cast<const sockaddr_in*>(sa);
        if (!::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text))
            return false;
    } else if (sa->sa_family == AF_INET6) {
        entry.family = 6;
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(sa);
        if (!::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text))
            return false;
    } else {
        return false;
    }
    entry.address = text;
    return true;
}

} // namespace

std::vector<InterfaceAddress> interfaceAddresses()
{
    std::vector<InterfaceAddress> list;
    ifaddrs* head = nullptr;
    if (::getifaddrs(&head) != 0)
        return list;
    for (const ifaddrs* it = head; it; it = it->ifa_next) {
        if (!it->ifa_addr)
            continue; // interfaces without an address (e.g. some tunnels)
        InterfaceAddress entry;
        if (!addressText(it->ifa_addr, entry))
            continue;
        entry.interfaceName = it->ifa_name ? it->ifa_name : "";
        entry.up = (it->ifa_flags & IFF_UP) && (it->ifa_flags & IFF_RUNNING);
        entry.loopback = it->ifa_flags & IFF_LOOPBACK;
        list.push_back(std::move(entry));
    }
    ::freeifaddrs(head);
    return list;
}

} // namespace Kor::Platform
