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
case "$STUB_MODE:$1" in
fail:*) echo "failed" >&2; exit 1 ;;
nobus:*) echo "Failed to connect to bus: No such file or directory" >&2; exit 1 ;;
denied:enable|denied:disable|denied:start|denied:stop) echo "Failed to $1 unit: Access denied" >&2; exit 1 ;;
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
    printf 'TimeoutStartUSec=1min 30s\nTimeoutStopUSec=infinity\n'
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
        setUp({ "KOR_SYSTEMD_UNIT_DIR=@/units", "KOR_SYSTEMCTL=@/systemctl", "STUB_STATE=@/state",
                "TESTHOST_MODE=quit" });
    }

    // The text of every file in the unit folder.
    QByteArray unitText() const
    {
        QByteArray text;
        for (const QString& name : QDir(path("units")).entryList(QDir::Files | QDir::Hidden))
            text += readFile(path("units/" + name));
        return text;
    }
    QByteArray calls() const { return readFile(path(QStringLiteral("state/calls"))); }
};

} // namespace

class tst_ServiceCommands : public QObject
{
    Q_OBJECT
private slots:
    void stateNames()
    {
        QCOMPARE(serviceStateName(1), QStringLiteral("SERVICE_STOPPED"));
        QCOMPARE(serviceStateName(7), QStringLiteral("SERVICE_PAUSED"));
        QCOMPARE(serviceStateName(0), QStringLiteral("UNKNOWN (0x00000000)"));
        QCOMPARE(serviceStateName(8), QStringLiteral("UNKNOWN (0x00000008)"));
        QCOMPARE(serviceStateName(0xFFFFFFFF), QStringLiteral("UNKNOWN (0xFFFFFFFF)"));
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

    void commands_data()
    {
        QTest::addColumn<QStringList>("steps");
        const QString deps = "TESTHOST_SERVICE_DEPENDENCIES=Kor Base;Kor Other";
        const QStringList installed{ "said:Looking up service control manager", "said:The service is installed.",
                                     "unit:ExecStart=\"@/bin/testhost\" -service\n",
                                     "unit:After=Kor\\x20Base.service\nAfter=Kor\\x20Other.service\n",
                                     "unit:\n[Install]\nWantedBy=multi-user.target\n", "calls:daemon-reload\n",
                                     "!unit:secret" };
        // The unit text itself is checked line by line in tst_servicemanager;
        // here: that the command fills it from the program and its arguments.
        QTest::newRow("install, own name, default account")
            << QStringList{ deps, "-install", "unit:Description=Kor Test Host\n", "!unit:\nUser=",
                            "unit:RuntimeDirectory=Kor\\\\x20Test\\\\x20Host\n", "!said:password was ignored",
                            "!said:Setting service failure actions", "!calls:enable " } + installed;
        QTest::newRow("install, account")
            << QStringList{ deps, "-installInteractive kor", "unit:\nUser=kor\n", "!said:password was ignored" }
                + installed;
        QTest::newRow("install, account, password, extra value")
            << QStringList{ deps, "-install kor secret x", "unit:\nUser=kor\n", "said:password was ignored" }
                + installed;
        QTest::newRow("install, sibling")
            << QStringList{ deps, "TESTHOST_SERVICE_NAME=Kor Keeper", "-install", "unit:Description=Kor Keeper\n",
                            "unit:RuntimeDirectory=Kor\\\\x20Keeper\n", "said:Setting service failure actions",
                            "calls:enable Kor\\x20Keeper.service\n" } + installed;
        QTest::newRow("install, sibling name in other case")
            << QStringList{ deps, "TESTHOST_SERVICE_NAME=kor keeper", "-install",
                            "unit:RuntimeDirectory=kor\\\\x20keeper\n", "!said:Setting service failure actions",
                            "!calls:enable " } + installed;
        QTest::newRow("install twice") << QStringList{ "-install", "-install other",
                                                       "said:The service was already installed.",
                                                       "!said:The service is installed.", "!unit:User=" };

        // The watchdog setting is read at install and never written back.
        const QString install = "-i @/app.ini -install";
        QTest::newRow("watchdog, no setting") << QStringList{ "app.ini=[Other]\nx=1\n", install, "!unit:WatchdogSec=",
                                                              "!said:Service/WatchdogSec '", "!app.ini:WatchdogSec" };
        QTest::newRow("watchdog off") << QStringList{ "app.ini=[Service]\nWatchdogSec=0\n", install,
                                                      "said:The service is installed.", "!unit:WatchdogSec=" };
        QTest::newRow("watchdog 30 seconds") << QStringList{ "app.ini=[Service]\nWatchdogSec=30\n", install,
                                                             "unit:WatchdogSec=30\n", "!said:Service/WatchdogSec '" };
        QTest::newRow("watchdog not a number") << QStringList{ "app.ini=[Service]\nWatchdogSec=half\n", install,
                                                               "said:Service/WatchdogSec '", "!unit:WatchdogSec=" };
        QTest::newRow("reload type, version 253")
            << QStringList{ "STUB_VERSION=253", "-install", "unit:Type=notify-reload\n", "!unit:ExecReload=" };

        QTest::newRow("install, reload fails") << QStringList{ "STUB_MODE=fail", "1 -install", "!unit:ExecStart",
                                                               "said:Could not install service. error = 5" };
        QTest::newRow("install, enable fails")
            << QStringList{ "TESTHOST_SERVICE_NAME=Kor Sweeper", "STUB_MODE=fail-enable", "1 -install",
                            "unit:ExecStart", "said:Could not set service failure actions; error = 5",
                            "said:Could not install service. error = 5", "!said:The service is installed." };
        QTest::newRow("install, line break in the name")
            << QStringList{ "TESTHOST_SERVICE_NAME=Kor\nHost", "1 -install", "said:Could not install service. error = 22",
                            "!unit:ExecStart" };

        QTest::newRow("lifecycle")
            << QStringList{ "-install", "-status", "said:Status is 'SERVICE_STOPPED'", "-start",
                            "said:The service is started.", "-status", "said:Status is 'SERVICE_RUNNING'", "-stop",
                            "said:The service is stopped.", "-start", "-uninstall", "said:The service is stopped.\n",
                            "said:The service is deleted.", "!unit:ExecStart",
                            "calls:start --no-block Kor\\x20Test\\x20Host.service\n",
                            "calls:stop --no-block Kor\\x20Test\\x20Host.service\n",
                            "calls:disable Kor\\x20Test\\x20Host.service\ndaemon-reload\n", "1 -status",
                            "said:Could not find service. error = 2" };
        // Longer than a file name may be: refused with the file system's word.
        QTest::newRow("1024 characters") << QStringList{ "TESTHOST_SERVICE_NAME=" + QString(1024, 'n'), "1 -install",
                                                         "said:Could not install service. error = 36", "1 -status",
                                                         "said:Could not find service. error = 2" };

        // Pending while the job is there, whatever the state reads meanwhile:
        // one query finds the manager, three more see the job end.
        QTest::newRow("start, activating") << QStringList{ "-install", "STUB_MODE=slow", "-start",
                                                           "said:The service is started.", "queries:4" };
        QTest::newRow("start, still inactive") << QStringList{ "-install", "STUB_MODE=queued", "-start",
                                                               "said:The service is started.", "queries:4" };
        QTest::newRow("stop, still active") << QStringList{ "-install", "-start", "STUB_MODE=queued", "-stop",
                                                            "said:The service is stopped.", "queries:4" };

        // No unit installed, or no manager to ask (a missing control program is
        // tst_servicemanager's): nothing is started, stopped or written.
        for (const QString command : { "-uninstall", "-start", "-stop", "-status" }) {
            QTest::addRow("%s, not installed", qPrintable(command))
                << QStringList{ "1 " + command, "said:Looking up service control manager",
                                "!said:Could not contact service control manager.",
                                "said:Could not find service. error = 2\n", "!calls:--no-block", "!unit:ExecStart" };
            QTest::addRow("%s, no bus", qPrintable(command))
                << QStringList{ "-install", "STUB_MODE=nobus", "1 " + command,
                                "said:Could not contact service control manager.",
                                "said:Could not find service. error = 5", "unit:ExecStart" };
        }
        QTest::newRow("-install, no bus") << QStringList{ "STUB_MODE=nobus", "1 -install",
                                                          "said:Could not contact service control manager.",
                                                          "said:Could not install service. error = 5" };

        // The control program answers oddly, or the unit does not do what was asked.
        const auto odd = [](const char* tag, const char* mode, const QStringList& steps) {
            QTest::newRow(tag) << QStringList{ "-install", QString("STUB_MODE=") + mode } + steps
                    + QStringList{ "unit:ExecStart" };
        };
        odd("garbage start", "garbage", { "1 -start", "said:The service could not be started. error = 74" });
        odd("failing status", "fail", { "1 -status", "said:Could not query service status. error = 5" });
        odd("failing uninstall", "fail", { "1 -uninstall", "said:The service could not be stopped. error = 5",
                                           "said:The service could not be deleted. error = 5" });
        odd("start fails, restart waits", "auto-restart",
            { "1 -start", "said:The service could not be started. error = 5" });
        odd("status while the restart waits", "auto-restart",
            { "1 -start", "-status", "said:Status is 'SERVICE_STOPPED'" });
        odd("stop while the restart waits", "auto-restart", { "1 -start", "-stop", "said:The service is stopped." });
        odd("uninstall refused", "denied", { "1 -uninstall", "said:The service could not be stopped. error = 13",
                                             "said:The service could not be deleted. error = 13" });
    }
    // Runs the steps in order: "-command values" runs the host, which must end
    // with 0 ("1 -command": with 1); "KEY=value" and "file=content" set up
    // (HostFixture::setUp()); "place:text" checks that the text is in the last
    // command's output (said), the unit folder's files (unit), the control
    // program's calls (calls) or a file; '!' in front: it is not. "queries:n":
    // the last command asked n times. @ is the host's folder.
    void commands()
    {
        QFETCH(QStringList, steps);
        ServiceHost host;
        QByteArray said;
        qsizetype queries = 0;
        for (QString step : steps) {
            step.replace('@', host.root());
            const qsizetype colon = step.indexOf(':');
            const qsizetype equals = step.indexOf('=');
            if (step.startsWith('-') || step.at(0).isDigit()) {
                const int code = step.at(0).isDigit() ? step.section(' ', 0, 0).toInt() : 0;
                queries = host.calls().count("show -p ");
                QVERIFY2(host.run(step.split(' ').mid(step.at(0).isDigit() ? 1 : 0), &said) == code, said.constData());
                continue;
            }
            if (equals >= 0 && (colon < 0 || equals < colon)) {
                host.setUp({ step });
                continue;
            }
            const bool absent = step.startsWith('!');
            const QString place = step.left(colon).remove('!');
            const QByteArray text = step.mid(colon + 1).toUtf8();
            if (place == "queries") {
                QCOMPARE(host.calls().count("show -p ") - queries, text.toInt());
            } else {
                const QByteArray in = place == "said" ? said
                    : place == "unit"                 ? host.unitText()
                    : place == "calls"                ? host.calls()
                                                      : host.readFile(host.path(place));
                QVERIFY2(in.contains(text) != absent, qPrintable(step + " in:\n" + in));
            }
        }
    }

    // A wait for a job that does not end is ended by Ctrl+C.
    void interruptedWait()
    {
        ServiceHost host;
        QCOMPARE(host.run({ "-install" }), 0);
        host.env().insert("STUB_MODE", "hang");
        QProcess process;
        host.start(process, { "-start" });
        QTRY_VERIFY_WITH_TIMEOUT(host.calls().count("show -p ") >= 3, 15000);
        ::kill(pid_t(process.processId()), SIGINT);
        QVERIFY(process.waitForFinished(15000));
        QVERIFY(!process.readAll().contains("The service is started."));
    }

};

QTEST_GUILESS_MAIN(tst_ServiceCommands)
#include "tst_servicecommands.moc"
