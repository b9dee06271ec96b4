// The thread helpers: ThreadContext's calls in each mode, delayed calls,
// aborts and lifetime across threads; owner and borrower threads, the scope
// guard, the event-loop ping, thread names and the basic main thread.
#include "LogLines.h"

#include <Kor/Object.h>

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace Kor::NS;

namespace {

// Returns once a delayed call of delayMs on the context has run: the calls
// due before it have had their turn by then.
void waitPast(ThreadContext* context, int delayMs)
{
    auto later = std::make_shared<std::atomic<bool>>(false);
    context->delayedCall(delayMs, [later] { *later = true; });
    QTRY_VERIFY(later->load());
}

// A main thread whose own initialisation starts a periodic timer that posts
// work to it.
class TickingThread : public BasicMainThread
{
public:
    explicit TickingThread(const char* name) : BasicMainThread(name) {}

    void PreInit() override
    {
        timerBeforePreInit = GetTimer() == nullptr;
        BasicMainThread::PreInit();
    }
    void DerivedClassInit() override
    {
        Log(Kor::LOG_INFO, __FILE__, __LINE__, Kor::ALWAYS, "derived init");
        timerId = GetTimer()->StartTimer(this, [this] { ++ticks; }, 5, true);
    }

    std::atomic<bool> timerBeforePreInit{false};
    std::atomic<unsigned> timerId{0};
    std::atomic<int> ticks{0};
};

} // namespace

class tst_ThreadHelpers : public QObject
{
    Q_OBJECT


    ThreadContext* contextInWorker()
    {
        auto* context = new ThreadContext;
        context->moveToThread(m_worker);
        connect(m_worker, &QThread::finished, context, &QObject::deleteLater);
        return context;
    }

    QTemporaryDir m_dir;
    TestLog m_log;
    QThread* m_worker = nullptr;

private slots:
    void initTestCase() { m_log.start(m_dir.filePath("threads")); }
    void cleanupTestCase() { Kor::LogModule::Stop(-1); }

    void init()
    {
        // Qt warns when a timer is stopped from a thread it does not belong to:
        // such a timer would fire at a deleted context.
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
        m_log.newText();
        m_worker = new QThread;
        m_worker->setObjectName("ctxworker");
        m_worker->start();
    }

    void cleanup()
    {
        m_worker->quit();
        m_worker->wait();
        delete m_worker;
        m_worker = nullptr;
    }

    void exceptions_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("fromOtherThread");
        for (const bool other : {false, true}) {
            const char* where = other ? "other thread" : "own thread";
            QTest::addRow("synchronous, %s", where) << int(ThreadContext::Synchronous) << other;
            QTest::addRow("async, %s", where) << int(ThreadContext::Asynchronous) << other;
            QTest::addRow("no rethrow, %s", where) << int(ThreadContext::SynchronousNoRethrow) << other;
        }
    }

    // Synchronous calls rethrow in the caller, whatever was thrown; the other
    // modes log the exception and go on with the next call.
    void exceptions()
    {
        QFETCH(int, mode);
        QFETCH(bool, fromOtherThread);
        const auto callMode = ThreadContext::CallMode(mode);
        ThreadContext local;
        ThreadContext* context = fromOtherThread ? contextInWorker() : &local;
        std::atomic<QThread*> ranOn{ nullptr };
        auto boom = [&] {
            ranOn = QThread::currentThread();
            throw std::runtime_error("boom");
        };
        if (callMode == ThreadContext::Synchronous) {
            try {
                context->call(boom, callMode);
                QFAIL("no exception");
            } catch (const std::runtime_error& e) {
                QCOMPARE(QByteArray(e.what()), QByteArray("boom"));
            }
            QVERIFY_THROWS_EXCEPTION(int, context->call([] { throw 7; }, callMode));
        } else {
            std::atomic<int> after{ 0 };
            context->call(boom, callMode);
            context->call([] { throw 42; }, callMode);
            context->call([&] { ++after; }, callMode);
            QTRY_COMPARE(after.load(), 1);
            const QString lines = m_log.newText();
            QVERIFY2(lines.contains("boom") && lines.contains("Exception of unknown type"), qPrintable(lines));
        }
        QCOMPARE(ranOn.load(), context->thread());
    }

    // An aborted call never runs; a delayed one runs once, on the context's thread.
    void abortDelayedCall()
    {
        ThreadContext* context = contextInWorker();
        std::atomic<bool> ran{ false };
        const int id = context->delayedCall(20, [&] { ran = true; });
        context->abortDelayedCall(id, ThreadContext::Synchronous);
        QVERIFY(!m_log.newText().contains("unknown timer ID"));
        context->abortDelayedCall(id, ThreadContext::Synchronous);
        QVERIFY(m_log.newText().contains("Attempt to abort delayed call with unknown timer ID"));

        // Qt hands a stopped timer's id out again at once; the stale id of a
        // call that is gone must not reach the newer one.
        std::atomic<int> newer{ 0 };
        std::atomic<QThread*> ranOn{ nullptr };
        const int newerId = context->delayedCall(1, [&] {
            ranOn = QThread::currentThread();
            ++newer;
        });
        QVERIFY(newerId > 0 && newerId != id);
        context->abortDelayedCall(id, ThreadContext::Synchronous);
        waitPast(context, 100); // a repeating timer would have fired many times by then
        QVERIFY(!ran.load());
        QCOMPARE(newer.load(), 1);
        QCOMPARE(ranOn.load(), m_worker);
    }

    void abortAllAndNestedScheduling()
    {
        ThreadContext* context = contextInWorker();
        std::atomic<int> ran{ 0 };
        std::atomic<bool> nested{ false };
        std::atomic<bool> selfAborted{ false };
        for (int i = 0; i < 5; ++i)
            context->delayedCall(30, [&] { ++ran; });
        context->abortAllDelayedCalls(ThreadContext::Synchronous);

        // A delayed call that schedules another, and one that aborts itself
        // (already gone from the map when it runs: a warning, nothing else).
        context->delayedCall(1, [&] { context->delayedCall(1, [&] { nested = true; }); });
        auto selfId = std::make_shared<std::atomic<int>>(-1);
        *selfId = context->delayedCall(1, [context, selfId, &selfAborted] {
            context->abortDelayedCall(*selfId, ThreadContext::Synchronous);
            selfAborted = true;
        });
        QTRY_VERIFY(nested.load() && selfAborted.load());
        QCOMPARE(ran.load(), 0);
    }

    void destructionRunsNoPendingCall_data()
    {
        QTest::addColumn<bool>("fromOtherThread");
        QTest::newRow("on its thread") << false;
        QTest::newRow("from another thread") << true;
    }

    void destructionRunsNoPendingCall()
    {
        QFETCH(bool, fromOtherThread);
        auto* context = new ThreadContext;
        context->moveToThread(m_worker);
        std::atomic<int> ran{ 0 };
        for (int i = 0; i < 3; ++i)
            context->delayedCall(20 + i, [&] { ++ran; });
        if (fromOtherThread)
            delete context;
        else
            QMetaObject::invokeMethod(context, [context] { delete context; }, Qt::BlockingQueuedConnection);
        waitPast(contextInWorker(), 80);
        QCOMPARE(ran.load(), 0);
    }

    void eightThreadsAtOnce()
    {
        ThreadContext* context = contextInWorker();
        constexpr int Threads = 8;
        constexpr int CallsEach = 500;
        int counted = 0; // touched only on the context's thread
        std::atomic<int> asyncRuns{ 0 };
        std::vector<std::thread> callers;
        for (int t = 0; t < Threads; ++t)
            callers.emplace_back([&] {
                for (int i = 0; i < CallsEach; ++i) {
                    context->call([&] { ++counted; }, ThreadContext::Synchronous);
                    context->call([&] { ++asyncRuns; }, ThreadContext::Asynchronous);
                }
            });
        for (auto& caller : callers)
            caller.join();
        QTRY_COMPARE(asyncRuns.load(), Threads * CallsEach);
        int seen = 0;
        context->call([&] { seen = counted; }, ThreadContext::Synchronous);
        QCOMPARE(seen, Threads * CallsEach);
    }

    void waitingCallToStoppedThread()
    {
        QThread idle; // never started
        ThreadContext context;
        context.moveToThread(&idle);
        bool ran = false;
        context.call([&] { ran = true; }, ThreadContext::Synchronous);
        QCOMPARE(context.delayedCall(5, [&] { ran = true; }), -1);
        QVERIFY(!ran);
        QVERIFY(m_log.newText().contains("the context's thread is not running"));

        m_worker->quit();
        m_worker->wait();
        auto* ended = new ThreadContext;
        ended->moveToThread(m_worker);
        ended->call([&] { ran = true; }, ThreadContext::SynchronousNoRethrow);
        QVERIFY(!ran);
        delete ended;
    }

    void emptyFunctionAndNegativeDelay()
    {
        ThreadContext* context = contextInWorker();
        QVERIFY_THROWS_EXCEPTION(std::bad_function_call,
                                 context->call(std::function<void()>(), ThreadContext::Synchronous));
        QCOMPARE(context->delayedCall(5, std::function<void()>()), -1);
        QVERIFY(m_log.newText().contains("without a function"));

        std::atomic<bool> ran{ false };
        QVERIFY(context->delayedCall(-50, [&] { ran = true; }) > 0);
        QTRY_VERIFY(ran.load());
        QVERIFY(m_log.newText().contains("negative delay -50"));
    }

    void ownerThreadOwnsAndDeletesInOrder()
    {
        QList<int> deleted; // with the thread each was deleted on
        QList<QThread*> deletedOn;
        std::atomic<int> gone{ 0 };
        const auto tracked = [&](int tag) {
            auto* object = new QObject;
            connect(object, &QObject::destroyed, [&, tag] {
                deleted << tag;
                deletedOn << QThread::currentThread();
                ++gone;
            });
            return object;
        };
        OwnerThread owner;
        QObject* first = tracked(1);
        owner.add(first);
        owner.start();
        QObject* second = tracked(2); // added while the loop runs
        owner.add(second);
        QCOMPARE(first->thread(), &owner);
        QCOMPARE(second->thread(), &owner);

        // One that goes by itself during the loop is not deleted again; one with
        // a parent belongs to the parent and is refused.
        QObject* early = tracked(3);
        owner.add(early);
        QMetaObject::invokeMethod(early, &QObject::deleteLater);
        QObject parent;
        auto* child = new QObject(&parent);
        owner.add(child);
        QCOMPARE(child->thread(), QThread::currentThread());
        QVERIFY(m_log.newLines().join('\n').contains("has a parent, which owns it; it is not added"));
        QTRY_COMPARE(gone.load(), 1);
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
            auto* probe = new QObject;
            probe->moveToThread(thread);
            bool blocked = false;
            QMetaObject::invokeMethod(probe, [&] { blocked = blocksTerm(); }, Qt::BlockingQueuedConnection);
            probe->deleteLater();
            thread->quit();
            QVERIFY(thread->wait());
            QVERIFY2(blocked, thread->metaObject()->className());
        }
        QVERIFY(!blocksTerm());
    }

    void borrowerThreadGivesObjectsBack()
    {
        QObject mine;
        auto* theirs = new QObject;
        theirs->moveToThread(m_worker);

        BorrowerThread borrower;
        borrower.add(&mine);
        QMetaObject::invokeMethod(theirs, [&] { borrower.add(theirs); }, Qt::BlockingQueuedConnection);
        borrower.start();
        QCOMPARE(mine.thread(), &borrower);
        QCOMPARE(theirs->thread(), &borrower);
        borrower.quit();
        QVERIFY(borrower.wait());
        QCOMPARE(mine.thread(), QThread::currentThread());
        QCOMPARE(theirs->thread(), m_worker);
        theirs->deleteLater();
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
        const QString pinger = QStringLiteral("[EventLoopPing] pinger is alive!");
        {
            EventLoopPing ping(QStringLiteral("pinger"), 10);
            QStringList lines = m_log.newLines();
            QCOMPARE(lines.filter(pinger).size(), 1); // written by the constructor
            QTRY_VERIFY((lines += m_log.newLines()).filter(pinger).size() >= 4);
        }
        // Destroyed, its pending timer goes with it: while a second ping with
        // the same interval speaks three times, the first stays silent.
        EventLoopPing witness(QStringLiteral("witness"), 10);
        QStringList lines;
        QTRY_VERIFY((lines += m_log.newLines()).filter("witness is alive!").size() >= 3);
        QCOMPARE(lines.filter(pinger), {});
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
        const QByteArray before = readFile("/proc/thread-self/comm").trimmed();
        SetCurrentThreadName(name.constData());
        QCOMPARE(readFile("/proc/thread-self/comm").trimmed(), shown);
        SetCurrentThreadName(nullptr); // logged, nothing changes
        QCOMPARE(readFile("/proc/thread-self/comm").trimmed(), shown);
        SetCurrentThreadName(before.constData());
    }

    // The timer service is there before the derived init; on Exit its timers
    // stop, and once the thread is gone nothing of either is left.
    void runsAndClosesTimerService()
    {
        const long before = Kor::ObjectData::globalUseCount();
        {
            Kor::AutoPointer<TickingThread> thread = new TickingThread("Main Ticking");
            QVERIFY(thread->GetTimer() == nullptr);
            QVERIFY(thread->Begin());
            QVERIFY(thread->WaitRunning(5000));
            QVERIFY(thread->timerBeforePreInit);
            Kor::TimerService* service = thread->GetTimer();
            QCOMPARE(service->getName().str(), std::string("Timer Service"));
            QVERIFY(thread->timerId != 0u);
            QTRY_VERIFY(thread->ticks > 0);

            // The lines carry the thread's name as logger name, the derived init between the two.
            const QRegularExpression order("^.*Main Ticking\\W*starting$.*^.*Main Ticking\\W*derived init$"
                                           ".*^.*Main Ticking\\W*started$",
                                           QRegularExpression::MultilineOption
                                               | QRegularExpression::DotMatchesEverythingOption);
            const QString log = m_log.newText();
            QVERIFY2(log.contains(order), qPrintable(log));

            bool terminated = true;
            QVERIFY(thread->Exit(1000, 1000, &terminated));
            QVERIFY(!terminated);
            // The timer thread no longer calls into the object its owner is
            // about to destroy.
            QCOMPARE(service->ActiveTimers(), std::size_t(0));
            thread->release();
            thread = nullptr;
        }
        QCOMPARE(Kor::ObjectData::globalUseCount(), before);
    }

    void forgetsDeletedTimerService()
    {
        Kor::AutoPointer<TickingThread> thread = new TickingThread("Main Forgets");
        QVERIFY(thread->Begin());
        QVERIFY(thread->WaitRunning(5000));
        thread->CheckBeforeDelete(thread->GetTimer());
        QVERIFY(thread->GetTimer() == nullptr);
        // Anything else handed over leaves the thread as it is.
        thread->CheckBeforeDelete(nullptr);
        thread->CheckBeforeDelete(thread.get());
        QVERIFY(thread->Exit(1000, 1000, nullptr));
    }
};

QTEST_GUILESS_MAIN(tst_ThreadHelpers)
#include "tst_threadhelpers.moc"
