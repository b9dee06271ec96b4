#include "LogLines.h"

#include <Kor/Object.h>

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>

using Kor::NS::BasicMainThread;

namespace {

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

class tst_BasicMainThread : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    TestLog m_log;

private slots:
    void initTestCase() { m_log.start(m_dir.filePath("x")); }
    void cleanupTestCase() { Kor::LogModule::Stop(-1); }

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

QTEST_GUILESS_MAIN(tst_BasicMainThread)
#include "tst_basicmainthread.moc"
