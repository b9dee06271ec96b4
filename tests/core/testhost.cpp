// A host program for the process-level tests. Its behaviour is chosen through
// environment variables, so that the command line stays the test's own.
// With TESTHOST_CRASH it runs no application: it crashes or raises a signal
// with the crash handler alone, for tst_crashhandler.
#include <Kor/KorCore.h>

#include "CrashHandler_p.h"
#include "ServiceStatus_p.h"

#include <Platform.h>

#include <QDeadlineTimer>
#include <QTimer>

#include <climits>
#include <csignal>
#include <cstdio>
#include <future>
#include <stdexcept>
#include <thread>
#include <sys/resource.h>
#include <unistd.h>

using namespace Kor::NS;

namespace {
void say(const char* text)
{
    std::puts(text);
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
    [[maybe_unused]] volatile int result = numerator / zero;
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
    [[maybe_unused]] const ssize_t written = ::write(STDOUT_FILENO, text, sizeof text - 1);
    ::_exit(42);
}

int crashHelper(int argc, char** argv)
{
    const struct rlimit noCore = {0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore); // the test needs the signal, not a core file
    QCoreApplication app(argc, argv);
    Kor::LogModule::Start(Kor::LogModule::Console, "", "crashhelper", "");
    const QByteArray mode = qgetenv("TESTHOST_CRASH");

    if (mode == "segv-dump" && installCrashHandler())
        writeThroughNull();
    if (mode == "segv-uninstalled" && installCrashHandler() && uninstallCrashHandler())
        writeThroughNull();
    if (mode == "fpe-dump" && installCrashHandler())
        divideByZero();
    if (mode == "chain") {
        std::signal(SIGSEGV, previousHandler);
        if (installCrashHandler())
            writeThroughNull();
    }
    if (mode == "overflow-main" && installCrashHandler())
        overflowStack();
    if (mode == "overflow-library-thread")
        overflowOnLibraryThread();
    if (mode == "overflow-host-thread" && installCrashHandler()) {
        std::thread([] {
            if (prepareThreadForCrashDump())
                overflowStack();
            say("no alternate stack");
        }).join();
        return 1;
    }
    if (mode == "raise-crash-handler-only" && installCrashHandler()) {
        ::raise(SIGFPE);
        say("still running");
        return 0;
    }
    say("unknown mode");
    return 2;
}

// The program's main thread in mode "worker": logs a tick every 20 ms and
// ends the program after the third, or after TESTHOST_TICKS of them.
class Worker : public BasicMainThread
{
public:
    Worker() : BasicMainThread(Kor::String("Worker")) {}

    void DerivedClassInit() override
    {
        GetTimer()->StartTimer(this, [this] {
            Log(Kor::LOG_INFO, __FILE__, __LINE__, Kor::ALWAYS, "tick %d", ++m_ticks);
            if (m_ticks == qMax(3, qEnvironmentVariableIntValue("TESTHOST_TICKS")))
                Application::instance()->quit();
        }, 20, true);
    }

private:
    int m_ticks = 0;
};
} // namespace

class TestHost : public ConsoleApplication
{
    Q_OBJECT
public:
    using ConsoleApplication::ConsoleApplication;

    Kor::Thread* createThread() override { return qgetenv("TESTHOST_MODE") == "worker" ? new Worker() : nullptr; }

    void init() override
    {
        ConsoleApplication::init();
        const QByteArray mode = qgetenv("TESTHOST_MODE");
        if (qEnvironmentVariableIsSet("TESTHOST_CREATE_FOLDERS"))
            setupConfig()->createKorDataFolders();
        if (mode == "quit") {
            say(qPrintable("ARGS:" + arguments().join(QLatin1Char('|'))));
            quit();
        } else if (mode == "exit3") {
            exit(3);
        } else if (mode == "exit-from-thread") {
            // From a thread of its own while the loop runs.
            QTimer::singleShot(0, this, [this] { std::thread([this] { exit(5); }).join(); });
        } else if (mode == "long-init") {
            say("READY");
            QDeadlineTimer deadline(15000);
            while (!quitting() && !deadline.hasExpired())
                QThread::msleep(5);
            if (quitting())
                say("QUIT SEEN IN INIT");
            return;
        } else if (mode == "tick") {
            // A TRACE line now and then: shows which level the log file has.
            auto* timer = new QTimer(this);
            connect(timer, &QTimer::timeout, this, [n = 0]() mutable {
                LogMessage(nullptr, Kor::String(), Kor::TRACE, Kor::LOG_DETAIL) << "trace tick " << n++;
            });
            timer->start(10);
        } else if (mode == "journal") {
            // One line of each kind that the journal tells apart.
            LogMessage(nullptr, Kor::String(), Kor::INFO, Kor::LOG_INFO) << "journal info";
            LogMessage(nullptr, Kor::String(), Kor::ALWAYS, Kor::LOG_WARNING) << "journal warning";
            LogMessage(nullptr, Kor::String(), Kor::INFO, Kor::LOG_ERROR) << "journal error";
            LogMessage(nullptr, Kor::String(), Kor::TRACE, Kor::LOG_DETAIL) << "journal trace";
            LogMessage(nullptr, Kor::String(), Kor::INFO, Kor::LOG_INFO) << "journal first\njournal second";
        } else if (mode == "hang") {
            // The main loop stops answering once it runs and has said that
            // it is ready (which is queued after this).
            QTimer::singleShot(0, [] {
                QTimer::singleShot(0, [] {
                    say("HUNG");
                    for (;;)
                        QThread::sleep(3600);
                });
            });
        } else if (mode == "raise") {
            QTimer::singleShot(0, [] { ::raise(SIGFPE); });
            QTimer::singleShot(50, this, [this] {
                say("STILL RUNNING");
                quit();
            });
        } else if (mode == "crash") {
            QTimer::singleShot(0, this, [] { writeThroughNull(); });
        } else if (mode.startsWith("throw-")) {
            // The timer itself receives the event whose handler throws.
            auto* timer = new QTimer(this);
            connect(timer, &QTimer::timeout, timer, [mode] {
                if (mode == "throw-kor")
                    throw RuntimeException("the handler gave up");
                if (mode == "throw-std")
                    throw std::runtime_error("standard failure");
                throw 42;
            });
            timer->setSingleShot(true);
            timer->start(0);
        }
        // Any other mode runs until a signal ends it.
        say("READY");
        if (const int slow = qEnvironmentVariableIntValue("TESTHOST_SLOW_INIT"); slow > 0)
            QThread::msleep(slow);
        if (qEnvironmentVariableIsSet("TESTHOST_INIT_MARK"))
            QFile(qEnvironmentVariable("TESTHOST_INIT_MARK")).open(QIODevice::WriteOnly);
    }

    void close() override
    {
        const int slow = qEnvironmentVariableIntValue("TESTHOST_SLOW_CLOSE");
        if (slow > 0) {
            say("CLOSING");
            QThread::msleep(slow);
        }
        ConsoleApplication::close();
    }

protected:
    // A command of the host's own; the built-in ones take the rest.
    void keyboardInput(const QString& line) override
    {
        if (line == QLatin1String("ping"))
            LogMessage(currentThreadLogObject(), Kor::String(), Kor::ALWAYS, Kor::LOG_INFO) << "pong";
        else
            ConsoleApplication::keyboardInput(line);
    }

public slots:
    Parameter::ProcessState own(QVariant value)
    {
        say(qPrintable("OWN:" + value.toString()));
        return Parameter::Continue;
    }
    Parameter::ProcessState finishNow() { return Parameter::Finished; }
    Parameter::ProcessState returnSeven() { return Parameter::ProcessState(7); }
};

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("TESTHOST_CRASH"))
        return crashHelper(argc, argv);
    // Holds the service thread before it registers with the manager, so that
    // a stop can come at that moment of the start.
    if (qEnvironmentVariableIntValue("TESTHOST_HOLD_START") > 0)
        setServiceStartHoldForTest([] {
            say("HOLDING");
            QThread::msleep(qEnvironmentVariableIntValue("TESTHOST_HOLD_START"));
        });
    Application::prepare(true);
    int code = 0;
    {
        TestHost host(argc, argv);
        // The service tests name the service and its dependencies themselves.
        const QString serviceName = qEnvironmentVariable("TESTHOST_SERVICE_NAME", QStringLiteral("Kor Test Host"));
        Application::registerAppVersion(QStringLiteral("Test Host"), 8, 1, 23, serviceName,
                                        QStringLiteral("Test host of the library"),
                                        qEnvironmentVariable("TESTHOST_SERVICE_DEPENDENCIES"));
        host.registerParameter(QStringLiteral("own"), QStringLiteral("o"), QStringLiteral("pOwn"),
                               QStringLiteral("own"), Parameter::SingleValue, QStringLiteral("An option of the host"));
        host.registerParameter(QStringLiteral("finish"), QString(), QString(), QStringLiteral("finishNow"),
                               Parameter::NoValue, QString());
        host.registerParameter(QStringLiteral("seven"), QString(), QString(), QStringLiteral("returnSeven"),
                               Parameter::NoValue, QString());
        host.registerParameter(QStringLiteral("broken"), QString(), QString(), QStringLiteral("noSuchSlot"),
                               Parameter::NoValue, QString());
        if (qEnvironmentVariableIsSet("TESTHOST_LOGDIR"))
            host.setLoggingPath(qEnvironmentVariable("TESTHOST_LOGDIR"));
        if (qEnvironmentVariableIsSet("TESTHOST_MULTI"))
            host.setAllowMultipleInstances(true);
        code = host.main();
    }
    Application::finish();
    return code;
}

#include "testhost.moc"
