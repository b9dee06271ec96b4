#include "ServiceManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstring>
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
    // A file system socket at path, or an abstract one when name starts with
    // '@', bound with the exact length the sender must use.
    explicit NotifyReceiver(const std::string& address)
    {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un sa{};
        sa.sun_family = AF_UNIX;
        std::memcpy(sa.sun_path, address.data(), address.size());
        socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + address.size());
        if (address[0] == '@')
            sa.sun_path[0] = '\0';
        else
            ++length;
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

} // namespace

class TestServiceManager : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void unitName_data();
    void unitName();

    void unitText_data();
    void unitText();
    void unitTextRefused_data();
    void unitTextRefused();
    void unitTextVerifies();

    void notifySent_data();
    void notifySent();
    void notifyFails_data();
    void notifyFails();
    void notifyMessages();
    void watchdogSettings_data();
    void watchdogSettings();
    void journalStream_data();
    void journalStream();

    void writeUnit();
    void writeUnitExisting();
    void writeUnitFails_data();
    void writeUnitFails();
    void removeUnit();
    void unitDirectory();

    void runOutputAndExitCode_data();
    void runOutputAndExitCode();
    void runArgumentsVerbatim();
    void runMissingProgram();
    void runHangingIsKilled();
    void systemctlCalls();
    void activeStates_data();
    void activeStates();

private:
    QTemporaryDir m_dir;
    QByteArray m_savedNotify;
    QByteArray m_savedSystemctl;
    QByteArray m_savedUnitDir;
};

void TestServiceManager::init()
{
    QVERIFY(m_dir.isValid());
    m_savedNotify = qgetenv("NOTIFY_SOCKET");
    m_savedSystemctl = qgetenv("KOR_SYSTEMCTL");
    m_savedUnitDir = qgetenv("KOR_SYSTEMD_UNIT_DIR");
}

void TestServiceManager::cleanup()
{
    auto restore = [](const char* name, const QByteArray& value) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    };
    restore("NOTIFY_SOCKET", m_savedNotify);
    restore("KOR_SYSTEMCTL", m_savedSystemctl);
    restore("KOR_SYSTEMD_UNIT_DIR", m_savedUnitDir);
    for (const QString& name : entries(m_dir.path())) {
        QFileInfo info(m_dir.filePath(name));
        if (info.isDir() && !info.isSymLink()) {
            QFile::setPermissions(info.filePath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QDir(info.filePath()).removeRecursively();
        } else {
            QFile::remove(info.filePath());
        }
    }
}

void TestServiceManager::unitName_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("unit");
    QTest::newRow("plain") << QByteArray("KorSteward") << QByteArray("KorSteward.service");
    QTest::newRow("blank") << QByteArray("Kor Steward") << QByteArray("Kor\\x20Steward.service");
    QTest::newRow("dash") << QByteArray("-") << QByteArray("\\x2d.service");
    QTest::newRow("slash") << QByteArray("a/b") << QByteArray("a\\x2fb.service");
    QTest::newRow("leading dot") << QByteArray(".a.b") << QByteArray("\\x2ea.b.service");
    QTest::newRow("kept punctuation") << QByteArray("a:b_c.d") << QByteArray("a:b_c.d.service");
    QTest::newRow("backslash") << QByteArray("a\\x2db") << QByteArray("a\\x5cx2db.service");
    QTest::newRow("utf-8 bytes") << QByteArray("K\xc3\xb6r") << QByteArray("K\\xc3\\xb6r.service");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("1024 letters") << QByteArray(1024, 'a') << QByteArray(1024, 'a') + ".service";
    QByteArray escapedBlanks;
    for (int i = 0; i < 1024; ++i)
        escapedBlanks += "\\x20";
    QTest::newRow("1024 blanks") << QByteArray(1024, ' ') << escapedBlanks + ".service";
}

void TestServiceManager::unitName()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, unit);
    QCOMPARE(QByteArray::fromStdString(systemdUnitName(name.toStdString())), unit);
}

void TestServiceManager::unitText_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QStringList>("dependencies");
    QTest::addColumn<bool>("automatic");
    QTest::addColumn<int>("watchdog");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("plain") << QByteArray("Kor Recorder") << QByteArray("/opt/kor/bin/Kor.Recorder")
                           << QByteArray() << QStringList() << false << 0
                           << QByteArray("[Unit]\n"
                                         "Description=Kor Recorder\n"
                                         "\n[Service]\n"
                                         "Type=notify\n"
                                         "NotifyAccess=main\n"
                                         "ExecStart=\"/opt/kor/bin/Kor.Recorder\" -service\n"
                                         "ExecReload=/bin/kill -HUP $MAINPID\n"
                                         "WorkingDirectory=/opt/kor/bin\n");
    QTest::newRow("plain with user and dependencies")
        << QByteArray("Recorder") << QByteArray("/opt/kor/bin/rec") << QByteArray("kor")
        << QStringList{"Kor Base", "net-store"} << false << 0
        << QByteArray("[Unit]\n"
                      "Description=Recorder\n"
                      "After=Kor\\x20Base.service\n"
                      "After=net\\x2dstore.service\n"
                      "Requires=Kor\\x20Base.service\n"
                      "Requires=net\\x2dstore.service\n"
                      "\n[Service]\n"
                      "Type=notify\n"
                      "NotifyAccess=main\n"
                      "ExecStart=\"/opt/kor/bin/rec\" -service\n"
                      "ExecReload=/bin/kill -HUP $MAINPID\n"
                      "WorkingDirectory=/opt/kor/bin\n"
                      "User=kor\n");
    QTest::newRow("sibling") << QByteArray("Kor Steward") << QByteArray("/opt/kor/bin/Kor Steward")
                             << QByteArray() << QStringList() << true << 30
                             << QByteArray("[Unit]\n"
                                           "Description=Kor Steward\n"
                                           "StartLimitIntervalSec=0\n"
                                           "\n[Service]\n"
                                           "Type=notify\n"
                                           "NotifyAccess=main\n"
                                           "ExecStart=\"/opt/kor/bin/Kor Steward\" -service\n"
                                           "ExecReload=/bin/kill -HUP $MAINPID\n"
                                           "WatchdogSec=30\n"
                                           "WorkingDirectory=/opt/kor/bin\n"
                                           "Restart=on-failure\n"
                                           "RestartSec=60\n"
                                           "\n[Install]\n"
                                           "WantedBy=multi-user.target\n");
    QTest::newRow("sibling with user and dependency, odd characters")
        << QByteArray("Kor 100%") << QByteArray("/srv/a b/$x%y;z/K\xc3\xb6r") << QByteArray("svc%u")
        << QStringList{"Kor Base"} << true << -5
        << QByteArray("[Unit]\n"
                      "Description=Kor 100%%\n"
                      "After=Kor\\x20Base.service\n"
                      "Requires=Kor\\x20Base.service\n"
                      "StartLimitIntervalSec=0\n"
                      "\n[Service]\n"
                      "Type=notify\n"
                      "NotifyAccess=main\n"
                      "ExecStart=\"/srv/a b/$x%%y;z/K\xc3\xb6r\" -service\n"
                      "ExecReload=/bin/kill -HUP $MAINPID\n"
                      "WorkingDirectory=/srv/a b/$x%%y;z\n"
                      "User=svc%%u\n"
                      "Restart=on-failure\n"
                      "RestartSec=60\n"
                      "\n[Install]\n"
                      "WantedBy=multi-user.target\n");
}

void TestServiceManager::unitText()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, user);
    QFETCH(QStringList, dependencies);
    QFETCH(bool, automatic);
    QFETCH(int, watchdog);
    QFETCH(QByteArray, text);
    UnitDescription unit{name.toStdString(), path.toStdString(), user.toStdString(), {}, automatic, watchdog};
    for (const QString& d : dependencies)
        unit.dependencies.push_back(d.toStdString());
    QCOMPARE(QByteArray::fromStdString(systemdUnitText(unit)), text);
}

void TestServiceManager::unitTextRefused_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("dependency");
    QTest::newRow("empty name") << QByteArray() << QByteArray("/bin/x") << QByteArray() << QByteArray("a");
    QTest::newRow("empty path") << QByteArray("n") << QByteArray() << QByteArray() << QByteArray("a");
    QTest::newRow("relative path") << QByteArray("n") << QByteArray("bin/x") << QByteArray() << QByteArray("a");
    QTest::newRow("line break in name") << QByteArray("n\nExecStartPre=/bin/evil") << QByteArray("/bin/x")
                                        << QByteArray() << QByteArray("a");
    QTest::newRow("line break in path") << QByteArray("n") << QByteArray("/bin/x\n") << QByteArray()
                                        << QByteArray("a");
    QTest::newRow("line break in user") << QByteArray("n") << QByteArray("/bin/x") << QByteArray("u\r")
                                        << QByteArray("a");
    QTest::newRow("double quote in path") << QByteArray("n") << QByteArray("/a\"b/x") << QByteArray()
                                          << QByteArray("a");
    QTest::newRow("single quote in path") << QByteArray("n") << QByteArray("/a'b/x") << QByteArray()
                                          << QByteArray("a");
    QTest::newRow("backslash in path") << QByteArray("n") << QByteArray("/a\\b/x") << QByteArray()
                                       << QByteArray("a");
    QTest::newRow("tab in path") << QByteArray("n") << QByteArray("/a\tb/x") << QByteArray() << QByteArray("a");
    QTest::newRow("empty dependency") << QByteArray("n") << QByteArray("/bin/x") << QByteArray() << QByteArray();
}

void TestServiceManager::unitTextRefused()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, dependency);
    const UnitDescription unit{name.toStdString(), path.toStdString(), user.toStdString(),
                               {dependency.toStdString()}, true};
    QCOMPARE(systemdUnitText(unit), std::string());
}

void TestServiceManager::unitTextVerifies()
{
    const QString analyze = QStandardPaths::findExecutable("systemd-analyze");
    if (analyze.isEmpty())
        QSKIP("systemd-analyze is not installed; the unit text is not checked by systemd");
    // Every character the unit text escapes, so that systemd's reading of
    // the text is checked too: verify fails when the executable is not found.
    const QString folder = m_dir.filePath("bin 1 $x %y;z");
    QVERIFY(QDir().mkpath(folder));
    const QString program = folder + "/Kor Steward";
    writeScript(program, "exit 0\n");
    const std::string dir = m_dir.path().toStdString();
    int error = 0;
    // The dependency must exist for the check to pass.
    QCOMPARE(writeUnitFile(dir, systemdUnitName("Kor Base"),
                           "[Unit]\nDescription=base\n[Service]\nExecStart=/bin/true\n", error),
             UnitFileResult::Written);
    const UnitDescription unit{"Kor Steward", program.toStdString(), "root", {"Kor Base"}, true};
    const std::string name = systemdUnitName(unit.serviceName);
    QCOMPARE(writeUnitFile(dir, name, systemdUnitText(unit), error), UnitFileResult::Written);

    QProcess verify;
    verify.setProcessChannelMode(QProcess::MergedChannels);
    verify.start(analyze, {"verify", m_dir.filePath(QString::fromStdString(name))});
    QVERIFY(verify.waitForFinished(60000));
    const QByteArray said = verify.readAll();
    if (said.contains("Failed to initialize manager") || said.contains("Operation not permitted"))
        QSKIP(qPrintable("systemd-analyze cannot run here: " + said));
    QVERIFY2(verify.exitCode() == 0, said.constData());
    QVERIFY2(said.trimmed().isEmpty(), said.constData());
}

void TestServiceManager::notifySent_data()
{
    QTest::addColumn<bool>("abstract");
    QTest::newRow("path") << false;
    QTest::newRow("abstract") << true;
}

void TestServiceManager::notifySent()
{
    QFETCH(bool, abstract);
    const std::string address = abstract
        ? "@kor-test-notify-" + std::to_string(::getpid())
        : m_dir.filePath("notify").toStdString();
    NotifyReceiver receiver(address);
    QVERIFY(receiver.bound());
    qputenv("NOTIFY_SOCKET", QByteArray::fromStdString(address));
    QVERIFY(notifySocketPresent());

    const std::string message = notifyMessage({notifyStatus("starting 1"), notifyExtendTimeout(30000000)});
    int error = 0;
    QVERIFY(sendNotify(message, error));
    QCOMPARE(receiver.receive(), QByteArray("STATUS=starting 1\nEXTEND_TIMEOUT_USEC=30000000"));
    QVERIFY(sendNotify(std::string(notifyReady), error));
    QCOMPARE(receiver.receive(), QByteArray("READY=1"));
}

void TestServiceManager::notifyFails_data()
{
    QTest::addColumn<QByteArray>("address"); // "<unset>", or with DIR for the test folder
    QTest::addColumn<int>("error");
    QTest::newRow("unset") << QByteArray("<unset>") << ENXIO;
    QTest::newRow("empty") << QByteArray("") << ENXIO;
    QTest::newRow("nothing there") << QByteArray("DIR/none") << ENOENT;
    QTest::newRow("regular file") << QByteArray("DIR/file") << ECONNREFUSED;
    QTest::newRow("relative") << QByteArray("notify") << EINVAL;
    QTest::newRow("over-long path") << "/" + QByteArray(sizeof(sockaddr_un::sun_path), 'p') << ENAMETOOLONG;
    QTest::newRow("longest path plus one") << "/" + QByteArray(sizeof(sockaddr_un::sun_path) - 1, 'p')
                                           << ENAMETOOLONG;
    QTest::newRow("over-long abstract") << "@" + QByteArray(sizeof(sockaddr_un::sun_path), 'a')
                                        << ENAMETOOLONG;
}

void TestServiceManager::notifyFails()
{
    QFETCH(QByteArray, address);
    QFETCH(int, error);
    QFile file(m_dir.filePath("file"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    if (address == "<unset>")
        qunsetenv("NOTIFY_SOCKET");
    else
        qputenv("NOTIFY_SOCKET", address.replace("DIR", m_dir.path().toUtf8()));
    QCOMPARE(notifySocketPresent(), !address.isEmpty() && address != "<unset>");
    int got = 0;
    QVERIFY(!sendNotify("READY=1", got));
    QCOMPARE(got, error);
}

void TestServiceManager::notifyMessages()
{
    QCOMPARE(notifyStatus("line\none\r"), std::string("STATUS=line one "));
    QCOMPARE(notifyMainPid(4242), std::string("MAINPID=4242"));
    QCOMPARE(notifyMessage({notifyStopping, notifyStatus("0")}), std::string("STOPPING=1\nSTATUS=0"));
    QCOMPARE(notifyReloading(12345678), std::string("RELOADING=1\nMONOTONIC_USEC=12345678"));
    qputenv("NOTIFY_SOCKET", "@kor-unused");
    int error = 0;
    QVERIFY(!sendNotify("", error));
    QCOMPARE(error, EINVAL);
}

void TestServiceManager::watchdogSettings_data()
{
    QTest::addColumn<QByteArray>("usec"); // null: not set
    QTest::addColumn<QByteArray>("pid");
    QTest::addColumn<int>("kind");
    QTest::addColumn<qulonglong>("interval");
    QTest::newRow("not set") << QByteArray() << QByteArray() << int(WatchdogSetting::Off) << 0ull;
    QTest::newRow("ours, no pid") << QByteArray("3000000") << QByteArray() << int(WatchdogSetting::On) << 3000000ull;
    QTest::newRow("ours by pid") << QByteArray("500") << QByteArray("77") << int(WatchdogSetting::On) << 500ull;
    QTest::newRow("empty pid") << QByteArray("500") << QByteArray("") << int(WatchdogSetting::On) << 500ull;
    QTest::newRow("other pid") << QByteArray("500") << QByteArray("78") << int(WatchdogSetting::OtherProcess) << 0ull;
    QTest::newRow("pid garbage") << QByteArray("500") << QByteArray("x") << int(WatchdogSetting::OtherProcess) << 0ull;
    QTest::newRow("zero") << QByteArray("0") << QByteArray() << int(WatchdogSetting::Invalid) << 0ull;
    QTest::newRow("empty") << QByteArray("") << QByteArray() << int(WatchdogSetting::Invalid) << 0ull;
    QTest::newRow("negative") << QByteArray("-1") << QByteArray() << int(WatchdogSetting::Invalid) << 0ull;
    QTest::newRow("trailing text") << QByteArray("10s") << QByteArray() << int(WatchdogSetting::Invalid) << 0ull;
    QTest::newRow("overflow") << QByteArray("99999999999999999999") << QByteArray() << int(WatchdogSetting::Invalid)
                              << 0ull;
}

void TestServiceManager::watchdogSettings()
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

void TestServiceManager::journalStream_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<qulonglong>("device");
    QTest::addColumn<qulonglong>("inode");
    QTest::newRow("plain") << QByteArray("8:4711") << true << 8ull << 4711ull;
    QTest::newRow("large") << QByteArray("18446744073709551615:1") << true << 18446744073709551615ull << 1ull;
    QTest::newRow("empty") << QByteArray("") << false << 0ull << 0ull;
    QTest::newRow("no colon") << QByteArray("84711") << false << 0ull << 0ull;
    QTest::newRow("no inode") << QByteArray("8:") << false << 0ull << 0ull;
    QTest::newRow("blank") << QByteArray("8: 4711") << false << 0ull << 0ull;
    QTest::newRow("two colons") << QByteArray("8:47:11") << false << 0ull << 0ull;
    QTest::newRow("negative") << QByteArray("-8:4711") << false << 0ull << 0ull;
}

void TestServiceManager::journalStream()
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

void TestServiceManager::writeUnit()
{
    const std::string dir = m_dir.path().toStdString();
    int error = 0;
    QCOMPARE(writeUnitFile(dir, "Kor\\x20Steward.service", "[Unit]\n", error), UnitFileResult::Written);
    QFile written(m_dir.filePath("Kor\\x20Steward.service"));
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), QByteArray("[Unit]\n"));
    struct stat st{};
    QCOMPARE(::stat(written.fileName().toLocal8Bit().constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0644));
    QCOMPARE(entries(m_dir.path()), QStringList{"Kor\\x20Steward.service"});
}

void TestServiceManager::writeUnitExisting()
{
    const std::string dir = m_dir.path().toStdString();
    int error = 0;
    QCOMPARE(writeUnitFile(dir, "a.service", "first", error), UnitFileResult::Written);
    error = 0;
    QCOMPARE(writeUnitFile(dir, "a.service", "second", error), UnitFileResult::AlreadyExists);
    QFile kept(m_dir.filePath("a.service"));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("first"));
    QCOMPARE(entries(m_dir.path()), QStringList{"a.service"});
}

void TestServiceManager::writeUnitFails_data()
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

void TestServiceManager::writeUnitFails()
{
    QFETCH(QString, folder);
    QFETCH(QByteArray, unit);
    QFETCH(int, error);
    QVERIFY(QDir(m_dir.path()).mkdir("ro"));
    QVERIFY(QDir(m_dir.path()).mkdir("rw"));
    QVERIFY(QFile::setPermissions(m_dir.filePath("ro"), QFile::ReadOwner | QFile::ExeOwner));
    QFile file(m_dir.filePath("file"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    if (folder == "ro" && ::geteuid() == 0)
        QSKIP("Permissions do not bind the superuser");

    int got = 0;
    QCOMPARE(writeUnitFile(m_dir.filePath(folder).toStdString(), unit.toStdString(), "[Unit]\n", got),
             UnitFileResult::Failed);
    QCOMPARE(got, error);
    QCOMPARE(entries(m_dir.filePath("ro")), QStringList());
    QCOMPARE(entries(m_dir.filePath("rw")), QStringList());
}

void TestServiceManager::removeUnit()
{
    const std::string dir = m_dir.path().toStdString();
    int error = 0;
    QCOMPARE(writeUnitFile(dir, "a.service", "x", error), UnitFileResult::Written);
    QVERIFY(removeUnitFile(dir, "a.service", error));
    QCOMPARE(entries(m_dir.path()), QStringList());
    QVERIFY(!removeUnitFile(dir, "a.service", error));
    QCOMPARE(error, ENOENT);
    QVERIFY(!removeUnitFile(dir, "../a.service", error));
    QCOMPARE(error, EINVAL);
}

void TestServiceManager::unitDirectory()
{
    qunsetenv("KOR_SYSTEMD_UNIT_DIR");
    QCOMPARE(systemdUnitDirectory(), std::string("/etc/systemd/system"));
    qputenv("KOR_SYSTEMD_UNIT_DIR", "/tmp/units");
    QCOMPARE(systemdUnitDirectory(), std::string("/tmp/units"));
}

void TestServiceManager::runOutputAndExitCode_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QByteArray>("errors");
    QTest::newRow("success") << QByteArray("echo active\n") << 0 << QByteArray("active\n") << QByteArray();
    QTest::newRow("failure with message") << QByteArray("echo partial\necho refused >&2\nexit 3\n") << 3
                                          << QByteArray("partial\n") << QByteArray("refused\n");
    QTest::newRow("large output") << QByteArray("head -c 200000 /dev/zero | tr '\\0' x\n") << 0
                                  << QByteArray(200000, 'x') << QByteArray();
    QTest::newRow("killed by a signal") << QByteArray("kill -KILL $$\n") << -1 << QByteArray() << QByteArray();
    QTest::newRow("reads empty input") << QByteArray("cat\n") << 0 << QByteArray() << QByteArray();
}

void TestServiceManager::runOutputAndExitCode()
{
    QFETCH(QByteArray, body);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, output);
    QFETCH(QByteArray, errors);
    const QString script = m_dir.filePath("tool");
    writeScript(script, body);
    const CommandResult r = runCommand(script.toStdString(), {});
    QVERIFY(r.finished);
    QCOMPARE(r.error, 0);
    QCOMPARE(r.exitCode, exitCode);
    QCOMPARE(r.ok(), exitCode == 0);
    QCOMPARE(QByteArray::fromStdString(r.output), output);
    QCOMPARE(QByteArray::fromStdString(r.errors), errors);
}

void TestServiceManager::runArgumentsVerbatim()
{
    const QString script = m_dir.filePath("tool");
    writeScript(script, "for a in \"$@\"; do echo \"[$a]\"; done\n");
    const CommandResult r = runCommand(script.toStdString(), {"a b", "$HOME", "x;y", "*", ""});
    QVERIFY(r.ok());
    QCOMPARE(r.output, std::string("[a b]\n[$HOME]\n[x;y]\n[*]\n[]\n"));
}

void TestServiceManager::runMissingProgram()
{
    CommandResult r = runCommand(m_dir.filePath("absent").toStdString(), {});
    QVERIFY(!r.finished);
    QCOMPARE(r.error, ENOENT);
    qputenv("KOR_SYSTEMCTL", "kor-no-such-systemctl");
    r = systemctlDaemonReload();
    QVERIFY(!r.finished);
    QCOMPARE(r.error, ENOENT);
}

void TestServiceManager::runHangingIsKilled()
{
    // The script leaves a child behind; the bound must end both.
    const QString pidFile = m_dir.filePath("child.pid");
    const QString script = m_dir.filePath("tool");
    writeScript(script, "sleep 600 &\necho $! > '" + pidFile.toUtf8() + "'\necho started\nwait\n");
    const CommandResult r = runCommand(script.toStdString(), {}, 300);
    QVERIFY(!r.finished);
    QCOMPARE(r.error, ETIMEDOUT);
    QCOMPARE(r.output, std::string("started\n"));
    QFile f(pidFile);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const pid_t child = pid_t(f.readAll().trimmed().toInt());
    QVERIFY(child > 0);
    // Once init has reaped it, the orphaned child is gone for good.
    QTRY_VERIFY_WITH_TIMEOUT(::kill(child, 0) != 0 && errno == ESRCH, 10000);
}

void TestServiceManager::systemctlCalls()
{
    const QString log = m_dir.filePath("calls");
    const QString script = m_dir.filePath("systemctl");
    writeScript(script, "echo \"$*\" >> '" + log.toUtf8() + "'\n"
                        "case \"$*\" in\n"
                        "  *LoadState*) echo not-found ;;\n"
                        "  *ActiveState*) echo activating ;;\n"
                        "  enable*) exit 1 ;;\n"
                        "esac\n");
    qputenv("KOR_SYSTEMCTL", script.toUtf8());
    QCOMPARE(systemctlProgram(), script.toStdString());
    const std::string unit = systemdUnitName("Kor Steward");

    QVERIFY(systemctlDaemonReload().ok());
    const CommandResult enabled = systemctlEnable(unit);
    QVERIFY(enabled.finished);
    QCOMPARE(enabled.exitCode, 1);
    QVERIFY(systemctlDisable(unit).ok());
    QVERIFY(systemctlStart(unit).ok());
    QVERIFY(systemctlStop(unit).ok());
    const CommandResult load = systemctlLoadState(unit);
    QCOMPARE(load.output, std::string("not-found"));
    QVERIFY(!unitExists(load.output));
    const CommandResult active = systemctlActiveState(unit);
    QCOMPARE(active.output, std::string("activating"));

    QFile calls(log);
    QVERIFY(calls.open(QIODevice::ReadOnly));
    QCOMPARE(calls.readAll(), QByteArray("daemon-reload\n"
                                         "enable Kor\\x20Steward.service\n"
                                         "disable Kor\\x20Steward.service\n"
                                         "start --no-block Kor\\x20Steward.service\n"
                                         "stop --no-block Kor\\x20Steward.service\n"
                                         "show -p LoadState --value Kor\\x20Steward.service\n"
                                         "show -p ActiveState --value Kor\\x20Steward.service\n"));
    qunsetenv("KOR_SYSTEMCTL");
    QCOMPARE(systemctlProgram(), std::string("systemctl"));
}

void TestServiceManager::activeStates_data()
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

void TestServiceManager::activeStates()
{
    QFETCH(QByteArray, state);
    QFETCH(int, expected);
    QCOMPARE(int(serviceStateFromActiveState(state.toStdString())), expected);
    QVERIFY(unitExists("loaded"));
    QVERIFY(unitExists("masked"));
    QVERIFY(!unitExists(""));
}

QTEST_GUILESS_MAIN(TestServiceManager)
#include "tst_servicemanager.moc"
