// The start-up sequence, the command line, the run loop and the keyboard, seen
// from outside: a real host program is started and its output, log, PID and
// settings files read.
#include "HostFixture.h"

#include <QDateTime>
#include <QStandardPaths>

// A host in the behaviour TESTHOST_MODE names.
struct Host : HostFixture
{
    explicit Host(const QString& mode) { env().insert(QStringLiteral("TESTHOST_MODE"), mode); }
};

static QString setupXml(const QString& settings)
{
    return "updater/setup.xml=<?xml version=\"1.0\"?>\n<Setup><Settings>" + settings + "</Settings></Setup>\n";
}

class tst_Runtime : public QObject
{
    Q_OBJECT
private slots:
    void scenario_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QStringList>("arguments"); // @ is the host's folder
        QTest::addColumn<int>("code");
        // See HostFixture::verifyLeft(); "up:" files while it runs, "await:" a datagram that comes
        // (given n times: n of them) before the signal goes.
        QTest::addColumn<QStringList>("left");
        QTest::addColumn<QStringList>("setup"); // see HostFixture::setUp()
        QTest::addColumn<int>("signalNumber"); // sent once the host is ready; 0: it ends by itself
        const auto row = [](const char* tag, const char* mode, const QStringList& arguments, int code,
                            const QStringList& left, const QStringList& setup = {}, int signalNumber = 0) {
            QTest::newRow(tag) << mode << arguments << code << left << setup << signalNumber;
        };
        const QString noPid = "!file:bin/testhost.pid";
        const QString ended = "log:service end with pid";
        // A listing ends the program before the PID file and the log exist; nothing follows it.
        const QStringList listed{ noPid, "!file:log/testhost.log", "!out:\n" };
        // Names in a column of 20; a description of several lines goes on below it; entries without
        // a description (--finish, --seven, --broken) are not listed.
        row("help", "run", { "--help" }, 0,
            QStringList{ "out:Help:\n-h, --help          Display help information\n",
                         "out:-d, --directory     <DIRECTORY>\n                    Changes the working directory.\n",
                         "out:-service            Run as service.\n-install            [ACCOUNT [PASSWORD]]\n",
                         "out:-status             Show status of the service\n",
                         "out:-o, --own           An option of the host\n" }
                + listed);
        const QString line(20, QLatin1Char('-'));
        const QString version = "out:" + line + "\nTest Host    8.01.23\n" + line
            + "\nKor Core    80.00.00\nKor Moltrix 12.04.07\nKor Varnet   3.02.14\n" + line + "\n";
        row("version", "run", { "-v" }, 0, QStringList{ version } + listed);
        row("quit", "quit", {}, 0, { noPid });
        row("exit(3)", "exit3", {}, 3, { noPid });
        row("exit(5) from a thread in the loop", "exit-from-thread", {}, 5, { noPid });
        row("handler finished", "quit", { "--finish" }, 0, { noPid });
        row("handler state 7", "quit", { "--seven" }, 7, { noPid });
        // A handler that cannot run stops the parse: -o is not read.
        row("missing slot", "quit", { "--broken", "-o", "late" }, 0, { noPid, "!out:OWN:" });
        row("keyboard, then help", "quit", { "-kb", "--help" }, 0, { noPid });

        // What the command line leaves unconsumed, and what the host's own option got.
        const QStringList multi{ "TESTHOST_MULTI=1" };
        row("plain words", "quit", { "a", "b" }, 0, { "!out:OWN:", "out:ARGS:@/bin/testhost|a|b\n" }, multi);
        row("case matters", "quit", { "--Help", "x", "-help", "--h" }, 0,
            { "!out:OWN:", "out:ARGS:@/bin/testhost|--Help|x|-help|--h\n" }, multi);
        row("unknown then known", "quit", { "-x", "1", "2", "-o", "v" }, 0,
            { "out:OWN:v\n", "out:ARGS:@/bin/testhost|-x|1|2\n" }, multi);
        row("extra value dropped", "quit", { "-o", "first", "second" }, 0,
            { "out:OWN:first\n", "!out:OWN:second", "out:ARGS:@/bin/testhost\n" }, multi);
        row("negative number is a name", "quit", { "-o", "-5" }, 0, { "out:OWN:\n", "out:ARGS:@/bin/testhost|-5\n" },
            multi);
        row("given twice", "quit", { "-o", "a", "--own", "b" }, 0,
            { "out:OWN:a\n", "out:OWN:b\n", "out:ARGS:@/bin/testhost\n" }, multi);
        row("lone double dash", "quit", { "--", "w" }, 0, { "!out:OWN:", "out:ARGS:@/bin/testhost|--|w\n" }, multi);

        // Bad values of the built-in options.
        const QString noStart = "!out:service start with pid";
        row("-d without value", "quit", { "-d" }, 0, { noStart, "out:Invalid working directory" });
        row("-d missing absolute", "quit", { "-d", "/no/such/folder" }, 0,
            { noStart, "out:Path '/no/such/folder' does not exist" });
        row("-p without value", "quit", { "-p" }, 0, { noStart, "out:Invalid pid file" });
        row("-p twice emptied", "quit", { "-p", "", "-p", "x" }, 0, { noStart, "out:No pid file defined" });
        row("-i without value", "quit", { "-i" }, 0, { noStart, "out:Invalid ini file" });
        row("-i empty", "quit", { "-i", "" }, 0, { noStart, "out:No ini file defined" });
        // A folder below a regular file cannot exist, whoever runs the test.
        row("pid folder unwritable", "quit", { "-p", "@/plainfile/x.pid" }, 255,
            { noStart, "out:service can not start with pid file '@/plainfile/x.pid': Not a directory" });
        // The name then points at the folder itself, which no stream opens.
        row("pid file name empty", "quit", { "-p", "" }, 255,
            { noStart, "out:service can not start with pid file '@/bin': Is a directory" });
        row("pid file relative to the executable", "run", { "-p", "other.pid", "-d", "@/log" }, 0,
            { "up:bin/other.pid", "!up:log/other.pid", "log:current working directory: @/log", "!file:bin/other.pid" },
            {}, SIGTERM);

        // main() returns 1001; a process exit status keeps its low eight bits.
        row("data dir uncreatable", "run", {}, 1001 & 0xFF,
            { "out:Fatal error: Configured path @/plainfile/testhost does not exist and could not be created" },
            { setupXml("<datadir>@/plainfile</datadir>") });
        row("kordata uncreatable", "run", {}, 1001 & 0xFF,
            { "out:Fatal error: Configured path @/plainfile/root/ActiveCompressions does not exist and could not be "
              "created" },
            { setupXml("<kordata>@/plainfile/root</kordata>"), "TESTHOST_CREATE_FOLDERS=1" });
        // A settings file that is no INI file, or cannot be written, does not stop the host.
        const QStringList ran{ "log:service start with pid", ended };
        row("settings file not INI", "quit", {}, 0, ran,
            { "bin/testhost.ini=" + QString::fromLatin1("\x00\xff[[[=\n=\n[Loglevel\nGlobal", 25) });
        row("settings file cannot be written", "quit", { "-i", "@/plainfile/app.ini" }, 0, ran);

        row("SIGINT", "run", {}, 0, { "log:Closing by signal: SIGINT", ended }, {}, SIGINT);
        row("SIGTERM", "run", {}, 0, { "log:Closing by signal: SIGTERM", ended }, {}, SIGTERM);
        row("SIGHUP", "run", {}, 0, { "log:Closing by signal: SIGHUP", ended }, {}, SIGHUP);
        row("SIGQUIT", "run", {}, 0, { "log:Closing by signal: SIGQUIT", ended }, {}, SIGQUIT);
        // A long init() polls quitting(); the event loop does not run yet.
        row("SIGTERM during init", "long-init", {}, 0,
            { "out:QUIT SEEN IN INIT", "log:Closing by signal: SIGTERM", ended }, {}, SIGTERM);
        row("raised fault signal is reported", "raise", {}, 0, { "out:STILL RUNNING", "log:Received signal: SIGFPE" });

        // Nobody would see the log line, so standard error says it.
        row("service without a manager", "run", { "-service" }, 0, { "out:Couldn't start as service" },
            { "-NOTIFY_SOCKET" });
        // READY=1 only once the program serves: the PID file is taken and a slow
        // init() has returned. One READY=1, one STOPPING=1, and the stopped report last.
        const QString notify = "NOTIFY_SOCKET=@/notify";
        row("service start and stop", "run", { "-service" }, 0,
            { "up:init-done", "up:bin/testhost.pid", "!file:bin/testhost.pid", "!log:Closing by signal", ended,
              "!log:service end with pid",
              "sent:^STATUS=starting\\|READY=1\nSTATUS=running since \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d, "
              "pid (\\d+)\nMAINPID=\\1\\|STOPPING=1\nSTATUS=stopping\\|STATUS=stopped, exit code 0$" },
            { notify, "TESTHOST_SLOW_INIT=300", "TESTHOST_INIT_MARK=@/init-done" }, SIGTERM);
        // systemd hands a service account a runtime folder: the PID file goes
        // there, under its usual name; at a console the variable means nothing.
        const QStringList runtimeFolders{ "run/a/keep=", "RUNTIME_DIRECTORY=@/run/a:@/run/b" };
        row("PID file in the runtime folder", "run", { "-service" }, 0,
            { "up:run/a/testhost.pid", "!up:bin/testhost.pid" }, runtimeFolders + QStringList{ notify }, SIGTERM);
        row("runtime folder at a console", "run", {}, 0, { "!up:run/a/testhost.pid", "up:bin/testhost.pid" },
            runtimeFolders, SIGTERM);
        // A program that ends before it serves never says READY=1, and the
        // stopped report carries the code it ends with.
        row("service exits from init", "exit3", { "-service" }, 3,
            { "!sent:READY=1", "sent:(^|\\|)STATUS=stopped, exit code 3$" }, { notify });
        row("service runtime folder missing", "run", { "-service" }, 255,
            { "!sent:READY=1", "sent:(^|\\|)STATUS=stopped, exit code 255$" },
            { notify, "RUNTIME_DIRECTORY=@/missing" });
        // A small interval: pings keep coming while the loop runs. Which values
        // count as bad is decided in tst_servicemanager; here: without pings the
        // program runs on, and a bad value says so in the log file.
        const QString ping = "await:WATCHDOG=1";
        row("watchdog pings", "run", { "-service" }, 0,
            { ping, ping, ping, "log:Watchdog: the service manager hears from us every 100 ms" },
            { notify, "WATCHDOG_USEC=200000" }, SIGTERM);
        row("watchdog, bad value", "run", { "-service" }, 0,
            { "!sent:WATCHDOG", "!log:hears from us",
              "log:WATCHDOG_USEC '1s' is no positive number of microseconds; it is ignored" },
            { notify, "WATCHDOG_USEC=1s" }, SIGTERM);
        row("watchdog of another process", "run", { "-service" }, 0, { "!sent:WATCHDOG", "!log:hears from us" },
            { notify, "WATCHDOG_USEC=200000", "WATCHDOG_PID=1" }, SIGTERM);
        // Every report fails and says so; the program runs and stops all the same.
        row("service manager unreachable", "run", { "-service" }, 0,
            { ended, "log:SetServiceStatus failed state = 1, error= 2" },
            { "NOTIFY_SOCKET=@/nobody" }, SIGTERM);

        // A main thread that quits after three ticks; exceptions out of event handlers.
        row("main thread runs and ends", "worker", {}, 0,
            { "!log:terminating main thread", "log:Worker", "log:starting", "log:started", "log:tick", "log:tick",
              "log:tick", ended });
        const QString closing = "log:Closing application.";
        row("KorException from an event handler", "throw-kor", {}, 0,
            { "log:QTimer: Exception from Qt event handler (Kor::NS::RuntimeException): the handler gave up",
              closing, ended });
        row("std::exception from an event handler", "throw-std", {}, 0,
            { "log:QTimer: Non Kor exception from Qt event handler (std::runtime_error): standard failure", closing,
              ended });
        row("integer from an event handler", "throw-int", {}, 0,
            { "log:QTimer: An unexpected error occured!", closing, ended });
        // Only -cd leaves a dump; tst_serviceruntime and tst_crashhandler read it.
        row("crash, -cd twice", "crash", { "-cd", "--crashdump" }, -2000, { "out:Crashhandler already installed!" });
        row("crash without -cd", "crash", {}, -2000, { "!out:Crashhandler" });
    }

    void scenario()
    {
        QFETCH(QString, mode);
        QFETCH(QStringList, arguments);
        QFETCH(int, code);
        QFETCH(QStringList, left);
        QFETCH(QStringList, setup);
        QFETCH(int, signalNumber);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        if (mode == "crash")
            QSKIP("the sanitizer takes the fault signals for itself");
#endif
        Host host(mode);
        NotifySocket manager(host.path("notify"));
        host.writeFile("plainfile", "x");
        host.setUp(setup);
        arguments.replaceInStrings("@", host.root());
        const bool managed = host.env().value("NOTIFY_SOCKET") == host.path("notify");
        QByteArray output;
        if (signalNumber) {
            QProcess process;
            QVERIFY(host.startReady(process, arguments));
            QVERIFY(!managed || manager.waitFor("READY=1"));
            for (const QString& item : left.filter(QRegularExpression("^await:")))
                QVERIFY(manager.waitFor(item.mid(6).toUtf8(), int(left.count(item))));
            host.verifyLeft(left.filter(QRegularExpression("^!?up:")).replaceInStrings("up:", "file:"), {});
            QVERIFY(HostFixture::endBySignal(process, signalNumber));
            output = process.readAllStandardOutput();
            left.removeIf([](const QString& item) { return item.contains(QRegularExpression("^(!?up|await):")); });
        } else {
            QCOMPARE(host.run(arguments, &output), code);
        }
        QVERIFY(!managed || manager.waitFor("STATUS=stopped"));
        host.verifyLeft(left, output, manager.received());
        QCOMPARE(QDir(host.binDir()).entryList({ "testhost.*.dmp" }).size(), int(arguments.contains("-cd")));
    }

    // Odd bytes, a second -kb and the end of the input change nothing.
    void keyboardThroughPipe()
    {
        HostFixture host;
        QProcess process;
        QVERIFY(host.startReady(process, { "-kb", "-kb" }));
        QByteArray noise("\x01\x02\x7f\x1b[A\xff\xfe\xc3(\x00\r\r", 13);
        process.write(noise + QByteArray(200, 'x') + "\n"); // the reader takes one key per tick
        process.write("LG2\nping\nlc7\nlx3\nlg10\nlgx\nln\nln4294967297\nln5\nld\nLS\nlt\nh\n");
        process.closeWriteChannel(); // the end of input must not spin or end the program
        // lc7 silenced the console; the log file has every reply.
        QTRY_VERIFY_WITH_TIMEOUT(host.readFile(host.logFile()).contains("known commands:"), 10000);
        QCOMPARE(process.state(), QProcess::Running);
        QVERIFY(HostFixture::endBySignal(process, SIGINT));
        // pong: the host's own command beside the built-in ones; lx3, lg10 and lgx change nothing; a
        // size must fit an int, and ln5 is no level command.
        host.verifyLeft({ "log:Setting up global loglevel to INFO", "log:pong",
                          "log:Setting up console loglevel to DISABLED", "!log:Setting up", "log:Invalid length ''",
                          "log:Invalid length '4294967297'", "log:Set minimum name size to '5' characters",
                          "log:Enabled dotting of logger name", "log:Enabled separators for logger name",
                          "log:Enabled logging of thread ids",
                          "log:\tlg<number> - sets the global loglevel to <number>" },
                        {});
    }

    void terminalSession()
    {
        const QString tmux = QStandardPaths::findExecutable("tmux");
        if (tmux.isEmpty())
            QSKIP("tmux is not installed");
        HostFixture host;
        const QString session = "kortest" + QString::number(QCoreApplication::applicationPid());
        const QString script = host.path("session.sh");
        const QString lines("trap true INT\nstty -a > '%1'\nKOR_REGISTRY_ROOT='%2' TESTHOST_LOGDIR='%3' '%4' -kb\n"
                            "stty -a > '%5'\nsleep 30\n");
        host.writeFile("session.sh", lines.arg(host.path("before.txt"), host.path("registry"), host.path("log"),
                                               host.executable(), host.path("after.txt"))
                                         .toUtf8());
        const QStringList start{ "new-session", "-d", "-s", session, "-x", "200", "-y", "50", "sh", script };
        QCOMPARE(QProcess::execute(tmux, start), 0);
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
        QTRY_VERIFY_WITH_TIMEOUT(!host.readFile(host.path("after.txt")).isEmpty(), 15000);
        QProcess::execute(tmux, { "kill-session", "-t", session });
        QCOMPARE(host.readFile(host.path("after.txt")), host.readFile(host.path("before.txt")));
        QVERIFY(host.readFile(host.logFile()).contains("Closing by signal: SIGINT"));
    }

    // A running holder refuses a second instance; once it is killed, its PID
    // file is taken over whatever it says.
    void pidFileHolder()
    {
        Host host("run");
        // A set-up file whose record the refused instance must release again.
        host.setUp({ setupXml("<datadir>@/data</datadir>") });
        QProcess first;
        QVERIFY(host.startReady(first, {}));
        const QString pidFile = host.path("bin/testhost.pid");
        const QByteArray firstPid = QByteArray::number(first.processId());
        QCOMPARE(host.readFile(pidFile), firstPid + '\n');

        // A service, which logs nothing to standard output, says why as well.
        for (const QStringList& arguments : { QStringList(), QStringList{ "-service" } }) {
            QProcess second;
            second.setProcessChannelMode(QProcess::MergedChannels);
            host.start(second, arguments);
            QVERIFY(second.waitForFinished(10000));
            QCOMPARE(second.exitCode(), 255);
            const QByteArray output = second.readAll();
            QVERIFY2(output.contains("service already started with pid file 'testhost.pid' and pid " + firstPid + "."),
                     output.constData());
            QVERIFY2(!output.contains("still alive at exit"), output.constData()); // what the start set up is released
            const QByteArray log = host.readFile(host.logFile());
            QVERIFY(!log.contains("already started"));
            QVERIFY(!log.contains("pid " + QByteArray::number(second.processId())));
            QCOMPARE(host.readFile(pidFile), firstPid + '\n');
        }

        ::kill(pid_t(first.processId()), SIGKILL);
        QVERIFY(first.waitForFinished(10000));
        host.writeFile("bin/testhost.pid", "99999999999\n"); // longer than any real pid
        QProcess third;
        QVERIFY(host.startReady(third, {}));
        QCOMPARE(host.readFile(pidFile).split('\n').first(), QByteArray::number(third.processId()));
        QVERIFY(HostFixture::endBySignal(third, SIGINT));
    }

    void setupFileLayout()
    {
        HostFixture host(QStringLiteral("Kor.Recorder"));
        host.setUp({ "-TESTHOST_LOGDIR", "TESTHOST_MODE=quit",
                     setupXml("<logdir>@/logs</logdir><datadir>@/data</datadir><kordata> @/kordata </kordata>") });
        QByteArray output;
        QCOMPARE(host.run({}, &output), 0);
        const QByteArray log = host.readFile(host.path("logs/Recorder/Kor.Recorder.log"));
        QVERIFY2(log.startsWith("Kor Test Host  8.01.23 with pid "), log.constData());
        QVERIFY(log.contains("current working directory: " + host.path("data/Recorder").toUtf8()));
        QVERIFY(log.contains("MachineId:  " + QByteArray(HostFixture::MachineId)));
        QVERIFY(output.contains("Using data dir from global setup configuration: " + host.path("kordata").toUtf8()));
        QVERIFY(QFile::exists(host.path("data/Recorder/Kor.Recorder.ini")));
        QVERIFY(!QFile::exists(host.path("bin/Kor.Recorder.ini")));
    }

    void secondInterruptDuringShutdown()
    {
        Host host("run");
        host.env().insert("TESTHOST_SLOW_CLOSE", "20000");
        QProcess process;
        QVERIFY(host.startReady(process, {}));
        ::kill(pid_t(process.processId()), SIGINT);
        QVERIFY(HostFixture::waitForOutput(process, "CLOSING"));
        ::kill(pid_t(process.processId()), SIGINT);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    }

    // Console output into a pipe whose reader went away: "| head -n 1".
    void consoleReaderGone()
    {
        Host host("worker");
        host.env().insert("TESTHOST_TICKS", "40");
        QProcess process;
        process.setProcessEnvironment(host.env());
        process.setWorkingDirectory(host.root());
        process.start("bash", { "-c", "\"$0\" | head -n 1 >/dev/null; exit ${PIPESTATUS[0]}", host.executable() });
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 0);
        const QByteArray log = host.readFile(host.logFile());
        QVERIFY2(log.contains("tick 40"), log.constData());
        QCOMPARE(log.count("Console output switched off: Broken pipe"), 1);
        QVERIFY(log.contains("service end with pid"));
        QVERIFY(!QFile::exists(host.path("bin/testhost.pid")));
    }

    void historyLimits_data()
    {
        QTest::addColumn<QString>("folder"); // of the log; empty: none is set
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QStringList>("history"); // this program's history files left
        QTest::addColumn<QByteArray>("line");
        const QStringList all{ "testhost.20240101-000000.log", "testhost.20240201-000000.log",
                               "testhost.20240301-000000.log", "testhost.20240305-140709.log" };
        QTest::newRow("unlimited") << "log/" << QByteArray() << all << QByteArray();
        // The file is then named relative to the folder the program started in,
        // before the working directory changes to the executable's; the
        // history stays beside it.
        QTest::newRow("no log folder") << "" << QByteArray() << all << QByteArray();
        QTest::newRow("two files") << "log/" << QByteArray("LogFileHistoryMaxFiles=2\n") << all.mid(2)
                                   << QByteArray("History file %1testhost.20240201-000000.log deleted");
        QTest::newRow("one megabyte") << "log/" << QByteArray("LogFileHistoryMaxMegabytes=1\n") << all.mid(2)
                                      << QByteArray("the history keeps at most 1048576 bytes");
        QTest::newRow("absurd") << "log/" << QByteArray("LogFileHistoryMaxMegabytes=99999999999999\n") << all
                                << QByteArray("LogFileHistoryMaxMegabytes '99999999999999' is no number");
    }

    // The limits apply when the live file moves into the history at the start;
    // files of other programs in the folder stay.
    void historyLimits()
    {
        QFETCH(QString, folder);
        QFETCH(QByteArray, settings);
        QFETCH(QStringList, history);
        QFETCH(QByteArray, line);
        Host host("quit");
        if (folder.isEmpty())
            host.env().remove("TESTHOST_LOGDIR");
        host.writeFile("app.ini", "[Loglevel]\n" + settings);
        // Last changed when their names say: the history is ordered by that. The
        // live file of the run before is small, and named by its time only then.
        for (const QString name : { "testhost.20240101-000000", "testhost.20240201-000000", "testhost.20240301-000000",
                                    "other.20200101-000000", "testhost.old", "testhost.20240305-140709" }) {
            const bool live = name.endsWith("140709");
            const QString path = folder + (live ? "testhost" : name) + ".log";
            host.writeFile(path, live ? QByteArray("earlier run\n") : QByteArray(600 * 1024, 'x'));
            const QDateTime changed = QDateTime::fromString(name.section('.', 1), "yyyyMMdd-HHmmss");
            QFile file(host.path(path));
            if (changed.isValid())
                QVERIFY(file.open(QIODevice::ReadWrite)
                        && file.setFileTime(changed, QFileDevice::FileModificationTime));
        }
        QCOMPARE(host.run({ "-i", host.path("app.ini") }), 0);
        QCOMPARE(QDir(host.path(folder)).entryList({ "testhost.2*.log" }, QDir::Files, QDir::Name), history);
        QVERIFY(QFile::exists(host.path(folder + "other.20200101-000000.log")));
        QVERIFY(QFile::exists(host.path(folder + "testhost.old.log")));
        QVERIFY(!QFile::exists(host.path("bin/testhost.log")));
        const QByteArray log = host.readFile(host.path(folder + "testhost.log"));
        QVERIFY2(log.contains("service end with pid"), log.constData());
        QVERIFY2(log.contains(line.replace("%1", QFile::encodeName(host.path(folder)))), log.constData());
        QCOMPARE(host.readFile(host.path("app.ini")).contains("History"), settings.contains("History"));
    }
};

QTEST_GUILESS_MAIN(tst_Runtime)
#include "tst_runtime.moc"
