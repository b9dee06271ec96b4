#include "ThreadContext.h"

#include "ApplicationExit_p.h"
#include "CoreLog_p.h"

#include <QBasicTimer>
#include <QCoreApplication>
#include <QMetaType>
#include <QThread>
#include <QTimerEvent>

#include <limits>

namespace Kor::NS {

namespace {

constexpr int NoTimer = -1;

void logDroppedException(const char* where)
{
    try {
        throw;
    } catch (const std::exception& e) {
        coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << "Exception in " << where << " dropped: " << e.what();
    } catch (...) {
        coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << "Exception of unknown type in " << where << " dropped";
    }
}

} // namespace

class ThreadContextPrivate
{
public:
    struct DelayedCall
    {
        QBasicTimer* timer = nullptr;
        std::function<void()> function;
    };
    using Iterator = QMap<int, DelayedCall>::iterator;

    void drop(Iterator it)
    {
        QBasicTimer* timer = it->timer;
        callByTimer.remove(timer->timerId());
        delayedCalls.erase(it);
        timer->stop();
        delete timer;
    }

    // Keyed by the call's own id; Qt reuses a timer's id once it is stopped.
    QMap<int, DelayedCall> delayedCalls;
    QHash<int, int> callByTimer;
    int lastCallId = 0;
};

ThreadContext::ThreadContext(QObject* parent)
    : QObject(parent), d(std::make_unique<ThreadContextPrivate>())
{
    static const bool registered = [] {
        qRegisterMetaType<std::function<void(void)>>(QMetaObject::normalizedType("function<void (void)>"));
        qRegisterMetaType<std::exception_ptr*>("std::exception_ptr*");
        return true;
    }();
    Q_UNUSED(registered);
}

ThreadContext::~ThreadContext()
{
    if (d->delayedCalls.isEmpty())
        return;
    QThread* home = thread();
    if (home && home != QThread::currentThread() && home->isRunning()) {
        // A Qt timer can only be stopped on its own thread, and one left
        // running would fire at a deleted object.
        coreLog(Kor::ALWAYS, Kor::LOG_WARNING)
            << "ThreadContext destroyed outside its thread; its delayed calls are aborted there";
        QMetaObject::invokeMethod(this, "abortAllDelayedCallsInThread", Qt::BlockingQueuedConnection);
    }
    abortAllDelayedCallsInThread();
}

Qt::ConnectionType ThreadContext::connectionFor(CallMode mode) const
{
    if (mode == Asynchronous)
        return Qt::QueuedConnection;
    return thread() == QThread::currentThread() ? Qt::DirectConnection : Qt::BlockingQueuedConnection;
}

// A waiting call to a thread that does not run would never come back.
bool ThreadContext::canWaitFor(const char* what) const
{
    const QThread* home = thread();
    if (home == QThread::currentThread() || (home && home->isRunning()))
        return true;
    coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << "ThreadContext::" << what
                                         << ": the context's thread is not running; nothing was done";
    return false;
}

void ThreadContext::call(std::function<void()> fn, CallMode mode)
{
    std::exception_ptr exception;
    std::exception_ptr* exOut = mode == Synchronous ? &exception : nullptr;
    const Qt::ConnectionType connection = connectionFor(mode);
    if (connection == Qt::BlockingQueuedConnection && !canWaitFor("call"))
        return;
    // The functor form skips the lookup of the method by name and the
    // marshalling of its arguments through the meta-type system, which cost
    // several times a bare queued call.
    QMetaObject::invokeMethod(
        this, [this, fn = std::move(fn), exOut]() mutable { callInThread(std::move(fn), exOut); }, connection);
    if (exception)
        std::rethrow_exception(exception);
}

void ThreadContext::callInThread(std::function<void(void)> fn, std::exception_ptr* exOut)
{
    try {
        fn();
    } catch (...) {
        if (exOut)
            *exOut = std::current_exception();
        else
            logDroppedException("ThreadContext::call");
    }
}

int ThreadContext::delayedCall(int msDelay, std::function<void()> fn)
{
    if (!fn) {
        coreLog(Kor::ALWAYS, Kor::LOG_WARNING) << "ThreadContext::delayedCall without a function; nothing scheduled";
        return NoTimer;
    }
    if (msDelay < 0) {
        coreLog(Kor::ALWAYS, Kor::LOG_WARNING)
            << "ThreadContext::delayedCall with negative delay " << msDelay << "; runs without delay";
        msDelay = 0;
    }
    int timerId = NoTimer;
    const Qt::ConnectionType connection = connectionFor(Synchronous);
    if (connection == Qt::BlockingQueuedConnection && !canWaitFor("delayedCall"))
        return NoTimer;
    QMetaObject::invokeMethod(this, "delayedCallInThread", connection, Q_ARG(int, msDelay),
                              Q_ARG(std::function<void(void)>, fn), Q_ARG(int*, &timerId));
    return timerId;
}

void ThreadContext::delayedCallInThread(int msDelay, std::function<void(void)> fn, int* timerIdOut)
{
    auto* timer = new QBasicTimer;
    timer->start(msDelay, this);
    const int timerId = timer->timerId();
    if (timerId < 0 || !timer->isActive()) {
        coreLog(Kor::ALWAYS, Kor::LOG_ERROR)
            << "Fatal internal error: Timer not started in ThreadContext::delayedCall(int, std::function<void (void)>)";
        delete timer;
        *timerIdOut = NoTimer;
        QCoreApplication::exit(ExitCode::TimerNotStarted);
        return;
    }
    // Counts up and, after two thousand million calls, starts over, passing
    // ids still pending.
    do {
        d->lastCallId = d->lastCallId == std::numeric_limits<int>::max() ? 1 : d->lastCallId + 1;
    } while (d->delayedCalls.contains(d->lastCallId));
    *timerIdOut = d->lastCallId;
    d->delayedCalls.insert(d->lastCallId, ThreadContextPrivate::DelayedCall{ timer, std::move(fn) });
    d->callByTimer.insert(timerId, d->lastCallId);
}

void ThreadContext::timerEvent(QTimerEvent* event)
{
    const auto it = d->delayedCalls.find(d->callByTimer.value(event->timerId(), NoTimer));
    if (it == d->delayedCalls.end()) {
        coreLog(Kor::ALWAYS, Kor::LOG_ERROR)
            << "Fatal internal error: Unknown timerId in ThreadContext::timerEvent(QTimerEvent *)";
        QCoreApplication::exit(ExitCode::UnknownTimer);
        event->ignore();
        return;
    }
    // Out of the map before it runs: it runs once, and may schedule or abort.
    std::function<void()> function = std::move(it->function);
    d->drop(it);
    try {
        function();
    } catch (...) {
        logDroppedException("ThreadContext::delayedCall");
    }
}

void ThreadContext::abortDelayedCall(int timerId, CallMode mode)
{
    const Qt::ConnectionType connection = connectionFor(mode);
    if (connection == Qt::BlockingQueuedConnection && !canWaitFor("abortDelayedCall"))
        return;
    QMetaObject::invokeMethod(this, "abortDelayedCallInThread", connection, Q_ARG(int, timerId));
}

void ThreadContext::abortDelayedCallInThread(int timerId)
{
    const auto it = d->delayedCalls.find(timerId);
    if (it == d->delayedCalls.end()) {
        coreLog(Kor::ALWAYS, Kor::LOG_WARNING) << "Attempt to abort delayed call with unknown timer ID";
        return;
    }
    d->drop(it);
}

void ThreadContext::abortAllDelayedCalls(CallMode mode)
{
    const Qt::ConnectionType connection = connectionFor(mode);
    if (connection == Qt::BlockingQueuedConnection && !canWaitFor("abortAllDelayedCalls"))
        return;
    QMetaObject::invokeMethod(this, "abortAllDelayedCallsInThread", connection);
}

void ThreadContext::abortAllDelayedCallsInThread()
{
    const QList<int> ids = d->delayedCalls.keys();
    for (int id : ids)
        abortDelayedCallInThread(id);
}

} // namespace Kor::NS
