// A host program for the process-level tests. Its behaviour is chosen through
// environment variables, so that the command line stays the test's own.
#include <Kor/KorCore.h>

#include "ServiceStatus_p.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <thread>

using namespace Kor::NS;

namespace {
void say(const char* text)
{
    std::puts(text);
    std::fflush(stdout);
}
} // namespace

class TestHost : public Application
{
    Q_OBJECT
public:
    using Application::Application;

    void init() override
    {
        const QByteArray mode = qgetenv("TESTHOST_MODE");
        if (qEnvironmentVariableIsSet("TESTHOST_CREATE_FOLDERS"))
            setupConfig()->createKorDataFolders();
        if (mode == "args") {
            say(qPrintable("ARGS:" + arguments().join(QLatin1Char('|'))));
            quit();
        } else if (mode == "quit") {
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
        } else if (mode == "chatter") {
            auto* timer = new QTimer(this);
            connect(timer, &QTimer::timeout, this, [this, timer, n = 0]() mutable {
                LogMessage(nullptr, Kor::String(), Kor::ALWAYS, Kor::LOG_INFO) << "chatter " << n;
                if (++n == 40) {
                    timer->stop();
                    quit();
                }
            });
            timer->start(10);
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
        Application::close();
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
    // Holds the service thread before it registers with the manager, so that
    // a stop can come at that moment of the start.
    if (qEnvironmentVariableIntValue("TESTHOST_HOLD_START") > 0)
        setServiceStartHoldForTest([] {
            say("HOLDING");
            QThread::msleep(qEnvironmentVariableIntValue("TESTHOST_HOLD_START"));
        });
    auto core = QSharedPointer<QCoreApplication>::create(argc, argv);
    Application::prepare(true);
    int code = 0;
    {
        TestHost host(core);
        // The service tests name the service and its dependencies themselves.
        const QString serviceName = qEnvironmentVariableIsSet("TESTHOST_SERVICE_NAME")
            ? qEnvironmentVariable("TESTHOST_SERVICE_NAME")
            : QStringLiteral("Kor Test Host");
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
