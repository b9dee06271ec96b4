#pragma once

#include "KorString.h"
#include "MessageQueue.h"
#include "Object.h"
#include "RefObject.h"
#include "RelationParam.h"
#include "SyncObject.h"
#include "Thread.h"
#include "VarnetExport.h"

#include <cstddef>
#include <functional>
#include <memory>

namespace Kor {

class Receiver;

// One-shot and periodic timers on a thread of their own.
//
// A timer belongs to a target Receiver. When it is due, its callback is
// posted to the target: a Processor queues it, so the callback runs on that
// processor's thread; a plain Receiver runs it at once on the timer thread.
// A timer without a target runs its callback on the timer thread. Callbacks
// on the timer thread should be short: they delay the other timers.
//
// Once StopTimer() has returned, a delivery of that timer still waiting in a
// processor's queue is skipped; a callback already running on the timer
// thread is not waited for. A periodic timer never has more than one delivery
// waiting in its target's queue: periods that fall due meanwhile are skipped,
// and so are periods the timer thread itself misses. A timer whose target
// refuses the delivery (a closed processor) ends.
//
// A target must outlive its timers or stop them first (StopTimers()).
// Closing the service (Exit(), Close()) or deleting it stops all its timers;
// the destructor waits for a callback running on the timer thread.
class VARNET_EXPORT TimerService : public Thread, public SyncObject, public RefObject, public ObjectData
{
public:
    using Callback = std::function<void()>;

    // deliveryPriority: the level at which callbacks are posted to target
    // processors; negative means the target's default level.
    TimerService(const RelationParam& relation, const String& name, int deliveryPriority);
    ~TimerService() override;

    bool Exit(unsigned firstWait, unsigned secondWait, bool* terminated) override;
    // Stops all timers and ends the timer thread; any thread may call it.
    void Close() override;
    // A timer service is its own.
    TimerService* GetTimer() const override;

    // Starts a timer that first falls due after intervalMs milliseconds and,
    // when periodic, every intervalMs after that. Returns its id (never 0),
    // or 0 when the callback is empty, a periodic interval is 0 or the
    // service is closed. Timers may be started before Begin(); they count
    // from the call.
    unsigned StartTimer(Receiver* target, Callback callback, unsigned intervalMs, bool periodic);
    unsigned StartTimer(Callback callback, unsigned intervalMs, bool periodic);
    // False when there is no such timer, among them one-shot timers that
    // have already fallen due.
    bool StopTimer(unsigned id);
    // Stops every timer of target; returns how many. Once it has returned,
    // the timer thread no longer touches target (called elsewhere than on
    // the timer thread, it waits for a delivery to target under way).
    std::size_t StopTimers(Receiver* target);
    std::size_t ActiveTimers() const;
    int DeliveryPriority() const;

protected:
    void Run() override;
    bool WaitForEnd(unsigned ms) override;
    void Abandon() override;
    bool OnOwnThread() const override;

private:
    struct Private;
    std::shared_ptr<Private> d; // shared with the timer thread, which may outlive the object
};

} // namespace Kor
