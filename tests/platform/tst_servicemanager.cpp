#include "ServiceManager.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Kor::Platform;

Q_DECLARE_METATYPE(UnitDescription)

namespace {

void writeScript(const QString& path, const QByteArray& body)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\n" + body);
    f.close();
    QVERIFY(f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

} // namespace

// What the service command tests (tst_servicecommands, tst_serviceruntime)
// cannot show through a stand-in manager: exact texts, parsers and failures.
class TestServiceManager : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString& name) const { return m_dir->filePath(name); }

private slots:
    // Each test starts in a fresh folder and with none of the variables set.
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        for (const char* name : {"NOTIFY_SOCKET", "KOR_SYSTEMCTL", "KOR_SYSTEMD_UNIT_DIR"})
            qunsetenv(name);
    }

    // Between them the first two rows leave out and put in every optional
    // line; the others are refused.
    void unitText_data()
    {
        QTest::addColumn<UnitDescription>("unit");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("dependencies and watchdog")
            << UnitDescription{"Recorder", "/opt/kor/bin/rec", "", {"Kor Base", "net-store"}, false, 30, false}
            << QByteArray("[Unit]\nDescription=Recorder\n"
                          "After=Kor\\x20Base.service\nAfter=net\\x2dstore.service\n"
                          "Requires=Kor\\x20Base.service\nRequires=net\\x2dstore.service\n"
                          "\n[Service]\nType=notify\nNotifyAccess=main\n"
                          "ExecStart=\"/opt/kor/bin/rec\" -service\n"
                          "ExecReload=/bin/kill -HUP $MAINPID\n"
                          "WatchdogSec=30\nTimeoutAbortSec=10s\n"
                          "WorkingDirectory=/opt/kor/bin\n"
                          "RuntimeDirectory=Recorder\n"
                          "Restart=on-failure\n"
                          "\n[Install]\nWantedBy=multi-user.target\n");
        QTest::newRow("automatic, user, manager sends the reload signal, odd characters")
            << UnitDescription{"Kor 100%", "/srv/a b/$x%y;z/K\xc3\xb6r", "svc%u", {"Kor Base"}, true, -5, true}
            << QByteArray("[Unit]\nDescription=Kor 100%%\n"
                          "After=Kor\\x20Base.service\nRequires=Kor\\x20Base.service\n"
                          "StartLimitIntervalSec=0\n"
                          "\n[Service]\nType=notify-reload\nNotifyAccess=main\n"
                          "ExecStart=\"/srv/a b/$x%%y;z/K\xc3\xb6r\" -service\n"
                          "WorkingDirectory=/srv/a b/$x%%y;z\n"
                          "RuntimeDirectory=Kor\\\\x20100\\\\x25\n"
                          "User=svc%%u\n"
                          "Restart=on-failure\nRestartSec=60\n"
                          "\n[Install]\nWantedBy=multi-user.target\n");
        const auto refused = [](const char* tag, const char* name, const char* path, const char* user = "",
                                const std::vector<std::string>& dependencies = {}) {
            QTest::newRow(tag) << UnitDescription{name, path, user, dependencies, true, 0, false} << QByteArray();
        };
        refused("empty name", "", "/bin/x");
        refused("relative path", "n", "bin/x");
        refused("line break in name", "n\nExecStartPre=/bin/evil", "/bin/x");
        refused("line break in user", "n", "/bin/x", "u\r");
        refused("double quote in path", "n", "/a\"b/x");
        refused("tab in path", "n", "/a\tb/x");
        refused("empty dependency", "n", "/bin/x", "", {""});
    }
    void unitText()
    {
        QFETCH(UnitDescription, unit);
        QFETCH(QByteArray, text);
        QCOMPARE(QByteArray::fromStdString(systemdUnitText(unit)), text);
    }

    // The host-program tests send to a socket at a path; the manager may
    // name an abstract one as well, bound with the exact length of its name.
    void notifySentToAbstractSocket()
    {
        const std::string address = "@kor-test-notify-" + std::to_string(::getpid());
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        QVERIFY(fd >= 0);
        auto closeSocket = qScopeGuard([fd] { ::close(fd); });
        sockaddr_un sa{};
        sa.sun_family = AF_UNIX;
        std::memcpy(sa.sun_path + 1, address.data() + 1, address.size() - 1);
        const socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + address.size());
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&sa), length), 0);
        qputenv("NOTIFY_SOCKET", QByteArray::fromStdString(address));
        int error = 0;
        QVERIFY(sendNotify(std::string(notifyReady), error));
        char buffer[64];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        QCOMPARE(QByteArray(buffer, int(qMax(n, ssize_t(0)))), QByteArray("READY=1"));
        QVERIFY(!sendNotify("", error));
        QCOMPARE(error, EINVAL);
    }

    void notifyFails_data()
    {
        QTest::addColumn<QByteArray>("address"); // "<unset>", or with DIR for the test folder
        QTest::addColumn<int>("error");
        const qsizetype longest = sizeof(sockaddr_un::sun_path);
        QTest::newRow("unset") << QByteArray("<unset>") << ENXIO;
        QTest::newRow("empty") << QByteArray("") << ENXIO;
        QTest::newRow("nothing there") << QByteArray("DIR/none") << ENOENT;
        QTest::newRow("regular file") << QByteArray("DIR/file") << ECONNREFUSED;
        QTest::newRow("relative") << QByteArray("notify") << EINVAL;
        QTest::newRow("longest path plus one") << "/" + QByteArray(longest - 1, 'p') << ENAMETOOLONG;
        QTest::newRow("over-long abstract") << "@" + QByteArray(longest, 'a') << ENAMETOOLONG;
    }
    void notifyFails()
    {
        QFETCH(QByteArray, address);
        QFETCH(int, error);
        writeScript(path("file"), "");
        if (address != "<unset>")
            qputenv("NOTIFY_SOCKET", address.replace("DIR", m_dir->path().toUtf8()));
        QCOMPARE(notifySocketPresent(), !address.isEmpty() && address != "<unset>");
        int got = 0;
        QVERIFY(!sendNotify("READY=1", got));
        QCOMPARE(got, error);
    }

    // Written with mode 0644 and nothing else left in the folder; a second
    // write leaves the first text; removing twice or outside the folder fails.
    // The service command tests try a folder below a file.
    void unitFileWriteAndRemove()
    {
        const std::string dir = m_dir->path().toStdString();
        const std::string unit = "Kor\\x20Steward.service";
        int error = 0;
        QCOMPARE(writeUnitFile(dir, "x/a.service", "[Unit]\n", error), UnitFileResult::Failed);
        QCOMPARE(error, EINVAL);
        QCOMPARE(writeUnitFile(dir + "/missing", unit, "[Unit]\n", error), UnitFileResult::Failed);
        QCOMPARE(error, ENOENT);
        QCOMPARE(writeUnitFile(dir, unit, "[Unit]\n", error), UnitFileResult::Written);
        struct stat st{};
        QCOMPARE(::stat(QFile::encodeName(path(QString::fromStdString(unit))).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0644));
        QCOMPARE(writeUnitFile(dir, unit, "second", error), UnitFileResult::AlreadyExists);
        QCOMPARE(readAll(path(QString::fromStdString(unit))), QByteArray("[Unit]\n"));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QString::fromStdString(unit)});

        QVERIFY(removeUnitFile(dir, unit, error));
        QVERIFY(QDir(m_dir->path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
        QVERIFY(!removeUnitFile(dir, unit, error));
        QCOMPARE(error, ENOENT);
        QVERIFY(!removeUnitFile(dir, "../a.service", error));
        QCOMPARE(error, EINVAL);
    }

    // No shell in between: each argument arrives as it was given. The input
    // is empty, so a program asking for it does not wait; a large output
    // does not block it.
    void commandResults()
    {
        writeScript(path("tool"), "cat\nfor a in \"$@\"; do echo \"[$a]\"; done\n"
                                  "head -c 200000 /dev/zero | tr '\\0' x\necho refused >&2\nexit 3\n");
        const CommandResult r = runCommand(path("tool").toStdString(), {"a b", "$HOME", "x;y", "*", ""});
        QCOMPARE(r.exitCode, 3);
        QCOMPARE(QByteArray::fromStdString(r.output), "[a b]\n[$HOME]\n[x;y]\n[*]\n[]\n" + QByteArray(200000, 'x'));
        QCOMPARE(r.errors, std::string("refused\n"));
        writeScript(path("tool"), "kill -KILL $$\n");
        QCOMPARE(runCommand(path("tool").toStdString(), {}).exitCode, -1);
        const CommandResult absent = runCommand(path("absent").toStdString(), {});
        QVERIFY(!absent.finished);
        QCOMPARE(absent.error, ENOENT);
    }

    // The script leaves a child behind; the bound must end both.
    void runHangingIsKilled()
    {
        const QString pidFile = path("child.pid");
        writeScript(path("tool"), "sleep 600 &\necho $! > '" + pidFile.toUtf8() + "'\necho started\nwait\n");
        const CommandResult r = runCommand(path("tool").toStdString(), {}, 300);
        QVERIFY(!r.finished);
        QCOMPARE(r.error, ETIMEDOUT);
        QCOMPARE(r.output, std::string("started\n"));
        const pid_t child = pid_t(readAll(pidFile).trimmed().toInt());
        // Once init has reaped it, the orphaned child is gone for good.
        QTRY_VERIFY_WITH_TIMEOUT(::kill(child, 0) != 0 && errno == ESRCH, 10000);
    }

    // The stand-in of tst_servicecommands answers every property whether
    // named or not; a real manager answers only those named.
    void showNamesItsProperties()
    {
        writeScript(path("systemctl"), "echo \"$*\" > '" + path("calls").toUtf8() + "'\n");
        qputenv("KOR_SYSTEMCTL", path("systemctl").toUtf8());
        QVERIFY(systemctlShow("a.service").ok());
        QCOMPARE(readAll(path("calls")),
                 QByteArray("show -p LoadState,ActiveState,SubState,Job,TimeoutStartUSec,TimeoutStopUSec a.service\n"));
    }

    // Each answer as text, "-" for none.
    void parsers_data()
    {
        QTest::addColumn<QByteArray>("parser");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char* parser, const QByteArray& text, const QByteArray& expected) {
            QTest::addRow("%s: %s", parser, text.left(40).replace('\n', ' ').constData())
                << QByteArray(parser) << text << expected;
        };
        row("unit name", "a/b-c", "a\\x2fb\\x2dc.service");
        row("unit name", ".a.b", "\\x2ea.b.service");
        row("unit name", "a:b_c.d", "a:b_c.d.service");
        row("unit name", "a\\x2db", "a\\x5cx2db.service");
        row("unit name", "", "");
        // "<WATCHDOG_USEC>|<WATCHDOG_PID>", either "-" or left out when unset;
        // our pid is 77.
        row("watchdog", "-", "off 0");
        row("watchdog", "3000000", "on 3000000");
        row("watchdog", "500|77", "on 500");
        row("watchdog", "500|", "on 500");
        row("watchdog", "500|78", "other process 0");
        row("watchdog", "500|x", "other process 0");
        for (const char* bad : {"0", "", "10s", "99999999999999999999"})
            row("watchdog", bad, "invalid 0");
        row("status", "line\none\r", "STATUS=line one ");
        row("reloading", "12345678", "RELOADING=1\nMONOTONIC_USEC=12345678");
        row("journal stream", "8:4711", "8 4711");
        row("journal stream", "18446744073709551615:1", "18446744073709551615 1");
        for (const char* bad : {"", "84711", "8:", "8: 4711", "8:47:11", "-8:4711"})
            row("journal stream", bad, "-");
        row("version", "systemd 252 (252.39-1~deb12u2)\n+PAM +AUDIT\n", "252");
        row("version", "stand-in 300\n", "0");
        row("version", "systemd 99999999999999999999999\n", "0");
        row("timespan", "1min 30s", "90000000");
        row("timespan", "infinity", "-");
        row("timespan", "0", "0");
        row("timespan", "1.500000s", "1500000");
        row("timespan", "1y 1month 1w 1d 1h 1min 1s 1ms 1us", "34882261001001");
        for (const char* bad : {"", "90", "-5s", "99999999999999999y"})
            row("timespan", bad, "-");
        // The answer of systemd 252 for a unit with a queued start, lines in
        // its own order; unknown lines and lines without '=' are passed over.
        row("properties",
            "TimeoutStartUSec=1min 30s\nTimeoutStopUSec=infinity\nLoadState=loaded\nActiveState=inactive\n"
            "SubState=dead\nJob=16\nOther=x\ngarbage\r\n",
            "loaded|inactive|dead|16|90000000|-");
        row("properties", "x y z\n", "||||-|-");
        row("load state", "loaded", "1");
        row("load state", "masked", "1");
        row("load state", "not-found", "0");
        row("load state", "", "0");
        // The service state, and the state while a restart after a failure
        // waits, whatever the active state says.
        row("active state", "activating", "2 1");
        row("active state", "active", "4 1");
        row("active state", "reloading", "4 1");
        row("active state", "deactivating", "3 1");
        row("active state", "inactive", "1 1");
        row("active state", "failed", "1 1");
        row("active state", "maintenance", "0 1");
        // Whether the manager is out of reach, and the error its answer means.
        const QByteArray io = QByteArray::number(EIO), missing = QByteArray::number(ENOENT);
        row("manager says", "System has not been booted with systemd as init system (PID 1). Can't operate.\n",
            "1 " + io);
        row("manager says", "Failed to stop a.service: Interactive authentication required.\n",
            "0 " + QByteArray::number(EACCES));
        row("manager says", "Failed to start a.service: Unit a.service not found.\n", "0 " + missing);
        row("manager says", "failed\n", "0 " + io);
    }
    void parsers()
    {
        QFETCH(QByteArray, parser);
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, expected);
        const std::string s = text.toStdString();
        const auto orNone = [](std::optional<std::uint64_t> value) {
            return value ? std::to_string(*value) : std::string("-");
        };
        std::string got;
        if (parser == "unit name") {
            got = systemdUnitName(s);
        } else if (parser == "status") {
            got = notifyStatus(s);
        } else if (parser == "reloading") {
            got = notifyReloading(text.toULongLong());
        } else if (parser == "journal stream") {
            std::uint64_t device = 0, inode = 0;
            got = parseJournalStream(s, device, inode) ? std::to_string(device) + ' ' + std::to_string(inode) : "-";
        } else if (parser == "version") {
            got = std::to_string(parseSystemdVersion(s));
        } else if (parser == "timespan") {
            got = orNone(parseTimespan(s));
        } else if (parser == "properties") {
            const UnitProperties unit = parseUnitProperties(s);
            got = unit.loadState + '|' + unit.activeState + '|' + unit.subState + '|' + unit.job + '|'
                + orNone(unit.startTimeoutUs) + '|' + orNone(unit.stopTimeoutUs);
        } else if (parser == "watchdog") {
            const QList<QByteArray> parts = text.split('|');
            const WatchdogSetting setting = watchdogSetting(parts[0] == "-" ? nullptr : parts[0].constData(),
                                                            parts.size() > 1 ? parts[1].constData() : nullptr, 77);
            static const char* const kinds[] = {"off", "on", "invalid", "other process"};
            got = kinds[setting.kind] + (' ' + std::to_string(setting.intervalUs));
        } else if (parser == "load state") {
            got = unitExists(s) ? "1" : "0";
        } else if (parser == "active state") {
            got = std::to_string(int(serviceStateOf({"", s, "running", "", {}, {}}))) + ' '
                + std::to_string(int(serviceStateOf({"", s, "auto-restart", "", {}, {}})));
        } else if (parser == "manager says") {
            const CommandResult result{true, 1, 0, "", s};
            got = std::to_string(int(managerUnreachable(result))) + ' ' + std::to_string(systemctlError(result));
        }
        QCOMPARE(QByteArray::fromStdString(got), expected);
    }
};

QTEST_GUILESS_MAIN(TestServiceManager)
#include "tst_servicemanager.moc"
