#pragma once

// Network interface enumeration for the base library's address policy.

#include <string>
#include <vector>

// Exported from libVarnet, which holds the one copy of this layer.
#pragma GCC visibility push(default)

namespace Kor::Platform {

struct InterfaceAddress
{
    std::string interfaceName;
    int family = 0;      // 4 or 6
    std::string address; // numeric text, without a scope suffix
    bool up = false;
    bool loopback = false;
};

// Every IPv4 and IPv6 address of every interface, in the order the system
// lists them; empty when the list cannot be read.
std::vector<InterfaceAddress> interfaceAddresses();

} // namespace Kor::Platform

#pragma GCC visibility pop
