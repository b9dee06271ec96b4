#include "CrashDump.h"
#include "SignalNotifier_p.h"
#include "Signals.h"

#include <Kor/KorCore.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QTest>

#include <csignal>
#include <unistd.h>
#include <ctime>
#include <stdexcept>

using namespace Kor::NS;

namespace {

// Dumps carry the helper's local time; a fixed zone three hours east of UTC
// shows that the offset is applied.
constexpr int helperUtcOffset = 3 * 3600;

QDateTime helperLocalNow()
{
    QDateTime now = QDateTime::currentDateTimeUtc().addSecs(helperUtcOffset);
    return now.addMSecs(-now.time().msec());
}

// 2025-03-01 00:00:00 UTC, a month before the spring change in Europe.
constexpr qint64 offsetTableStart = 1740787200;

} // namespace

class tst_CrashHandler : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        const QString binaries = qEnvironmentVariable("KOR_TEST_BINARY_DIR", QCoreApplication::applicationDirPath());
        m_helper = binaries + "/crashhelper";
        QVERIFY2(QFile::exists(m_helper), qPrintable(m_helper));
        QVERIFY(m_folder.isValid());
    }

    void dumpTime_data()
    {
        QTest::addColumn<qint64>("seconds"); // since the epoch, UTC
        QTest::addColumn<QByteArray>("zone"); // empty: UTC
        QTest::addColumn<QString>("text");
        QTest::newRow("epoch") << qint64(0) << QByteArray() << "1970-01-01_00-00-00";
        QTest::newRow("example") << qint64(1740837909) << QByteArray() << "2025-03-01_14-05-09";
        QTest::newRow("leap day") << qint64(951782400) << QByteArray() << "2000-02-29_00-00-00";
        QTest::newRow("end of century year") << qint64(4102444799) << QByteArray() << "2099-12-31_23-59-59";
        QTest::newRow("not a leap year") << qint64(4107542400) << QByteArray() << "2100-03-01_00-00-00";
        QTest::newRow("before epoch") << qint64(-1) << QByteArray() << "1969-12-31_23-59-59";
        const QByteArray berlin("Europe/Berlin");
        QTest::newRow("before the table") << qint64(1736942400) << berlin << "2025-01-15_13-00-00";
        QTest::newRow("at the table start") << offsetTableStart << berlin << "2025-03-01_01-00-00";
        QTest::newRow("last second of winter time") << qint64(1743296399) << berlin << "2025-03-30_01-59-59";
        QTest::newRow("first second of summer time") << qint64(1743296400) << berlin << "2025-03-30_03-00-00";
        QTest::newRow("last second of summer time") << qint64(1761440399) << berlin << "2025-10-26_02-59-59";
        QTest::newRow("first second of winter time") << qint64(1761440400) << berlin << "2025-10-26_02-00-00";
        QTest::newRow("spring a year later") << qint64(1774746000) << berlin << "2026-03-29_03-00-00";
    }

    void dumpTime()
    {
        QFETCH(qint64, seconds);
        QFETCH(QByteArray, zone);
        QFETCH(QString, text);
        if (!zone.isEmpty()) {
            if (!QFile::exists("/usr/share/zoneinfo/" + zone))
                QSKIP("the zone is not installed");
            const QByteArray previous = qgetenv("TZ");
            const bool hadZone = qEnvironmentVariableIsSet("TZ");
            const auto restore = qScopeGuard([&] {
                hadZone ? qputenv("TZ", previous) : qunsetenv("TZ");
                ::tzset();
            });
            qputenv("TZ", zone);
            ::tzset();
            const auto table = Kor::Platform::buildUtcOffsetTable(offsetTableStart);
            QVERIFY(table);
            seconds = Kor::Platform::localSecondsAt(*table, seconds);
        }
        char buffer[20];
        QCOMPARE(Kor::Platform::formatDumpTime(seconds, buffer, sizeof buffer), 19);
        QCOMPARE(QString::fromLatin1(buffer), text);
        QCOMPARE(Kor::Platform::formatDumpTime(seconds, buffer, 19), 0);
    }

    void dumpPrefix_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("prefix");
        QTest::newRow("dotted name") << "/opt/kor/Kor.Recorder" << "/opt/kor/Kor.Recorder.";
        QTest::newRow("exe") << "/opt/kor/Kor.Recorder.exe" << "/opt/kor/Kor.Recorder.";
        QTest::newRow("other extension") << "/opt/kor/tool.sh" << "/opt/kor/tool.sh.";
    }

    void dumpPrefix()
    {
        QFETCH(QString, path);
        QFETCH(QString, prefix);
        QCOMPARE(QString::fromStdString(Kor::Platform::crashDumpPrefix(path.toStdString())), prefix);
    }

    void badSignalRecords_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("short") << QByteArray("KS\x02");
        QTest::newRow("long") << QByteArray("KS\x02\xfd\x00", 5);
        QTest::newRow("garbage") << QByteArray("abcd");
        QTest::newRow("broken check") << QByteArray("KS\x02\x02");
        QTest::newRow("unhandled signal") << QByteArray("KS\x0a\xf5");
    }

    void badSignalRecords()
    {
        QFETCH(QByteArray, record);
        int signalNumber = -1;
        QVERIFY(!Kor::Platform::decodeSignalRecord(reinterpret_cast<const unsigned char*>(record.constData()),
                                                   int(record.size()), &signalNumber));
        QCOMPARE(signalNumber, -1);
    }

    // In this process: a closing and a raised report signal come out of the
    // one channel as they went in; the stop control's pipe stays apart.
    void signalsReachTheNotifierInOrder()
    {
        using namespace Kor::Platform;
        QCOMPARE(SignalRecords(SignalPipe::StopControl).fd(), -1);
        Kor::NS::SignalNotifier notifier(SignalPipe::Signals);
        QVERIFY(notifier.isValid());
        QSignalSpy received(&notifier, &Kor::NS::SignalNotifier::received);
        // Each closing signal is handled once; SIGQUIT is used by no other test here.
        ::raise(SIGQUIT);
        ::raise(SIGFPE);
        QTRY_COMPARE(received.count(), 2);
        QCOMPARE(received.at(0).at(0).toInt(), SIGQUIT);
        QCOMPARE(received.at(1).at(0).toInt(), SIGFPE);
        QVERIFY(SignalRecords(SignalPipe::Signals).take().empty());
    }

    void helper_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("crashes");
        QTest::addColumn<int>("exitCode"); // the signal number for a crash
        QTest::addColumn<int>("dumpSignal"); // 0: no dump expected
        QTest::addColumn<QString>("output"); // a pattern

        QTest::newRow("fault with crash handler") << "segv-dump" << true << SIGSEGV << SIGSEGV << "";
        QTest::newRow("fault after uninstall") << "segv-uninstalled" << true << SIGSEGV << 0 << "";
        QTest::newRow("division by zero") << "fpe-dump" << true << SIGFPE << SIGFPE << "";
        QTest::newRow("chained to previous handler") << "chain" << false << 42 << SIGSEGV << "previous handler";
        QTest::newRow("SIGSEGV sent by kill") << "kill" << false << 0 << 0 << "Received signal: SIGSEGV";
        QTest::newRow("raised without signal handlers") << "raise-crash-handler-only" << true << SIGFPE << 0 << "";
        QTest::newRow("stack overflow on the installing thread") << "overflow-main" << true << SIGSEGV << SIGSEGV << "";
        QTest::newRow("stack overflow on a library thread started before install")
            << "overflow-library-thread" << true << SIGSEGV << SIGSEGV << "";
        QTest::newRow("stack overflow on a prepared host thread")
            << "overflow-host-thread" << true << SIGSEGV << SIGSEGV << "";
        const QString time = R"(\d{4}/\d\d/\d\d \S+ )";
        QTest::newRow("install and uninstall twice") << "twice" << false << 0 << 0
            << "^" + time + "I Crashhandler successfully installed!\ninstall 1\n" + time
                   + "I Crashhandler already installed!\ninstall 1\n" + time
                   + "E Crashhandler successfully uninstalled!\nuninstall 1\n" + time
                   + "E Uninstalling Crashhandler failed!\nuninstall 0\n$";
    }

    void helper()
    {
        QFETCH(QString, mode);
        QFETCH(bool, crashes);
        QFETCH(int, exitCode);
        QFETCH(int, dumpSignal);
        QFETCH(QString, output);

    #if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        // The sanitizers own the fault signals and end the process their own way.
        if (crashes || dumpSignal)
            QSKIP("the sanitizer handles the fault signals");
    #endif
        QDir folder(m_folder.path());
        for (const QString& old : folder.entryList({"*.dmp"}))
            folder.remove(old);
        const QDateTime before = helperLocalNow();
        QProcess process;
        startHelper(process, mode);
        const qint64 pid = process.processId();
        QVERIFY(process.waitForFinished(20000));
        const QDateTime after = helperLocalNow();
        const QString stdOut = QString::fromLocal8Bit(process.readAllStandardOutput());

        QCOMPARE(process.exitStatus(), crashes ? QProcess::CrashExit : QProcess::NormalExit);
        QCOMPARE(process.exitCode(), exitCode);
        QVERIFY2(QRegularExpression(output).match(stdOut).hasMatch(), qPrintable(stdOut));
        const QStringList dumps = folder.entryList({"*.dmp"});
        QCOMPARE(dumps.size(), dumpSignal ? 1 : 0);
        if (!dumpSignal)
            return;

        const QRegularExpression name(R"(^crashhelper\.(\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d)\.dmp$)");
        const QRegularExpressionMatch match = name.match(dumps.first());
        QVERIFY2(match.hasMatch(), qPrintable(dumps.first()));
        QDateTime stamp = QDateTime::fromString(match.captured(1), "yyyy-MM-dd_HH-mm-ss");
        stamp.setTimeZone(QTimeZone::utc());
        QVERIFY2(stamp >= before && stamp <= after, qPrintable(match.captured(1)));

        QFile file(folder.filePath(dumps.first()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString content = QString::fromLocal8Bit(file.readAll());
        QVERIFY(content.contains(
            QStringLiteral("Signal: %1 (%2)").arg(Kor::Platform::signalName(dumpSignal)).arg(dumpSignal)));
        QVERIFY(content.contains("Fault address: 0x"));
        // The stack overflow modes name the thread that faults.
        const QRegularExpressionMatch faulting = QRegularExpression(R"(faulting thread (\d+))").match(stdOut);
        const QString threadId = faulting.hasMatch() ? faulting.captured(1) : QString::number(pid);
        QVERIFY2(content.contains("Thread id: " + threadId + "\n"), qPrintable(content.left(300)));
        QVERIFY(content.contains("\nBacktrace:\n"));
        // The memory map lists the executable itself.
        QVERIFY(content.section("\nMemory map:\n", 1).contains(folder.filePath("crashhelper")));
    }

    void crashLog_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("lastLine");
        QTest::newRow("int") << 0 << "Uncaught exception of type Unknown: Unknown error";
        QTest::newRow("runtime_error") << 1 << "Uncaught exception of type std::runtime_error: disk on fire";
        QTest::newRow("pointer") << 2
                                 << "Uncaught exception of type std::logic_error [thrown as pointer]: bad pointer";
        QTest::newRow("null pointer") << 3 << "Uncaught exception of type Unknown: Unknown error";
        QTest::newRow("no exception") << 4 << "Uncaught exception of type Unknown: Unknown error";
    }

    void crashLog()
    {
        QFETCH(int, kind);
        QFETCH(QString, lastLine);
        QTemporaryDir folder;
        QVERIFY(QDir::setCurrent(folder.path()));

        std::logic_error pointed("bad pointer");
        std::exception_ptr exception;
        try {
            switch (kind) {
            case 0: throw 7;
            case 1: throw std::runtime_error("disk on fire");
            case 2: throw static_cast<std::exception*>(&pointed);
            case 3: throw static_cast<std::exception*>(nullptr);
            default: break;
            }
        } catch (...) {
            exception = std::current_exception();
        }
        logUncaughtExceptionBeforeCrash(exception);

        const QStringList files = QDir(folder.path()).entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        QVERIFY2(QRegularExpression(R"(^tst_crashhandler\.Crash\.\d{4}-\d\d-\d\d \d{6}\.\d{3}\.log$)")
                     .match(files.first()).hasMatch(),
                 qPrintable(files.first()));
        QFile file(folder.filePath(files.first()));
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        const QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
        QCOMPARE(lines.size(), 6); // five lines, each ended
        QVERIFY2(QRegularExpression(R"(^tst_crashhandler crashed at \S+ \(\S+ UTC\)$)").match(lines[0]).hasMatch(),
                 qPrintable(lines[0]));
        QCOMPARE(lines[1], "Full path: " + QCoreApplication::applicationFilePath());
        QCOMPARE(lines[2], "PID was " + QString::number(QCoreApplication::applicationPid()));
        QCOMPARE(lines[3], QString());
        QCOMPARE(lines[4], lastLine);
        QVERIFY(QDir::setCurrent(QCoreApplication::applicationDirPath()));
    }

    void crashLogAppends()
    {
        QTemporaryDir folder;
        QVERIFY(QDir::setCurrent(folder.path()));
        const std::exception_ptr exception = std::make_exception_ptr(std::runtime_error("again"));
        // Two calls within one millisecond share the file; try until a pair does.
        bool shared = false;
        for (int attempt = 0; attempt < 50 && !shared; ++attempt) {
            logUncaughtExceptionBeforeCrash(exception);
            logUncaughtExceptionBeforeCrash(exception);
            for (const QString& name : QDir(folder.path()).entryList(QDir::Files)) {
                QFile file(folder.filePath(name));
                QVERIFY(file.open(QIODevice::ReadOnly));
                shared = shared || file.readAll().count("Uncaught exception of type std::runtime_error: again") == 2;
            }
        }
        QVERIFY(shared);
        QVERIFY(QDir::setCurrent(QCoreApplication::applicationDirPath()));
    }

    // A service account cannot write the program's folder: the dump goes to the
    // working directory, and a line says so. Root writes anywhere, so root runs
    // the helper as an ordinary user.
    void dumpBesideAReadOnlyProgram()
    {
    #if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        QSKIP("the sanitizer handles the fault signals");
    #endif
        QTemporaryDir top;
        QVERIFY(top.isValid());
        QDir root(top.path());
        QVERIFY(root.mkdir("bin") && root.mkdir("work"));
        const QString program = root.filePath("bin/crashhelper");
        QVERIFY(QFile::copy(m_helper, program));
        const auto readAndRun = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
            | QFile::ReadOther | QFile::ExeOther;
        QVERIFY(QFile::setPermissions(top.path(), readAndRun | QFile::WriteOwner));
        QVERIFY(QFile::setPermissions(root.filePath("bin"), readAndRun));
        QVERIFY(QFile::setPermissions(root.filePath("work"), readAndRun | QFile::WriteOwner | QFile::WriteGroup
                                                                 | QFile::WriteOther));
        QProcess process;
        process.setWorkingDirectory(root.filePath("work"));
        if (::geteuid() == 0)
            process.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", program, "segv-dump"});
        else
            process.start(program, {"segv-dump"});
        QVERIFY2(process.waitForStarted(), qPrintable(process.errorString()));
        QVERIFY(process.waitForFinished(20000));
        QFile::setPermissions(root.filePath("bin"), readAndRun | QFile::WriteOwner);
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        QVERIFY2(process.readAllStandardOutput().contains("crash dumps go to " + root.filePath("work").toUtf8()),
                 "no line names the working directory");
        QCOMPARE(QDir(root.filePath("work")).entryList({"crashhelper.*.dmp"}).size(), 1);
        QVERIFY(QDir(root.filePath("bin")).entryList({"*.dmp"}).isEmpty());
    }

private:
    void startHelper(QProcess& process, const QString& mode)
    {
        const QString copy = QDir(m_folder.path()).filePath("crashhelper");
        if (!QFile::exists(copy))
            QVERIFY(QFile::copy(m_helper, copy));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TZ", "XYZ-3");
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(m_folder.path());
        process.start(copy, {mode});
        QVERIFY2(process.waitForStarted(), qPrintable(process.errorString()));
    }

    // Starts a copy of the helper from its own folder, so that dumps land there.
    QString m_helper;
    QTemporaryDir m_folder;
};

QTEST_GUILESS_MAIN(tst_CrashHandler)
#include "tst_crashhandler.moc"
