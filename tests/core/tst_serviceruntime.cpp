// A host program run as a service: its reports reach a datagram socket that
// plays the service manager, and SIGTERM is the manager's stop control.
#include "HostFixture.h"

#include <QTest>

#include <csignal>
#include <sys/stat.h>

namespace {

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
    // A ticking service with the INFO levels in app.ini, started and reported ready.
    bool startTicking(QProcess& process)
    {
        writeFile("app.ini", InfoLevels);
        return manager.isBound() && startReady(process, { "-service", "-i", path("app.ini") })
            && manager.waitFor("READY=1");
    }
    bool logHas(const QByteArray& text) const { return readFile(logFile()).contains(text); }
    NotifySocket manager;
};

} // namespace

class tst_ServiceRuntime : public QObject
{
    Q_OBJECT
private slots:
    // A stop at any moment of the start ends the program in order, soon: no
    // READY=1, and nothing after the stopped report.
    void stopDuringStart_data()
    {
        QTest::addColumn<QString>("setUp");
        QTest::addColumn<QByteArray>("when"); // what is seen before SIGTERM goes
        QTest::newRow("service thread held") << "TESTHOST_HOLD_START=1500" << QByteArray("HOLDING");
        QTest::newRow("during init") << "TESTHOST_SLOW_INIT=1500" << QByteArray("READY");
    }
    void stopDuringStart()
    {
        QFETCH(QString, setUp);
        QFETCH(QByteArray, when);
        ManagedHost host("run");
        host.setUp({ setUp });
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        host.start(process, { "-service" });
        QVERIFY(HostFixture::waitForOutput(process, when));
        ::kill(pid_t(process.processId()), SIGTERM);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QVERIFY(!process.readAll().contains("terminate"));
        host.manager.waitFor("STATUS=stopped", 1, 500);
        const QList<QByteArray> got = host.manager.received();
        const QByteArray all = got.join('|');
        QVERIFY2(!all.contains("READY=1") && all.count("STOPPING=1") <= 1, all.constData());
        QVERIFY2(!all.contains("STATUS=stopped") || got.last().startsWith("STATUS=stopped, exit code 0"),
                 all.constData());
        QVERIFY(!host.logHas("Closing by signal"));
    }

    // SIGABRT, the watchdog's signal to a hung main loop: the closing line
    // where the loop can still write it, a dump with -cd, and always the end
    // by the signal.
    void abortEndsTheProcess_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<bool>("service");
        QTest::newRow("service, hung loop") << QByteArray("hang") << true;
        QTest::newRow("console, loop answers") << QByteArray("run") << false;
    }
    void abortEndsTheProcess()
    {
        QFETCH(QByteArray, mode);
        QFETCH(bool, service);
        ManagedHost host(mode, service);
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        host.start(process, service ? QStringList{ "-service", "-cd" } : QStringList{ "-cd" });
        QVERIFY(!service || host.manager.waitFor("READY=1"));
        QVERIFY(HostFixture::waitForOutput(process, mode == "hang" ? "HUNG" : "READY"));
        ::kill(pid_t(process.processId()), SIGABRT);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        const QStringList dumps = QDir(host.binDir()).entryList({ "testhost.*.dmp" }, QDir::Files);
        QCOMPARE(dumps.size(), 1);
        QVERIFY(host.readFile(host.binDir() + "/" + dumps.first()).contains("SIGABRT"));
        if (mode != "hang")
            QVERIFY(host.logHas("Closing by signal: SIGABRT"));
    }

    void reload_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("line"); // after the first reload; empty: the levels raised to TRACE
        QTest::newRow("levels raised") << "raise" << QByteArray();
        QTest::newRow("deleted") << "deleted" << QByteArray("failed: the file is missing; they stay as they were");
        QTest::newRow("a folder") << "folder" << QByteArray("failed: it is not a regular file");
        QTest::newRow("garbage") << "garbage" << QByteArray("; they stay as they were");
    }
    // SIGHUP re-reads the levels; READY=1 ends every reload, and a second
    // SIGHUP reloads again instead of ending us. A bad file leaves the old
    // levels and one line says why; a good file afterwards changes them from
    // the old ones. TRACE lines reach the file only after the reload's line.
    void reload()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, line);
        ManagedHost host("tick");
        const QString ini = host.path("app.ini");
        const QByteArray raised =
            "Log settings reloaded from " + ini.toUtf8() + ": Global INFO -> TRACE, LogFile INFO -> TRACE";
        QProcess process;
        QVERIFY(host.startTicking(process));
        const auto reloadUntil = [&](const QByteArray& text) {
            ::kill(pid_t(process.processId()), SIGHUP);
            QTRY_VERIFY_WITH_TIMEOUT(host.logHas(text), 10000);
        };

        if (kind == "raise")
            host.writeFile("app.ini", TraceLevels);
        if (kind == "deleted" || kind == "folder")
            QVERIFY(QFile::remove(ini));
        if (kind == "folder")
            QVERIFY(QDir().mkdir(ini));
        if (kind == "garbage")
            host.writeFile("app.ini", QByteArray("\x01\x02[[[Log\xff\n=\0=\n]]", 14));
        reloadUntil(line.isEmpty() ? raised : line);
        QVERIFY(host.manager.waitFor("READY=1", 2));

        if (kind == "raise") {
            QTRY_VERIFY_WITH_TIMEOUT(host.logHas("trace tick"), 10000);
            host.writeFile("app.ini", InfoLevels);
            reloadUntil("LogFile TRACE -> INFO");
        } else {
            if (kind == "folder")
                QVERIFY(QDir().rmdir(ini));
            host.writeFile("app.ini", TraceLevels);
            reloadUntil(raised);
            QTRY_VERIFY_WITH_TIMEOUT(host.logHas("trace tick"), 10000);
        }
        const QByteArray log = host.readFile(host.logFile());
        QVERIFY2(log.indexOf("trace tick") > log.indexOf(raised), log.constData());
        QVERIFY(HostFixture::endBySignal(process, SIGTERM));
        QVERIFY(host.manager.waitFor("STATUS=stopped"));
        QCOMPARE(pairedReloads(host.manager.received()), 2);
        QVERIFY(!host.logHas("Closing by signal"));
    }

    // A hundred SIGHUPs in a row from the moment it is ready: reloads never
    // overlap, and the file's last state is the one in force at the end.
    void reloadStorm()
    {
        ManagedHost host("tick");
        QProcess process;
        QVERIFY(host.startTicking(process));
        const pid_t pid = pid_t(process.processId());
        for (int i = 0; i < 99; ++i)
            ::kill(pid, SIGHUP);
        host.writeFile("app.ini", TraceLevels);
        ::kill(pid, SIGHUP);
        QTRY_VERIFY_WITH_TIMEOUT(host.logHas("trace tick"), 10000);
        QVERIFY(HostFixture::endBySignal(process, SIGTERM));
        QVERIFY(host.manager.waitFor("STATUS=stopped"));
        const int reloads = pairedReloads(host.manager.received());
        QVERIFY2(reloads >= 1 && reloads <= 100, QByteArray::number(reloads).constData());
    }

    void journal_data()
    {
        QTest::addColumn<bool>("service");
        QTest::addColumn<QString>("stream"); // which file JOURNAL_STREAM names, if any
        QTest::addColumn<bool>("stdoutToo"); // standard output goes to the same file
        QTest::addColumn<bool>("journaled");
        QTest::newRow("service, as systemd starts it") << true << "stderr" << true << true;
        QTest::newRow("service, stream is standard error") << true << "stderr" << false << true;
        QTest::newRow("service, no stream") << true << QString() << false << false;
        QTest::newRow("service, stream is another file") << true << "other" << false << false;
        QTest::newRow("console, stream is standard error") << false << "stderr" << false << false;
    }
    // The journal's stream carries the lines only where JOURNAL_STREAM names
    // it: every physical line with its priority and no time column, also
    // those of the start before the log set-up, and each line once.
    void journal()
    {
        QFETCH(bool, service);
        QFETCH(QString, stream);
        QFETCH(bool, stdoutToo);
        QFETCH(bool, journaled);
        ManagedHost host("journal", service);
        if (!stream.isEmpty()) {
            host.writeFile(stream, QByteArray());
            struct stat st{};
            QCOMPARE(::stat(QFile::encodeName(host.path(stream)).constData(), &st), 0);
            host.env().insert("JOURNAL_STREAM", QStringLiteral("%1:%2").arg(st.st_dev).arg(st.st_ino));
        }
        QProcess process;
        const QString out = host.path(stdoutToo ? "stderr" : "stdout");
        process.setStandardErrorFile(host.path("stderr"), QIODevice::Append);
        process.setStandardOutputFile(out, QIODevice::Append);
        host.start(process, service ? QStringList{ "-i", host.path("app.ini"), "-service" }
                                    : QStringList{ "-i", host.path("app.ini") });
        QTRY_VERIFY_WITH_TIMEOUT(host.readFile(out).contains("READY\n"), 10000);
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
        QCOMPARE(journal.count("service end with pid"), 1);
        QCOMPARE(journal.count("journal warning"), 1);
        // Every line but the test host's own word on standard output.
        for (const QByteArray& line : journal.split('\n'))
            QVERIFY2(line.isEmpty() || line == "READY" || (line.startsWith('<') && line.at(2) == '>'),
                     line.constData());
        // The start's lines before the set-up, by their own priorities.
        if (stdoutToo)
            QVERIFY2(journal.contains("<4>W Setup config not usable"), journal.constData());
    }
};

QTEST_GUILESS_MAIN(tst_ServiceRuntime)
#include "tst_serviceruntime.moc"
