// Console programs from outside: the keyboard through a pipe and a terminal,
// exceptions out of event handlers, crash dumps.
#include "HostFixture.h"

#include <QStandardPaths>
#include <QTest>

#include <csignal>

class tst_Console : public QObject
{
    Q_OBJECT

private slots:
    void hostRuns_data()
    {
        QTest::addColumn<QString>("variable");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QStringList>("lines"); // in the log, in this order
        QTest::addColumn<QString>("absent");
        const QString end = "service end with pid";
        QTest::newRow("main thread runs and ends") << "TESTHOST_TICK" << "1"
            << QStringList{ "Worker", "starting", "started", "tick", "tick", "tick", end } << "terminating main thread";
        QTest::newRow("without main thread") << "TESTHOST_NO_THREAD" << "1" << QStringList{ end } << "Worker";
        QTest::newRow("second application refused") << "TESTHOST_SECOND_APP" << "1" << QStringList{ end } << "";
        const QString closing = "Closing application.";
        QTest::newRow("KorException from an event handler") << "TESTHOST_THROW" << "kor"
            << QStringList{ "QTimer: Exception from Qt event handler (Kor::NS::RuntimeException): the handler gave up",
                            closing, end } << "";
        QTest::newRow("std::exception from an event handler") << "TESTHOST_THROW" << "std"
            << QStringList{ "QTimer: Non Kor exception from Qt event handler (std::runtime_error): standard failure",
                            closing, end } << "";
        QTest::newRow("integer from an event handler") << "TESTHOST_THROW" << "int"
            << QStringList{ "QTimer: An unexpected error occured!", closing, end } << "";
    }

    // Ended by SIGINT, or by itself where it quits.
    void hostRuns()
    {
        QFETCH(QString, variable);
        QFETCH(QString, value);
        QFETCH(QStringList, lines);
        QFETCH(QString, absent);
        HostFixture host("consolehost", "consolehost");
        host.env().insert(variable, value);
        QByteArray output;
        if (variable == "TESTHOST_SECOND_APP" || variable == "TESTHOST_THROW") {
            QCOMPARE(host.run({}, &output), 0);
        } else {
            QProcess process;
            QVERIFY(host.startReady(process, {}));
            if (variable == "TESTHOST_TICK")
                QTRY_VERIFY_WITH_TIMEOUT(host.readFile(host.logFile()).count("tick") >= 3, 10000);
            QVERIFY(HostFixture::endBySignal(process, SIGINT));
        }
        const QByteArray log = host.readFile(host.logFile());
        qsizetype at = 0;
        for (const QString& line : std::as_const(lines)) {
            at = log.indexOf(line.toUtf8(), at);
            QVERIFY2(at >= 0, qPrintable(line + " not in\n" + log));
            at += line.size();
        }
        QVERIFY(absent.isEmpty() || !log.contains(absent.toUtf8()));
        if (variable == "TESTHOST_SECOND_APP")
            QVERIFY2(output.contains("REFUSED: Only one instance of Application allowed"), output.constData());
    }

    // Odd bytes, a second -kb and the end of the input change nothing.
    void keyboardThroughPipe()
    {
        HostFixture host("consolehost", "consolehost");
        QProcess process;
        QVERIFY(host.startReady(process, { "-kb", "-kb" }));
        QByteArray noise("\x01\x02\x7f\x1b[A\xff\xfe\xc3(\x00\r\r", 13);
        noise += QByteArray(200, 'x') + "\n"; // the reader takes one key per tick
        process.write(noise);
        process.write("LG2\nping\nlc7\nlx3\nlg10\nln\nln12\nlt\nh\n");
        process.closeWriteChannel(); // the end of input must not spin or end the program
        // lc7 silenced the console; the log file has every reply.
        QTRY_VERIFY_WITH_TIMEOUT(host.readFile(host.logFile()).contains("known commands:"), 10000);
        QCOMPARE(process.state(), QProcess::Running);
        QVERIFY(HostFixture::endBySignal(process, SIGINT));
        const QByteArray log = host.readFile(host.logFile());
        QVERIFY2(log.contains("Setting up global loglevel to INFO"), log.constData());
        QVERIFY(log.contains("Setting up console loglevel to DISABLED"));
        QVERIFY(log.contains("Invalid length ''"));
        QVERIFY(log.contains("Set minimum name size to '12' characters"));
        QVERIFY(log.contains("Enabled logging of thread ids"));
        QVERIFY(log.contains("\tlg<number> - sets the global loglevel to <number>"));
        QCOMPARE(log.count("Setting up"), 2); // lx3 and lg10 change nothing
        QVERIFY(log.contains("pong")); // the host's own command, beside the built-in ones
    }

    void terminalSession()
    {
        const QString tmux = QStandardPaths::findExecutable("tmux");
        if (tmux.isEmpty())
            QSKIP("tmux is not installed");
        HostFixture host("consolehost", "consolehost");
        const QString session = "kortest" + QString::number(QCoreApplication::applicationPid());
        const QString script = host.path("session.sh");
        host.writeFile("session.sh",
                       QStringLiteral("trap true INT\nstty -a > '%1'\nKOR_REGISTRY_ROOT='%2' TESTHOST_LOGDIR='%3' '%4' -kb\n"
                                      "stty -a > '%5'\nsleep 30\n")
                           .arg(host.path("before.txt"), host.path("registry"), host.path("log"), host.executable(),
                                host.path("after.txt"))
                           .toUtf8());
        QCOMPARE(QProcess::execute(tmux, { "new-session", "-d", "-s", session, "-x", "200", "-y", "50", "sh", script }), 0);
        auto capture = [&] {
            QProcess p;
            p.start(tmux, { "capture-pane", "-p", "-t", session });
            p.waitForFinished();
            return p.readAllStandardOutput();
        };
        QTRY_VERIFY_WITH_TIMEOUT(capture().contains("READY"), 15000);
        QProcess::execute(tmux, { "send-keys", "-t", session, "F1" });
        QTRY_VERIFY_WITH_TIMEOUT(capture().contains("known commands:"), 10000);
        QProcess::execute(tmux, { "send-keys", "-t", session, "C-c" });
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(host.path("after.txt")) && !host.readFile(host.path("after.txt")).isEmpty(),
                                 15000);
        QProcess::execute(tmux, { "kill-session", "-t", session });
        QCOMPARE(host.readFile(host.path("after.txt")), host.readFile(host.path("before.txt")));
        QVERIFY(host.readFile(host.logFile()).contains("Closing by signal: SIGINT"));
    }

    // tst_serviceruntime and tst_crashhandler read the dump itself.
    void crashDump_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("dumpCount");
        QTest::newRow("-cd twice") << QStringList{ "-cd", "--crashdump" } << 1;
        QTest::newRow("without -cd") << QStringList() << 0;
    }

    void crashDump()
    {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        QSKIP("the sanitizer takes the fault signals for itself");
#endif
        QFETCH(QStringList, arguments);
        QFETCH(int, dumpCount);
        HostFixture host("consolehost", "consolehost");
        host.env().insert("TESTHOST_CRASH", "1");
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        host.start(process, arguments);
        QVERIFY(process.waitForFinished(15000));
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        QCOMPARE(QDir(host.binDir()).entryList({ "consolehost.*.dmp" }, QDir::Files).size(), dumpCount);
        QCOMPARE(process.readAll().contains("Crashhandler already installed!"), dumpCount == 1);
    }
};

QTEST_GUILESS_MAIN(tst_Console)
#include "tst_console.moc"
