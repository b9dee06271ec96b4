// The traced mutex locker: settings, log lines and the trace file while
// threads hold and wait.
#include <Kor/KorCore.h>
#include <Kor/LogModule.h>

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QRecursiveMutex>
#include <QSemaphore>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <unistd.h>

using namespace Kor::NS;

namespace {

QSharedPointer<QCoreApplication> sharedCore()
{
    return QSharedPointer<QCoreApplication>(QCoreApplication::instance(), [](QCoreApplication*) {});
}

const QString TraceFile = QStringLiteral("LockedMutexConfiguration.ini");

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
private slots:
    void initTestCase();
    void cleanupTestCase();
    void tracingOffWritesTheKeysAsFalse();
    void nullMutexDoesNothing();
    void moveHandsTheLockOver();
    void logLines_data();
    void logLines();
    void traceFileWhileAnotherThreadWaits();
    void recursiveMutexLockedTwice();

private:
    QStringList newLines();

    QTemporaryDir m_dir;
    QString m_previousDir;
    QString m_logFile;
    QString m_ini;
    qsizetype m_seen = 0;
    Application* m_app = nullptr;
};

void tst_KorMutexLocker::initTestCase()
{
    m_previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir.path()));
    qputenv("KOR_REGISTRY_ROOT", QFile::encodeName(m_dir.filePath("registry")));
    m_logFile = m_dir.filePath("locker");
    Kor::LogModule::Start(Kor::LogModule::LogFile, QFile::encodeName(m_logFile).constData(), "test", "test");
    Kor::LogModule::SetGlobalInfoSeverity(Kor::TRACE);
    Kor::LogModule::SetInfoSeverity(Kor::LogModule::AllOutputs, Kor::TRACE);
    Kor::LogModule::LogFileFlush(true);
    Kor::LogModule::EnableTime(false);
    QThread::currentThread()->setObjectName("lockmain");

    // Left by an "earlier run": gone at the first traced lock.
    QSettings stale(TraceFile, QSettings::IniFormat);
    stale.setValue("MutexConfiguration_stale/ThreadName", "old");
    stale.sync();

    m_app = new Application(sharedCore());
    m_ini = m_dir.filePath("app.ini");
    QCOMPARE(m_app->setINIFile(QVariant(m_ini)), Parameter::Continue);
}

void tst_KorMutexLocker::cleanupTestCase()
{
    delete m_app;
    QDir::setCurrent(m_previousDir);
}

QStringList tst_KorMutexLocker::newLines()
{
    Kor::LogModule::LogFilePrepareStop();
    QFile file(m_logFile + ".log");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray all = file.readAll();
    const QByteArray fresh = all.mid(m_seen);
    m_seen = all.size();
    QStringList lines = QString::fromUtf8(fresh).split('\n');
    lines.removeAll(QString());
    return lines;
}

void tst_KorMutexLocker::tracingOffWritesTheKeysAsFalse()
{
    QMutex mutex;
    newLines();
    {
        _KorMutexLocker locker(&mutex);
        QVERIFY(!mutex.tryLock());
    }
    QVERIFY(mutex.tryLock());
    mutex.unlock();
    QSettings ini(m_ini, QSettings::IniFormat);
    QCOMPARE(ini.value("Loglevel/LogMutex").toString(), QString("false"));
    QCOMPARE(ini.value("Loglevel/LogMutexConfig").toString(), QString("false"));
    QVERIFY(!newLines().join('\n').contains("mutex"));
    QVERIFY(traceFile().contains("MutexConfiguration_stale")); // untouched without tracing
}

void tst_KorMutexLocker::nullMutexDoesNothing()
{
    QVERIFY(m_app->changeSettings({ { "Loglevel/LogMutex", true }, { "Loglevel/LogMutexConfig", true } }));
    newLines();
    {
        _KorMutexLocker plain(static_cast<QMutex*>(nullptr));
        _KorMutexLocker recursive(static_cast<QRecursiveMutex*>(nullptr));
    }
    QVERIFY(!newLines().join('\n').contains("mutex"));
    QVERIFY(traceFile().contains("MutexConfiguration_stale"));
    QVERIFY(m_app->changeSettings({ { "Loglevel/LogMutex", false }, { "Loglevel/LogMutexConfig", false } }));
}

void tst_KorMutexLocker::moveHandsTheLockOver()
{
    QMutex mutex;
    {
        _KorMutexLocker first(&mutex);
        {
            _KorMutexLocker second(std::move(first));
            QVERIFY(!mutex.tryLock());
        }
        QVERIFY(mutex.tryLock()); // unlocked once, by the new holder
        mutex.unlock();
    }
    // The moved-from locker unlocked nothing: a second unlock of a QMutex
    // would leave it unlocked for anybody, here it is ours to lock.
    QVERIFY(mutex.tryLock());
    mutex.unlock();
}

void tst_KorMutexLocker::logLines_data()
{
    QTest::addColumn<QString>("registered");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << "Queue-1" << "Queue-1";
    QTest::newRow("blanks and slashes") << "net/io queue a" << "net_io_queue_a";
    QTest::newRow("unregistered") << QString() << QString();
}

void tst_KorMutexLocker::logLines()
{
    QFETCH(QString, registered);
    QFETCH(QString, shown);
    QMutex mutex;
    if (!registered.isEmpty())
        _KorMutexLocker::registerMutex(&mutex, registered);
    if (shown.isEmpty())
        shown = QString::number(quintptr(&mutex));
    QVERIFY(m_app->changeSetting("Loglevel/LogMutex", true));
    newLines();
    {
        _KorMutexLocker locker(&mutex);
    }
    const QString suffix = " from thread lockmain(" + QString::number(gettid()) + ")";
    const QStringList lines = newLines();
    QCOMPARE(lines.filter("mutex").size(), 2);
    QVERIFY2(lines.filter("mutex").at(0).endsWith("Locked mutex " + shown + suffix), qPrintable(lines.join('\n')));
    QVERIFY(lines.filter("mutex").at(1).endsWith("Unlocking mutex " + shown + suffix));

    // Off again: the next locker no longer logs.
    QVERIFY(m_app->changeSetting("Loglevel/LogMutex", false));
    {
        _KorMutexLocker locker(&mutex);
    }
    QVERIFY(newLines().filter("mutex").isEmpty());
    _KorMutexLocker::unregisterMutex(&mutex);
}

void tst_KorMutexLocker::traceFileWhileAnotherThreadWaits()
{
    QMutex mutex;
    _KorMutexLocker::registerMutex(&mutex, "shared state/1");
    const QString group = "MutexConfiguration_shared_state_1";
    QVERIFY(m_app->changeSetting("Loglevel/LogMutexConfig", true));

    auto* holder = new _KorMutexLocker(&mutex);
    QVERIFY(!traceFile().contains("MutexConfiguration_stale")); // emptied at the first traced lock
    const QString mainId = QString::number(gettid());
    QCOMPARE(traceFile().value(group).value("ThreadName"), QString("lockmain"));
    QCOMPARE(traceFile().value(group).value("ThreadId"), mainId);
    QVERIFY(!traceFile().value(group).value("LockDate").isEmpty());

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
    QTRY_VERIFY(traceFile().value(group).contains(queryKey));
    QVERIFY(traceFile().value(group).value(queryKey).startsWith("waiter; "));
    QCOMPARE(traceFile().value(group).value("ThreadId"), mainId);

    delete holder;
    QVERIFY(acquired.tryAcquire(1, 10000));
    QMap<QString, QString> keys = traceFile().value(group);
    QVERIFY2(!keys.contains(queryKey), qPrintable(QStringList(keys.keys()).join(',')));
    QCOMPARE(keys.value("ThreadName"), QString("waiter"));
    QCOMPARE(keys.value("ThreadId"), QString::number(waiterId.load()));

    release.release();
    QVERIFY(waiter->wait());
    delete waiter;
    QVERIFY(!traceFile().contains(group));
    _KorMutexLocker::unregisterMutex(&mutex);
}

void tst_KorMutexLocker::recursiveMutexLockedTwice()
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

QTEST_GUILESS_MAIN(tst_KorMutexLocker)
#include "tst_kormutexlocker.moc"
