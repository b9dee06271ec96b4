#include "HostProvider_p.h"

#include <atomic>

namespace Kor::NS {

namespace {
std::atomic<HostProvider*> s_provider{nullptr};
}

HostProvider* hostProvider()
{
    return s_provider.load(std::memory_order_acquire);
}

void setHostProvider(HostProvider* provider)
{
    s_provider.store(provider, std::memory_order_release);
}

} // namespace Kor::NS
