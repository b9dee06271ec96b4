// Crashes, raises and receives signals on command, for tst_crashhandler.
// Usage: crashhelper <mode>; prints what it sees on standard output.
#include "CrashHandler_p.h"
#include "CrashLog.h"
#include "SignalNotifier_p.h"

#include <LogModule.h>
#include <Thread.h>

#include <Platform.h>

#include <QCoreApplication>
#include <QTimer>

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <future>
#include <thread>
#include <sys/resource.h>
#include <unistd.h>

using namespace Kor::NS;

namespace {

void say(const char* text)
{
    std::printf("%s\n", text);
    std::fflush(stdout);
}

[[noreturn]] void writeThroughNull()
{
    // Both volatile: the compiler must neither see the null nor drop the store.
    volatile int* volatile pointer = nullptr;
    *pointer = 1;
    std::abort();
}

[[noreturn]] void divideByZero()
{
    // Both operands unknown, or the compiler turns 1 / x into a branch-free guess.
    volatile int numerator = 7;
    volatile int zero = 0;
    volatile int result = numerator / zero;
    (void)result;
    std::abort();
}

// Never reached; a bound the compiler cannot see keeps it from treating the
// recursion as infinite and dropping it.
volatile long recursionLimit = LONG_MAX;

// Each frame hands its buffer to the next one, so frames can neither be
// merged nor turned into a loop.
[[gnu::noinline]] long recurse(long depth, volatile char* previous)
{
    volatile char frame[1024];
    frame[0] = char(previous[0] + 1);
    if (depth >= recursionLimit)
        return frame[0];
    return recurse(depth + 1, frame) + frame[0];
}

[[noreturn]] void overflowStack()
{
    // The dump must come from this thread: the test compares the ids.
    std::printf("faulting thread %lld\n", static_cast<long long>(Kor::Platform::currentThreadId()));
    std::fflush(stdout);
    volatile char start[1] = {0};
    recurse(0, start);
    std::abort();
}

// A library thread that runs before the crash handler exists and overflows
// its stack once told to.
class OverflowThread : public Kor::Thread
{
public:
    OverflowThread() : Thread("Overflow") {}
    std::promise<void> running;
    std::promise<void> overflow;

protected:
    void Run() override
    {
        running.set_value();
        overflow.get_future().wait();
        overflowStack();
    }
};

void overflowOnLibraryThread()
{
    OverflowThread thread;
    if (!thread.Begin())
        return;
    thread.running.get_future().wait();
    if (installCrashHandler())
        thread.overflow.set_value();
    // The destructor waits for the thread, which ends the process.
}

void previousHandler(int)
{
    const char text[] = "previous handler\n";
    ssize_t unused = ::write(STDOUT_FILENO, text, sizeof text - 1);
    (void)unused;
    ::_exit(42);
}

void installPreviousHandler()
{
    struct sigaction action = {};
    action.sa_handler = previousHandler;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGSEGV, &action, nullptr);
}

// Prints each signal it is told of, then quits.
SignalNotifier* listen()
{
    auto* notifier = new SignalNotifier(Kor::Platform::SignalPipe::Signals, QCoreApplication::instance());
    QObject::connect(notifier, &SignalNotifier::received, [](int signalNumber) {
        const bool closing = Kor::Platform::signalKind(signalNumber) == Kor::Platform::SignalKind::Closing;
        std::printf("%s%s\n", closing ? "Closing by signal: " : "Received signal: ",
                    Kor::Platform::signalName(signalNumber));
        std::fflush(stdout);
        QCoreApplication::exit(0);
    });
    return notifier;
}

} // namespace

int main(int argc, char** argv)
{
    const struct rlimit noCore = {0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore); // the test needs the signal, not a core file
    QCoreApplication app(argc, argv);
    Kor::LogModule::Start(Kor::LogModule::Console, "", "crashhelper", "");
    const char* mode = argc > 1 ? argv[1] : "";
    auto is = [mode](const char* name) { return std::strcmp(mode, name) == 0; };

    if (is("segv-dump") && installCrashHandler())
        writeThroughNull();
    if (is("segv-uninstalled") && installCrashHandler() && uninstallCrashHandler())
        writeThroughNull();
    if (is("fpe-dump") && installCrashHandler())
        divideByZero();
    if (is("chain")) {
        installPreviousHandler();
        if (installCrashHandler())
            writeThroughNull();
    }
    if (is("overflow-main") && installCrashHandler())
        overflowStack();
    if (is("overflow-library-thread"))
        overflowOnLibraryThread();
    if (is("overflow-host-thread") && installCrashHandler()) {
        std::thread([] {
            if (prepareThreadForCrashDump())
                overflowStack();
            say("no alternate stack");
        }).join();
        return 1;
    }
    if (is("kill") && installCrashHandler()) {
        listen();
        QTimer::singleShot(0, [] { ::kill(::getpid(), SIGSEGV); });
        return app.exec();
    }
    if (is("raise-crash-handler-only") && installCrashHandler()) {
        ::raise(SIGFPE);
        say("still running");
        return 0;
    }
    if (is("twice")) {
        std::printf("install %d\n", installCrashHandler());
        std::printf("install %d\n", installCrashHandler());
        std::printf("uninstall %d\n", uninstallCrashHandler());
        std::printf("uninstall %d\n", uninstallCrashHandler());
        return 0;
    }
    say("unknown mode");
    return 2;
}
