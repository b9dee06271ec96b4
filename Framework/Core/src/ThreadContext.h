#pragma once

#include "KorCoreExport.h"

#include <QHash>
#include <QMap>
#include <QObject>

#include <exception>
#include <functional>
#include <memory>

class QBasicTimer;

namespace Kor::NS {

class ThreadContextPrivate;

// Runs functions on the thread this object lives in, at once or after a
// delay, from any thread.
class KORCORE_EXPORT ThreadContext : public QObject
{
    Q_OBJECT
public:
    enum CallMode {
        Asynchronous = 0,
        Synchronous = 1,
        SynchronousNoRethrow = 2,
    };

    explicit ThreadContext(QObject* parent = nullptr);
    ~ThreadContext() override;

    // An exception out of fn reaches the caller in Synchronous mode only; in
    // the other modes it is logged and dropped.
    void call(std::function<void()> fn, CallMode mode);
    // Returns the id that aborts the call, or -1 when nothing was scheduled
    // (no function, or the context's thread is not running). Ids are not
    // given twice by one context, so a stale id never aborts a newer call.
    int delayedCall(int msDelay, std::function<void()> fn);
    void abortDelayedCall(int timerId, CallMode mode);
    void abortAllDelayedCalls(CallMode mode);

private:
    void timerEvent(QTimerEvent* event) override;

    Q_INVOKABLE void callInThread(std::function<void(void)> fn, std::exception_ptr* exOut);
    Q_INVOKABLE void delayedCallInThread(int msDelay, std::function<void(void)> fn, int* timerIdOut);
    Q_INVOKABLE void abortDelayedCallInThread(int timerId);
    Q_INVOKABLE void abortAllDelayedCallsInThread();

    Qt::ConnectionType connectionFor(CallMode mode) const;
    bool canWaitFor(const char* what) const;

    std::unique_ptr<ThreadContextPrivate> d;
};

} // namespace Kor::NS

Q_DECLARE_METATYPE(std::function<void(void)>)
Q_DECLARE_METATYPE(std::exception_ptr*)
