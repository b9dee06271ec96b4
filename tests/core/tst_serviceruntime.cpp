// A host program run as a service: its reports reach a datagram socket that
// plays the service manager, and SIGTERM is the manager's stop control.
#include "HostFixture.h"

#include <QTest>

#include <csignal>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// The service manager's end of the notify protocol.
class NotifySocket
{
public:
    explicit NotifySocket(const QString& path) : m_path(path)
    {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray bytes = QFile::encodeName(path);
        std::memcpy(address.sun_path, bytes.constData(), size_t(bytes.size()));
        m_bound = m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~NotifySocket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isBound() const { return m_bound; }

    // Reads datagrams until one contains needle; everything read is kept.
    bool waitFor(const QByteArray& needle, int timeoutMs = 10000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            for (const QByteArray& datagram : std::as_const(m_received))
                if (datagram.contains(needle))
                    return true;
            pollfd wait{ m_fd, POLLIN, 0 };
            if (::poll(&wait, 1, int(deadline.remainingTime())) <= 0)
                break;
            char buffer[4096];
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n > 0)
                m_received << QByteArray(buffer, int(n));
        }
        return false;
    }
    const QList<QByteArray>& received() const { return m_received; }

private:
    QString m_path;
    int m_fd = -1;
    bool m_bound = false;
    QList<QByteArray> m_received;
};

} // namespace

class tst_ServiceRuntime : public QObject
{
    Q_OBJECT
private slots:
    void startAndStop();
    void withoutServiceManager();
    void managerUnreachable();
    void refusedInstanceReportsItsStop();
};

void tst_ServiceRuntime::startAndStop()
{
    HostFixture host;
    host.env().insert("TESTHOST_MODE", "run");
    NotifySocket manager(host.path("notify"));
    QVERIFY(manager.isBound());
    host.env().insert("NOTIFY_SOCKET", host.path("notify"));
    QProcess process;
    QVERIFY(host.startReady(process, { "-service" }));
    const QByteArray pid = QByteArray::number(process.processId());
    QVERIFY(manager.waitFor("READY=1"));
    QVERIFY(QFile::exists(host.path("bin/testhost.pid")));

    QVERIFY(HostFixture::endBySignal(process, SIGTERM));
    QVERIFY(manager.waitFor("STATUS=stopped, exit code 0"));
    // Start pending, running, then stop pending at least twice (the
    // handler's report and the stop sequence's) with check points counting
    // on from the start's, and stopped with check point 0.
    const QList<QByteArray> got = manager.received();
    QCOMPARE(got.first(), QByteArray("STATUS=starting, check point 1"));
    QVERIFY(got.contains("READY=1\nSTATUS=running\nMAINPID=" + pid));
    QCOMPARE(got.last(), QByteArray("STATUS=stopped, exit code 0"));
    const QByteArray stopping = "STOPPING=1\nSTATUS=stopping, check point ";
    int checkPoint = 1, stops = 0;
    for (const QByteArray& datagram : got) {
        if (!datagram.startsWith(stopping))
            continue;
        const int next = datagram.mid(stopping.size()).toInt();
        QVERIFY2(next > checkPoint, datagram.constData());
        checkPoint = next;
        ++stops;
    }
    QVERIFY(stops >= 2);
    const QByteArray log = host.readFile(host.logFile());
    QCOMPARE(log.count("service end with pid"), 1);
    QVERIFY2(!log.contains("Closing by signal"), log.constData());
    QVERIFY(!QFile::exists(host.path("bin/testhost.pid")));
}

// Typed by hand: nobody would see the log line, so standard error says it.
void tst_ServiceRuntime::withoutServiceManager()
{
    HostFixture host;
    host.env().insert("TESTHOST_MODE", "run");
    host.env().remove("NOTIFY_SOCKET");
    QByteArray output;
    QCOMPARE(host.run({ "-service" }, &output), 0);
    QVERIFY2(output.contains("Couldn't start as service"), output.constData());
}

// A socket that is not there: every report fails and says so (those before
// the PID-file check only where the console is on); the program runs and
// stops all the same.
void tst_ServiceRuntime::managerUnreachable()
{
    HostFixture host;
    host.env().insert("TESTHOST_MODE", "run");
    host.env().insert("NOTIFY_SOCKET", host.path("nobody"));
    QProcess process;
    QVERIFY(host.startReady(process, { "-service" }));
    QVERIFY(HostFixture::endBySignal(process, SIGTERM));
    const QByteArray log = host.readFile(host.logFile());
    QVERIFY2(log.contains("SetServiceStatus failed state = 1, error= 2"), log.constData());
    QVERIFY(log.contains("service end with pid"));
}

void tst_ServiceRuntime::refusedInstanceReportsItsStop()
{
    HostFixture host;
    host.env().insert("TESTHOST_MODE", "run");
    QProcess first;
    QVERIFY(host.startReady(first, {}));
    NotifySocket manager(host.path("notify"));
    QVERIFY(manager.isBound());
    host.env().insert("NOTIFY_SOCKET", host.path("notify"));
    QCOMPARE(host.run({ "-service" }), 255);
    QVERIFY(manager.waitFor("READY=1"));
    QVERIFY(manager.waitFor("STATUS=stopped, exit code 0"));
    QVERIFY(HostFixture::endBySignal(first, SIGTERM));
}

QTEST_GUILESS_MAIN(tst_ServiceRuntime)
#include "tst_serviceruntime.moc"
