#include "MessageQueue.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

namespace Kor {

struct MessageQueue::Private
{
    mutable std::mutex lock;
    std::condition_variable arrived;
    std::vector<std::deque<Message>> levels;
    std::size_t count = 0;
    bool closed = false;

    // Caller holds the lock and has checked count.
    Message takeLocked()
    {
        for (auto level = levels.rbegin(); level != levels.rend(); ++level) {
            if (level->empty())
                continue;
            Message message = std::move(level->front());
            level->pop_front();
            --count;
            return message;
        }
        return Message();
    }
};

MessageQueue::MessageQueue(int maxPriority) : d(new Private)
{
    d->levels.resize(std::size_t(std::clamp(maxPriority, 0, 255)) + 1);
}

MessageQueue::~MessageQueue() = default;

bool MessageQueue::Push(Message message, int priority)
{
    if (!message)
        return false;
    {
        std::lock_guard guard(d->lock);
        if (d->closed)
            return false;
        const int level = std::clamp(priority, 0, int(d->levels.size()) - 1);
        d->levels[std::size_t(level)].push_back(std::move(message));
        ++d->count;
    }
    d->arrived.notify_one();
    return true;
}

bool MessageQueue::Pop(Message& message)
{
    std::unique_lock guard(d->lock);
    d->arrived.wait(guard, [this] { return d->closed || d->count > 0; });
    if (d->closed)
        return false;
    message = d->takeLocked();
    return true;
}

bool MessageQueue::TryPop(Message& message)
{
    std::lock_guard guard(d->lock);
    if (d->closed || d->count == 0)
        return false;
    message = d->takeLocked();
    return true;
}

void MessageQueue::Close()
{
    {
        std::lock_guard guard(d->lock);
        d->closed = true;
    }
    d->arrived.notify_all();
}

std::size_t MessageQueue::Clear()
{
    std::vector<std::deque<Message>> dropped;
    {
        std::lock_guard guard(d->lock);
        dropped.resize(d->levels.size());
        dropped.swap(d->levels);
        d->count = 0;
    }
    // Destroyed outside the lock: a captured object's destructor may post.
    std::size_t n = 0;
    for (const auto& level : dropped)
        n += level.size();
    return n;
}

std::size_t MessageQueue::size() const
{
    std::lock_guard guard(d->lock);
    return d->count;
}

bool MessageQueue::isClosed() const
{
    std::lock_guard guard(d->lock);
    return d->closed;
}

int MessageQueue::maxPriority() const
{
    return int(d->levels.size()) - 1; // fixed at construction
}

} // namespace Kor
