// A console program of the family for the process-level tests: a
// ConsoleApplication with a main thread, steered by environment variables.
#include <Kor/KorCore.h>

#include <QTimer>

#include <cstdio>
#include <stdexcept>

using namespace Kor::NS;

namespace {

class Worker : public BasicMainThread
{
public:
    Worker() : BasicMainThread(Kor::String("Worker")) {}

    void DerivedClassInit() override
    {
        if (qEnvironmentVariableIsSet("TESTHOST_TICK"))
            GetTimer()->StartTimer(this, [this] { Log(Kor::LOG_INFO, __FILE__, __LINE__, Kor::ALWAYS, "tick"); }, 20, true);
    }
};

void say(const char* text)
{
    std::puts(text);
    std::fflush(stdout);
}

int g_argc = 0;
char** g_argv = nullptr;

} // namespace

class ConsoleHost : public ConsoleApplication
{
    Q_OBJECT
public:
    using ConsoleApplication::ConsoleApplication;

    Kor::Thread* createThread() override
    {
        return qEnvironmentVariableIsSet("TESTHOST_NO_THREAD") ? nullptr : new Worker();
    }

    void init() override
    {
        ConsoleApplication::init();
        // The timer itself receives the event whose handler throws.
        const QByteArray what = qgetenv("TESTHOST_THROW");
        auto* timer = new QTimer(this);
        timer->setSingleShot(true);
        if (what == "kor")
            QObject::connect(timer, &QTimer::timeout, timer, [] { throw RuntimeException("the handler gave up"); });
        else if (what == "std")
            QObject::connect(timer, &QTimer::timeout, timer, [] { throw std::runtime_error("standard failure"); });
        else if (what == "int")
            QObject::connect(timer, &QTimer::timeout, timer, [] { throw 42; });
        if (!what.isEmpty())
            timer->start(0);
        if (qEnvironmentVariableIsSet("TESTHOST_SECOND_APP")) {
            try {
                ConsoleApplication second(g_argc, g_argv);
            } catch (const MultipleApplicationException& e) {
                std::printf("REFUSED: %s\n", e.what());
            }
            QTimer::singleShot(0, this, &Application::quit);
        }
        if (qEnvironmentVariableIsSet("TESTHOST_CRASH"))
            QTimer::singleShot(0, this, [] {
                volatile int* volatile pointer = nullptr;
                *pointer = 1;
            });
        say("READY");
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
};

int main(int argc, char** argv)
{
    g_argc = argc;
    g_argv = argv;
    Application::prepare(true);
    int code = 0;
    {
        ConsoleHost host(argc, argv);
        Application::registerAppVersion(QStringLiteral("Console Host"), 2, 0, 1, QStringLiteral("Kor Console Host"),
                                        QStringLiteral("Console test host"), QString());
        if (qEnvironmentVariableIsSet("TESTHOST_LOGDIR"))
            host.setLoggingPath(qEnvironmentVariable("TESTHOST_LOGDIR"));
        code = host.main();
    }
    Application::finish();
    return code;
}

#include "consolehost.moc"
