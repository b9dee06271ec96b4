#include <Kor/LogModule.h>
#include <Kor/LogObject.h>

#include "LogFile_p.h"
#include "LogJournal_p.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <atomic>
#include <csignal>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using Kor::LogModule;

namespace {

void logLine(int severity, const char* text, Kor::LogEntryType type = Kor::LOG_INFO)
{
    LogModule::_LOG(type, __FILE__, __LINE__, severity, "%s", text);
}

void logLines(int from, int to, Kor::LogEntryType type = Kor::LOG_INFO, const char* text = "line")
{
    for (int i = from; i < to; ++i)
        LogModule::_LOG(type, __FILE__, __LINE__, Kor::INFO, "%s %d", text, i);
}

QStringList linesOf(const QByteArray& text)
{
    QStringList lines = QString::fromUtf8(text).split('\n');
    if (lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QStringList readLines(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? linesOf(file.readAll()) : QStringList();
}

void writeFile(const QString& path, const QByteArray& content, const QDateTime& modified = {})
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.flush(); // before the time is set, or closing would change it again
    if (modified.isValid())
        QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
}

// What body writes to standard output and error together; given an fd,
// they go there instead.
QByteArray captured(const std::function<void()>& body, int fd = -1)
{
    QTemporaryFile file;
    if (!file.open())
        return "no file to capture into";
    std::fflush(stdout);
    const int out = ::dup(STDOUT_FILENO), err = ::dup(STDERR_FILENO);
    ::dup2(fd < 0 ? file.handle() : fd, STDOUT_FILENO);
    ::dup2(fd < 0 ? file.handle() : fd, STDERR_FILENO);
    body();
    std::fflush(stdout);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    ::close(out);
    ::close(err);
    file.seek(0);
    return file.readAll();
}

// Drives the pace of the log file's reopening attempts.
std::atomic<std::int64_t> g_now{0};

} // namespace

class tst_LogModule : public QObject
{
    Q_OBJECT

    QString base() const { return m_dir->path() + "/app"; }
    QString logPath() const { return base() + ".log"; }
    void startFile() { LogModule::Start(LogModule::LogFile, base().toLocal8Bit(), "test", ""); }

    std::unique_ptr<QTemporaryDir> m_dir;

private slots:
    void initTestCase()
    {
        // As the application frame does: a failed write says why instead.
        std::signal(SIGPIPE, SIG_IGN);
        std::signal(SIGXFSZ, SIG_IGN);
    }

    void init()
    {
        LogModule::Stop(-1);
        Kor::detail::setLogFileClock(nullptr);
        LogModule::SetGlobalInfoSeverity(Kor::TRACE);
        LogModule::SetInfoSeverity(LogModule::AllOutputs, Kor::TRACE);
        LogModule::LogFileUserdata("");
        LogModule::LogFileMode(0);
        LogModule::LogFileHistoryPath("");
        LogModule::LogFileFlush(true);
        LogModule::LogFileBufferSize(4096);
        LogModule::setLogWarning(0);
        LogModule::EnableTime(false);
        LogModule::EnableType(false);
        LogModule::EnableThreadID(false, false);
        LogModule::SetNameMinSize(0);
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void severities_data()
    {
        QTest::addColumn<bool>("console"); // else the file
        QTest::addColumn<int>("global");
        QTest::addColumn<int>("output");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("file, all") << false << 0 << 0 << QStringList{"s0", "s1", "s2", "s3"};
        QTest::newRow("file INFO") << false << 0 << 2 << QStringList{"s2", "s3"};
        QTest::newRow("file, global ALWAYS") << false << 3 << 1 << QStringList{"s3"};
        QTest::newRow("file DISABLED, never opened") << false << 0 << 4 << QStringList{};
        QTest::newRow("global DISABLED silences ALWAYS") << false << 4 << 0 << QStringList{};
        QTest::newRow("console DEBUG") << true << 0 << 1 << QStringList{"s1", "s2", "s3"};
        QTest::newRow("console, global INFO") << true << 2 << 0 << QStringList{"s2", "s3"};
        QTest::newRow("console DISABLED") << true << 0 << 4 << QStringList{};
    }

    // WouldLog() tells what the output writes, whatever the switched-off
    // outputs take. The debugger window, on later, stays silent without a debugger.
    void severities()
    {
        QFETCH(bool, console);
        QFETCH(int, global);
        QFETCH(int, output);
        QFETCH(QStringList, expected);
        const int outputs = console ? LogModule::Console : LogModule::LogFile;
        LogModule::Start(outputs, base().toLocal8Bit(), "test", "");
        LogModule::SetGlobalInfoSeverity(global);
        LogModule::SetInfoSeverity(outputs, output);
        for (int severity = 0; severity <= 3; ++severity)
            QCOMPARE(LogModule::WouldLog(Kor::LOG_INFO, severity), expected.contains(QString("s%1").arg(severity)));
        LogModule::Enable(LogModule::DebugWindow, true);
        const QByteArray out = captured([] {
            for (int severity = 0; severity <= 3; ++severity)
                logLine(severity, qPrintable(QString("s%1").arg(severity)));
        });
        QCOMPARE(console ? linesOf(out) : readLines(logPath()), expected);
        QCOMPARE(QFile::exists(logPath()), !console && !expected.isEmpty());
        LogModule::Stop(-1);
        QVERIFY(!LogModule::WouldLog(Kor::LOG_INFO, Kor::ALWAYS));
    }

    void lazyOpen_data()
    {
        QTest::addColumn<int>("type");         // of the lines logged while the file output is off
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("fileSeverity"); // meanwhile; the lines are INFO
        // A: asynchronous writer; S: Stop(-1) and Start() before the file
        // output goes on; N: it never goes on;
        // B: logged before Start(), with no output at all.
        QTest::addColumn<QString>("options");
        QTest::addColumn<int>("kept");
        QTest::addColumn<int>("dropped");
        QTest::newRow("info lines are not kept") << 1 << 2 << 0 << "" << 0 << 0;
        QTest::newRow("warnings kept") << 2 << 3 << 0 << "" << 3 << 0;
        QTest::newRow("below the file's severity then") << 2 << 2 << 3 << "" << 0 << 0;
        QTest::newRow("more than are kept") << 2 << 300 << 0 << "" << 256 << 44;
        QTest::newRow("asynchronous writer") << 3 << 257 << 0 << "A" << 256 << 1;
        QTest::newRow("stopped and started again") << 2 << 3 << 0 << "S" << 0 << 0;
        QTest::newRow("never switched on") << 2 << 3 << 0 << "N" << 0 << 0;
        QTest::newRow("before the start") << 2 << 3 << 0 << "B" << 3 << 0;
    }

    // A program keeps its file output off until it may write there; warnings
    // and errors of that time reach the file when it opens, after its first
    // line and as they were formatted then.
    void lazyOpen()
    {
        QFETCH(int, type);
        QFETCH(int, count);
        QFETCH(int, fileSeverity);
        QFETCH(QString, options);
        QFETCH(int, kept);
        QFETCH(int, dropped);
        LogModule::EnableTime(true);
        LogModule::EnableType(true);
        if (options.contains('B'))
            logLines(0, count, Kor::LogEntryType(type), "before");
        LogModule::Start(LogModule::AllOutputs & ~LogModule::Console, base().toLocal8Bit(), "Recorder", "");
        LogModule::LogFileUserdata("user data");
        LogModule::Enable(LogModule::LogFile, false);
        if (options.contains('A'))
            QVERIFY(LogModule::LogFileEnableAsyncWriting(4096, 16));
        LogModule::SetInfoSeverity(LogModule::LogFile, fileSeverity);
        if (!options.contains('B'))
            logLines(0, count, Kor::LogEntryType(type), "before");
        LogModule::EnableTime(false);
        LogModule::EnableType(false);
        LogModule::SetInfoSeverity(LogModule::LogFile, Kor::TRACE);
        QVERIFY(!QFile::exists(logPath()));
        if (options.contains('S')) {
            LogModule::Stop(-1);
            startFile();
            LogModule::Enable(LogModule::LogFile, false);
        }
        if (!options.contains('N')) {
            LogModule::Enable(LogModule::LogFile, true);
            logLine(Kor::INFO, "first");
        }
        LogModule::Stop(-1);
        QStringList expected{"user data"};
        for (int i = 0; i < kept; ++i)
            expected << QString("TIME %1 before %2").arg(type == Kor::LOG_WARNING ? "W" : "E").arg(i);
        if (dropped)
            expected << QString::number(dropped) + " more";
        static const QRegularExpression time(R"(^\d{4}/\d\d/\d\d \d\d:\d\d:\d\d,\d{3} )");
        static const QRegularExpression more(" more .* from before the log file was opened .*");
        QCOMPARE(readLines(logPath()).replaceInStrings(time, "TIME ").replaceInStrings(more, " more"),
                 options.contains('N') ? QStringList() : expected << "first");
    }

    void files_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QStringList>("expected"); // "<file below DIR>: <its lines, separated by '|'>"
        const QString taken = "history/app.20240305-140709.log: taken";
        // The previous run's file is kept, or moved to the history under the
        // time of its last change, beside a file that has that name already.
        QTest::newRow("append") << "append"
                                << QStringList{"app.log: old run|user data|new run", taken,
                                               "history/app.20240305-140709_1.log: "};
        QTest::newRow("history") << "history"
                                 << QStringList{"app.log: user data|new run", taken,
                                                "history/app.20240305-140709_1.log: old run"};
        // A second after a failed attempt the next one is due.
        QTest::newRow("folder made later")
            << "later"
            << QStringList{"later/app.log: user data|Log file DIR/later/app.log reopened; 3 lines were lost|back"};
        QTest::newRow("new file after queued lines")
            << "queued"
            << QStringList{"app.log: user data" + QString("|old").repeated(20000), "other.log: user data|new"};
    }

    void files()
    {
        QFETCH(QString, scenario);
        QFETCH(QStringList, expected);
        const QString dir = m_dir->path();
        LogModule::LogFileUserdata("user data");
        if (scenario == "later") {
            Kor::detail::setLogFileClock([] { return g_now.load(); });
            LogModule::Start(LogModule::LogFile, (dir + "/later/app").toLocal8Bit(), "test", "");
            logLine(Kor::INFO, "lost");
            logLine(Kor::INFO, "lost");
            QVERIFY(QDir().mkpath(dir + "/later"));
            g_now += 999;
            logLine(Kor::INFO, "lost: the next attempt is not due yet");
            g_now += 1;
            logLine(Kor::INFO, "back");
        } else if (scenario == "queued") {
            startFile();
            QVERIFY(LogModule::LogFileEnableAsyncWriting(64 << 20, 1)); // a write per line: the queue stays long
            for (int i = 0; i < 20000; ++i)
                logLine(Kor::INFO, "old");
            LogModule::Start(LogModule::LogFile, (dir + "/other").toLocal8Bit(), "test", "");
            logLine(Kor::INFO, "new");
        } else {
            writeFile(logPath(), "old run\n", QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)));
            QVERIFY(QDir().mkpath(dir + "/history"));
            writeFile(dir + "/history/app.20240305-140709.log", "taken\n");
            LogModule::LogFileMode(scenario == "history");
            LogModule::LogFileHistoryPath((dir + "/history").toLocal8Bit());
            startFile();
            logLine(Kor::INFO, "new run");
        }
        LogModule::Stop(-1);
        for (const QString& file : expected)
            QCOMPARE(readLines(m_dir->filePath(file.section(": ", 0, 0))),
                     file.section(": ", 1).replace("DIR", dir).split('|', Qt::SkipEmptyParts));
    }

    void layout_data()
    {
        QTest::addColumn<int>("entryType");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("minSize");
        QTest::addColumn<QString>("options"); // T type mark, D dotted, S separated, i thread id, n and its name
        QTest::addColumn<QString>("expected");
        const QString pid = QString::number(QCoreApplication::applicationPid());
        QTest::newRow("bare text") << 1 << "" << 0 << "" << "hello";
        QTest::newRow("info mark") << 1 << "" << 0 << "T" << "I hello";
        QTest::newRow("detail mark") << 4 << "" << 0 << "T" << "D hello";
        QTest::newRow("name") << 1 << "Main" << 0 << "T" << "I Main hello";
        QTest::newRow("name dotted") << 1 << "Main" << 8 << "D" << "Main.... hello";
        QTest::newRow("separated and dotted") << 1 << "Main" << 6 << "DS" << "<Main>.. hello";
        QTest::newRow("nameless keeps column") << 1 << "" << 4 << "D" << "     hello";
        QTest::newRow("thread id") << 1 << "" << 0 << "Ti" << "I [" + pid + "] hello";
        QTest::newRow("thread id and name") << 1 << "Main" << 0 << "n" << "[" + pid + " tst_logmodule] Main hello";
    }

    void layout()
    {
        QFETCH(int, entryType);
        QFETCH(QString, name);
        QFETCH(int, minSize);
        QFETCH(QString, options);
        QFETCH(QString, expected);
        startFile();
        LogModule::EnableType(options.contains('T'));
        LogModule::SetNameMinSize(minSize);
        LogModule::SetNameDotted(options.contains('D'));
        LogModule::SetNameSeparated(options.contains('S'));
        LogModule::EnableThreadID(options.contains('i') || options.contains('n'), options.contains('n'));
        if (Kor::LogObject* object = Kor::LogObject::getLogObject(qPrintable(name))) {
            object->Log("part", Kor::LOG_INFO, __FILE__, __LINE__, Kor::TRACE - 1, "below every output");
            object->Log(Kor::LogEntryType(entryType), __FILE__, __LINE__, Kor::INFO, "hello");
        } else
            logLine(Kor::INFO, "hello", Kor::LogEntryType(entryType));
        LogModule::EnableTime(true);
        logLine(Kor::INFO, "timed");
        const QStringList lines = readLines(logPath());
        QCOMPARE(lines.value(0), expected);
        QVERIFY2(lines.size() == 2 && lines[1].endsWith(" timed"), qPrintable(lines.join('\n')));
        const QDateTime stamp = QDateTime::fromString(lines[1].left(23), "yyyy/MM/dd HH:mm:ss,zzz");
        QVERIFY(stamp.isValid() && qAbs(stamp.secsTo(QDateTime::currentDateTime())) < 60); // local time, not UTC
    }

    void manyThreads_data()
    {
        QTest::addColumn<int>("queueBytes"); // 0: synchronous
        QTest::addColumn<int>("batchLines");
        QTest::addColumn<bool>("flush");
        QTest::addColumn<bool>("switching"); // the settings change all the while
        // Warnings, the file output off until the threads run: those kept
        // meanwhile race with those that find the output on.
        QTest::addColumn<bool>("fileLater");
        QTest::newRow("asynchronous tiny unflushed") << 300 << 1024 << false << false << false;
        QTest::newRow("switches race with logging") << 0 << 0 << true << true << false;
        QTest::newRow("file switched on, asynchronous") << 300 << 4 << true << false << true;
    }

    void manyThreads()
    {
        QFETCH(int, queueBytes);
        QFETCH(int, batchLines);
        QFETCH(bool, flush);
        QFETCH(bool, switching);
        QFETCH(bool, fileLater);
        startFile();
        if (fileLater)
            LogModule::Enable(LogModule::LogFile, false);
        LogModule::EnableTime(true);
        LogModule::LogFileFlush(flush);
        if (queueBytes)
            QVERIFY(LogModule::LogFileEnableAsyncWriting(queueBytes, batchLines));
        // No more warnings than are kept before the file is on.
        const int threads = 8, perThread = fileLater ? 30 : 5000;
        const Kor::LogEntryType type = fileLater ? Kor::LOG_WARNING : Kor::LOG_INFO;
        std::atomic<int> finished{0};
        std::vector<std::thread> loggers;
        for (int k = 0; k < threads; ++k) {
            loggers.emplace_back([&, k] {
                for (int i = 0; i < perThread; ++i)
                    LogModule::_LOG(type, __FILE__, __LINE__, Kor::INFO, "t%d n%d %.*s", k, i, i % 37,
                                    "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx");
                ++finished;
            });
        }
        if (fileLater)
            LogModule::Enable(LogModule::LogFile, true);
        for (int round = 0; switching && finished < threads; ++round) {
            if (round % 2)
                LogModule::Stop(LogModule::AsyncWriter);
            else
                LogModule::LogFileEnableAsyncWriting(200 + round % 3 * 5000, 1 + round % 5);
            LogModule::Enable(LogModule::DebugWindow, round % 3 == 0);
            LogModule::EnableThreadID(round % 4 == 0, round % 8 == 0);
            LogModule::EnableTime(round % 5 != 0);
            LogModule::SetNameMinSize(round % 7);
            LogModule::LogFileFlush(round % 6 != 0);
            LogModule::LogFileBufferSize(round % 3 * 100);
        }
        for (auto& thread : loggers)
            thread.join();
        LogModule::LogFilePrepareStop();
        // Each thread's lines are there once, whole, in its order.
        static const QRegularExpression pattern(QStringLiteral("t(\\d) n(\\d+) (x*)$"));
        QList<int> next(threads, 0);
        for (const QString& line : readLines(logPath())) {
            const QRegularExpressionMatch match = pattern.match(line);
            const int k = match.captured(1).toInt(), i = match.captured(2).toInt();
            if (match.hasMatch() && (i != next[k]++ || match.capturedLength(3) != i % 37))
                QFAIL(qPrintable(line));
        }
        QCOMPARE(next, QList<int>(threads, perThread));
    }

    void writing_data()
    {
        QTest::addColumn<int>("queueBytes"); // 0: synchronous
        QTest::addColumn<bool>("flush");
        QTest::addColumn<int>("bufferSize");
        QTest::newRow("flush each line") << 0 << true << 4096;
        QTest::newRow("buffered") << 0 << false << 4096;
        QTest::newRow("no buffer") << 0 << false << 0;
        QTest::newRow("asynchronous, line longer than the queue") << 100 << true << 4096;
    }

    // A buffered line shows once the file is flushed; a line longer than
    // the buffers stays whole.
    void writing()
    {
        QFETCH(int, queueBytes);
        QFETCH(bool, flush);
        QFETCH(int, bufferSize);
        startFile();
        LogModule::LogFileFlush(flush);
        LogModule::LogFileBufferSize(bufferSize);
        if (queueBytes)
            QVERIFY(LogModule::LogFileEnableAsyncWriting(queueBytes, 10));
        QCOMPARE(LogModule::IsAsyncWriting(), queueBytes > 0);
        logLine(Kor::INFO, "short");
        if (!queueBytes)
            QCOMPARE(readLines(logPath()), flush || !bufferSize ? QStringList{"short"} : QStringList());
        const QByteArray text(20000, 'y');
        LogModule::_LOG(Kor::LOG_INFO, __FILE__, __LINE__, Kor::INFO, "%s|%d", text.constData(), 7);
        logLine(Kor::INFO, "after");
        LogModule::LogFilePrepareStop();
        QCOMPARE(readLines(logPath()), (QStringList{"short", QString::fromLatin1(text) + "|7", "after"}));
    }

    // The warning comes at most once a minute, however often the queue fills;
    // the next one tells how often it filled meanwhile.
    void queueWarning()
    {
        Kor::detail::setLogFileClock([] { return g_now.load(); });
        startFile();
        LogModule::EnableType(true);
        LogModule::setLogWarning(50);
        QVERIFY(LogModule::LogFileEnableAsyncWriting(1000, 1024)); // every batch empties the queue
        const QByteArray big(600, 'b'); // more than half of the queue on its own
        // Whether a second line finds the queue still above depends on the
        // writer's pace: each rise here follows an emptied queue.
        for (int i = 0; i < 5; ++i) {
            LogModule::LogFilePrepareStop(); // the queue is empty again
            if (i >= 3) // a minute later, and then another
                g_now += 60000;
            if (i == 4) // switched off: no warning at all
                LogModule::setLogWarning(0);
            logLine(Kor::INFO, big.constData());
        }
        LogModule::Stop(-1);
        static const QRegularExpression warning(
            "^W Log queue above 50% of its 1000 bytes: \\d+ bytes waiting to be written");
        const QStringList warnings = readLines(logPath()).filter(warning).replaceInStrings(warning, "W");
        QCOMPARE(warnings, (QStringList{"W", "W; it rose above 50% 2 more times since this was last said"}));
    }

    void failingOutputs_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("file"); // DIR: the test folder
        QTest::addColumn<QString>("notice"); // on standard output
        // The lines "line <n>" logged to DIR/app.log, each written or counted
        // as lost, and the one other line there.
        QTest::addColumn<int>("logged");
        QTest::addColumn<QString>("other");
        for (const char* how : {"sync", "buffered", "async"})
            QTest::addRow("file limit, %s", how) << QString("limit ") + how << "DIR/app"
                                                 << "E Log file DIR/app.log cannot be written: File too large" << 410
                                                 << " reopened; ";
        QTest::newRow("exit with queued lines") << "exit" << "DIR/app" << "" << 2000 << "helper";
        for (const char* mode : {"brokenpipe", "brokenpipe, file off"})
            QTest::addRow("%s", mode) << mode << "DIR/app" << "" << 410 << "E Console output switched off: Broken pipe";
        QTest::newRow("parent is a file") << "unwritable" << "DIR/file.txt/log"
                                          << "E Log file DIR/file.txt/log.log cannot be opened: Not a directory" << 0
                                          << "";
        QTest::newRow("link to a device") << "unwritable" << "DIR/full"
                                          << "E Log file DIR/full.log cannot be opened: not a regular file" << 0 << "";
        // Opening it for writing would block every logging thread.
        QTest::newRow("FIFO without a reader")
            << "unwritable" << "DIR/fifo" << "E Log file DIR/fifo.log cannot be opened: No such device or address" << 0
            << "";
        QTest::newRow("journal reads standard output")
            << "journal" << "DIR/missing/sub/log"
            << "<3>E Log file DIR/missing/sub/log.log cannot be opened: No such file or directory" << 0 << "";
    }

    // A log file that cannot be written, and a console nobody reads. The
    // reason shows on standard output once, also while the console output
    // is off; the journal files it by its priority.
    void failingOutputs()
    {
        QFETCH(QString, mode);
        QFETCH(QString, file);
        QFETCH(QString, notice);
        QFETCH(int, logged);
        QFETCH(QString, other);
        const QString dir = m_dir->path();
        writeFile(dir + "/file.txt", "a file, not a folder");
        QCOMPARE(::mkfifo(QFile::encodeName(dir + "/fifo.log").constData(), 0600), 0);
        if (!QFile::link("/dev/full", dir + "/full.log") && file == "DIR/full")
            QSKIP("no /dev/full to link to");
        const QByteArray base = QFile::encodeName(file.replace("DIR", dir));
        LogModule::EnableType(true);
        const auto run = [&] {
            if (mode == "journal") { // as systemd starts a service: JOURNAL_STREAM names standard output
                struct stat st{};
                ::fstat(STDOUT_FILENO, &st);
                qputenv("JOURNAL_STREAM", QByteArray::number(st.st_dev) + ':' + QByteArray::number(st.st_ino));
            }
            rlimit original{};
            ::getrlimit(RLIMIT_FSIZE, &original);
            const rlimit limited{qMin<rlim_t>(2000, original.rlim_max), original.rlim_max};
            if (mode.startsWith("limit")) // a write fails part-way (EFBIG)
                ::setrlimit(RLIMIT_FSIZE, &limited);
            LogModule::Start(LogModule::Console | LogModule::LogFile, base, "test", "");
            if (mode.endsWith("file off")) { // the console's note waits for the file output
                LogModule::Enable(LogModule::LogFile, false);
                logLine(Kor::INFO, "to the console only");
                LogModule::Enable(LogModule::LogFile, true);
            }
            LogModule::LogFileFlush(!mode.endsWith("buffered") && !mode.endsWith("async"));
            if (mode.endsWith("async"))
                LogModule::LogFileEnableAsyncWriting(1 << 20, 16);
            LogModule::SetInfoSeverity(LogModule::LogFile, Kor::INFO);
            if (!mode.startsWith("brokenpipe"))
                LogModule::SetInfoSeverity(LogModule::Console, Kor::DISABLED);
            logLines(0, 400);
            LogModule::LogFilePrepareStop();
            ::setrlimit(RLIMIT_FSIZE, &original);
            // A retry failing for the same reason stays quiet; no need to wait
            // for the next attempt.
            LogModule::Enable(LogModule::LogFile, true);
            logLines(400, 410);
            qunsetenv("JOURNAL_STREAM");
        };
        int console[2];
        QCOMPARE(::pipe(console), 0);
        ::close(console[0]); // nobody reads it
        if (mode == "exit")
            QCOMPARE(QProcess::execute(QCoreApplication::applicationFilePath(), {"--exit-with-queue", file}), 0);
        const QByteArray out = mode == "exit" ? QByteArray()
                                              : captured(run, mode.startsWith("brokenpipe") ? console[1] : -1);
        ::close(console[1]);
        QCOMPARE(LogModule::IsEnabled(LogModule::Console), !mode.startsWith("brokenpipe") && mode != "exit");
        QVERIFY(!LogModule::WouldLog(Kor::LOG_INFO, Kor::TRACE)); // what only the console took
        LogModule::Stop(-1);
        QCOMPARE(linesOf(out), notice.isEmpty() ? QStringList() : QStringList{notice.replace("DIR", dir)});
        if (!logged)
            return;
        // Every line is whole: a logged one, in order, or the other one.
        static const QRegularExpression line(R"(^(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d,\d{3} )?I line (\d+)$)");
        static const QRegularExpression lost(" reopened; (\\d+) lines? w");
        const QStringList lines = readLines(dir + "/app.log");
        int written = 0, last = -1, lostLines = 0;
        for (const QString& l : lines) {
            const QRegularExpressionMatch match = line.match(l);
            if (match.hasMatch()) {
                QVERIFY2(match.captured(2).toInt() > last, qPrintable(l));
                last = match.captured(2).toInt();
                ++written;
            } else {
                QVERIFY2(l.contains(other), qPrintable(l));
                lostLines += lost.match(l).captured(1).toInt();
            }
        }
        QCOMPARE(lines.size(), written + 1);
        QCOMPARE(written + lostLines, logged);
        QCOMPARE(last, logged - 1);
    }

    void historySelection_data()
    {
        QTest::addColumn<int>("keep");
        QTest::addColumn<qulonglong>("maxBytes");
        QTest::addColumn<QStringList>("deleted");
        // From the newest: d 10 bytes, c_1 20 (as old as c, newer by its
        // counter), c 30, b 35 (its name is the newest: the zone changed
        // since), a 40; together 10, 30, 60, 95, 135.
        QTest::newRow("no limits") << 0 << 0ull << QStringList();
        QTest::newRow("two files") << 2 << 0ull << QStringList{"c", "b", "a"};
        QTest::newRow("more allowed than there are") << 9 << 0ull << QStringList();
        QTest::newRow("59 bytes") << 0 << 59ull << QStringList{"c", "b", "a"};
        QTest::newRow("exactly 60 bytes") << 0 << 60ull << QStringList{"b", "a"};
        QTest::newRow("newest alone too large") << 0 << 5ull << QStringList{"c_1", "c", "b", "a"};
        QTest::newRow("both, count stricter") << 1 << 1000ull << QStringList{"c_1", "c", "b", "a"};
        QTest::newRow("both, size stricter") << 4 << 35ull << QStringList{"c", "b", "a"};
    }

    void historySelection()
    {
        QFETCH(int, keep);
        QFETCH(qulonglong, maxBytes);
        QFETCH(QStringList, deleted);
        const std::vector<Kor::detail::HistoryEntry> entries{
            {"20240101-000000", 0, "a", 40, 100}, {"20240301-000000", 0, "d", 10, 400},
            {"20240201-000000", 0, "c", 30, 300}, {"20240201-000000", 1, "c_1", 20, 300},
            {"20240401-000000", 0, "b", 35, 200}};
        QStringList got;
        for (const std::string& name : Kor::detail::historyToDelete(entries, keep, maxBytes))
            got << QString::fromStdString(name);
        QCOMPARE(got, deleted);
    }

    void historyOnDateChange()
    {
        // Between UTC-12 and UTC+14 the local date always differs, so moving the
        // zone forward is a change of date between two lines.
        const QByteArray zone = qgetenv("TZ");
        auto restore = qScopeGuard([&] { zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone); });
        qputenv("TZ", "UTC+12");
        // Lines take their date from a per-second cache: an earlier test's line
        // in this second would still carry the real zone's date.
        const qint64 second = QDateTime::currentSecsSinceEpoch();
        QTRY_VERIFY(QDateTime::currentSecsSinceEpoch() != second);
        startFile();
        LogModule::LogFileMode(1);
        logLine(Kor::INFO, "yesterday");
        qputenv("TZ", "UTC-14");
        int tries = 0;
        // The date text is recomputed when the second changes.
        QTRY_VERIFY_WITH_TIMEOUT((logLine(Kor::INFO, qPrintable(QString("today %1").arg(tries++))),
                                  QDir(m_dir->path()).entryList({"app.2*.log"}).size() == 1),
                                 5000);
        LogModule::Stop(-1);
        const QStringList moved = readLines(m_dir->filePath(QDir(m_dir->path()).entryList({"app.2*.log"}).value(0)));
        QCOMPARE(moved.value(0), QStringLiteral("yesterday"));
        const QStringList current = readLines(logPath());
        QVERIFY(current.value(0).startsWith("today"));
        QCOMPARE(moved.size() + current.size(), tries + 1); // every line in one of the two files
    }

    void journal_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("severity");
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<int>("skip"); // the time column
        QTest::addColumn<QByteArray>("journal");
        const auto row = [](const char* tag, int type, int severity, const char* entry, int skip, const char* journal) {
            QTest::newRow(tag) << type << severity << QByteArray(entry) << skip << QByteArray(journal);
        };
        row("trace", Kor::LOG_DETAIL, Kor::TRACE, "I text\n", 0, "<7>I text\n");
        row("info, time column left out", Kor::LOG_INFO, Kor::INFO, "2024/03/05 14:07:09,042 I text\n", 24,
            "<6>I text\n");
        row("always, no line feed at the end", Kor::LOG_INFO, Kor::ALWAYS, "a\nb", 0, "<5>a\n<5>b\n");
        row("warning, every line prefixed", Kor::LOG_WARNING, Kor::TRACE, "TTTW a\nb\n\nc\n", 3,
            "<4>W a\n<4>b\n<4>\n<4>c\n");
        row("info detail", Kor::LOG_DETAIL, Kor::INFO, "D x\n", 0, "<6>D x\n");
    }

    // The journal splits records at line feeds: each line needs its own
    // prefix. The service tests see the other priorities.
    void journal()
    {
        QFETCH(int, type);
        QFETCH(int, severity);
        QFETCH(QByteArray, entry);
        QFETCH(int, skip);
        QFETCH(QByteArray, journal);
        std::string out;
        Kor::detail::appendJournalEntry(out, entry.constData(), std::size_t(entry.size()), std::size_t(skip),
                                        Kor::detail::journalPriority(Kor::LogEntryType(type), severity));
        QCOMPARE(QByteArray::fromStdString(out), journal);
    }
};

int main(int argc, char** argv)
{
    // Queued, unflushed lines when main() returns without Stop().
    if (argc == 3 && std::strcmp(argv[1], "--exit-with-queue") == 0) {
        LogModule::Start(LogModule::LogFile, argv[2], "test", "");
        LogModule::LogFileUserdata("helper");
        LogModule::LogFileFlush(false);
        LogModule::LogFileEnableAsyncWriting(1 << 20, 1024);
        logLines(0, 2000);
        return 0;
    }
    QCoreApplication app(argc, argv);
    tst_LogModule test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_logmodule.moc"
