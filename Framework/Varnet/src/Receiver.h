#pragma once

#include "MessageQueue.h"
#include "VarnetExport.h"

#include <memory>

namespace Kor {

// Something messages can be posted to. A plain Receiver has no thread of its
// own and runs a posted message at once on the poster's thread; a Processor
// queues it for its thread.
class VARNET_EXPORT Receiver
{
public:
    // Post() priority meaning "the receiver's default".
    enum { DefaultPriority = -1 };

    Receiver();
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;
    virtual ~Receiver();

    bool Post(Message message) { return Post(std::move(message), DefaultPriority); }
    // False when the message was not taken: it is empty or the receiver is
    // closed. The plain receiver ignores priority; exceptions of the message
    // reach the poster.
    virtual bool Post(Message message, int priority);
    // Stops receiving: later posts are refused. A message already running
    // finishes.
    virtual void Close();
    bool IsClosed() const;

protected:
    // Called by Receiver::Close() after the receiver was marked closed.
    virtual void OnClose();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace Kor
