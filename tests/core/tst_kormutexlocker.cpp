// The traced mutex locker: settings, log lines and the trace file while
// threads hold and wait.
#include "LogLines.h"

#include <QProcess>
#include <QMutex>
#include <QRecursiveMutex>
#include <QSemaphore>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <sys/stat.h>
#include <unistd.h>

using namespace Kor::NS;

namespace {

const QString TraceFile = QStringLiteral("LockedMutexConfiguration.ini");
const QString NotRegular = QStringLiteral("is not a regular file; it is not written");

// The trace file as it is on disk now: group -> key -> value.
QMap<QString, QMap<QString, QString>> traceFile()
{
    QSettings file(TraceFile, QSettings::IniFormat);
    QMap<QString, QMap<QString, QString>> result;
    for (const QString& group : file.childGroups()) {
        file.beginGroup(group);
        for (const QString& key : file.childKeys())
            result[group][key] = file.value(key).toString();
        file.endGroup();
    }
    return result;
}

} // namespace

class tst_KorMutexLocker : public QObject
{
    Q_OBJECT


    QTemporaryDir m_dir;
    TestLog m_log;
    QString m_ini;
    Application* m_app = nullptr;

private slots:
    void initTestCase()
    {
        QVERIFY(QDir::setCurrent(m_dir.path())); // where the trace file is written
        qputenv("KOR_REGISTRY_ROOT", QFile::encodeName(m_dir.filePath("registry")));
        m_log.start(m_dir.filePath("locker"));
        QThread::currentThread()->setObjectName("lockmain");

        // Left by an "earlier run": gone at the first traced lock.
        QVERIFY(writeFile(TraceFile, "[MutexConfiguration_stale]\nThreadName=old\n"));

        m_app = new Application(sharedCore());
        m_ini = m_dir.filePath("app.ini");
        QCOMPARE(m_app->setINIFile(QVariant(m_ini)), Parameter::Continue);
    }

    void cleanupTestCase() { delete m_app; }

    // Each test leaves both kinds of tracing off; the first finds the keys
    // not yet written.
    void cleanup()
    {
        QVERIFY(m_app->changeSettings({ { "Loglevel/LogMutex", false }, { "Loglevel/LogMutexConfig", false } }));
    }

    void nothingTraced_data()
    {
        QTest::addColumn<bool>("tracing");
        QTest::newRow("tracing off by default") << false;
        QTest::newRow("tracing on, no mutex") << true;
    }

    // Neither a log line nor the trace file, which keeps what an earlier run left.
    void nothingTraced()
    {
        QFETCH(bool, tracing);
        if (tracing)
            QVERIFY(m_app->changeSettings({ { "Loglevel/LogMutex", true }, { "Loglevel/LogMutexConfig", true } }));
        m_log.newLines();
        QMutex mutex;
        {
            _KorMutexLocker locker(tracing ? nullptr : &mutex);
            _KorMutexLocker recursive(static_cast<QRecursiveMutex*>(nullptr));
            QCOMPARE(mutex.tryLock(), tracing);
        }
        QVERIFY(tracing || mutex.tryLock());
        mutex.unlock();
        // The first lock found no keys and wrote them.
        QSettings ini(m_ini, QSettings::IniFormat);
        QCOMPARE(ini.value("Loglevel/LogMutex").toString(), QVariant(tracing).toString());
        QCOMPARE(ini.value("Loglevel/LogMutexConfig").toString(), QVariant(tracing).toString());
        QVERIFY(!m_log.newLines().join('\n').contains("mutex"));
        QVERIFY(traceFile().contains("MutexConfiguration_stale"));
    }

    void moveHandsTheLockOver()
    {
        QMutex mutex;
        {
            _KorMutexLocker first(&mutex);
            {
                _KorMutexLocker second(std::move(first));
                QVERIFY(!mutex.tryLock());
            }
            QVERIFY(mutex.tryLock()); // unlocked by the new holder; ours again
        }
        // The moved-from locker unlocked nothing: the lock is still ours.
        QVERIFY(!mutex.tryLock());
        mutex.unlock();
    }

    void logLines_data()
    {
        QTest::addColumn<QString>("registered");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << "Queue-1" << "Queue-1";
        QTest::newRow("blanks and slashes") << "net/io queue a" << "net_io_queue_a";
        QTest::newRow("unregistered") << QString() << QString();
    }

    void logLines()
    {
        QFETCH(QString, registered);
        QFETCH(QString, shown);
        QMutex mutex;
        if (!registered.isEmpty())
            _KorMutexLocker::registerMutex(&mutex, registered);
        if (shown.isEmpty())
            shown = QString::number(quintptr(&mutex));
        QVERIFY(m_app->changeSetting("Loglevel/LogMutex", true));
        m_log.newLines();
        (void)_KorMutexLocker(&mutex); // locked and unlocked at once
        const QString suffix = " from thread lockmain(" + QString::number(gettid()) + ")";
        const QStringList lines = m_log.newLines().filter("mutex");
        QVERIFY2(lines.size() == 2 && lines[0].endsWith("Locked mutex " + shown + suffix)
                     && lines[1].endsWith("Unlocking mutex " + shown + suffix),
                 qPrintable(lines.join('\n')));
        _KorMutexLocker::unregisterMutex(&mutex);
    }

    void traceFileWhileAnotherThreadWaits()
    {
        QMutex mutex;
        _KorMutexLocker::registerMutex(&mutex, "shared state/1");
        const QString group = "MutexConfiguration_shared_state_1";
        QVERIFY(m_app->changeSetting("Loglevel/LogMutexConfig", true));

        auto* holder = new _KorMutexLocker(&mutex);
        const QString mainId = QString::number(gettid());
        QMap<QString, QString> keys = traceFile().value(group);
        QVERIFY(!keys.take("LockDate").isEmpty());
        QCOMPARE(keys, (QMap<QString, QString>{ { "ThreadName", "lockmain" }, { "ThreadId", mainId } }));
        QCOMPARE(traceFile().keys(), { group }); // what an earlier run left went at the first traced lock

        QSemaphore acquired;
        QSemaphore release;
        std::atomic<pid_t> waiterId{ 0 };
        QThread* waiter = QThread::create([&] {
            waiterId = gettid();
            _KorMutexLocker locker(&mutex);
            acquired.release();
            release.acquire();
        });
        waiter->setObjectName("waiter");
        waiter->start();
        QTRY_VERIFY(waiterId.load() != 0);
        const QString queryKey = "Query_" + QString::number(waiterId.load());
        QTRY_VERIFY(traceFile().value(group).value(queryKey).startsWith("waiter; "));
        QCOMPARE(traceFile().value(group).value("ThreadId"), mainId);

        delete holder;
        QVERIFY(acquired.tryAcquire(1, 10000));
        keys = traceFile().value(group); // the waiter's query went with its lock
        QVERIFY(!keys.take("LockDate").isEmpty());
        QCOMPARE(keys, (QMap<QString, QString>{ { "ThreadName", "waiter" },
                                               { "ThreadId", QString::number(waiterId.load()) } }));

        release.release();
        QVERIFY(waiter->wait());
        delete waiter;
        QVERIFY(!traceFile().contains(group));
        _KorMutexLocker::unregisterMutex(&mutex);
    }

    void recursiveMutexLockedTwice()
    {
        QRecursiveMutex mutex;
        const QString group = "MutexConfiguration_" + QString::number(quintptr(&mutex));
        QVERIFY(m_app->changeSetting("Loglevel/LogMutexConfig", true));
        {
            _KorMutexLocker outer(&mutex);
            {
                _KorMutexLocker inner(&mutex);
                QCOMPARE(traceFile().value(group).value("ThreadName"), QString("lockmain"));
            }
            // The inner unlock takes the holder keys although outer still holds.
            QVERIFY(!traceFile().contains(group));
        }
        QVERIFY(!traceFile().contains(group));
    }

    void changeReachesTheNextLocker_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("before");
        const QString log = "Loglevel/LogMutex";
        const QString config = "Loglevel/LogMutexConfig";
        QTest::newRow("log on, changeSetting") << log << "changeSetting" << false;
        QTest::newRow("log off, changeSettings") << log << "changeSettings" << true;
        QTest::newRow("log off, removeSetting") << log << "removeSetting" << true;
        QTest::newRow("log on, file edited, resetSettings") << log << "resetSettings" << false;
        QTest::newRow("config on, changeSettings") << config << "changeSettings" << false;
        QTest::newRow("config off, removeSetting") << config << "removeSetting" << true;
    }

    // The locker before the change went by the old value; the next one goes
    // by the new one, however the application changed it.
    void changeReachesTheNextLocker()
    {
        QFETCH(QString, key);
        QFETCH(QString, change);
        QFETCH(bool, before);
        QVERIFY(m_app->changeSetting(key, before));
        QMutex mutex;
        const QString group = "MutexConfiguration_" + QString::number(quintptr(&mutex));
        const auto traced = [&] {
            m_log.newLines();
            _KorMutexLocker locker(&mutex);
            return key.endsWith("Config") ? traceFile().contains(group) : m_log.newText().contains("Locked mutex");
        };
        QCOMPARE(traced(), before);

        if (change == "changeSetting") {
            QVERIFY(m_app->changeSetting(key, !before));
        } else if (change == "changeSettings") {
            QVERIFY(m_app->changeSettings({ { key, !before } }));
        } else if (change == "removeSetting") {
            m_app->removeSetting(key); // back to the default, off
        } else {
            QSettings(m_ini, QSettings::IniFormat).setValue(key, !before); // written as it goes
            m_app->resetSettings();
        }
        QCOMPARE(traced(), !before);
    }

    void unusableTraceFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message"); // said once in the log, not at every lock
        QTest::newRow("fifo") << "fifo" << NotRegular;
        QTest::newRow("link to a fifo") << "link to fifo" << NotRegular;
        QTest::newRow("folder") << "folder" << NotRegular;
        QTest::newRow("working folder removed") << "gone" << "cannot be written; the trace goes on in the log only";
        QTest::newRow("read-only working folder") << "read-only" << "";
        QTest::newRow("link to a regular file") << "link to file" << "";
    }

    // A trace file that cannot be written never stops the program, and a path
    // that is no regular file is never opened, replaced or removed.
    void unusableTraceFile()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        QTemporaryDir outer;
        const QString work = outer.filePath("work");
        QVERIFY(QDir().mkpath(work));
        const QString trace = work + "/" + TraceFile;
        const QString fifo = outer.filePath(kind == "fifo" ? "work/" + TraceFile : "fifo");
        const QString target = outer.filePath("target.ini");
        if (kind.contains("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        if (kind == "folder")
            QVERIFY(QDir().mkpath(trace));
        if (kind == "link to file")
            QVERIFY(writeFile(target, "[MutexConfiguration_old]\nThreadName=x\n"));
        if (kind.startsWith("link"))
            QVERIFY(QFile::link(kind == "link to fifo" ? fifo : target, trace));
        if (kind == "read-only")
            QVERIFY(QFile::setPermissions(work, QFile::ReadOwner | QFile::ExeOwner));

        // The trace file is opened once a run, so each case needs a run of its own.
        QProcess child;
        child.setWorkingDirectory(work);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TRACE_CHILD", kind);
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath());
        QVERIFY(child.waitForFinished(20000));
        QFile::setPermissions(work, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        const QString lines = QString::fromUtf8(readFile(outer.filePath("child.log")));
        QCOMPARE(lines.count("Locked mutex helper"), 2); // the trace goes on in the log
        if (!message.isEmpty())
            QVERIFY2(lines.count(message) == 1, qPrintable(lines));
        const QFileInfo info(trace);
        if (message == NotRegular) {
            QVERIFY(!info.isFile());
            QCOMPARE(info.isSymLink(), kind == "link to fifo");
        }
        if (kind == "link to file") {
            // Written through the link: emptied, and the last unlock left no group.
            QVERIFY(info.isSymLink());
            QVERIFY(QSettings(target, QSettings::IniFormat).childGroups().isEmpty());
        }
    }
};

// Run by unusableTraceFile: both kinds of tracing on, a traced mutex locked
// twice in the working folder, which is removed first for "gone". The log
// and the settings are beside that folder.
int traceChild()
{
    const QString base = QDir::cleanPath(QDir::currentPath() + "/../child");
    TestLog log;
    log.start(base);
    if (qgetenv("TRACE_CHILD") == "gone" && !QDir().rmdir(QDir::currentPath()))
        return 3;
    Application app(sharedCore());
    app.setINIFile(QVariant(base + ".ini"));
    if (!app.changeSettings({ { "Loglevel/LogMutex", true }, { "Loglevel/LogMutexConfig", true } }))
        return 4;
    QMutex mutex;
    _KorMutexLocker::registerMutex(&mutex, "helper");
    for (int i = 0; i < 2; ++i)
        _KorMutexLocker locker(&mutex);
    log.newBytes(); // writes out what the module holds
    return 0;
}

int main(int argc, char** argv)
{
    QCoreApplication core(argc, argv);
    if (qEnvironmentVariableIsSet("TRACE_CHILD"))
        return traceChild();
    tst_KorMutexLocker test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_kormutexlocker.moc"
