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
    int* volatile pointer = nullptr; // volatile: the compiler must not see the null
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

// Reports report signals; quits on a closing signal unless stay is set.
SignalNotifier* listen(bool stay)
{
    return new SignalNotifier(
        [stay](int, const char* name, bool closing) {
            std::printf("%s%s\n", closing ? "Closing by signal: " : "Received signal: ", name);
            std::fflush(stdout);
            if (!closing || !stay)
                QCoreApplication::exit(0);
        },
        QCoreApplication::instance());
}

int raiseAndWait(QCoreApplication& app, void (*raiser)())
{
    listen(false);
    QTimer::singleShot(0, raiser);
    return app.exec();
}

int waitForSignal(QCoreApplication& app, bool stay)
{
    listen(stay);
    say("ready");
    return app.exec();
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

    if (is("segv"))
        writeThroughNull();
    if (is("segv-dump") && installCrashHandler())
        writeThroughNull();
    if (is("segv-signals") && listen(false)->isValid())
        writeThroughNull();
    if (is("segv-both") && listen(false)->isValid() && installCrashHandler())
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
    if (is("raise") && installCrashHandler())
        return raiseAndWait(app, [] { ::raise(SIGFPE); });
    if (is("kill") && installCrashHandler())
        return raiseAndWait(app, [] { ::kill(::getpid(), SIGSEGV); });
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
    if (is("wait"))
        return waitForSignal(app, false);
    if (is("wait-stay"))
        return waitForSignal(app, true);
    say("unknown mode");
    return 2;
}
