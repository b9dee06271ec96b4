// A host program run as a service: its reports reach a datagram socket that
// plays the service manager, and SIGTERM is the manager's stop control.
#include "HostFixture.h"

#include <QRegularExpression>
#include <QTest>

#include <algorithm>

#include <csignal>
#include <poll.h>
#include <sys/stat.h>
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

    // Reads datagrams until count of them contain needle; everything read is
    // kept.
    bool waitFor(const QByteArray& needle, int count = 1, int timeoutMs = 10000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            int seen = 0;
            for (const QByteArray& datagram : std::as_const(m_received))
                seen += datagram.contains(needle) ? 1 : 0;
            if (seen >= count)
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

// Every reload's start (with its monotonic time in the same datagram) is
// ended by READY=1, or by the stop, before the next one starts. Returns the
// number of reloads, -1 when they overlap or one is left open.
int pairedReloads(const QList<QByteArray>& datagrams)
{
    int reloads = 0;
    bool open = false;
    for (const QByteArray& datagram : datagrams) {
        if (datagram.startsWith("RELOADING=1\nMONOTONIC_USEC=")) {
            if (open)
                return -1;
            open = true;
            ++reloads;
        } else if (datagram.contains("READY=1") || datagram.contains("STOPPING=1")) {
            open = false;
        } else if (datagram.contains("RELOADING")) {
            return -1;
        }
    }
    return open ? -1 : reloads;
}

const QByteArray InfoLevels = "[Loglevel]\nGlobal=INFO\nLogFile=INFO\n";
const QByteArray TraceLevels = "[Loglevel]\nGlobal=TRACE\nLogFile=TRACE\n";

// A host in the given test mode whose service manager is the stand-in
// socket; service: the host learns of the socket (NOTIFY_SOCKET).
struct ManagedHost : HostFixture
{
    explicit ManagedHost(const char* mode, bool service = true) : manager(path("notify"))
    {
        env().insert("TESTHOST_MODE", mode);
        if (service)
            env().insert("NOTIFY_SOCKET", path("notify"));
    }
    NotifySocket manager;
};

// A ticking service with the INFO levels in app.ini, started and reported ready.
bool startTickingService(ManagedHost& host, QProcess& process)
{
    host.writeFile("app.ini", InfoLevels);
    return host.manager.isBound() && host.startReady(process, { "-service", "-i", host.path("app.ini") })
        && host.manager.waitFor("READY=1");
}

} // namespace

class tst_ServiceRuntime : public QObject
{
    Q_OBJECT
private slots:
    void startAndStop();
    void signalAtOnce_data();
    void signalAtOnce();
    void withoutServiceManager();
    void managerUnreachable();
    void refusedInstanceReportsItsStop();
    void reloadAppliesTheLevels();
    void reloadStorm();
    void reloadOfABadFile_data();
    void reloadOfABadFile();
    void watchdogPings();
    void watchdogIgnored_data();
    void watchdogIgnored();
    void journal_data();
    void journal();
};

void tst_ServiceRuntime::startAndStop()
{
    ManagedHost host("run");
    NotifySocket& manager = host.manager;
    QVERIFY(manager.isBound());
    QProcess process;
    QVERIFY(host.startReady(process, { "-service" }));
    const QByteArray pid = QByteArray::number(process.processId());
    QVERIFY(manager.waitFor("READY=1"));
    QVERIFY(QFile::exists(host.path("bin/testhost.pid")));

    QVERIFY(HostFixture::endBySignal(process, SIGTERM));
    QVERIFY(manager.waitFor("STATUS=stopped, exit code 0"));
    // Start pending, running since the start's time with our pid, then stop
    // pending at least twice (the handler's report and the stop sequence's),
    // and stopped.
    const QList<QByteArray> got = manager.received();
    QCOMPARE(got.first(), QByteArray("STATUS=starting"));
    const QRegularExpression running(
        QStringLiteral("^READY=1\nSTATUS=running since \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d, pid %1\nMAINPID=%1$")
            .arg(QString::fromLatin1(pid)));
    QVERIFY(std::any_of(got.cbegin(), got.cend(),
                        [&](const QByteArray& d) { return running.match(QString::fromUtf8(d)).hasMatch(); }));
    QCOMPARE(got.last(), QByteArray("STATUS=stopped, exit code 0"));
    QVERIFY(got.count("STOPPING=1\nSTATUS=stopping") >= 2);
    const QByteArray log = host.readFile(host.logFile());
    QCOMPARE(log.count("service end with pid"), 1);
    QVERIFY2(!log.contains("Closing by signal"), log.constData());
    QVERIFY(!QFile::exists(host.path("bin/testhost.pid")));
}

// Typed by hand: nobody would see the log line, so standard error says it.
// The manager may stop or reload the service the moment it reported running,
// before the program's own start-up has gone further.
void tst_ServiceRuntime::signalAtOnce_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("stop") << SIGTERM;
    QTest::newRow("reload") << SIGHUP;
}

void tst_ServiceRuntime::signalAtOnce()
{
    QFETCH(int, signalNumber);
    ManagedHost host("run");
    NotifySocket& manager = host.manager;
    QVERIFY(manager.isBound());
    QProcess process;
    host.start(process, { "-service" });
    QVERIFY(manager.waitFor("READY=1"));
    ::kill(pid_t(process.processId()), signalNumber);
    if (signalNumber == SIGHUP) {
        QVERIFY(manager.waitFor("RELOADING=1"));
        QVERIFY(manager.waitFor("READY=1", 2));
        QCOMPARE(process.state(), QProcess::Running);
        QVERIFY(HostFixture::endBySignal(process, SIGTERM));
    } else {
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 0);
    }
    QVERIFY(manager.waitFor("STATUS=stopped, exit code 0"));
}

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

// SIGHUP re-reads the levels: TRACE lines reach the file only after the
// reload's line, and a second SIGHUP reloads again instead of ending us.
void tst_ServiceRuntime::reloadAppliesTheLevels()
{
    ManagedHost host("tick");
    NotifySocket& manager = host.manager;
    QProcess process;
    QVERIFY(startTickingService(host, process));

    host.writeFile("app.ini", TraceLevels);
    ::kill(pid_t(process.processId()), SIGHUP);
    QVERIFY(manager.waitFor("RELOADING=1"));
    QVERIFY(manager.waitFor("READY=1", 2));
    QTRY_VERIFY_WITH_TIMEOUT(host.readFile(host.logFile()).contains("trace tick"), 10000);
    QByteArray log = host.readFile(host.logFile());
    const qsizetype reloaded = log.indexOf("Log settings reloaded from " + host.path("app.ini").toUtf8()
                                           + ": Global INFO -> TRACE, LogFile INFO -> TRACE");
    QVERIFY2(reloaded >= 0, log.constData());
    QVERIFY(log.indexOf("trace tick") > reloaded);

    host.writeFile("app.ini", InfoLevels);
    ::kill(pid_t(process.processId()), SIGHUP);
    QVERIFY(manager.waitFor("RELOADING=1", 2));
    QTRY_VERIFY_WITH_TIMEOUT(host.readFile(host.logFile()).contains("LogFile TRACE -> INFO"), 10000);
    QCOMPARE(process.state(), QProcess::Running);
    QVERIFY(HostFixture::endBySignal(process, SIGTERM));
    QVERIFY(manager.waitFor("STATUS=stopped"));
    QCOMPARE(pairedReloads(manager.received()), 2);
    log = host.readFile(host.logFile());
    QVERIFY(!log.contains("Closing by signal"));
}

// A hundred SIGHUPs in a row: reloads never overlap, and the file's last
// state is the one in force at the end.
void tst_ServiceRuntime::reloadStorm()
{
    ManagedHost host("tick");
    NotifySocket& manager = host.manager;
    QProcess process;
    QVERIFY(startTickingService(host, process));
    const pid_t pid = pid_t(process.processId());
    for (int i = 0; i < 99; ++i)
        ::kill(pid, SIGHUP);
    host.writeFile("app.ini", TraceLevels);
    ::kill(pid, SIGHUP);
    QTRY_VERIFY_WITH_TIMEOUT(host.readFile(host.logFile()).contains("trace tick"), 10000);
    QCOMPARE(process.state(), QProcess::Running);
    QVERIFY(HostFixture::endBySignal(process, SIGTERM));
    QVERIFY(manager.waitFor("STATUS=stopped"));
    const int reloads = pairedReloads(manager.received());
    QVERIFY2(reloads >= 1 && reloads <= 100, QByteArray::number(reloads).constData());
}

void tst_ServiceRuntime::reloadOfABadFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("deleted") << "deleted" << QByteArray("failed: the file is missing; they stay as they were");
    QTest::newRow("a folder") << "folder" << QByteArray("failed: it is not a regular file");
    QTest::newRow("garbage") << "garbage" << QByteArray("; they stay as they were");
    QTest::newRow("unknown level") << "level" << QByteArray("LogFile 'verbose' is no log level, INFO stays");
}

// The old levels stay, one line says why, and READY=1 still ends the
// reload; a good file afterwards changes them from the old ones.
void tst_ServiceRuntime::reloadOfABadFile()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, line);
    ManagedHost host("tick");
    NotifySocket& manager = host.manager;
    const QString ini = host.path("app.ini");
    QProcess process;
    QVERIFY(startTickingService(host, process));

    if (kind == "deleted" || kind == "folder")
        QVERIFY(QFile::remove(ini));
    if (kind == "folder")
        QVERIFY(QDir().mkdir(ini));
    if (kind == "garbage")
        host.writeFile("app.ini", QByteArray("\x01\x02[[[Log\xff\n=\0=\n]]", 14));
    if (kind == "level")
        host.writeFile("app.ini", "[Loglevel]\nGlobal=INFO\nLogFile=verbose\n");
    ::kill(pid_t(process.processId()), SIGHUP);
    QTRY_VERIFY_WITH_TIMEOUT(host.readFile(host.logFile()).contains(line), 10000);
    QVERIFY(manager.waitFor("READY=1", 2));

    if (kind == "folder")
        QVERIFY(QDir().rmdir(ini));
    host.writeFile("app.ini", TraceLevels);
    ::kill(pid_t(process.processId()), SIGHUP);
    QTRY_VERIFY_WITH_TIMEOUT(host.readFile(host.logFile()).contains("LogFile INFO -> TRACE"), 10000);
    QVERIFY(HostFixture::endBySignal(process, SIGTERM));
    QVERIFY(manager.waitFor("STATUS=stopped"));
    QCOMPARE(pairedReloads(manager.received()), 2);
}

// A small interval: pings keep coming while the loop runs.
void tst_ServiceRuntime::watchdogPings()
{
    ManagedHost host("run");
    NotifySocket& manager = host.manager;
    QVERIFY(manager.isBound());
    host.env().insert("WATCHDOG_USEC", "200000");
    QProcess process;
    QVERIFY(host.startReady(process, { "-service" }));
    QVERIFY(manager.waitFor("WATCHDOG=1", 3));
    QVERIFY(HostFixture::endBySignal(process, SIGTERM));
    QVERIFY(host.readFile(host.logFile()).contains("the service manager hears from us every 100 ms"));
}

void tst_ServiceRuntime::watchdogIgnored_data()
{
    QTest::addColumn<QByteArray>("usec");
    QTest::addColumn<QByteArray>("pid");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("zero") << QByteArray("0") << QByteArray() << QByteArray("WATCHDOG_USEC '0' is no positive number");
    QTest::newRow("negative") << QByteArray("-5") << QByteArray() << QByteArray("WATCHDOG_USEC '-5' is no positive");
    QTest::newRow("garbage") << QByteArray("1s") << QByteArray() << QByteArray("WATCHDOG_USEC '1s' is no positive");
    QTest::newRow("another process") << QByteArray("200000") << QByteArray("1") << QByteArray();
}

// The program runs on without pings; a bad value says so in the log file.
void tst_ServiceRuntime::watchdogIgnored()
{
    QFETCH(QByteArray, usec);
    QFETCH(QByteArray, pid);
    QFETCH(QByteArray, line);
    ManagedHost host("run");
    NotifySocket& manager = host.manager;
    QVERIFY(manager.isBound());
    host.env().insert("WATCHDOG_USEC", usec);
    if (!pid.isEmpty())
        host.env().insert("WATCHDOG_PID", pid);
    QProcess process;
    QVERIFY(host.startReady(process, { "-service" }));
    QVERIFY(HostFixture::endBySignal(process, SIGTERM));
    QVERIFY(manager.waitFor("STATUS=stopped"));
    for (const QByteArray& datagram : manager.received())
        QVERIFY(!datagram.contains("WATCHDOG"));
    const QByteArray log = host.readFile(host.logFile());
    QVERIFY(!log.contains("hears from us"));
    if (!line.isEmpty())
        QVERIFY2(log.contains(line), log.constData());
}

void tst_ServiceRuntime::journal_data()
{
    QTest::addColumn<bool>("service");
    QTest::addColumn<QString>("stream"); // which file JOURNAL_STREAM names, if any
    QTest::addColumn<bool>("journaled");
    QTest::newRow("service, stream is standard error") << true << "stderr" << true;
    QTest::newRow("service, no stream") << true << QString() << false;
    QTest::newRow("service, stream is another file") << true << "other" << false;
    QTest::newRow("console, stream is standard error") << false << "stderr" << false;
}

// Standard error carries the journal's lines only where JOURNAL_STREAM names
// it: each physical line with its priority, no time column; the end line too.
void tst_ServiceRuntime::journal()
{
    QFETCH(bool, service);
    QFETCH(QString, stream);
    QFETCH(bool, journaled);
    ManagedHost host("journal", service);
    NotifySocket& manager = host.manager;
    QVERIFY(manager.isBound());
    host.writeFile("stderr", QByteArray());
    host.writeFile("other", QByteArray());
    if (!stream.isEmpty()) {
        struct stat st{};
        QCOMPARE(::stat(QFile::encodeName(host.path(stream)).constData(), &st), 0);
        host.env().insert("JOURNAL_STREAM", QStringLiteral("%1:%2").arg(st.st_dev).arg(st.st_ino));
    }
    QProcess process;
    process.setStandardErrorFile(host.path("stderr"), QIODevice::Append);
    QStringList arguments{ "-i", host.path("app.ini") };
    if (service)
        arguments << "-service";
    QVERIFY(host.startReady(process, arguments));
    QVERIFY(HostFixture::endBySignal(process, SIGTERM));

    const QByteArray journal = host.readFile(host.path("stderr"));
    QCOMPARE(host.readFile(host.path("app.ini")).contains("Journal=INFO"), service);
    if (!journaled) {
        QVERIFY2(!journal.contains("journal info"), journal.constData());
        return;
    }
    for (const char* line : { "<6>I journal info\n", "<4>W journal warning\n", "<3>E journal error\n",
                              "<6>I journal first\n<6>journal second\n", "<5>I service end with pid" })
        QVERIFY2(journal.contains(line), journal.constData());
    QVERIFY(!journal.contains("journal trace"));
    for (const QByteArray& line : journal.split('\n'))
        QVERIFY2(line.isEmpty() || (line.startsWith('<') && line.at(2) == '>'), line.constData());
}

QTEST_GUILESS_MAIN(tst_ServiceRuntime)
#include "tst_serviceruntime.moc"
