// The start-up sequence, the command line and the run loop, seen from outside:
// a real host program is started and its output, log, PID and settings files read.
#include "HostFixture.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <csignal>

class tst_Runtime : public QObject
{
    Q_OBJECT
private slots:
    void historyLimits_data();
    void historyLimits();
    void listings_data();
    void listings();
    void exitCodes_data();
    void exitCodes();
    void parse_data();
    void parse();
    void badValues_data();
    void badValues();
    void pidFileRelativeToExecutable();
    void pidFileHolder();
    void badSettingsFiles_data();
    void badSettingsFiles();
    void setupFileLayout();
    void uncreatableFolders_data();
    void uncreatableFolders();
    void closingSignals_data();
    void closingSignals();
    void raisedFaultSignalIsReported();
    void secondInterruptDuringShutdown();
    void consoleReaderGone();
    void logFileStaysInStartFolder();
};

// A host in the behaviour TESTHOST_MODE names.
struct Host : HostFixture
{
    explicit Host(const QString& mode) { env().insert(QStringLiteral("TESTHOST_MODE"), mode); }
};

static QStringList lines(const QByteArray& output)
{
    return QString::fromUtf8(output).split(QLatin1Char('\n'));
}

void tst_Runtime::listings_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QStringList>("expected"); // from its first line to the end
    QTest::newRow("help") << "--help" << QStringList{
        "Help:",
        "-h, --help          Display help information",
        "-v, --version       Display version information",
        "-d, --directory     <DIRECTORY>",
        "                    Changes the working directory.",
        "                    If this option is not given, the folder named after the program in the datadir of "
        "setup.xml is used, or the program's own folder when there is no datadir.",
        "-p, --pidfile       <PIDFILE>",
        "                    The complete filename to use as pid file.",
        "                    If PIDFILE is empty, no pid file is used.",
        "-i, --inifile       <INIFILE>",
        "                    The complete filename to use as ini file.",
        "                    If INIFILE is empty, no ini file is used.",
        "-cd, --crashdump    Creates crash dump file on crash",
        "-kb, --keyboard     Activates listening to STDIN (by line)",
        "-service            Run as service.",
        "-install            [ACCOUNT [PASSWORD]]",
        "                    Install as service for the given account",
        "-installInteractive [ACCOUNT [PASSWORD]]",
        "                    Install as service for the given account with option to interact with the desktop",
        "-uninstall          Uninstall from services.",
        "-start              Start installed service",
        "-stop               Stop installed service",
        "-status             Show status of the service",
        "-o, --own           An option of the host",
        "",
    };
    const QString separator(11 + 9, QLatin1Char('-'));
    const QStringList version{ separator, "Test Host    8.01.23", separator, "Kor Core    80.00.00",
                               "Kor Moltrix 12.04.07", "Kor Varnet   3.02.14", separator, "" };
    QTest::newRow("version") << "-v" << version;
    QTest::newRow("version, long name") << "--version" << version;
}

// A listing ends the program before the PID file and the log exist.
void tst_Runtime::listings()
{
    QFETCH(QString, option);
    QFETCH(QStringList, expected);
    HostFixture host;
    QByteArray output;
    QCOMPARE(host.run({ option }, &output), 0);
    const QStringList got = lines(output);
    QCOMPARE(got.mid(got.indexOf(expected.first())), expected);
    QVERIFY(!QFile::exists(host.path("bin/testhost.pid")));
    QVERIFY(!QFile::exists(host.logFile()));
}

void tst_Runtime::exitCodes_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("code");
    QTest::newRow("quit") << "quit" << QStringList() << 0;
    QTest::newRow("exit(3)") << "exit3" << QStringList() << 3;
    QTest::newRow("exit(5) from a thread in the loop") << "exit-from-thread" << QStringList() << 5;
    QTest::newRow("handler finished") << "quit" << QStringList{ "--finish" } << 0;
    QTest::newRow("handler state 7") << "quit" << QStringList{ "--seven" } << 7;
    QTest::newRow("missing slot") << "quit" << QStringList{ "--broken" } << 0;
    QTest::newRow("keyboard, then help") << "quit" << QStringList{ "-kb", "--help" } << 0;
}

void tst_Runtime::exitCodes()
{
    QFETCH(QString, mode);
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    Host host(mode);
    QCOMPARE(host.run(arguments), code);
    QVERIFY(!QFile::exists(host.path("bin/testhost.pid")));
}

void tst_Runtime::parse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("unconsumed"); // after the program path
    QTest::addColumn<QString>("own");
    QTest::newRow("plain words") << QStringList{ "a", "b" } << "|a|b" << "";
    QTest::newRow("case matters") << QStringList{ "--Help", "x", "-help", "--h" } << "|--Help|x|-help|--h" << "";
    QTest::newRow("unknown then known") << QStringList{ "-x", "1", "2", "-o", "v" } << "|-x|1|2" << "v";
    QTest::newRow("extra value dropped") << QStringList{ "-o", "first", "second" } << "" << "first";
    QTest::newRow("negative number is a name") << QStringList{ "-o", "-5" } << "|-5" << "";
    QTest::newRow("given twice") << QStringList{ "-o", "a", "--own", "b" } << "" << "a,b";
    QTest::newRow("lone double dash") << QStringList{ "--", "w" } << "|--|w" << "";
}

void tst_Runtime::parse()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, unconsumed);
    QFETCH(QString, own);
    Host host("args");
    host.env().insert("TESTHOST_MULTI", "1");
    QByteArray output;
    QCOMPARE(host.run(arguments, &output), 0);
    const QStringList got = lines(output);
    QStringList owns;
    for (const QString& line : got)
        if (line.startsWith("OWN:"))
            owns << line.mid(4);
    QCOMPARE(owns.join(','), own);
    const QString args = got.filter(QRegularExpression("^ARGS:")).value(0);
    QCOMPARE(args, "ARGS:" + host.executable() + unconsumed);
}

void tst_Runtime::badValues_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("line"); // @ is the host's folder
    QTest::addColumn<int>("code");
    QTest::newRow("-d without value") << QStringList{ "-d" } << "Invalid working directory" << 0;
    QTest::newRow("-d missing absolute") << QStringList{ "-d", "/no/such/folder" } << "Path '/no/such/folder' does not exist" << 0;
    QTest::newRow("-p without value") << QStringList{ "-p" } << "Invalid pid file" << 0;
    QTest::newRow("-p twice emptied") << QStringList{ "-p", "", "-p", "x" } << "No pid file defined" << 0;
    QTest::newRow("-i without value") << QStringList{ "-i" } << "Invalid ini file" << 0;
    QTest::newRow("-i empty") << QStringList{ "-i", "" } << "No ini file defined" << 0;
    // A folder below a regular file cannot exist, whoever runs the test.
    QTest::newRow("pid folder unwritable") << QStringList{ "-p", "@/plainfile/x.pid" }
                                           << "service can not start with pid file '@/plainfile/x.pid': Not a directory" << 255;
    // The name then points at the folder itself, which no stream opens.
    QTest::newRow("pid file name empty") << QStringList{ "-p", "" }
                                         << "service can not start with pid file '@/bin': Is a directory" << 255;
}

void tst_Runtime::badValues()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, line);
    QFETCH(int, code);
    Host host("quit");
    host.writeFile("plainfile", "x");
    QByteArray output;
    QCOMPARE(host.run(arguments.replaceInStrings("@", host.root()), &output), code);
    QVERIFY2(output.contains(line.replace("@", host.root()).toUtf8()), output.constData());
    QVERIFY(!output.contains("service start with pid"));
}

void tst_Runtime::pidFileRelativeToExecutable()
{
    Host host("run");
    QProcess process;
    QVERIFY(host.startReady(process, { "-p", "other.pid", "-d", host.path("log") }));
    QVERIFY(QFile::exists(host.path("bin/other.pid")));
    QVERIFY(!QFile::exists(host.path("log/other.pid")));
    QVERIFY(HostFixture::endBySignal(process, SIGTERM));
    QVERIFY(!QFile::exists(host.path("bin/other.pid")));
    QVERIFY(host.readFile(host.logFile()).contains("current working directory: " + host.path("log").toUtf8()));
}

static QByteArray setupXml(const QByteArray& settings);

// A running holder refuses a second instance; once it is killed, its PID
// file is taken over whatever it says.
void tst_Runtime::pidFileHolder()
{
    Host host("run");
    // A set-up file whose record the refused instance must release again.
    host.writeFile("updater/setup.xml", setupXml("<datadir>" + host.path("data").toUtf8() + "</datadir>"));
    QProcess first;
    QVERIFY(host.startReady(first, {}));
    const QString pidFile = host.path("bin/testhost.pid");
    const QByteArray firstPid = QByteArray::number(first.processId());
    QCOMPARE(host.readFile(pidFile), firstPid + '\n');

    QProcess second;
    second.setProcessChannelMode(QProcess::MergedChannels);
    host.start(second, {});
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

    ::kill(pid_t(first.processId()), SIGKILL);
    QVERIFY(first.waitForFinished(10000));
    QVERIFY(QFile::exists(pidFile));
    host.writeFile("bin/testhost.pid", "99999999999\n"); // longer than any real pid
    QProcess third;
    QVERIFY(host.startReady(third, {}));
    QCOMPARE(host.readFile(pidFile).split('\n').first(), QByteArray::number(third.processId()));
    QVERIFY(HostFixture::endBySignal(third, SIGINT));
}

static QByteArray setupXml(const QByteArray& settings)
{
    return "<?xml version=\"1.0\"?>\n<Setup><Settings>" + settings + "</Settings></Setup>\n";
}

void tst_Runtime::setupFileLayout()
{
    HostFixture host(QStringLiteral("Kor.Recorder"));
    host.env().remove("TESTHOST_LOGDIR");
    host.env().insert("TESTHOST_MODE", "quit");
    host.writeFile("updater/setup.xml",
                   setupXml("<logdir>" + host.path("logs").toUtf8() + "</logdir><datadir>"
                                      + host.path("data").toUtf8() + "</datadir><kordata> "
                                      + host.path("kordata").toUtf8() + " </kordata>"));
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

void tst_Runtime::uncreatableFolders_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<bool>("createFolders");
    QTest::addColumn<QString>("fatalPath");
    QTest::newRow("data dir") << QByteArray("<datadir>@/blocked</datadir>") << false << "blocked/testhost";
    QTest::newRow("kordata") << QByteArray("<kordata>@/blocked/root</kordata>") << true << "blocked/root/ActiveCompressions";
}

void tst_Runtime::uncreatableFolders()
{
    QFETCH(QByteArray, settings);
    QFETCH(bool, createFolders);
    QFETCH(QString, fatalPath);
    Host host("run");
    host.writeFile("blocked", "a regular file, so nothing can be created below it");
    if (createFolders)
        host.env().insert("TESTHOST_CREATE_FOLDERS", "1");
    host.writeFile("updater/setup.xml", setupXml(settings.replace("@", host.root().toUtf8())));
    QByteArray output;
    // main() returns 1001; a process exit status keeps its low eight bits.
    QCOMPARE(host.run({}, &output), 1001 & 0xFF);
    QVERIFY2(output.contains("Fatal error: Configured path " + host.path(fatalPath).toUtf8()
                             + " does not exist and could not be created"), output.constData());
}

void tst_Runtime::badSettingsFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("not INI") << QByteArray("\x00\xff[[[=\n=\n[Loglevel\nGlobal") << QStringList();
    QTest::newRow("cannot be written") << QByteArray() << QStringList{ "-i", "@/plainfile/app.ini" };
}

void tst_Runtime::badSettingsFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, arguments);
    Host host("quit");
    host.writeFile("plainfile", "x");
    if (!content.isNull())
        host.writeFile("bin/testhost.ini", content);
    arguments.replaceInStrings("@", host.root());
    QCOMPARE(host.run(arguments), 0);
    const QByteArray log = host.readFile(host.logFile());
    QVERIFY(log.contains("service start with pid"));
    QVERIFY(log.contains("service end with pid"));
}

void tst_Runtime::closingSignals_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("mode");
    QTest::newRow("SIGINT") << int(SIGINT) << "SIGINT" << "run";
    QTest::newRow("SIGTERM") << int(SIGTERM) << "SIGTERM" << "run";
    QTest::newRow("SIGHUP") << int(SIGHUP) << "SIGHUP" << "run";
    QTest::newRow("SIGQUIT") << int(SIGQUIT) << "SIGQUIT" << "run";
    // A long init() polls quitting(); the event loop does not run yet.
    QTest::newRow("SIGTERM during init") << int(SIGTERM) << "SIGTERM" << "long-init";
}

void tst_Runtime::closingSignals()
{
    QFETCH(int, signalNumber);
    QFETCH(QString, name);
    QFETCH(QString, mode);
    Host host(mode);
    QProcess process;
    QVERIFY(host.startReady(process, {}));
    QVERIFY(HostFixture::endBySignal(process, signalNumber));
    if (mode == "long-init")
        QVERIFY(process.readAllStandardOutput().contains("QUIT SEEN IN INIT"));
    const QByteArray log = host.readFile(host.logFile());
    QVERIFY2(log.contains("Closing by signal: " + name.toUtf8()), log.constData());
    QVERIFY(log.indexOf("Closing by signal") < log.indexOf("service end with pid"));
    QVERIFY(!QFile::exists(host.path("bin/testhost.pid")));
}

void tst_Runtime::raisedFaultSignalIsReported()
{
    Host host("raise");
    QByteArray output;
    QCOMPARE(host.run({}, &output), 0);
    QVERIFY2(output.contains("STILL RUNNING"), output.constData());
    QVERIFY(host.readFile(host.logFile()).contains("Received signal: SIGFPE"));
}

void tst_Runtime::secondInterruptDuringShutdown()
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
void tst_Runtime::consoleReaderGone()
{
    Host host("chatter");
    QProcess process;
    process.setProcessEnvironment(host.env());
    process.setWorkingDirectory(host.root());
    process.start("bash", { "-c", "\"$0\" | head -n 1 >/dev/null; exit ${PIPESTATUS[0]}", host.executable() });
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 0);
    const QByteArray log = host.readFile(host.logFile());
    QVERIFY2(log.contains("chatter 39"), log.constData());
    QCOMPARE(log.count("Console output switched off: Broken pipe"), 1);
    QVERIFY(log.contains("service end with pid"));
    QVERIFY(!QFile::exists(host.path("bin/testhost.pid")));
}

// Without a log folder the file is named relative to the folder the program
// started in, before the working directory changes to the executable's;
// the file and its history stay together there.
void tst_Runtime::logFileStaysInStartFolder()
{
    Host host("quit");
    host.env().remove("TESTHOST_LOGDIR");
    for (int run = 0; run < 2; ++run)
        QCOMPARE(host.run({}), 0);
    QVERIFY(host.readFile(host.path("testhost.log")).contains("service end with pid"));
    QVERIFY(!QFile::exists(host.path("bin/testhost.log")));
    const QStringList history = QDir(host.root()).entryList({ "testhost.*.log" }, QDir::Files);
    QCOMPARE(history.size(), 1);
}

void tst_Runtime::historyLimits_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QStringList>("history"); // this program's history files left
    QTest::addColumn<QByteArray>("line");
    const QStringList all{ "testhost.20240101-000000.log", "testhost.20240201-000000.log",
                           "testhost.20240301-000000.log", "testhost.20240305-140709.log" };
    QTest::newRow("unlimited") << QByteArray() << all << QByteArray();
    QTest::newRow("two files") << QByteArray("LogFileHistoryMaxFiles=2\n") << all.mid(2)
                               << QByteArray("History file " + QByteArray("%1") + "/testhost.20240201-000000.log deleted");
    QTest::newRow("one megabyte") << QByteArray("LogFileHistoryMaxMegabytes=1\n") << all.mid(2)
                                  << QByteArray("the history keeps at most 1048576 bytes");
    QTest::newRow("absurd") << QByteArray("LogFileHistoryMaxMegabytes=99999999999999\n") << all
                            << QByteArray("LogFileHistoryMaxMegabytes '99999999999999' is no number");
}

// The limits apply when the live file moves into the history at the start;
// files of other programs in the folder stay.
void tst_Runtime::historyLimits()
{
    QFETCH(QByteArray, settings);
    QFETCH(QStringList, history);
    QFETCH(QByteArray, line);
    Host host("quit");
    host.writeFile("app.ini", "[Loglevel]\n" + settings);
    const QByteArray half(600 * 1024, 'x');
    for (const char* old : { "log/testhost.20240101-000000.log", "log/testhost.20240201-000000.log",
                             "log/testhost.20240301-000000.log", "log/other.20200101-000000.log",
                             "log/testhost.old.log" }) {
        host.writeFile(old, half);
        // Last changed when their names say: the history is ordered by that.
        const QDateTime changed = QDateTime::fromString(QString::fromLatin1(old).section('.', 1, 1), "yyyyMMdd-HHmmss");
        QFile file(host.path(old));
        if (changed.isValid())
            QVERIFY(file.open(QIODevice::ReadWrite) && file.setFileTime(changed, QFileDevice::FileModificationTime));
    }
    host.writeFile("log/testhost.log", "earlier run\n");
    QFile live(host.logFile());
    QVERIFY(live.open(QIODevice::ReadWrite));
    QVERIFY(live.setFileTime(QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)), QFileDevice::FileModificationTime));
    live.close();
    QCOMPARE(host.run({ "-i", host.path("app.ini") }), 0);
    const QStringList left = QDir(host.path("log")).entryList({ "testhost.2*.log" }, QDir::Files, QDir::Name);
    QCOMPARE(left, history);
    QVERIFY(QFile::exists(host.path("log/other.20200101-000000.log")));
    QVERIFY(QFile::exists(host.path("log/testhost.old.log")));
    const QByteArray log = host.readFile(host.logFile());
    if (!line.isEmpty())
        QVERIFY2(log.contains(line.replace("%1", QFile::encodeName(host.path("log")))), log.constData());
    QCOMPARE(host.readFile(host.path("app.ini")).contains("History"), settings.contains("History"));
}

QTEST_GUILESS_MAIN(tst_Runtime)
#include "tst_runtime.moc"
