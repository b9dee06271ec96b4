#pragma once

#include "VarnetExport.h"

#include <cstddef>
#include <functional>
#include <memory>

namespace Kor {

// A message of the thread model is a callable: the receiving thread calls it.
// Whatever it captures is destroyed on the receiving thread too, or when a
// closed queue drops it.
using Message = std::function<void()>;

// Thread-safe queue of messages with priority levels 0 (lowest) to
// maxPriority(). The highest waiting level is served first; within a level
// messages come out in the order they went in, so with one level it is a
// plain FIFO. Any thread may push; one consumer pops.
class VARNET_EXPORT MessageQueue
{
public:
    // maxPriority is limited to 0..255.
    explicit MessageQueue(int maxPriority = 0);
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;
    ~MessageQueue();

    // Appends message at priority (clamped to 0..maxPriority()). False for
    // an empty message or a closed queue; the message is then dropped.
    bool Push(Message message, int priority = 0);
    // Waits for the next message. False once the queue is closed, even if
    // messages are still waiting.
    bool Pop(Message& message);
    // The next message without waiting; false when there is none or the
    // queue is closed.
    bool TryPop(Message& message);
    // Refuses further messages and wakes a waiting Pop().
    void Close();
    // Drops the waiting messages; returns how many.
    std::size_t Clear();

    std::size_t size() const;
    bool isClosed() const;
    int maxPriority() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace Kor
