// ThreadContext: calls in each mode, delayed calls, aborts and lifetime,
// across threads.
#include "LogLines.h"

#include <Kor/KorCore.h>
#include <Kor/LogModule.h>

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace Kor::NS;

class tst_ThreadContext : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void synchronousRethrows_data();
    void synchronousRethrows();
    void otherModesDropExceptions_data();
    void otherModesDropExceptions();
    void asynchronousKeepsOrder();
    void delayedCallRunsOnceOnItsThread();
    void abortDelayedCall();
    void abortAllAndNestedScheduling();
    void destructionRunsNoPendingCall_data();
    void destructionRunsNoPendingCall();
    void eightThreadsAtOnce();
    void waitingCallToStoppedThread();
    void emptyFunctionAndNegativeDelay();

private:
    QStringList newLines();
    ThreadContext* contextInWorker();

    QTemporaryDir m_dir;
    QString m_logFile;
    qsizetype m_seen = 0;
    QThread* m_worker = nullptr;
};

void tst_ThreadContext::initTestCase()
{
    m_logFile = m_dir.filePath("context");
    Kor::LogModule::Start(Kor::LogModule::LogFile, QFile::encodeName(m_logFile).constData(), "test", "test");
    Kor::LogModule::SetGlobalInfoSeverity(Kor::TRACE);
    Kor::LogModule::SetInfoSeverity(Kor::LogModule::AllOutputs, Kor::TRACE);
    Kor::LogModule::LogFileFlush(true);
    Kor::LogModule::EnableTime(false);
}

void tst_ThreadContext::init()
{
    // Qt warns when a timer is stopped from a thread it does not belong to:
    // such a timer would fire at a deleted context.
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
    newLines();
    m_worker = new QThread;
    m_worker->setObjectName("ctxworker");
    m_worker->start();
}

void tst_ThreadContext::cleanup()
{
    m_worker->quit();
    m_worker->wait();
    delete m_worker;
    m_worker = nullptr;
}

QStringList tst_ThreadContext::newLines()
{
    return newLogLines(m_logFile + ".log", m_seen);
}

ThreadContext* tst_ThreadContext::contextInWorker()
{
    auto* context = new ThreadContext;
    context->moveToThread(m_worker);
    connect(m_worker, &QThread::finished, context, &QObject::deleteLater);
    return context;
}

void tst_ThreadContext::synchronousRethrows_data()
{
    QTest::addColumn<bool>("fromOtherThread");
    QTest::newRow("own thread") << false;
    QTest::newRow("other thread") << true;
}

void tst_ThreadContext::synchronousRethrows()
{
    QFETCH(bool, fromOtherThread);
    ThreadContext local;
    ThreadContext* context = fromOtherThread ? contextInWorker() : &local;
    QThread* ranOn = nullptr;
    try {
        context->call([&] {
            ranOn = QThread::currentThread();
            throw std::runtime_error("boom");
        }, ThreadContext::Synchronous);
        QFAIL("no exception");
    } catch (const std::runtime_error& e) {
        QCOMPARE(QByteArray(e.what()), QByteArray("boom"));
    }
    QCOMPARE(ranOn, context->thread());
    // Not an std::exception at all still travels.
    QVERIFY_THROWS_EXCEPTION(int, context->call([] { throw 7; }, ThreadContext::Synchronous));
}

void tst_ThreadContext::otherModesDropExceptions_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("fromOtherThread");
    QTest::newRow("async, own") << int(ThreadContext::Asynchronous) << false;
    QTest::newRow("async, other") << int(ThreadContext::Asynchronous) << true;
    QTest::newRow("no rethrow, own") << int(ThreadContext::SynchronousNoRethrow) << false;
    QTest::newRow("no rethrow, other") << int(ThreadContext::SynchronousNoRethrow) << true;
}

void tst_ThreadContext::otherModesDropExceptions()
{
    QFETCH(int, mode);
    QFETCH(bool, fromOtherThread);
    ThreadContext local;
    ThreadContext* context = fromOtherThread ? contextInWorker() : &local;
    std::atomic<int> after{ 0 };
    context->call([] { throw std::logic_error("dropped here"); }, ThreadContext::CallMode(mode));
    context->call([] { throw 42; }, ThreadContext::CallMode(mode));
    context->call([&] { ++after; }, ThreadContext::CallMode(mode));
    QTRY_COMPARE(after.load(), 1);
    const QString lines = newLines().join('\n');
    QVERIFY2(lines.contains("dropped here"), qPrintable(lines));
    QVERIFY2(lines.contains("Exception of unknown type"), qPrintable(lines));
}

void tst_ThreadContext::asynchronousKeepsOrder()
{
    ThreadContext context;
    std::vector<int> order;
    for (int i = 0; i < 50; ++i)
        context.call([&order, i] { order.push_back(i); }, ThreadContext::Asynchronous);
    QVERIFY(order.empty()); // queued, not run on the spot
    QTRY_COMPARE(order.size(), size_t(50));
    for (int i = 0; i < 50; ++i)
        QCOMPARE(order[size_t(i)], i);
}

void tst_ThreadContext::delayedCallRunsOnceOnItsThread()
{
    ThreadContext* context = contextInWorker();
    std::atomic<int> runs{ 0 };
    std::atomic<QThread*> ranOn{ nullptr };
    std::atomic<bool> later{ false };
    const int id = context->delayedCall(1, [&] {
        ranOn = QThread::currentThread();
        ++runs;
    });
    QVERIFY(id > 0);
    // A repeating timer would fire many times before this one does.
    context->delayedCall(100, [&] { later = true; });
    QTRY_VERIFY(later.load());
    QCOMPARE(runs.load(), 1);
    QCOMPARE(ranOn.load(), m_worker);
}

void tst_ThreadContext::abortDelayedCall()
{
    ThreadContext* context = contextInWorker();
    std::atomic<bool> ran{ false };
    std::atomic<bool> later{ false };
    const int id = context->delayedCall(20, [&] { ran = true; });
    context->abortDelayedCall(id, ThreadContext::Synchronous);
    QVERIFY(!newLines().join('\n').contains("unknown timer ID"));
    context->abortDelayedCall(id, ThreadContext::Synchronous);
    QVERIFY(newLines().join('\n').contains("Attempt to abort delayed call with unknown timer ID"));
    context->delayedCall(60, [&] { later = true; });
    QTRY_VERIFY(later.load());
    QVERIFY(!ran.load());
}

void tst_ThreadContext::abortAllAndNestedScheduling()
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

void tst_ThreadContext::destructionRunsNoPendingCall_data()
{
    QTest::addColumn<bool>("fromOtherThread");
    QTest::newRow("on its thread") << false;
    QTest::newRow("from another thread") << true;
}

void tst_ThreadContext::destructionRunsNoPendingCall()
{
    QFETCH(bool, fromOtherThread);
    auto* context = new ThreadContext;
    context->moveToThread(m_worker);
    std::atomic<int> ran{ 0 };
    for (int i = 0; i < 3; ++i)
        context->delayedCall(20 + i, [&] { ++ran; });
    if (fromOtherThread) {
        delete context;
    } else {
        QMetaObject::invokeMethod(context, [context] { delete context; }, Qt::BlockingQueuedConnection);
    }
    std::atomic<bool> later{ false };
    ThreadContext* probe = contextInWorker();
    probe->delayedCall(80, [&] { later = true; });
    QTRY_VERIFY(later.load());
    QCOMPARE(ran.load(), 0);
}

void tst_ThreadContext::eightThreadsAtOnce()
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

void tst_ThreadContext::waitingCallToStoppedThread()
{
    QThread idle; // never started
    ThreadContext context;
    context.moveToThread(&idle);
    bool ran = false;
    context.call([&] { ran = true; }, ThreadContext::Synchronous);
    QCOMPARE(context.delayedCall(5, [&] { ran = true; }), -1);
    QVERIFY(!ran);
    QVERIFY(newLines().join('\n').contains("the context's thread is not running"));

    m_worker->quit();
    m_worker->wait();
    auto* ended = new ThreadContext;
    ended->moveToThread(m_worker);
    ended->call([&] { ran = true; }, ThreadContext::SynchronousNoRethrow);
    QVERIFY(!ran);
    delete ended;
}

void tst_ThreadContext::emptyFunctionAndNegativeDelay()
{
    ThreadContext* context = contextInWorker();
    QVERIFY_THROWS_EXCEPTION(std::bad_function_call,
                             context->call(std::function<void()>(), ThreadContext::Synchronous));
    QCOMPARE(context->delayedCall(5, std::function<void()>()), -1);
    QVERIFY(newLines().join('\n').contains("without a function"));

    std::atomic<bool> ran{ false };
    QVERIFY(context->delayedCall(-50, [&] { ran = true; }) > 0);
    QTRY_VERIFY(ran.load());
    QVERIFY(newLines().join('\n').contains("negative delay -50"));
}

QTEST_GUILESS_MAIN(tst_ThreadContext)
#include "tst_threadcontext.moc"
