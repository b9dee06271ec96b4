#include "Receiver.h"

#include <atomic>

namespace Kor {

struct Receiver::Private
{
    std::atomic<bool> closed{false};
};

Receiver::Receiver() : d(new Private) {}

Receiver::~Receiver() = default;

bool Receiver::Post(Message message, int)
{
    if (!message || IsClosed())
        return false;
    message();
    return true;
}

void Receiver::Close()
{
    d->closed = true;
    OnClose();
}

bool Receiver::IsClosed() const
{
    return d->closed;
}

void Receiver::OnClose() {}

} // namespace Kor
