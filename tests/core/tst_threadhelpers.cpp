// Owner and borrower threads, the scope guard, the event-loop ping and
// thread names.
#include "LogLines.h"

#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <unistd.h>

#include <atomic>

using namespace Kor::NS;

namespace {

// Records where and in which order it was destroyed.
class Tracked : public QObject
{
public:
    Tracked(int tag, QList<int>* deleted, QList<QThread*>* threads)
        : m_tag(tag), m_deleted(deleted), m_threads(threads)
    {
    }
    ~Tracked() override
    {
        m_deleted->append(m_tag);
        m_threads->append(QThread::currentThread());
    }

private:
    int m_tag;
    QList<int>* m_deleted;
    QList<QThread*>* m_threads;
};

QByteArray threadComm(pid_t tid)
{
    QFile file(QStringLiteral("/proc/self/task/%1/comm").arg(tid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().trimmed();
}

} // namespace

class tst_ThreadHelpers : public QObject
{
    Q_OBJECT

    QStringList newLines() { return m_log.newLines(); }

    QTemporaryDir m_dir;
    TestLog m_log;

private slots:
    void initTestCase() { m_log.start(m_dir.filePath("helpers")); }

    void ownerThreadOwnsAndDeletesInOrder()
    {
        QList<int> deleted;
        QList<QThread*> deletedOn;
        OwnerThread owner;
        auto* first = new Tracked(1, &deleted, &deletedOn);
        owner.add(first);
        owner.start();
        auto* second = new Tracked(2, &deleted, &deletedOn); // added while the loop runs
        owner.add(second);
        QCOMPARE(first->thread(), &owner);
        QCOMPARE(second->thread(), &owner);
        QVERIFY(deleted.isEmpty());

        // One that goes by itself during the loop is not deleted again; one with
        // a parent belongs to the parent and is refused.
        auto* early = new Tracked(3, &deleted, &deletedOn);
        std::atomic<bool> earlyGone{ false };
        connect(early, &QObject::destroyed, [&earlyGone] { earlyGone = true; });
        owner.add(early);
        QMetaObject::invokeMethod(early, &QObject::deleteLater);
        QObject parent;
        auto* child = new QObject(&parent);
        owner.add(child);
        QCOMPARE(child->thread(), QThread::currentThread());
        QVERIFY(newLines().join('\n').contains("has a parent, which owns it; it is not added"));
        QTRY_VERIFY(earlyGone.load());
        QCOMPARE(deleted, QList<int>({ 3 }));

        owner.quit();
        QVERIFY(owner.wait());
        QCOMPARE(deleted, QList<int>({ 3, 1, 2 }));
        QCOMPARE(deletedOn, QList<QThread*>({ &owner, &owner, &owner }));
    }

    // SIGTERM and the like must reach the main thread, which acts on them at
    // once, and not a worker parked in a wait.
    void workerThreadsLeaveOperatorSignalsToOthers()
    {
        auto blocksTerm = [] {
            sigset_t set;
            pthread_sigmask(SIG_BLOCK, nullptr, &set);
            return sigismember(&set, SIGTERM) == 1 && sigismember(&set, SIGINT) == 1 && sigismember(&set, SIGHUP) == 1;
        };
        OwnerThread owner;
        BorrowerThread borrower;
        for (QThread* thread : { static_cast<QThread*>(&owner), static_cast<QThread*>(&borrower) }) {
            thread->start();
            QObject probe;
            probe.moveToThread(thread);
            bool blocked = false;
            QMetaObject::invokeMethod(&probe, [&] { blocked = blocksTerm(); }, Qt::BlockingQueuedConnection);
            probe.moveToThread(nullptr);
            thread->quit();
            QVERIFY(thread->wait());
            QVERIFY2(blocked, thread->metaObject()->className());
        }
        QVERIFY(!blocksTerm());
    }

    void borrowerThreadGivesObjectsBack()
    {
        QThread other;
        other.start();
        QObject mine;
        auto* theirs = new QObject;
        theirs->moveToThread(&other);

        BorrowerThread borrower;
        borrower.add(&mine);
        QMetaObject::invokeMethod(theirs, [&] { borrower.add(theirs); }, Qt::BlockingQueuedConnection);
        borrower.start();
        QCOMPARE(mine.thread(), &borrower);
        QCOMPARE(theirs->thread(), &borrower);
        borrower.quit();
        QVERIFY(borrower.wait());
        QCOMPARE(mine.thread(), QThread::currentThread());
        QCOMPARE(theirs->thread(), &other);
        theirs->deleteLater();
        other.quit();
        QVERIFY(other.wait());
    }

    void scopeGuard_data()
    {
        QTest::addColumn<bool>("finish");
        QTest::addColumn<bool>("copy");
        QTest::addColumn<int>("runs");
        QTest::newRow("unfinished") << false << false << 1;
        QTest::newRow("finished") << true << false << 0;
        QTest::newRow("unfinished copy") << false << true << 2;
        QTest::newRow("finished before copying") << true << true << 0;
    }

    void scopeGuard()
    {
        QFETCH(bool, finish);
        QFETCH(bool, copy);
        QFETCH(int, runs);
        int ran = 0;
        {
            ScopeGuard guard([&] { ++ran; });
            if (finish)
                guard.finished();
            if (copy)
                ScopeGuard copied(guard);
        }
        QCOMPARE(ran, runs);
    }

    void eventLoopPingAtItsInterval()
    {
        newLines();
        const QString line = QStringLiteral("[EventLoopPing] pinger is alive!");
        auto count = [&](const QStringList& lines) {
            return int(std::count_if(lines.begin(), lines.end(), [&](const QString& l) { return l.contains(line); }));
        };
        int seen = 0;
        {
            EventLoopPing ping(QStringLiteral("pinger"), 10);
            seen = count(newLines());
            QCOMPARE(seen, 1); // written by the constructor
            QTRY_VERIFY((seen += count(newLines())) >= 4);
        }
        // Destroyed, its pending timer goes with it: while a second ping with
        // the same interval speaks three times, the first stays silent.
        EventLoopPing witness(QStringLiteral("witness"), 10);
        int witnessed = 0;
        int late = 0;
        QTRY_VERIFY([&] {
            const QStringList lines = newLines();
            late += count(lines);
            witnessed += int(lines.filter(QStringLiteral("witness is alive!")).size());
            return witnessed >= 3;
        }());
        QCOMPARE(late, 0);
    }

    void threadName_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("shown");
        QTest::newRow("short") << QByteArray("worker") << QByteArray("worker");
        QTest::newRow("blanks") << QByteArray("net io 2") << QByteArray("net io 2");
        QTest::newRow("cut at 15 bytes") << QByteArray("averyveryverylongname") << QByteArray("averyveryverylo");
    }

    void threadName()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, shown);
        const QByteArray before = threadComm(gettid());
        SetCurrentThreadName(name.constData());
        QCOMPARE(threadComm(gettid()), shown);
        SetCurrentThreadName(nullptr); // logged, nothing changes
        QCOMPARE(threadComm(gettid()), shown);
        SetCurrentThreadName(before.constData());
    }
};

QTEST_GUILESS_MAIN(tst_ThreadHelpers)
#include "tst_threadhelpers.moc"
