// ThreadContext: calls in each mode, delayed calls, aborts and lifetime,
// across threads.
#include "LogLines.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

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

} // namespace

class tst_ThreadContext : public QObject
{
    Q_OBJECT

    QString newText() { return m_log.newText(); }

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
    void initTestCase() { m_log.start(m_dir.filePath("context")); }

    void init()
    {
        // Qt warns when a timer is stopped from a thread it does not belong to:
        // such a timer would fire at a deleted context.
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
        newText();
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
            const QString lines = newText();
            QVERIFY2(lines.contains("boom"), qPrintable(lines));
            QVERIFY2(lines.contains("Exception of unknown type"), qPrintable(lines));
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
        QVERIFY(!newText().contains("unknown timer ID"));
        context->abortDelayedCall(id, ThreadContext::Synchronous);
        QVERIFY(newText().contains("Attempt to abort delayed call with unknown timer ID"));

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
        QTRY_VERIFY(nested.load());
        QTRY_VERIFY(selfAborted.load());
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
        QVERIFY(newText().contains("the context's thread is not running"));

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
        QVERIFY(newText().contains("without a function"));

        std::atomic<bool> ran{ false };
        QVERIFY(context->delayedCall(-50, [&] { ran = true; }) > 0);
        QTRY_VERIFY(ran.load());
        QVERIFY(newText().contains("negative delay -50"));
    }
};

QTEST_GUILESS_MAIN(tst_ThreadContext)
#include "tst_threadcontext.moc"
