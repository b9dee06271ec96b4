// The service commands -install ... -status, run by a real host program
// against a unit folder of its own and a stand-in control program that keeps
// each unit's state in a file.
#include "HostFixture.h"
#include "ServiceControlCommands_p.h"

#include <QTest>

using namespace Kor::NS;

namespace {

// Answers like the control program for the calls the commands make. States
// live in <state>/<unit>; a unit is loaded when its file is in the unit
// folder; <unit>.job holds a pending job as "<queries left> <state after>".
// STUB_MODE: "slow" stays activating with a job for two queries after a
// start, "queued" keeps the old state with a job for two queries, "hang"
// keeps its job for ever, "auto-restart" fails at start and waits to be
// restarted, "fail" fails every call, "fail-enable" fails only enable,
// "garbage" answers every query with nonsense, "nobus" finds no manager,
// "denied" is refused every change. STUB_VERSION: the systemd version.
const QByteArray stubScript = R"SH(#!/bin/sh
state="$STUB_STATE"
echo "$*" >> "$state/calls"
[ "$STUB_MODE" = fail ] && { echo "failed" >&2; exit 1; }
[ "$STUB_MODE" = nobus ] && { echo "Failed to connect to bus: No such file or directory" >&2; exit 1; }
case "$1" in
enable|disable|start|stop)
    [ "$STUB_MODE" = denied ] && { echo "Failed to $1 unit: Access denied" >&2; exit 1; } ;;
esac
case "$1" in
--version) echo "systemd $STUB_VERSION (stub)"; echo "+PAM" ;;
daemon-reload|disable) ;;
enable) [ "$STUB_MODE" = fail-enable ] && exit 1 ;;
start) rm -f "$state/$3.sub"
    case "$STUB_MODE" in
    slow) echo activating > "$state/$3"; echo "2 active" > "$state/$3.job" ;;
    queued) echo "2 active" > "$state/$3.job" ;;
    hang) echo "1000000 active" > "$state/$3.job" ;;
    auto-restart) echo activating > "$state/$3"; echo auto-restart > "$state/$3.sub" ;;
    *) echo active > "$state/$3" ;;
    esac ;;
stop) rm -f "$state/$3.sub"
    if [ "$STUB_MODE" = queued ]; then echo "2 inactive" > "$state/$3.job"; else echo inactive > "$state/$3"; fi ;;
show)
    [ "$STUB_MODE" = garbage ] && { echo 'x y z'; exit 0; }
    unit=$4 job=
    if [ -e "$state/$unit.job" ]; then
        read left after < "$state/$unit.job"
        if [ "$left" -le 0 ]; then rm "$state/$unit.job"; echo "$after" > "$state/$unit"
        else echo "$((left - 1)) $after" > "$state/$unit.job"; job=7; fi
    fi
    echo "TimeoutStartUSec=1min 30s"
    echo "TimeoutStopUSec=infinity"
    if [ -e "$KOR_SYSTEMD_UNIT_DIR/$unit" ]; then echo LoadState=loaded; else echo LoadState=not-found; fi
    if [ -e "$state/$unit" ]; then echo "ActiveState=$(cat "$state/$unit")"; else echo ActiveState=inactive; fi
    if [ -e "$state/$unit.sub" ]; then echo "SubState=$(cat "$state/$unit.sub")"; else echo SubState=dead; fi
    echo "Job=$job" ;;
*) exit 1 ;;
esac
exit 0
)SH";

const char* const testUnit = "Kor\\x20Test\\x20Host.service";

class ServiceHost : public HostFixture
{
public:
    ServiceHost()
    {
        QDir(root()).mkpath(QStringLiteral("units"));
        QDir(root()).mkpath(QStringLiteral("state"));
        writeFile(QStringLiteral("systemctl"), stubScript);
        QFile(path(QStringLiteral("systemctl"))).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env().insert(QStringLiteral("KOR_SYSTEMD_UNIT_DIR"), path(QStringLiteral("units")));
        env().insert(QStringLiteral("KOR_SYSTEMCTL"), path(QStringLiteral("systemctl")));
        env().insert(QStringLiteral("STUB_STATE"), path(QStringLiteral("state")));
        env().insert(QStringLiteral("TESTHOST_MODE"), QStringLiteral("quit"));
    }

    // Runs one command; it must end the program with the exit code given:
    // 0 when it did what was asked, 1 when not.
    QByteArray command(const QStringList& arguments, int expectedCode = 0) const
    {
        QByteArray output;
        const int code = run(arguments, &output);
        if (code != expectedCode)
            qWarning("%s ended with %d: %s", qPrintable(arguments.join(' ')), code, output.constData());
        return code == expectedCode ? output : QByteArray("exit code ") + QByteArray::number(code);
    }
    QString unitFile(const QString& unit = QLatin1String(testUnit)) const { return path("units/" + unit); }
    QByteArray calls() const { return readFile(path(QStringLiteral("state/calls"))); }
};

// The output is taken once: it may be a command's run.
#define VERIFY_SAID(output, text)                                                                                    \
    do {                                                                                                               \
        const QByteArray said_ = (output);                                                                             \
        QVERIFY2(said_.contains(text), said_.constData());                                                             \
    } while (false)

} // namespace

class tst_ServiceCommands : public QObject
{
    Q_OBJECT
private slots:
    void stateNames_data()
    {
        QTest::addColumn<qulonglong>("state");
        QTest::addColumn<QString>("name");
        const char* const known[] = { "SERVICE_STOPPED",         "SERVICE_START_PENDING",    "SERVICE_STOP_PENDING",
                                      "SERVICE_RUNNING",         "SERVICE_CONTINUE_PENDING", "SERVICE_PAUSE_PENDING",
                                      "SERVICE_PAUSED" };
        for (qulonglong state = 1; state <= 7; ++state)
            QTest::addRow("%llu", state) << state << QString::fromLatin1(known[state - 1]);
        QTest::newRow("0") << 0ull << "UNKNOWN (0x00000000)";
        QTest::newRow("8") << 8ull << "UNKNOWN (0x00000008)";
        QTest::newRow("all bits") << 0xFFFFFFFFull << "UNKNOWN (0xFFFFFFFF)";
    }
    void stateNames()
    {
        QFETCH(qulonglong, state);
        QFETCH(QString, name);
        QCOMPARE(serviceStateName(static_cast<unsigned long>(state)), name);
    }

    void dependencyNames_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("empty") << QString() << QStringList();
        QTest::newRow("NUL separated, blanks kept")
            << QString::fromUtf8("Kor Steward\0Kor Keeper\0\0", 24) << QStringList{ "Kor Steward", "Kor Keeper" };
        QTest::newRow("NUL wins over ';'")
            << QString::fromUtf8("a;b\0c\0", 6) << QStringList{ "a;b", "c" };
        QTest::newRow("semicolons, blanks kept") << "Kor Steward; Kor Keeper;" << QStringList{ "Kor Steward", "Kor Keeper" };
        QTest::newRow("one name with blanks") << " Kor  Keeper " << QStringList{ "Kor  Keeper" };
        QTest::newRow("only blanks, NUL ended") << QString::fromUtf8(" \0\t\0", 4) << QStringList();
        QTest::newRow("only blanks, ';' separated") << " ; \t;" << QStringList();
        QTest::newRow("twice named once") << "a;b;a" << QStringList{ "a", "b" };
    }
    void dependencyNames()
    {
        QFETCH(QString, list);
        QFETCH(QStringList, names);
        QCOMPARE(serviceDependencyNames(list), names);
    }

    void install_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QByteArray>("user");
        QTest::addColumn<bool>("sibling");
        QTest::addColumn<bool>("passwordIgnored");
        QTest::newRow("own name, default account")
            << "Kor Test Host" << QStringList{ "-install" } << testUnit << QByteArray() << false << false;
        QTest::newRow("account") << "Kor Test Host" << QStringList{ "-installInteractive", "kor" } << testUnit
                                 << QByteArray("kor") << false << false;
        QTest::newRow("account, password, extra value") << "Kor Test Host" << QStringList{ "-install", "kor", "secret", "x" }
                                                        << testUnit << QByteArray("kor") << false << true;
        QTest::newRow("sibling") << "Kor Keeper" << QStringList{ "-install" } << "Kor\\x20Keeper.service" << QByteArray()
                                 << true << false;
        QTest::newRow("sibling name in other case")
            << "kor keeper" << QStringList{ "-install" } << "kor\\x20keeper.service" << QByteArray() << false << false;
    }
    // The unit text itself is checked line by line in tst_servicemanager;
    // here: that the command fills it from the program and its arguments.
    void install()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, arguments);
        QFETCH(QString, unit);
        QFETCH(QByteArray, user);
        QFETCH(bool, sibling);
        QFETCH(bool, passwordIgnored);
        ServiceHost host;
        host.env().insert("TESTHOST_SERVICE_NAME", name);
        host.env().insert("TESTHOST_SERVICE_DEPENDENCIES", "Kor Base;Kor Other");
        const QByteArray output = host.command(arguments);
        VERIFY_SAID(output, "Looking up service control manager");
        VERIFY_SAID(output, "The service is installed.");
        QCOMPARE(output.contains("password was ignored"), passwordIgnored);
        QCOMPARE(output.contains("Setting service failure actions"), sibling);

        const QByteArray text = host.readFile(host.unitFile(unit));
        VERIFY_SAID(text, "Description=" + name.toUtf8() + "\n");
        VERIFY_SAID(text, "ExecStart=\"" + host.executable().toUtf8() + "\" -service\n");
        VERIFY_SAID(text, "After=Kor\\x20Base.service\nAfter=Kor\\x20Other.service\n");
        QCOMPARE(text.contains("\nUser="), !user.isEmpty());
        if (!user.isEmpty())
            VERIFY_SAID(text, "\nUser=" + user + "\n");
        QVERIFY(!text.contains("secret"));
        VERIFY_SAID(text, "\n[Install]\nWantedBy=multi-user.target\n");
        VERIFY_SAID(text, "RuntimeDirectory=" + unit.chopped(8).replace("\\", "\\\\").toUtf8() + "\n");

        const QByteArray calls = host.calls();
        VERIFY_SAID(calls, "daemon-reload\n");
        QCOMPARE(calls.contains("enable " + unit.toUtf8() + "\n"), sibling);
    }

    void installTwice()
    {
        ServiceHost host;
        host.command({ "-install" });
        const QByteArray first = host.readFile(host.unitFile());
        const QByteArray output = host.command({ "-install", "other" });
        VERIFY_SAID(output, "The service was already installed.");
        QVERIFY(!output.contains("The service is installed."));
        QCOMPARE(host.readFile(host.unitFile()), first);
    }

    void installWatchdog_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QByteArray>("unitLine");
        QTest::addColumn<bool>("complaint");
        QTest::newRow("no setting") << QByteArray("[Other]\nx=1\n") << QByteArray() << false;
        QTest::newRow("off") << QByteArray("[Service]\nWatchdogSec=0\n") << QByteArray() << false;
        QTest::newRow("30 seconds") << QByteArray("[Service]\nWatchdogSec=30\n") << QByteArray("WatchdogSec=30\n") << false;
        QTest::newRow("negative") << QByteArray("[Service]\nWatchdogSec=-4\n") << QByteArray() << true;
        QTest::newRow("not a number") << QByteArray("[Service]\nWatchdogSec=half\n") << QByteArray() << true;
    }
    // The setting is read at install and never written back.
    void installWatchdog()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QByteArray, unitLine);
        QFETCH(bool, complaint);
        ServiceHost host;
        host.writeFile("app.ini", settings);
        const QByteArray output = host.command({ "-i", host.path("app.ini"), "-install" });
        VERIFY_SAID(output, "The service is installed.");
        QCOMPARE(output.contains("Service/WatchdogSec '"), complaint);
        const QByteArray text = host.readFile(host.unitFile());
        QCOMPARE(text.contains("WatchdogSec="), !unitLine.isEmpty());
        if (!unitLine.isEmpty())
            VERIFY_SAID(text, unitLine);
        QCOMPARE(host.readFile(host.path("app.ini")).contains("WatchdogSec"), settings.contains("WatchdogSec"));
    }

    void installFailures_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QByteArray>("said");
        QTest::addColumn<bool>("unitLeft");
        // The unit folder below a plain file cannot exist, whoever runs the test.
        QTest::newRow("unit folder unusable") << "Kor Test Host" << "" << QByteArray("Could not install service. error = 20")
                                              << false;
        QTest::newRow("reload fails") << "Kor Test Host" << "fail" << QByteArray("Could not install service. error = 5")
                                      << false;
        QTest::newRow("enable fails") << "Kor Sweeper" << "fail-enable"
                                      << QByteArray("Could not set service failure actions; error = 5") << true;
        QTest::newRow("line break in the name")
            << "Kor\nHost" << "" << QByteArray("Could not install service. error = 22") << false;
    }
    void installFailures()
    {
        QFETCH(QString, name);
        QFETCH(QString, mode);
        QFETCH(QByteArray, said);
        QFETCH(bool, unitLeft);
        ServiceHost host;
        host.env().insert("TESTHOST_SERVICE_NAME", name);
        host.env().insert("STUB_MODE", mode);
        if (QTest::currentDataTag() == QByteArray("unit folder unusable")) {
            host.writeFile("plain", "x");
            host.env().insert("KOR_SYSTEMD_UNIT_DIR", host.path("plain/units"));
        }
        const QByteArray output = host.command({ "-install" }, 1);
        VERIFY_SAID(output, said);
        QVERIFY(!output.contains("The service is installed."));
        if (mode == "fail-enable")
            VERIFY_SAID(output, "Could not install service. error = 5");
        QCOMPARE(QDir(host.path("units")).entryList(QDir::Files | QDir::Hidden).size(), unitLeft ? 1 : 0);
    }

    void lifecycle()
    {
        ServiceHost host;
        VERIFY_SAID(host.command({ "-install" }), "The service is installed.");
        VERIFY_SAID(host.command({ "-status" }), "Status is 'SERVICE_STOPPED'");
        VERIFY_SAID(host.command({ "-start" }), "The service is started.");
        VERIFY_SAID(host.command({ "-status" }), "Status is 'SERVICE_RUNNING'");
        VERIFY_SAID(host.command({ "-stop" }), "The service is stopped.");
        VERIFY_SAID(host.command({ "-start" }), "The service is started.");

        const QByteArray output = host.command({ "-uninstall" });
        VERIFY_SAID(output, "The service is stopped.\n");
        VERIFY_SAID(output, "The service is deleted.");
        QVERIFY(!QFile::exists(host.unitFile()));
        const QByteArray calls = host.calls();
        const QByteArray unit(testUnit);
        VERIFY_SAID(calls, "start --no-block " + unit + "\n");
        VERIFY_SAID(calls, "stop --no-block " + unit + "\n");
        VERIFY_SAID(calls, "disable " + unit + "\n");
        QVERIFY(calls.lastIndexOf("disable ") < calls.lastIndexOf("daemon-reload"));

        VERIFY_SAID(host.command({ "-status" }, 1), "Could not find service. error = 2");
    }

    // Pending while the job is there, whatever the state reads meanwhile:
    // one query finds the manager, three more see the job end.
    void waitsWhileJobPending_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("said");
        QTest::newRow("start, activating") << "slow" << "-start" << QByteArray("The service is started.");
        QTest::newRow("start, still inactive") << "queued" << "-start" << QByteArray("The service is started.");
        QTest::newRow("stop, still active") << "queued" << "-stop" << QByteArray("The service is stopped.");
    }
    void waitsWhileJobPending()
    {
        QFETCH(QString, mode);
        QFETCH(QString, command);
        QFETCH(QByteArray, said);
        ServiceHost host;
        host.command({ "-install" });
        host.command({ "-start" });
        host.env().insert("STUB_MODE", mode);
        const qsizetype before = host.calls().count("show -p ");
        VERIFY_SAID(host.command({ command }), said);
        QCOMPARE(host.calls().count("show -p ") - before, 4);
    }

    // A wait for a job that does not end is ended by Ctrl+C.
    void interruptedWait()
    {
        ServiceHost host;
        host.command({ "-install" });
        host.env().insert("STUB_MODE", "hang");
        QProcess process;
        host.start(process, { "-start" });
        QTRY_VERIFY_WITH_TIMEOUT(host.calls().count("show -p ") >= 3, 15000);
        ::kill(pid_t(process.processId()), SIGINT);
        QVERIFY(process.waitForFinished(15000));
        QVERIFY(!process.readAll().contains("The service is started."));
    }

    void installReloadType_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("managerReloads");
        QTest::newRow("252") << "252" << false;
        QTest::newRow("253") << "253" << true;
        QTest::newRow("no version") << "" << false;
    }
    void installReloadType()
    {
        QFETCH(QString, version);
        QFETCH(bool, managerReloads);
        ServiceHost host;
        host.env().insert("STUB_VERSION", version);
        VERIFY_SAID(host.command({ "-install" }), "The service is installed.");
        const QByteArray text = host.readFile(host.unitFile());
        VERIFY_SAID(text, managerReloads ? "Type=notify-reload\n" : "Type=notify\n");
        QCOMPARE(text.contains("ExecReload="), !managerReloads);
        VERIFY_SAID(host.calls(), "--version\n");
    }

    // No unit installed, or no control program to ask: nothing is started,
    // stopped or written.
    void noService_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("managerThere");
        QTest::addColumn<QByteArray>("said");
        for (const char* command : { "-uninstall", "-start", "-stop", "-status" }) {
            QTest::addRow("%s, not installed", command) << command << true << QByteArray("Could not find service. error = 2\n");
            QTest::addRow("%s, no manager", command) << command << false << QByteArray("Could not find service. error = 5\n");
        }
        QTest::newRow("-install, no manager") << "-install" << false << QByteArray("Could not install service. error = 5\n");
    }
    void noService()
    {
        QFETCH(QString, command);
        QFETCH(bool, managerThere);
        QFETCH(QByteArray, said);
        ServiceHost host;
        if (!managerThere)
            host.env().insert("KOR_SYSTEMCTL", host.path("no-such-systemctl"));
        const QByteArray output = host.command({ command }, 1);
        VERIFY_SAID(output, "Looking up service control manager");
        QCOMPARE(output.contains("Could not contact service control manager."), !managerThere);
        VERIFY_SAID(output, said);
        QVERIFY(!host.calls().contains("--no-block"));
        QVERIFY(!QFile::exists(host.unitFile()));
    }

    // The control program answers oddly, or the unit does not do what was
    // asked. "before" runs first, in the same mode.
    void badAnswers_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("said");
        QTest::addColumn<int>("code");
        const auto row = [](const char* tag, const char* mode, const char* command, const char* said, int code = 1,
                            const char* before = "") {
            QTest::newRow(tag) << mode << before << command << QByteArray(said) << code;
        };
        row("garbage status", "garbage", "-status", "Could not query service status. error = 74");
        row("garbage start", "garbage", "-start", "The service could not be started. error = 74");
        row("failing status", "fail", "-status", "Could not query service status. error = 5");
        row("failing start", "fail", "-start", "The service could not be started. error = 5");
        row("failing stop", "fail", "-stop", "The service could not be stopped. error = 5");
        row("failing uninstall", "fail", "-uninstall",
            "The service could not be stopped. error = 5\nThe service could not be deleted. error = 5");
        row("start fails, restart waits", "auto-restart", "-start", "The service could not be started. error = 5");
        row("status while the restart waits", "auto-restart", "-status", "Status is 'SERVICE_STOPPED'", 0, "-start");
        row("stop while the restart waits", "auto-restart", "-stop", "The service is stopped.", 0, "-start");
        row("start refused", "denied", "-start", "The service could not be started. error = 13");
        row("stop refused", "denied", "-stop", "The service could not be stopped. error = 13");
        row("uninstall refused", "denied", "-uninstall",
            "The service could not be stopped. error = 13\nThe service could not be deleted. error = 13");
        for (const char* command : { "-uninstall", "-start", "-stop", "-status" })
            QTest::addRow("%s, no bus", command) << "nobus" << "" << command
                                                 << QByteArray("Could not contact service control manager.\n"
                                                               "Could not find service. error = 5")
                                                 << 1;
        row("-install, no bus", "nobus", "-install",
            "Could not contact service control manager.\nCould not install service. error = 5");
    }
    void badAnswers()
    {
        QFETCH(QString, mode);
        QFETCH(QString, before);
        QFETCH(QString, command);
        QFETCH(QByteArray, said);
        QFETCH(int, code);
        ServiceHost host;
        host.command({ "-install" });
        host.env().insert("STUB_MODE", mode);
        if (!before.isEmpty())
            host.run({ before });
        const QByteArray output = host.command({ command }, code);
        // Each line carries the log's prefix; compare the texts line by line.
        for (const QByteArray& line : said.split('\n'))
            VERIFY_SAID(output, line);
        QVERIFY(QFile::exists(host.unitFile()));
    }

    // The escaping itself is checked in tst_servicemanager; here: that every
    // command finds the unit under the escaped name.
    void oddNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("unit");
        QTest::newRow("non-ASCII") << QString::fromUtf8("Kör") << "K\\xc3\\xb6r.service";
        QTest::newRow("1024 characters") << QString(1024, QLatin1Char('n')) << QString(1024, QLatin1Char('n')) + ".service";
    }
    void oddNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, unit);
        ServiceHost host;
        host.env().insert("TESTHOST_SERVICE_NAME", name);
        const QByteArray output = host.command({ "-install" }, unit.size() > 255 ? 1 : 0);
        if (unit.size() > 255) {
            // Longer than a file name may be: refused with the file system's word.
            VERIFY_SAID(output, "Could not install service. error = 36");
            VERIFY_SAID(host.command({ "-status" }, 1), "Could not find service. error = 2");
            return;
        }
        VERIFY_SAID(output, "The service is installed.");
        QVERIFY(QFile::exists(host.unitFile(unit)));
        VERIFY_SAID(host.command({ "-start" }), "The service is started.");
        VERIFY_SAID(host.command({ "-uninstall" }), "The service is deleted.");
        QVERIFY(!QFile::exists(host.unitFile(unit)));
    }
};

QTEST_GUILESS_MAIN(tst_ServiceCommands)
#include "tst_servicecommands.moc"
