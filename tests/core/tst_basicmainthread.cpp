#include <Kor/KorCore.h>
#include <Kor/LogModule.h>
#include <Kor/Object.h>

#include <QFile>
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
private slots:
    void initTestCase();
    void cleanupTestCase();
    void startsTimerServiceAndLogs();
    void forgetsDeletedTimerService();
    void closeLeavesNothingBehind();

private:
    QString readLog() const;
    QTemporaryDir m_dir;
};

void tst_BasicMainThread::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QByteArray base = QFile::encodeName(m_dir.filePath("x"));
    QVERIFY(Kor::LogModule::Start(8, base.constData(), "t", "t"));
    Kor::LogModule::SetGlobalInfoSeverity(Kor::TRACE);
    Kor::LogModule::SetInfoSeverity(8, Kor::TRACE);
}

void tst_BasicMainThread::cleanupTestCase()
{
    Kor::LogModule::Stop(-1);
}

QString tst_BasicMainThread::readLog() const
{
    QFile file(m_dir.filePath("x.log"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

void tst_BasicMainThread::startsTimerServiceAndLogs()
{
    Kor::AutoPointer<TickingThread> thread = new TickingThread("Main Ticking");
    QVERIFY(thread->GetTimer() == nullptr);
    QVERIFY(thread->Begin());
    QVERIFY(thread->WaitRunning(5000));
    QVERIFY(thread->timerBeforePreInit);
    QVERIFY(thread->GetTimer() != nullptr);
    QCOMPARE(thread->GetTimer()->getName().str(), std::string("Timer Service"));
    QVERIFY(thread->timerId != 0u);
    QTRY_VERIFY(thread->ticks > 0);

    // The lines carry the thread's name as logger name, the derived init between the two.
    const QRegularExpression order("^.*Main Ticking\\W*starting$.*^.*Main Ticking\\W*derived init$"
                                   ".*^.*Main Ticking\\W*started$",
                                   QRegularExpression::MultilineOption | QRegularExpression::DotMatchesEverythingOption);
    QVERIFY2(readLog().contains(order), qPrintable(readLog()));

    bool terminated = true;
    QVERIFY(thread->Exit(1000, 1000, &terminated));
    QVERIFY(!terminated);
}

void tst_BasicMainThread::forgetsDeletedTimerService()
{
    Kor::AutoPointer<TickingThread> thread = new TickingThread("Main Forgets");
    QVERIFY(thread->Begin());
    QVERIFY(thread->WaitRunning(5000));
    Kor::TimerService* service = thread->GetTimer();
    QVERIFY(service != nullptr);
    thread->CheckBeforeDelete(service);
    QVERIFY(thread->GetTimer() == nullptr);
    // Anything else handed over leaves the thread as it is.
    thread->CheckBeforeDelete(nullptr);
    thread->CheckBeforeDelete(thread.get());
    QVERIFY(thread->Exit(1000, 1000, nullptr));
}

void tst_BasicMainThread::closeLeavesNothingBehind()
{
    const long before = Kor::ObjectData::globalUseCount();
    {
        Kor::AutoPointer<Kor::Thread> thread = new TickingThread("Main Closes");
        QVERIFY(thread->Begin());
        auto* ticking = static_cast<TickingThread*>(thread.get());
        QTRY_VERIFY(ticking->ticks > 0);
        Kor::TimerService* service = ticking->GetTimer();
        QVERIFY(thread->Exit(1000, 1000, nullptr));
        // The timer thread no longer calls into the object that its owner
        // is about to destroy.
        QCOMPARE(service->ActiveTimers(), std::size_t(0));
        thread->release();
        thread = nullptr;
    }
    // The main thread and its timer service are gone.
    QCOMPARE(Kor::ObjectData::globalUseCount(), before);
}

QTEST_GUILESS_MAIN(tst_BasicMainThread)
#include "tst_basicmainthread.moc"
