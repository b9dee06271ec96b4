#pragma once

// Runs copies of a test host program in a private folder of their own, with a
// machine-wide store that names a machine id and an updater folder.

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// The service manager's end of the notify protocol.
class NotifySocket
{
public:
    explicit NotifySocket(const QString& path)
    {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray bytes = QFile::encodeName(path);
        std::memcpy(address.sun_path, bytes.constData(), size_t(bytes.size()));
        m_bound = m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~NotifySocket() { ::close(m_fd); }
    bool isBound() const { return m_bound; }

    // Reads datagrams until count of them contain needle; everything read is
    // kept.
    bool waitFor(const QByteArray& needle, int count = 1, int timeoutMs = 10000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            const auto has = [&needle](const QByteArray& datagram) { return datagram.contains(needle); };
            if (std::count_if(m_received.cbegin(), m_received.cend(), has) >= count)
                return true;
            pollfd wait{ m_fd, POLLIN, 0 };
            if (::poll(&wait, 1, int(deadline.remainingTime())) <= 0)
                break;
            char buffer[4096];
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n > 0)
                m_received << QByteArray(buffer, int(n));
        }
        return false;
    }
    const QList<QByteArray>& received() const { return m_received; }

private:
    int m_fd = -1;
    bool m_bound = false;
    QList<QByteArray> m_received;
};

class HostFixture
{
public:
    static constexpr const char* MachineId = "{0b5c3a2e-9d4f-4c1e-8a7b-5f6e7d8c9a0b}";

    // The host is copied under the name it is to run with.
    explicit HostFixture(const QString& program = QStringLiteral("testhost")) : m_program(program)
    {
        for (const char* folder : { "bin", "log", "updater" })
            QDir(m_dir.path()).mkpath(QLatin1String(folder));
        QFile::copy(qEnvironmentVariable("KOR_TEST_BINARY_DIR") + QLatin1String("/testhost"), executable());
        writeFile(QStringLiteral("registry/HKEY_LOCAL_MACHINE/SOFTWARE/Kor.ini"),
                  QStringLiteral("[Common]\nmachineId=%1\nUpdaterConfigPath=%2\n")
                      .arg(QLatin1String(MachineId), path(QStringLiteral("updater"))).toUtf8());
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(QStringLiteral("KOR_REGISTRY_ROOT"), path(QStringLiteral("registry")));
        m_env.insert(QStringLiteral("TESTHOST_LOGDIR"), path(QStringLiteral("log")));
    }

    QString root() const { return m_dir.path(); }
    QString path(const QString& relative) const { return QDir(m_dir.path()).absoluteFilePath(relative); }
    QString executable() const { return path(QStringLiteral("bin/") + m_program); }
    QString binDir() const { return path(QStringLiteral("bin")); }
    QString logFile() const { return path(QStringLiteral("log/") + m_program + QLatin1String(".log")); }
    QProcessEnvironment& env() { return m_env; }

    void writeFile(const QString& relative, const QByteArray& content) const
    {
        QFile file(path(relative));
        QDir().mkpath(QFileInfo(file).path());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }

    static QByteArray readFile(const QString& absolute)
    {
        QFile file(absolute);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    void start(QProcess& process, const QStringList& arguments) const
    {
        process.setProcessEnvironment(m_env);
        process.setWorkingDirectory(m_dir.path());
        process.start(executable(), arguments);
        QVERIFY2(process.waitForStarted(), qPrintable(process.errorString()));
    }

    // Starts the host and waits until it says READY; false when it ends first.
    bool startReady(QProcess& process, const QStringList& arguments) const
    {
        start(process, arguments);
        return waitForOutput(process, "READY");
    }

    // Sends a closing signal to a running host; true when the host then ends
    // in order with 0. The signal goes once the host's main thread sleeps in
    // its event loop's poll (for at most five seconds): a signal that comes
    // while the thread runs is handled just the same in a plain build; the
    // thread sanitizer defers it to the thread's next call into its runtime
    // and now and then never runs it at all.
    static bool endBySignal(QProcess& process, int signalNumber)
    {
        const QString wchan = QStringLiteral("/proc/%1/wchan").arg(process.processId());
        QDeadlineTimer deadline(5000);
        while (!deadline.hasExpired() && process.state() == QProcess::Running && !readFile(wchan).contains("poll"))
            QTest::qSleep(2);
        ::kill(pid_t(process.processId()), signalNumber);
        const bool ok = process.waitForFinished(15000) && process.exitStatus() == QProcess::NormalExit
            && process.exitCode() == 0;
        if (!ok) // what the host said, a sanitizer's report among it
            qWarning().noquote() << "host state" << process.state() << process.exitStatus() << process.exitCode()
                                 << '\n' << process.readAllStandardError().right(8000);
        return ok;
    }

    // Starts the host, waits for its end and returns the exit code.
    int run(const QStringList& arguments, QByteArray* output = nullptr) const
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        start(process, arguments);
        if (!process.waitForFinished(20000))
            return -1000; // killed as the process object goes
        if (output)
            *output = process.readAll();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2000;
    }

    // Reads the process's output until it holds needle; false when the process
    // ends or ten seconds pass first.
    static bool waitForOutput(QProcess& process, const QByteArray& needle)
    {
        QByteArray seen;
        QDeadlineTimer deadline(10000);
        while (!seen.contains(needle) && !deadline.hasExpired()) {
            if (!process.waitForReadyRead(int(deadline.remainingTime())) && process.state() != QProcess::Running)
                break;
            seen += process.readAllStandardOutput();
        }
        return seen.contains(needle);
    }

    // "KEY=value" sets a variable ("-KEY" removes it), "path=content" writes a
    // file (a key with '/' or '.'); @ is the host's folder.
    void setUp(const QStringList& items)
    {
        for (QString item : items) {
            item.replace(QLatin1Char('@'), root());
            const QString key = item.section(QLatin1Char('='), 0, 0);
            if (item.startsWith(QLatin1Char('-')))
                m_env.remove(item.mid(1));
            else if (key.contains(QLatin1Char('/')) || key.contains(QLatin1Char('.')))
                writeFile(key, item.section(QLatin1Char('='), 1).toLatin1());
            else
                m_env.insert(key, item.section(QLatin1Char('='), 1));
        }
    }

    // Checks "out:" texts of the output and "log:" texts of the log file, each
    // looked for after the one before, "file:" files, and "sent:" a pattern the
    // datagrams match, joined by '|'; '!' in front: not there.
    void verifyLeft(const QStringList& items, const QByteArray& output, const QList<QByteArray>& sent = {}) const
    {
        const QByteArray log = readFile(logFile());
        qsizetype at[2] = { 0, 0 };
        for (QString item : items) {
            item.replace(QLatin1Char('@'), root());
            const bool absent = item.startsWith(QLatin1Char('!'));
            const QString place = item.section(QLatin1Char(':'), 0, 0).remove(QLatin1Char('!'));
            const QByteArray text = item.section(QLatin1Char(':'), 1).toUtf8();
            if (place == QLatin1String("file")) {
                QVERIFY2(QFile::exists(path(QString::fromUtf8(text))) != absent, text.constData());
            } else if (place == QLatin1String("sent")) {
                const QString all = QString::fromUtf8(sent.join('|'));
                QVERIFY2(QRegularExpression(QString::fromUtf8(text)).match(all).hasMatch() != absent, qPrintable(all));
            } else {
                const bool inLog = place == QLatin1String("log");
                const QByteArray& where = inLog ? log : output;
                const qsizetype found = where.indexOf(text, at[inLog]);
                QVERIFY2((found >= 0) != absent, (text + " in:\n" + where).constData());
                if (!absent)
                    at[inLog] = found + text.size();
            }
        }
    }

private:
    QTemporaryDir m_dir;
    QString m_program;
    QProcessEnvironment m_env;
};
