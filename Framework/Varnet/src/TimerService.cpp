#include "TimerService.h"

#include "LogModule.h"
#include "Receiver.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <exception>
#include <map>
#include <mutex>

namespace Kor {

namespace {

using Clock = std::chrono::steady_clock;

struct Token
{
    std::atomic<bool> active{true};
    std::atomic<bool> pending{false}; // a delivery waits in the target's queue
};

struct Timer
{
    Receiver* target = nullptr;
    TimerService::Callback callback;
    Clock::time_point due;
    std::chrono::milliseconds interval{0};
    bool periodic = false;
    std::shared_ptr<Token> token;
};

} // namespace

struct TimerService::Private
{
    String name;
    int priority = 0;
    mutable std::mutex lock;
    std::condition_variable changed;
    std::map<unsigned, Timer> timers;
    unsigned lastId = 0;
    bool closed = false;
    bool ownerGone = false;
    // The target the timer thread is handing a callback to, outside the
    // lock; StopTimers() waits until it is done with it.
    Receiver* delivering = nullptr;
    std::condition_variable delivered;

    void loop();
    std::map<unsigned, Timer>::iterator earliestLocked();
    void deliver(unsigned id, const Timer& timer);
    void guarded(const Callback& callback);
    void logError(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void stopAll();
    unsigned nextIdLocked();
};

unsigned TimerService::Private::nextIdLocked()
{
    do {
        ++lastId;
    } while (lastId == 0 || timers.count(lastId));
    return lastId;
}

void TimerService::Private::stopAll()
{
    {
        std::lock_guard guard(lock);
        closed = true;
        for (auto& [id, timer] : timers)
            timer.token->active = false;
        timers.clear();
    }
    changed.notify_all();
}

std::map<unsigned, Timer>::iterator TimerService::Private::earliestLocked()
{
    auto next = timers.end();
    for (auto it = timers.begin(); it != timers.end(); ++it)
        if (next == timers.end() || it->second.due < next->second.due)
            next = it;
    return next;
}

void TimerService::Private::loop()
{
    std::unique_lock guard(lock);
    while (!closed) {
        const auto next = earliestLocked();
        if (next == timers.end()) {
            changed.wait(guard);
            continue;
        }
        const Clock::time_point now = Clock::now();
        if (next->second.due > now) {
            const Clock::time_point due = next->second.due; // the timer may go while we wait
            changed.wait_until(guard, due);
            continue;
        }
        const unsigned id = next->first;
        const Timer fired = next->second;
        if (fired.periodic) {
            Clock::time_point& due = next->second.due;
            due += fired.interval;
            if (due <= now) // the timer thread was late: skip the missed periods
                due = now + fired.interval;
        } else {
            timers.erase(next);
        }
        delivering = fired.target;
        guard.unlock();
        deliver(id, fired);
        guard.lock();
        delivering = nullptr;
        delivered.notify_all();
    }
}

void TimerService::Private::deliver(unsigned id, const Timer& timer)
{
    const std::shared_ptr<Token> token = timer.token;
    if (!token->active)
        return;
    if (!timer.target) {
        guarded(timer.callback);
        return;
    }
    if (token->pending.exchange(true))
        return;
    const Callback callback = timer.callback;
    bool posted = false;
    guarded([&] {
        posted = timer.target->Post(
            [token, callback] {
                token->pending = false;
                if (token->active)
                    callback();
            },
            priority);
    });
    if (!posted) {
        token->pending = false;
        std::lock_guard guard(lock);
        auto it = timers.find(id);
        if (it != timers.end() && it->second.token == token) {
            token->active = false;
            timers.erase(it);
        }
    }
}

void TimerService::Private::guarded(const Callback& callback)
{
    // Not Thread::RunGuarded(): the object may already be gone.
    try {
        callback();
    } catch (const std::exception& e) {
        logError("exception in timer callback: %s", e.what());
    } catch (...) {
        logError("unknown exception in timer callback");
    }
}

void TimerService::Private::logError(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    LogModule::LogV(LOG_ERROR, __FILE__, __LINE__, ALWAYS, name.c_str(), format, args);
    va_end(args);
}

TimerService::TimerService(const RelationParam& relation, const String& name, int deliveryPriority)
    : Thread(name), SyncObject(relation), d(std::make_shared<Private>())
{
    d->name = name;
    d->priority = deliveryPriority < 0 ? int(Receiver::DefaultPriority) : deliveryPriority;
}

TimerService::~TimerService()
{
    DetachRelations();
    {
        std::lock_guard guard(d->lock);
        d->ownerGone = true;
    }
    d->stopAll();
    JoinThread();
}

void TimerService::Run()
{
    const std::shared_ptr<Private> state = d; // this object may be deleted by a callback
    Init();
    state->loop();
    std::lock_guard guard(state->lock);
    if (!state->ownerGone)
        Stopped();
}

bool TimerService::Exit(unsigned firstWait, unsigned secondWait, bool* terminated)
{
    return SyncObject::Exit(firstWait, secondWait, terminated);
}

void TimerService::Close()
{
    d->stopAll();
}

TimerService* TimerService::GetTimer() const
{
    return const_cast<TimerService*>(this);
}

unsigned TimerService::StartTimer(Receiver* target, Callback callback, unsigned intervalMs, bool periodic)
{
    if (!callback || (periodic && intervalMs == 0))
        return 0;
    Timer timer;
    timer.target = target;
    timer.callback = std::move(callback);
    timer.interval = std::chrono::milliseconds(intervalMs);
    timer.due = Clock::now() + timer.interval;
    timer.periodic = periodic;
    timer.token = std::make_shared<Token>();
    unsigned id = 0;
    {
        std::lock_guard guard(d->lock);
        if (d->closed)
            return 0;
        id = d->nextIdLocked();
        d->timers.emplace(id, std::move(timer));
    }
    d->changed.notify_all();
    return id;
}

unsigned TimerService::StartTimer(Callback callback, unsigned intervalMs, bool periodic)
{
    return StartTimer(nullptr, std::move(callback), intervalMs, periodic);
}

bool TimerService::StopTimer(unsigned id)
{
    std::lock_guard guard(d->lock);
    auto it = d->timers.find(id);
    if (it == d->timers.end())
        return false;
    it->second.token->active = false;
    d->timers.erase(it);
    return true; // the loop finds out at its next wake-up
}

std::size_t TimerService::StopTimers(Receiver* target)
{
    std::unique_lock guard(d->lock);
    std::size_t n = 0;
    for (auto it = d->timers.begin(); it != d->timers.end();) {
        if (it->second.target == target) {
            it->second.token->active = false;
            it = d->timers.erase(it);
            ++n;
        } else {
            ++it;
        }
    }
    // A delivery under way still uses the target; its owner may be about to
    // destroy it. On the timer thread itself nothing is under way but us.
    if (target && !IsCurrent())
        d->delivered.wait(guard, [&] { return d->delivering != target; });
    return n;
}

std::size_t TimerService::ActiveTimers() const
{
    std::lock_guard guard(d->lock);
    return d->timers.size();
}

int TimerService::DeliveryPriority() const
{
    return d->priority;
}

bool TimerService::WaitForEnd(unsigned ms)
{
    return WaitEnded(ms);
}

void TimerService::Abandon()
{
    release();
}

bool TimerService::OnOwnThread() const
{
    return IsCurrent();
}

} // namespace Kor
