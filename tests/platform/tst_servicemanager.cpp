#include "ServiceManager.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <memory>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Kor::Platform;

namespace {

// Receives the datagrams a service would send to its manager.
class NotifyReceiver
{
public:
    // An abstract socket ('@' and its name), bound with the exact length the
    // sender must use.
    explicit NotifyReceiver(const std::string& address)
    {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un sa{};
        sa.sun_family = AF_UNIX;
        std::memcpy(sa.sun_path + 1, address.data() + 1, address.size() - 1);
        const socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + address.size());
        m_bound = m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&sa), length) == 0;
    }
    ~NotifyReceiver()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool bound() const { return m_bound; }
    // The next datagram, or "<none>" when none arrives within a few seconds.
    QByteArray receive()
    {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) != 1)
            return "<none>";
        char buffer[4096];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        return n < 0 ? QByteArray("<error>") : QByteArray(buffer, int(n));
    }

private:
    int m_fd = -1;
    bool m_bound = false;
};

void writeScript(const QString& path, const QByteArray& body)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\n" + body);
    f.close();
    QVERIFY(f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

QStringList entries(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

} // namespace

class TestServiceManager : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString& name) const { return m_dir->filePath(name); }

private slots:
    // Each test starts in a fresh folder and with none of the variables set;
    // the read-only folder some leave is empty, so it goes with its parent.
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        for (const char* name : {"NOTIFY_SOCKET", "KOR_SYSTEMCTL", "KOR_SYSTEMD_UNIT_DIR"})
            qunsetenv(name);
    }

    void unitName_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("unit");
        QTest::newRow("plain") << QByteArray("KorSteward") << QByteArray("KorSteward.service");
        QTest::newRow("dash") << QByteArray("-") << QByteArray("\\x2d.service");
        QTest::newRow("slash") << QByteArray("a/b") << QByteArray("a\\x2fb.service");
        QTest::newRow("leading dot") << QByteArray(".a.b") << QByteArray("\\x2ea.b.service");
        QTest::newRow("kept punctuation") << QByteArray("a:b_c.d") << QByteArray("a:b_c.d.service");
        QTest::newRow("backslash") << QByteArray("a\\x2db") << QByteArray("a\\x5cx2db.service");
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("1024 blanks") << QByteArray(1024, ' ') << QByteArray("\\x20").repeated(1024) + ".service";
    }
    void unitName()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, unit);
        QCOMPARE(QByteArray::fromStdString(systemdUnitName(name.toStdString())), unit);
    }

    // Between them the rows leave out and put in every optional line.
    void unitText_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("user");
        QTest::addColumn<QStringList>("dependencies");
        QTest::addColumn<bool>("automatic");
        QTest::addColumn<int>("watchdog");
        QTest::addColumn<bool>("notifyReload");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("with user and dependencies")
            << QByteArray("Recorder") << QByteArray("/opt/kor/bin/rec") << QByteArray("kor")
            << QStringList{"Kor Base", "net-store"} << false << 0 << false
            << QByteArray("[Unit]\nDescription=Recorder\n"
                          "After=Kor\\x20Base.service\nAfter=net\\x2dstore.service\n"
                          "Requires=Kor\\x20Base.service\nRequires=net\\x2dstore.service\n"
                          "\n[Service]\nType=notify\nNotifyAccess=main\n"
                          "ExecStart=\"/opt/kor/bin/rec\" -service\n"
                          "ExecReload=/bin/kill -HUP $MAINPID\n"
                          "WorkingDirectory=/opt/kor/bin\n"
                          "RuntimeDirectory=Recorder\n"
                          "User=kor\n"
                          "\n[Install]\nWantedBy=multi-user.target\n");
        QTest::newRow("sibling with watchdog")
            << QByteArray("Kor Steward") << QByteArray("/opt/kor/bin/Kor Steward") << QByteArray() << QStringList()
            << true << 30 << false
            << QByteArray("[Unit]\nDescription=Kor Steward\nStartLimitIntervalSec=0\n"
                          "\n[Service]\nType=notify\nNotifyAccess=main\n"
                          "ExecStart=\"/opt/kor/bin/Kor Steward\" -service\n"
                          "ExecReload=/bin/kill -HUP $MAINPID\n"
                          "WatchdogSec=30\nTimeoutAbortSec=10s\n"
                          "WorkingDirectory=/opt/kor/bin\n"
                          "RuntimeDirectory=Kor\\\\x20Steward\n"
                          "Restart=on-failure\nRestartSec=60\n"
                          "\n[Install]\nWantedBy=multi-user.target\n");
        QTest::newRow("watchdog alone, manager sends the reload signal")
            << QByteArray("rec") << QByteArray("/opt/rec") << QByteArray() << QStringList() << false << 5 << true
            << QByteArray("[Unit]\nDescription=rec\n"
                          "\n[Service]\nType=notify-reload\nNotifyAccess=main\n"
                          "ExecStart=\"/opt/rec\" -service\n"
                          "WatchdogSec=5\nTimeoutAbortSec=10s\n"
                          "WorkingDirectory=/opt\n"
                          "RuntimeDirectory=rec\n"
                          "Restart=on-failure\n"
                          "\n[Install]\nWantedBy=multi-user.target\n");
        QTest::newRow("sibling with user and dependency, odd characters")
            << QByteArray("Kor 100%") << QByteArray("/srv/a b/$x%y;z/K\xc3\xb6r") << QByteArray("svc%u")
            << QStringList{"Kor Base"} << true << -5 << true
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
    }
    void unitText()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, user);
        QFETCH(QStringList, dependencies);
        QFETCH(bool, automatic);
        QFETCH(int, watchdog);
        QFETCH(bool, notifyReload);
        QFETCH(QByteArray, text);
        UnitDescription unit{name.toStdString(), path.toStdString(), user.toStdString(), {}, automatic, watchdog,
                             notifyReload};
        for (const QString& d : dependencies)
            unit.dependencies.push_back(d.toStdString());
        QCOMPARE(QByteArray::fromStdString(systemdUnitText(unit)), text);
    }

    void unitTextRefused_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("user");
        QTest::addColumn<QByteArray>("dependency");
        const auto row = [](const char* tag, const char* name, const char* path, const char* user = "",
                            const char* dependency = "a") {
            QTest::newRow(tag) << QByteArray(name) << QByteArray(path) << QByteArray(user) << QByteArray(dependency);
        };
        row("empty name", "", "/bin/x");
        row("empty path", "n", "");
        row("relative path", "n", "bin/x");
        row("line break in name", "n\nExecStartPre=/bin/evil", "/bin/x");
        row("line break in path", "n", "/bin/x\n");
        row("line break in user", "n", "/bin/x", "u\r");
        row("double quote in path", "n", "/a\"b/x");
        row("single quote in path", "n", "/a'b/x");
        row("backslash in path", "n", "/a\\b/x");
        row("tab in path", "n", "/a\tb/x");
        row("empty dependency", "n", "/bin/x", "", "");
    }
    void unitTextRefused()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, user);
        QFETCH(QByteArray, dependency);
        const UnitDescription unit{name.toStdString(), path.toStdString(), user.toStdString(),
                                   {dependency.toStdString()}, true};
        QCOMPARE(systemdUnitText(unit), std::string());
    }

    // Every character the unit text escapes, so that systemd's reading of the
    // text is checked too: verify fails when the executable is not found.
    void unitTextVerifies()
    {
        const QString analyze = QStandardPaths::findExecutable("systemd-analyze");
        if (analyze.isEmpty())
            QSKIP("systemd-analyze is not installed; the unit text is not checked by systemd");
        const QString folder = path("bin 1 $x %y;z");
        QVERIFY(QDir().mkpath(folder));
        writeScript(folder + "/Kor Steward", "exit 0\n");
        const std::string dir = m_dir->path().toStdString();
        int error = 0;
        // The dependency must exist for the check to pass.
        QCOMPARE(writeUnitFile(dir, systemdUnitName("Kor Base"),
                               "[Unit]\nDescription=base\n[Service]\nExecStart=/bin/true\n", error),
                 UnitFileResult::Written);
        const UnitDescription unit{"Kor Steward", (folder + "/Kor Steward").toStdString(), "root", {"Kor Base"}, true};
        const std::string name = systemdUnitName(unit.serviceName);
        QCOMPARE(writeUnitFile(dir, name, systemdUnitText(unit), error), UnitFileResult::Written);

        QProcess verify;
        verify.setProcessChannelMode(QProcess::MergedChannels);
        verify.start(analyze, {"verify", path(QString::fromStdString(name))});
        QVERIFY(verify.waitForFinished(60000));
        const QByteArray said = verify.readAll();
        if (said.contains("Failed to initialize manager") || said.contains("Operation not permitted"))
            QSKIP(qPrintable("systemd-analyze cannot run here: " + said));
        QVERIFY2(verify.exitCode() == 0, said.constData());
        QVERIFY2(said.trimmed().isEmpty(), said.constData());
    }

    // The host-program tests send to a socket at a path; the manager may
    // name an abstract one as well.
    void notifySentToAbstractSocket()
    {
        const std::string address = "@kor-test-notify-" + std::to_string(::getpid());
        NotifyReceiver receiver(address);
        QVERIFY(receiver.bound());
        qputenv("NOTIFY_SOCKET", QByteArray::fromStdString(address));
        QVERIFY(notifySocketPresent());
        int error = 0;
        QVERIFY(sendNotify(std::string(notifyReady), error));
        QCOMPARE(receiver.receive(), QByteArray("READY=1"));
    }

    void notifyFails_data()
    {
        QTest::addColumn<QByteArray>("address"); // "<unset>", or with DIR for the test folder
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<int>("error");
        const qsizetype longest = sizeof(sockaddr_un::sun_path);
        QTest::newRow("unset") << QByteArray("<unset>") << QByteArray("READY=1") << ENXIO;
        QTest::newRow("empty") << QByteArray("") << QByteArray("READY=1") << ENXIO;
        QTest::newRow("nothing there") << QByteArray("DIR/none") << QByteArray("READY=1") << ENOENT;
        QTest::newRow("regular file") << QByteArray("DIR/file") << QByteArray("READY=1") << ECONNREFUSED;
        QTest::newRow("relative") << QByteArray("notify") << QByteArray("READY=1") << EINVAL;
        QTest::newRow("over-long path") << "/" + QByteArray(longest, 'p') << QByteArray("READY=1") << ENAMETOOLONG;
        QTest::newRow("longest path plus one") << "/" + QByteArray(longest - 1, 'p') << QByteArray("READY=1")
                                               << ENAMETOOLONG;
        QTest::newRow("over-long abstract") << "@" + QByteArray(longest, 'a') << QByteArray("READY=1") << ENAMETOOLONG;
        QTest::newRow("empty message") << QByteArray("@kor-unused") << QByteArray() << EINVAL;
    }
    void notifyFails()
    {
        QFETCH(QByteArray, address);
        QFETCH(QByteArray, message);
        QFETCH(int, error);
        QFile file(path("file"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        if (address != "<unset>")
            qputenv("NOTIFY_SOCKET", address.replace("DIR", m_dir->path().toUtf8()));
        QCOMPARE(notifySocketPresent(), !address.isEmpty() && address != "<unset>");
        int got = 0;
        QVERIFY(!sendNotify(message.toStdString(), got));
        QCOMPARE(got, error);
    }

    // The rest of the assignments are checked where the service status
    // builds its datagrams.
    void notifyMessages()
    {
        QCOMPARE(notifyStatus("line\none\r"), std::string("STATUS=line one "));
        QCOMPARE(notifyReloading(12345678), std::string("RELOADING=1\nMONOTONIC_USEC=12345678"));
    }

    void watchdogSettings_data()
    {
        QTest::addColumn<QByteArray>("usec"); // null: not set
        QTest::addColumn<QByteArray>("pid");
        QTest::addColumn<int>("kind");
        QTest::addColumn<qulonglong>("interval");
        const int off = WatchdogSetting::Off, on = WatchdogSetting::On, invalid = WatchdogSetting::Invalid,
                  other = WatchdogSetting::OtherProcess;
        QTest::newRow("not set") << QByteArray() << QByteArray() << off << 0ull;
        QTest::newRow("ours, no pid") << QByteArray("3000000") << QByteArray() << on << 3000000ull;
        QTest::newRow("ours by pid") << QByteArray("500") << QByteArray("77") << on << 500ull;
        QTest::newRow("empty pid") << QByteArray("500") << QByteArray("") << on << 500ull;
        QTest::newRow("other pid") << QByteArray("500") << QByteArray("78") << other << 0ull;
        QTest::newRow("pid garbage") << QByteArray("500") << QByteArray("x") << other << 0ull;
        QTest::newRow("zero") << QByteArray("0") << QByteArray() << invalid << 0ull;
        QTest::newRow("empty") << QByteArray("") << QByteArray() << invalid << 0ull;
        QTest::newRow("negative") << QByteArray("-1") << QByteArray() << invalid << 0ull;
        QTest::newRow("trailing text") << QByteArray("10s") << QByteArray() << invalid << 0ull;
        QTest::newRow("overflow") << QByteArray("99999999999999999999") << QByteArray() << invalid << 0ull;
    }
    void watchdogSettings()
    {
        QFETCH(QByteArray, usec);
        QFETCH(QByteArray, pid);
        QFETCH(int, kind);
        QFETCH(qulonglong, interval);
        const WatchdogSetting setting = watchdogSetting(usec.isNull() ? nullptr : usec.constData(),
                                                        pid.isNull() ? nullptr : pid.constData(), 77);
        QCOMPARE(int(setting.kind), kind);
        QCOMPARE(qulonglong(setting.intervalUs), interval);
    }

    void journalStream_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<qulonglong>("device");
        QTest::addColumn<qulonglong>("inode");
        QTest::newRow("plain") << QByteArray("8:4711") << true << 8ull << 4711ull;
        QTest::newRow("large") << QByteArray("18446744073709551615:1") << true << 18446744073709551615ull << 1ull;
        for (const char* bad : {"", "84711", "8:", "8: 4711", "8:47:11", "-8:4711"})
            QTest::newRow(bad) << QByteArray(bad) << false << 0ull << 0ull;
    }
    void journalStream()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, valid);
        QFETCH(qulonglong, device);
        QFETCH(qulonglong, inode);
        std::uint64_t gotDevice = 0, gotInode = 0;
        QCOMPARE(parseJournalStream(text.toStdString(), gotDevice, gotInode), valid);
        if (valid) {
            QCOMPARE(qulonglong(gotDevice), device);
            QCOMPARE(qulonglong(gotInode), inode);
        }
    }

    // Written with mode 0644 and nothing else left in the folder; a second
    // write leaves the first text; removing twice or outside the folder fails.
    void unitFileWriteAndRemove()
    {
        const std::string dir = m_dir->path().toStdString();
        const std::string unit = "Kor\\x20Steward.service";
        int error = 0;
        QCOMPARE(writeUnitFile(dir, unit, "[Unit]\n", error), UnitFileResult::Written);
        struct stat st{};
        QCOMPARE(::stat(QFile::encodeName(path(QString::fromStdString(unit))).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0644));
        QCOMPARE(writeUnitFile(dir, unit, "second", error), UnitFileResult::AlreadyExists);
        QCOMPARE(readAll(path(QString::fromStdString(unit))), QByteArray("[Unit]\n"));
        QCOMPARE(entries(m_dir->path()), QStringList{QString::fromStdString(unit)});

        QVERIFY(removeUnitFile(dir, unit, error));
        QCOMPARE(entries(m_dir->path()), QStringList());
        QVERIFY(!removeUnitFile(dir, unit, error));
        QCOMPARE(error, ENOENT);
        QVERIFY(!removeUnitFile(dir, "../a.service", error));
        QCOMPARE(error, EINVAL);
    }

    void writeUnitFails_data()
    {
        QTest::addColumn<QString>("folder"); // below the test folder
        QTest::addColumn<QByteArray>("unit");
        QTest::addColumn<int>("error");
        QTest::newRow("read-only folder") << "ro" << QByteArray("a.service") << EACCES;
        QTest::newRow("missing folder") << "missing" << QByteArray("a.service") << ENOENT;
        QTest::newRow("folder is a file") << "file" << QByteArray("a.service") << ENOTDIR;
        QTest::newRow("name with slash") << "rw" << QByteArray("x/a.service") << EINVAL;
        QTest::newRow("empty name") << "rw" << QByteArray() << EINVAL;
    }
    void writeUnitFails()
    {
        QFETCH(QString, folder);
        QFETCH(QByteArray, unit);
        QFETCH(int, error);
        QVERIFY(QDir(m_dir->path()).mkdir("ro"));
        QVERIFY(QDir(m_dir->path()).mkdir("rw"));
        QVERIFY(QFile::setPermissions(path("ro"), QFile::ReadOwner | QFile::ExeOwner));
        QFile file(path("file"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        if (folder == "ro" && ::geteuid() == 0)
            QSKIP("Permissions do not bind the superuser");

        int got = 0;
        QCOMPARE(writeUnitFile(path(folder).toStdString(), unit.toStdString(), "[Unit]\n", got),
                 UnitFileResult::Failed);
        QCOMPARE(got, error);
        QCOMPARE(entries(path("ro")), QStringList());
        QCOMPARE(entries(path("rw")), QStringList());
    }

    // The overrides themselves are used by every service command test.
    void defaultLocations()
    {
        QCOMPARE(systemdUnitDirectory(), std::string("/etc/systemd/system"));
        QCOMPARE(systemctlProgram(), std::string("systemctl"));
    }

    void commandResults_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QByteArray>("errors");
        const auto row = [](const char* tag, const char* body, int exitCode, const QByteArray& output,
                            const char* errors = "", const QStringList& arguments = {}) {
            QTest::newRow(tag) << QByteArray(body) << arguments << exitCode << output << QByteArray(errors);
        };
        row("success", "echo active\n", 0, "active\n");
        row("failure with message", "echo partial\necho refused >&2\nexit 3\n", 3, "partial\n", "refused\n");
        row("large output", "head -c 200000 /dev/zero | tr '\\0' x\n", 0, QByteArray(200000, 'x'));
        row("killed by a signal", "kill -KILL $$\n", -1, "");
        row("reads empty input", "cat\n", 0, "");
        // No shell in between: each argument arrives as it was given.
        row("arguments verbatim", "for a in \"$@\"; do echo \"[$a]\"; done\n", 0, "[a b]\n[$HOME]\n[x;y]\n[*]\n[]\n", "",
            {"a b", "$HOME", "x;y", "*", ""});
    }
    void commandResults()
    {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, output);
        QFETCH(QByteArray, errors);
        writeScript(path("tool"), body);
        std::vector<std::string> args;
        for (const QString& a : arguments)
            args.push_back(a.toStdString());
        const CommandResult r = runCommand(path("tool").toStdString(), args);
        QVERIFY(r.finished);
        QCOMPARE(r.error, 0);
        QCOMPARE(r.exitCode, exitCode);
        QCOMPARE(r.ok(), exitCode == 0);
        QCOMPARE(QByteArray::fromStdString(r.output), output);
        QCOMPARE(QByteArray::fromStdString(r.errors), errors);
    }

    void runMissingProgram()
    {
        const CommandResult r = runCommand(path("absent").toStdString(), {});
        QVERIFY(!r.finished);
        QCOMPARE(r.error, ENOENT);
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
        QVERIFY(child > 0);
        // Once init has reaped it, the orphaned child is gone for good.
        QTRY_VERIFY_WITH_TIMEOUT(::kill(child, 0) != 0 && errno == ESRCH, 10000);
    }

    // The other calls and their arguments are made against the stand-in of
    // tst_servicecommands, which answers every property whether named or not;
    // a real manager answers only those named.
    void showNamesItsProperties()
    {
        writeScript(path("systemctl"), "echo \"$*\" > '" + path("calls").toUtf8() + "'\n");
        qputenv("KOR_SYSTEMCTL", path("systemctl").toUtf8());
        QVERIFY(systemctlShow("a.service").ok());
        QCOMPARE(readAll(path("calls")),
                 QByteArray("show -p LoadState,ActiveState,SubState,Job,TimeoutStartUSec,TimeoutStopUSec a.service\n"));
    }

    void systemdVersions_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("version");
        QTest::newRow("Debian 12") << QByteArray("systemd 252 (252.39-1~deb12u2)\n+PAM +AUDIT\n") << 252;
        QTest::newRow("empty") << QByteArray() << 0;
        QTest::newRow("other program") << QByteArray("stand-in 300\n") << 0;
        QTest::newRow("no number") << QByteArray("systemd (git)\n") << 0;
        QTest::newRow("huge") << QByteArray("systemd 99999999999999999999999\n") << 0;
    }
    void systemdVersions()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, version);
        QCOMPARE(parseSystemdVersion(text.toStdString()), version);
    }

    // "<none>" stands for no value.
    void timespans_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("microseconds");
        QTest::newRow("default") << QByteArray("1min 30s") << QByteArray("90000000");
        QTest::newRow("infinity") << QByteArray("infinity") << QByteArray("<none>");
        QTest::newRow("zero") << QByteArray("0") << QByteArray("0");
        QTest::newRow("milliseconds") << QByteArray("100ms") << QByteArray("100000");
        QTest::newRow("fraction") << QByteArray("1.500000s") << QByteArray("1500000");
        QTest::newRow("every unit")
            << QByteArray("1y 1month 1w 1d 1h 1min 1s 1ms 1us") << QByteArray("34882261001001");
        QTest::newRow("empty") << QByteArray() << QByteArray("<none>");
        QTest::newRow("unknown unit") << QByteArray("5 parsecs") << QByteArray("<none>");
        QTest::newRow("number alone") << QByteArray("90") << QByteArray("<none>");
        QTest::newRow("negative") << QByteArray("-5s") << QByteArray("<none>");
        QTest::newRow("overflow") << QByteArray("99999999999999999y") << QByteArray("<none>");
    }
    void timespans()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, microseconds);
        const std::optional<std::uint64_t> parsed = parseTimespan(text.toStdString());
        QCOMPARE(parsed ? QByteArray::number(qulonglong(*parsed)) : QByteArray("<none>"), microseconds);
    }

    // The answer of systemd 252 for a unit with a queued start, lines in
    // its own order; unknown lines and lines without '=' are passed over.
    void unitProperties()
    {
        const UnitProperties unit = parseUnitProperties("TimeoutStartUSec=1min 30s\nTimeoutStopUSec=infinity\n"
                                                        "LoadState=loaded\nActiveState=inactive\nSubState=dead\n"
                                                        "Job=16\nOther=x\ngarbage\r\n");
        QCOMPARE(unit.loadState, std::string("loaded"));
        QCOMPARE(unit.activeState, std::string("inactive"));
        QCOMPARE(unit.subState, std::string("dead"));
        QCOMPARE(unit.job, std::string("16"));
        QCOMPARE(unit.startTimeoutUs, std::optional<std::uint64_t>(90000000));
        QVERIFY(!unit.stopTimeoutUs);
        const UnitProperties empty = parseUnitProperties("x y z\n");
        QVERIFY(empty.loadState.empty() && empty.job.empty() && !empty.startTimeoutUs);
    }

    void managerAnswers_data()
    {
        QTest::addColumn<bool>("finished");
        QTest::addColumn<QByteArray>("errors");
        QTest::addColumn<bool>("unreachable");
        QTest::addColumn<int>("error");
        QTest::newRow("no program") << false << QByteArray() << true << EIO;
        QTest::newRow("not booted with systemd")
            << true << QByteArray("System has not been booted with systemd as init system (PID 1). Can't operate.\n")
            << true << EIO;
        QTest::newRow("authentication") << true << QByteArray("Failed to stop a.service: Interactive authentication "
                                                              "required.\n")
                                        << false << EACCES;
        QTest::newRow("unit not found") << true << QByteArray("Failed to start a.service: Unit a.service not found.\n")
                                        << false << ENOENT;
        QTest::newRow("unit not loaded") << true << QByteArray("Failed to stop a.service: Unit a.service not loaded.\n")
                                         << false << ENOENT;
        QTest::newRow("other") << true << QByteArray("failed\n") << false << EIO;
    }
    void managerAnswers()
    {
        QFETCH(bool, finished);
        QFETCH(QByteArray, errors);
        QFETCH(bool, unreachable);
        QFETCH(int, error);
        CommandResult result;
        result.finished = finished;
        result.exitCode = finished ? 1 : -1;
        result.errors = errors.toStdString();
        QCOMPARE(managerUnreachable(result), unreachable);
        QCOMPARE(systemctlError(result), error);
    }

    void loadStates()
    {
        QVERIFY(unitExists("loaded"));
        QVERIFY(unitExists("masked"));
        QVERIFY(!unitExists("not-found"));
        QVERIFY(!unitExists(""));
    }

    void activeStates_data()
    {
        QTest::addColumn<QByteArray>("state");
        QTest::addColumn<int>("expected");
        QTest::newRow("activating") << QByteArray("activating") << 2;
        QTest::newRow("active") << QByteArray("active") << 4;
        QTest::newRow("reloading") << QByteArray("reloading") << 4;
        QTest::newRow("deactivating") << QByteArray("deactivating") << 3;
        QTest::newRow("inactive") << QByteArray("inactive") << 1;
        QTest::newRow("failed") << QByteArray("failed") << 1;
        QTest::newRow("maintenance") << QByteArray("maintenance") << 0;
        QTest::newRow("empty") << QByteArray() << 0;
        QTest::newRow("case differs") << QByteArray("Active") << 0;
    }
    void activeStates()
    {
        QFETCH(QByteArray, state);
        QFETCH(int, expected);
        QCOMPARE(int(serviceStateFromActiveState(state.toStdString())), expected);
        UnitProperties unit;
        unit.activeState = state.toStdString();
        unit.subState = "running";
        QCOMPARE(int(serviceStateOf(unit)), expected);
        // Waiting to be restarted after a failure is stopped, whatever the
        // active state says.
        unit.subState = "auto-restart";
        QCOMPARE(int(serviceStateOf(unit)), 1);
    }
};

QTEST_GUILESS_MAIN(TestServiceManager)
#include "tst_servicemanager.moc"
