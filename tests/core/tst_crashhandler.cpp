#include "CrashDump.h"
#include "CrashHandler_p.h"
#include "HostFixture.h"
#include "LogLines.h"
#include "SignalNotifier_p.h"
#include "Signals.h"

#include <QSignalSpy>
#include <QTimeZone>

#include <stdexcept>
#include <sys/stat.h>

using namespace Kor::NS;

namespace {

// Dumps carry the helper's local time; a fixed zone three hours east of UTC
// (TZ=XYZ-3) shows that the offset is applied.
QDateTime helperLocalNow()
{
    QDateTime now = QDateTime::currentDateTimeUtc().addSecs(3 * 3600);
    return now.addMSecs(-now.time().msec());
}

// 2025-03-01 00:00:00 UTC, a month before the spring change in Europe.
constexpr qint64 offsetTableStart = 1740787200;

} // namespace

Q_DECLARE_METATYPE(std::exception_ptr)

class tst_CrashHandler : public QObject
{
    Q_OBJECT
private slots:
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
            qputenv("TZ", zone); // the later tests need no zone of their own
            const auto table = Kor::Platform::buildUtcOffsetTable(offsetTableStart);
            QVERIFY(table);
            seconds = Kor::Platform::localSecondsAt(*table, seconds);
        }
        char buffer[20];
        QCOMPARE(Kor::Platform::formatDumpTime(seconds, buffer, sizeof buffer), 19);
        QCOMPARE(QString::fromLatin1(buffer), text);
        QCOMPARE(Kor::Platform::formatDumpTime(seconds, buffer, 19), 0);
    }

    // Only an .exe ending goes; the dump is named after the program.
    void dumpPrefix()
    {
        using Kor::Platform::crashDumpPrefix;
        const auto prefix = [](const char* path) { return QString::fromStdString(crashDumpPrefix(path)); };
        QCOMPARE(prefix("/opt/kor/Kor.Recorder"), "/opt/kor/Kor.Recorder.");
        QCOMPARE(prefix("/opt/kor/Kor.Recorder.exe"), "/opt/kor/Kor.Recorder.");
        QCOMPARE(prefix("/opt/kor/tool.sh"), "/opt/kor/tool.sh.");
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

    // In this process: the crash handler is put in place and removed once,
    // however often it is asked to; then a closing signal, a raised and a sent
    // report signal come out of the notifier's one channel as they went in,
    // and the stop control's pipe stays apart.
    void inProcess()
    {
        TestLog log;
        QTemporaryDir folder;
        log.start(folder.filePath("install"));
        QVERIFY(installCrashHandler());
        QVERIFY(installCrashHandler());
        QVERIFY(uninstallCrashHandler());
        QVERIFY(!uninstallCrashHandler());
        QVERIFY(installCrashHandler() && Kor::Platform::crashHandlerInstalled() && uninstallCrashHandler());
        QCOMPARE(log.newText(), "I Crashhandler successfully installed!\nI Crashhandler already installed!\n"
                                "E Crashhandler successfully uninstalled!\nE Uninstalling Crashhandler failed!\n"
                                "I Crashhandler successfully installed!\nE Crashhandler successfully uninstalled!");

        using namespace Kor::Platform;
        QCOMPARE(SignalRecords(SignalPipe::StopControl).fd(), -1);
        Kor::NS::SignalNotifier notifier(SignalPipe::Signals);
        QVERIFY(notifier.isValid());
        QSignalSpy received(&notifier, &Kor::NS::SignalNotifier::received);
        // Each closing signal is handled once; SIGQUIT is used by no other test here.
        ::raise(SIGQUIT);
        ::raise(SIGFPE);
        ::kill(::getpid(), SIGSEGV);
        QTRY_COMPARE(received.count(), 3);
        QCOMPARE(received.at(0).at(0).toInt(), SIGQUIT);
        QCOMPARE(received.at(1).at(0).toInt(), SIGFPE);
        QCOMPARE(received.at(2).at(0).toInt(), SIGSEGV);
        QVERIFY(SignalRecords(SignalPipe::Signals).take().empty());
    }

    void helper_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("ending"); // the exit code, or minus the signal that ends it
        QTest::addColumn<int>("dumpSignal"); // 0: no dump expected
        QTest::addColumn<QString>("output"); // a pattern; @ is the folder the dump goes to

        QTest::newRow("fault with crash handler") << "segv-dump" << -SIGSEGV << SIGSEGV << "";
        // A service account cannot write the program's folder: the dump goes
        // to the working directory, and a line says so.
        QTest::newRow("program folder read-only") << "segv-dump" << -SIGSEGV << SIGSEGV << "crash dumps go to @\n";
        QTest::newRow("program folder read-only, run from its parent")
            << "segv-dump" << -SIGSEGV << SIGSEGV << "crash dumps go to @\n";
        QTest::newRow("fault after uninstall") << "segv-uninstalled" << -SIGSEGV << 0 << "";
        QTest::newRow("division by zero") << "fpe-dump" << -SIGFPE << SIGFPE << "";
        QTest::newRow("chained to previous handler") << "chain" << 42 << SIGSEGV << "previous handler";
        QTest::newRow("raised without signal handlers") << "raise-crash-handler-only" << -SIGFPE << 0 << "";
        QTest::newRow("stack overflow on the installing thread") << "overflow-main" << -SIGSEGV << SIGSEGV << "";
        QTest::newRow("stack overflow on a library thread started before install")
            << "overflow-library-thread" << -SIGSEGV << SIGSEGV << "";
        QTest::newRow("stack overflow on a prepared host thread")
            << "overflow-host-thread" << -SIGSEGV << SIGSEGV << "";
    }

    void helper()
    {
        QFETCH(QString, mode);
        QFETCH(int, ending);
        QFETCH(int, dumpSignal);
        QFETCH(QString, output);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        QSKIP("the sanitizer handles the fault signals");
#endif
        HostFixture host("crashhelper");
        host.env().insert("TZ", "XYZ-3");
        host.env().insert("TESTHOST_CRASH", mode);
        const QByteArray tag = QTest::currentDataTag();
        const bool readOnly = tag.startsWith("program folder read-only");
        const QString dumpFolder = tag.endsWith("parent") ? host.root() : readOnly ? host.path("work") : host.binDir();
        const auto setMode = [](const QString& path, mode_t mode) { return ::chmod(qPrintable(path), mode) == 0; };
        if (readOnly)
            QVERIFY(QDir().mkpath(dumpFolder) && setMode(host.binDir(), 0555) && setMode(host.root(), 0755)
                    && setMode(dumpFolder, 0777));
        const QDateTime before = helperLocalNow();
        QProcess process;
        process.setProcessEnvironment(host.env());
        process.setWorkingDirectory(readOnly ? dumpFolder : host.root());
        // Root writes anywhere, so root runs the helper as an ordinary user.
        if (readOnly && ::geteuid() == 0)
            process.start("setpriv", { "--reuid=65534", "--regid=65534", "--clear-groups", host.executable() });
        else
            process.start(host.executable());
        QVERIFY2(process.waitForStarted(), qPrintable(process.errorString()));
        const qint64 pid = process.processId();
        QVERIFY(process.waitForFinished(20000));
        setMode(host.binDir(), 0755);
        const QDateTime after = helperLocalNow();
        const QString stdOut = QString::fromLocal8Bit(process.readAllStandardOutput());

        QCOMPARE(process.exitStatus() == QProcess::CrashExit ? -process.exitCode() : process.exitCode(), ending);
        output.replace('@', QRegularExpression::escape(dumpFolder));
        QVERIFY2(QRegularExpression(output).match(stdOut).hasMatch(), qPrintable(stdOut));
        QVERIFY(QDir(readOnly ? host.binDir() : host.root()).entryList({ "*.dmp" }).isEmpty());
        const QStringList dumps = QDir(dumpFolder).entryList({ "*.dmp" });
        QCOMPARE(dumps.size(), dumpSignal ? 1 : 0);
        if (!dumpSignal)
            return;

        QDateTime stamp = QDateTime::fromString(dumps.first(), "'crashhelper.'yyyy-MM-dd_HH-mm-ss'.dmp'");
        stamp.setTimeZone(QTimeZone::utc());
        QVERIFY2(stamp.isValid() && stamp >= before && stamp <= after, qPrintable(dumps.first()));

        const QString content = QString::fromLocal8Bit(host.readFile(dumpFolder + '/' + dumps.first()));
        // The stack overflow modes name the thread that faults.
        const QRegularExpressionMatch faulting = QRegularExpression(R"(faulting thread (\d+))").match(stdOut);
        const QString threadId = faulting.hasMatch() ? faulting.captured(1) : QString::number(pid);
        const QString signal =
            QStringLiteral("Signal: %1 (%2)").arg(Kor::Platform::signalName(dumpSignal)).arg(dumpSignal);
        for (const QString& part : { signal, QStringLiteral("Fault address: 0x"), "Thread id: " + threadId + "\n",
                                     QStringLiteral("\nBacktrace:\n") })
            QVERIFY2(content.contains(part), qPrintable(part + " not in\n" + content.left(300)));
        // The memory map lists the executable itself.
        QVERIFY(content.section("\nMemory map:\n", 1).contains(host.executable()));
    }

    void crashLog_data()
    {
        QTest::addColumn<std::exception_ptr>("exception");
        QTest::addColumn<QString>("lastLine");
        static std::logic_error pointed("bad pointer");
        const QString unknown = "Uncaught exception of type Unknown: Unknown error";
        QTest::newRow("int") << std::make_exception_ptr(7) << unknown;
        QTest::newRow("runtime_error") << std::make_exception_ptr(std::runtime_error("disk on fire"))
                                       << "Uncaught exception of type std::runtime_error: disk on fire";
        QTest::newRow("pointer") << std::make_exception_ptr(static_cast<std::exception*>(&pointed))
                                 << "Uncaught exception of type std::logic_error [thrown as pointer]: bad pointer";
        QTest::newRow("null pointer") << std::make_exception_ptr(static_cast<std::exception*>(nullptr)) << unknown;
        QTest::newRow("no exception") << std::exception_ptr() << unknown;
    }

    void crashLog()
    {
        QFETCH(std::exception_ptr, exception);
        QFETCH(QString, lastLine);
        QTemporaryDir folder;
        QVERIFY(QDir::setCurrent(folder.path()));
        logUncaughtExceptionBeforeCrash(exception);
        QVERIFY(QDir::setCurrent(QCoreApplication::applicationDirPath()));

        const QStringList files = QDir(folder.path()).entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        QVERIFY2(QRegularExpression(R"(^tst_crashhandler\.Crash\.\d{4}-\d\d-\d\d \d{6}\.\d{3}\.log$)")
                     .match(files.first()).hasMatch(),
                 qPrintable(files.first()));
        const QString text = QString::fromUtf8(HostFixture::readFile(folder.filePath(files.first())));
        const QString expected(R"(^tst_crashhandler crashed at \S+ \(\S+ UTC\)\nFull path: %1\nPID was %2\n\n%3\n\z)");
        QVERIFY2(QRegularExpression(expected.arg(QRegularExpression::escape(QCoreApplication::applicationFilePath()))
                                        .arg(QCoreApplication::applicationPid())
                                        .arg(QRegularExpression::escape(lastLine)))
                     .match(text).hasMatch(),
                 qPrintable(text));
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
            for (const QString& name : QDir(folder.path()).entryList(QDir::Files))
                shared = shared || HostFixture::readFile(folder.filePath(name)).count("std::runtime_error: again") == 2;
        }
        QVERIFY(shared);
        QVERIFY(QDir::setCurrent(QCoreApplication::applicationDirPath()));
    }
};

QTEST_GUILESS_MAIN(tst_CrashHandler)
#include "tst_crashhandler.moc"
