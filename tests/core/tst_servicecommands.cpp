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
// folder. STUB_MODE: "slow" stays activating for two queries after a start,
// "fail" fails every call, "fail-enable" fails only enable, "garbage" answers
// every query with nonsense.
const QByteArray stubScript = R"(#!/bin/sh
state="$STUB_STATE"
echo "$*" >> "$state/calls"
[ "$STUB_MODE" = fail ] && { echo "failed" >&2; exit 1; }
case "$1" in
daemon-reload|disable) exit 0 ;;
enable) [ "$STUB_MODE" = fail-enable ] && exit 1; exit 0 ;;
start) if [ "$STUB_MODE" = slow ]; then echo activating > "$state/$3"; echo 2 > "$state/$3.left"
       else echo active > "$state/$3"; fi ;;
stop) echo inactive > "$state/$3" ;;
show)
    [ "$STUB_MODE" = garbage ] && { echo 'x y z'; exit 0; }
    if [ "$3" = LoadState ]; then
        if [ -e "$KOR_SYSTEMD_UNIT_DIR/$5" ]; then echo loaded; else echo not-found; fi
    elif [ -e "$state/$5.left" ]; then
        left=$(cat "$state/$5.left")
        if [ "$left" -le 0 ]; then rm "$state/$5.left"; echo active > "$state/$5"; else echo $((left - 1)) > "$state/$5.left"; fi
        cat "$state/$5"
    elif [ -e "$state/$5" ]; then cat "$state/$5"
    else echo inactive; fi ;;
*) exit 1 ;;
esac
exit 0
)";

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

    // Runs one command; it must end the program with 0.
    QByteArray command(const QStringList& arguments) const
    {
        QByteArray output;
        const int code = run(arguments, &output);
        if (code != 0)
            qWarning("%s ended with %d: %s", qPrintable(arguments.join(' ')), code, output.constData());
        return code == 0 ? output : QByteArray("exit code ") + QByteArray::number(code);
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
        QTest::newRow("semicolons, blanks kept") << "Kor Steward; Kor Keeper;" << QStringList{ "Kor Steward", "Kor Keeper" };
        QTest::newRow("blanks") << " a  b\tc " << QStringList{ "a", "b", "c" };
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
        QCOMPARE(text.contains("[Install]\nWantedBy=multi-user.target\n"), sibling);

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
        const QByteArray output = host.command({ "-install" });
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

        VERIFY_SAID(host.command({ "-status" }), "Could not find service. error = 2");
    }

    void startWaitsWhilePending()
    {
        ServiceHost host;
        host.command({ "-install" });
        host.env().insert("STUB_MODE", "slow");
        VERIFY_SAID(host.command({ "-start" }), "The service is started.");
        QCOMPARE(host.calls().count("show -p ActiveState"), 3);
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
            QTest::addRow("%s, no manager", command) << command << false << QByteArray("Could not find service. error = 2\n");
        }
        QTest::newRow("-install, no manager") << "-install" << false << QByteArray("Could not install service. error = 2\n");
    }
    void noService()
    {
        QFETCH(QString, command);
        QFETCH(bool, managerThere);
        QFETCH(QByteArray, said);
        ServiceHost host;
        if (!managerThere)
            host.env().insert("KOR_SYSTEMCTL", host.path("no-such-systemctl"));
        const QByteArray output = host.command({ command });
        VERIFY_SAID(output, "Looking up service control manager");
        QCOMPARE(output.contains("Could not contact service control manager."), !managerThere);
        VERIFY_SAID(output, said);
        QVERIFY(!host.calls().contains("--no-block"));
        QVERIFY(!QFile::exists(host.unitFile()));
    }

    void badAnswers_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("said");
        QTest::newRow("garbage status") << "garbage" << "-status" << QByteArray("Could not query service status. error = 74");
        QTest::newRow("garbage start") << "garbage" << "-start" << QByteArray("The service could not be started. error = 74");
        QTest::newRow("failing status") << "fail" << "-status" << QByteArray("Could not query service status. error = 5");
        QTest::newRow("failing start") << "fail" << "-start" << QByteArray("The service could not be started. error = 5");
        QTest::newRow("failing stop") << "fail" << "-stop" << QByteArray("The service could not be stopped. error = 5");
        QTest::newRow("failing uninstall") << "fail" << "-uninstall"
                                           << QByteArray("The service could not be stopped. error = 5\n"
                                                         "The service could not be deleted. error = 5");
    }
    void badAnswers()
    {
        QFETCH(QString, mode);
        QFETCH(QString, command);
        QFETCH(QByteArray, said);
        ServiceHost host;
        host.command({ "-install" });
        host.env().insert("STUB_MODE", mode);
        const QByteArray output = host.command({ command });
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
        const QByteArray output = host.command({ "-install" });
        if (unit.size() > 255) {
            // Longer than a file name may be: refused with the file system's word.
            VERIFY_SAID(output, "Could not install service. error = 36");
            VERIFY_SAID(host.command({ "-status" }), "Could not find service. error = 2");
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
