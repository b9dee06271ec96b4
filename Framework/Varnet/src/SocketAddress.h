#pragma once

#include "KorString.h"
#include "VarnetExport.h"

namespace Kor {

// The process-wide IP protocol policy and the local address it prefers.
class VARNET_EXPORT SocketAddress
{
public:
    enum AllowedTypes { Allow_Both = 0, Allow_IPv4 = 1, Allow_IPv6 = 2 };

    // 0 both families, 1 IPv4 only, 2 IPv6 only. Any other value is taken
    // as 0.
    static int s_AllowedTypes;

    // One address of one interface, as the system lists it.
    struct InterfaceAddress
    {
        String interfaceName;
        int family = 0; // 4 or 6
        String address; // numeric text
        bool up = false;
        bool loopback = false;
    };

    // The machine's preferred address under s_AllowedTypes (see
    // choosePreferredAddress); empty when there is none.
    static String getPrefferedLocalAddress();

    // The choice itself. Interfaces that are down or loopback, loopback and
    // unspecified addresses and families the policy excludes are skipped.
    // Ranking: IPv4 (169.254.0.0/16 after the others), then IPv6 global, then
    // IPv6 link-local (fe80::/10); within a rank the first in list order.
    // The address text is returned as listed (no scope suffix).
    static String choosePreferredAddress(const TVector<InterfaceAddress>& addresses, int allowedTypes);
};

} // namespace Kor
