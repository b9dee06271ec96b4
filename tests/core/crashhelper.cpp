// Crashes, raises and waits for signals on command, for tst_crashhandler.
// Usage: crashhelper <mode>; prints what it sees on standard output.
#include "CrashHandler.h"
#include "SignalNotifier.h"

#include <LogModule.h>

#include <QCoreApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstring>
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
    return new SignalNotifier(
        [](int, const char* name, bool closing) {
            std::printf("%s%s\n", closing ? "Closing by signal: " : "Received signal: ", name);
            std::fflush(stdout);
            QCoreApplication::exit(0);
        },
        QCoreApplication::instance());
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
    if (is("wait")) {
        listen();
        say("ready");
        return app.exec();
    }
    say("unknown mode");
    return 2;
}
