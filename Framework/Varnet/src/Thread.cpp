#include "Thread.h"

#include "CrashDump.h"
#include "Signals.h"
#include "LogModule.h"
#include "LogObject.h"
#include "Platform.h"
#include "RefObject.h"

#include <QThread>

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <exception>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

namespace Kor {

namespace {

std::string formatText(const char* format, va_list args)
{
    if (!format)
        return std::string();
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, again);
    va_end(again);
    if (length <= 0)
        return std::string();
    std::string text(std::size_t(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(std::size_t(length));
    return text;
}

} // namespace

struct Thread::Private
{
    String name;
    mutable std::mutex lock;
    std::condition_variable endedSignal;
    bool started = false;
    bool ended = false;
    std::thread::id id;

    std::mutex joinLock; // joinable(), join() and detach() are not thread-safe
    std::thread thread;

    void joinOrDetach()
    {
        std::lock_guard guard(joinLock);
        if (!thread.joinable())
            return;
        if (thread.get_id() == std::this_thread::get_id())
            thread.detach();
        else
            thread.join();
    }
};

Thread::Thread(const String& name) : d(std::make_shared<Private>())
{
    d->name = name;
}

Thread::~Thread()
{
    d->joinOrDetach();
}

const String& Thread::getName() const
{
    return d->name;
}

bool Thread::Begin()
{
    std::unique_lock guard(d->lock);
    if (d->started)
        return false;
    RefObject* runReference = AcquireRunReference();
    try {
        std::lock_guard joinGuard(d->joinLock);
        d->thread = std::thread(&Thread::Main, d, this, runReference);
        d->id = d->thread.get_id();
    } catch (const std::system_error&) {
        guard.unlock(); // the release may delete this object
        if (runReference)
            runReference->Release();
        return false;
    }
    d->started = true;
    return true;
}

void Thread::Main(std::shared_ptr<Private> state, Thread* thread, RefObject* runReference)
{
    Platform::prepareThreadForCrashDump();
    Platform::keepOperatorSignalsAway();
    {
        std::lock_guard guard(state->lock); // Begin() has finished its part
        state->id = std::this_thread::get_id();
    }
    Platform::setCurrentThreadName(state->name.str());
    // Library code finds a thread's log object through the Qt thread's name.
    QThread::currentThread()->setObjectName(QString::fromUtf8(state->name.c_str()));
    thread->RunGuarded([thread] { thread->Run(); }, "thread");
    // From here on the object may be gone (deleted from its own thread);
    // only the shared state and the run reference are touched.
    {
        std::lock_guard guard(state->lock);
        state->ended = true;
    }
    state->endedSignal.notify_all();
    if (runReference)
        runReference->Release();
}

bool Thread::Exit(unsigned firstWait, unsigned secondWait, bool* terminated)
{
    if (terminated)
        *terminated = false;
    if (WaitEnded(firstWait) || WaitEnded(secondWait))
        return true;
    if (terminated && !IsCurrent()) {
        release();
        *terminated = true;
    }
    return false;
}

void Thread::release()
{
    std::lock_guard guard(d->joinLock);
    if (d->thread.joinable())
        d->thread.detach();
}

bool Thread::IsStarted() const
{
    std::lock_guard guard(d->lock);
    return d->started;
}

bool Thread::HasEnded() const
{
    std::lock_guard guard(d->lock);
    return d->ended;
}

bool Thread::IsCurrent() const
{
    std::lock_guard guard(d->lock);
    return d->started && d->id == std::this_thread::get_id();
}

TimerService* Thread::GetTimer() const
{
    return nullptr;
}

RefObject* Thread::AcquireRunReference()
{
    return nullptr;
}

bool Thread::WaitEnded(unsigned ms)
{
    {
        std::unique_lock guard(d->lock);
        if (!d->started)
            return true;
        if (d->id == std::this_thread::get_id())
            return false;
        if (!d->endedSignal.wait_for(guard, std::chrono::milliseconds(ms), [this] { return d->ended; }))
            return false;
    }
    d->joinOrDetach(); // Run() has returned, so this join is short
    return true;
}

void Thread::JoinThread()
{
    d->joinOrDetach();
}

bool Thread::RunGuarded(const Message& work, const char* what)
{
    try {
        work();
        return true;
    } catch (const std::exception& e) {
        Log(LOG_ERROR, __FILE__, __LINE__, ALWAYS, "exception in %s: %s", what, e.what());
    } catch (...) {
        Log(LOG_ERROR, __FILE__, __LINE__, ALWAYS, "unknown exception in %s", what);
    }
    return false;
}

void Thread::Log(LogEntryType type, const char* file, int line, int severity, const char* format, ...)
{
    if (!LogModule::WouldLog(type, severity))
        return;
    va_list args;
    va_start(args, format);
    const std::string text = formatText(format, args);
    va_end(args);
    if (LogObject* object = LogObject::getLogObject(d->name))
        object->Log(type, file, line, severity, "%s", text.c_str());
    else // a thread without a name logs without a logger name
        LogModule::_LOG(type, file, line, severity, "%s", text.c_str());
}

} // namespace Kor
