// The runtime's pieces on their own. The PID-file protocol's races in one
// process: open-file-description locks conflict between two objects of one
// process just as between two processes (tst_runtime holds the file against
// a second process). The status record of a service: what each report fills
// in, and the datagram the service manager receives for it.
#include "LogLines.h"
#include "PidFile_p.h"
#include "ServiceStatus_p.h"

#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <thread>

using namespace Kor::NS;

namespace {

// Runs an action at one step of the protocol, as another instance would.
class SteppedPidFile : public PidFile
{
public:
    SteppedPidFile(const QString& path, Step step, std::function<void()> action)
        : PidFile(path), m_step(step), m_action(std::move(action)) {}

protected:
    void between(Step step) override
    {
        if (step == m_step && m_action)
            std::exchange(m_action, nullptr)();
    }

private:
    Step m_step;
    std::function<void()> m_action;
};

} // namespace

class tst_RuntimeParts : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_path;

private slots:
    void init()
    {
        m_path = m_dir.filePath(QStringLiteral("app.pid"));
        QFile::remove(m_path);
    }

    // The previous holder removed its file after we opened it and before we
    // locked it: holding that removed file would let the next instance in.
    void removedBetweenOpenAndLock()
    {
        SteppedPidFile late(m_path, PidFile::Locked, [this] { QFile::remove(m_path); });
        QCOMPARE(late.acquire(QStringLiteral("100")), PidFile::Acquired);
        QCOMPARE(readFile(m_path), QByteArray("100\n"));
        PidFile third(m_path);
        QCOMPARE(third.acquire(QStringLiteral("300")), PidFile::HeldByOther);
        QCOMPARE(third.holderPid(), 100);
    }

    // An instance that starts while the holder ends gets the file; one that
    // starts after it is refused. Unlocking before removing would let both in.
    void newInstanceWhileReleasing()
    {
        PidFile next(m_path);
        SteppedPidFile ending(m_path, PidFile::RemovedLocked,
                              [&] { QCOMPARE(next.acquire(QStringLiteral("200")), PidFile::Acquired); });
        QCOMPARE(ending.acquire(QStringLiteral("100")), PidFile::Acquired);
        QVERIFY(ending.release());
        QVERIFY(next.isHeld());
        QCOMPARE(readFile(m_path), QByteArray("200\n"));
        PidFile third(m_path);
        QCOMPARE(third.acquire(QStringLiteral("300")), PidFile::HeldByOther);
        QCOMPARE(third.holderPid(), 200);
    }

    // A start with a wait hint, and an exit code beyond int; tst_serviceruntime
    // reads the other messages from a running service.
    void messages()
    {
        ServiceStatus status;
        unsigned long counter = 1;
        updateServiceStatus(status, counter, SERVICE_START_PENDING, 0, 2500);
        QCOMPARE(QByteArray::fromStdString(serviceStatusMessage(status, 42, "")),
                 QByteArray("STATUS=starting\nEXTEND_TIMEOUT_USEC=2500000"));
        updateServiceStatus(status, counter, SERVICE_STOPPED, 0xFFFFFFFF, 0);
        QCOMPARE(QByteArray::fromStdString(serviceStatusMessage(status, 42, "")),
                 QByteArray("STATUS=stopped, exit code 4294967295"));
    }

    void datagrams_data()
    {
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QStringList>("sent"); // the first line of each datagram
        const QString starting = "STATUS=starting", ready = "READY=1", stopping = "STOPPING=1",
                      reloading = "RELOADING=1", ping = "WATCHDOG=1";
        QTest::newRow("start, serve, stop")
            << QStringList{ "register", "pending", "running", "alive", "ready", "ready", "alive",
                            "stop", "stop", "stopped 0", "alive", "ready", "stopped 0" }
            << QStringList{ starting, ready, ping, stopping, "STATUS=stopped, exit code 0" };
        QTest::newRow("stop before the start")
            << QStringList{ "register", "stop", "pending", "running", "ready", "stopped 0" }
            << QStringList{ stopping, "STATUS=stopped, exit code 0" };
        QTest::newRow("ended before the manager listened")
            << QStringList{ "stopped 255", "register", "pending", "running", "ready" } << QStringList{};
        QTest::newRow("ended before it served")
            << QStringList{ "register", "pending", "running", "stopped 255", "ready" }
            << QStringList{ starting, "STATUS=stopped, exit code 255" };
        QTest::newRow("reloads pair up, none before ready")
            << QStringList{ "register", "pending", "running", "reloading", "reloaded", "ready",
                            "reloading", "reloading", "reloaded", "reloaded", "reloading", "reloaded" }
            << QStringList{ starting, ready, reloading, ready, reloading, ready };
        QTest::newRow("a stop ends the reload")
            << QStringList{ "register", "pending", "running", "ready", "reloading", "stop", "reloaded", "stopped 3" }
            << QStringList{ starting, ready, reloading, stopping, "STATUS=stopped, exit code 3" };
        QTest::newRow("nobody listens") << QStringList{ "pending", "running", "ready", "stop", "stopped 0" }
                                        << QStringList{};
    }

    // Which reports reach the manager: READY=1 once and only when the program
    // serves, one STOPPING=1, reloads paired with READY=1, nothing after the end.
    void datagrams()
    {
        QFETCH(QStringList, events);
        QFETCH(QStringList, sent);
        QStringList got;
        ServiceRuntime runtime(
            [&](const std::string& message, int&) {
                got << QString::fromStdString(message).section(QLatin1Char('\n'), 0, 0);
                return true;
            },
            42, [] { return std::string("2024-03-05 14:07:09"); });
        int error = 0;
        const QMap<QString, std::function<void()>> reports{
            { "register", [&] { runtime.setRegistered(true); } },
            { "pending", [&] { runtime.report(SERVICE_START_PENDING, 0, 0, error); } },
            { "running", [&] { runtime.enterRunning(); } },
            { "ready", [&] { runtime.ready(error); } },
            { "stop", [&] { runtime.report(SERVICE_STOP_PENDING, 0, 0, error); } },
            { "reloading", [&] { runtime.reloading(7, error); } },
            { "reloaded", [&] { runtime.reloaded(error); } },
            { "alive", [&] { runtime.alive(error); } },
        };
        for (const QString& event : std::as_const(events)) {
            if (event.startsWith("stopped"))
                runtime.report(SERVICE_STOPPED, event.section(' ', 1).toULong(), 0, error);
            else
                reports.value(event)(); // an unknown event throws
            QCOMPARE(error, 0);
        }
        QCOMPARE(got, sent);
    }

    // The waits end on the change that concerns them, from another thread.
    void waitsEnd()
    {
        ServiceRuntime runtime([](const std::string&, int&) { return true; }, 1, [] { return std::string(); });
        runtime.setRegistered(true);
        std::thread starter([&] { runtime.enterRunning(); });
        runtime.waitForStart();
        starter.join();
        QVERIFY(runtime.started() && !runtime.stopped());

        int error = 0;
        std::thread stopper([&] { runtime.report(SERVICE_STOPPED, 0, 0, error); });
        runtime.waitForEnd();
        stopper.join();
        QVERIFY(runtime.stopped());

        // A dispatcher that ends without a start ends both waits.
        ServiceRuntime idle([](const std::string&, int&) { return true; }, 1, [] { return std::string(); });
        std::thread ender([&] { idle.dispatcherEnded(); });
        idle.waitForStart();
        idle.waitForEnd();
        ender.join();
        QVERIFY(!idle.started());
    }
};

QTEST_APPLESS_MAIN(tst_RuntimeParts)
#include "tst_runtimeparts.moc"
