#pragma once

#include "KorString.h"
#include "LogTypes.h"
#include "MessageQueue.h"
#include "VarnetExport.h"

#include <memory>

namespace Kor {

class RefObject;
class TimerService;

// A named thread of the thread model. Begin() starts it; the new thread takes
// the name as its operating-system name (as far as the system allows) and
// runs Run().
//
// Lifetime: a thread that is also a RefObject (every Processor) holds a
// reference to itself from Begin() until Run() has returned, so its holder
// may drop its own reference at any time; the object then goes when the
// thread ends. Other threads must not be destroyed while they run. The
// destructor waits for a thread that has been neither joined nor released;
// run on the thread itself, it detaches it.
class VARNET_EXPORT Thread
{
public:
    explicit Thread(const String& name);
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    virtual ~Thread();

    const String& getName() const;

    // Starts the thread. False when it was started before or the system
    // refused a new thread.
    bool Begin();
    // Waits for Run() to return: up to firstWait, then up to secondWait more
    // milliseconds; a plain thread cannot be asked to end, it ends on its
    // own. When it still runs and terminated is given, the thread is
    // abandoned (released, see release()) and *terminated set to true.
    // Returns true when the thread has ended or never started. Message
    // threads override this with SyncObject::Exit(), which first asks them
    // to close.
    virtual bool Exit(unsigned firstWait, unsigned secondWait, bool* terminated);
    // The holder gives up the operating-system thread without stopping it:
    // the thread is detached, runs on to its own end and is never waited for
    // again (Exit() can still see whether it has ended). A reference-counted
    // thread stays alive until then through its own reference, so its holder
    // may drop the object right after release(). Does nothing for a thread
    // that was never started or is already joined.
    void release();

    bool IsStarted() const;
    // Run() has returned.
    bool HasEnded() const;
    // The caller runs on this thread.
    bool IsCurrent() const;

    // The timer service objects related to this thread use; none by default.
    virtual TimerService* GetTimer() const;

    // Logs through the log object named after the thread, so that the line
    // carries the thread's name as its logger name.
    void Log(LogEntryType type, const char* file, int line, int severity, const char* format, ...)
        __attribute__((format(printf, 6, 7)));

protected:
    // The thread's work.
    virtual void Run() = 0;
    // A reference the running thread holds and releases when Run() has
    // returned, or null. Called by Begin() before the thread exists.
    virtual RefObject* AcquireRunReference();

    // Waits up to ms milliseconds for Run() to return and then joins the
    // thread. True when it has ended or was never started; false at once on
    // the thread itself.
    bool WaitEnded(unsigned ms);
    // Waits for the thread to end, without limit; on the thread itself it
    // detaches instead. For destructors of threads that can always be ended.
    void JoinThread();
    // Runs work; an exception it throws is logged (with what as the place)
    // instead of ending the thread. False when it threw.
    bool RunGuarded(const Message& work, const char* what);

private:
    struct Private;
    static void Main(std::shared_ptr<Private> state, Thread* thread, RefObject* runReference);

    std::shared_ptr<Private> d; // shared with the running thread
};

} // namespace Kor
