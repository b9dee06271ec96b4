#include <Kor/AutoPointer.h>
#include <Kor/Processor.h>
#include <Kor/TimerService.h>

#include "Platform.h"

#include <QStringList>
#include <QTest>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>

using Proc = Kor::Processor<Kor::MessageQueue, Kor::Receiver>;

namespace {

// A processor that records what happened on its thread.
class Recorder : public Proc
{
public:
    explicit Recorder(const char* name, Kor::SyncObject* owner = nullptr, std::atomic<int>* deaths = nullptr)
        : Proc(Kor::RelationParam(owner, nullptr, nullptr, nullptr), name, 0, 9), m_deaths(deaths)
    {
    }
    ~Recorder() override
    {
        if (m_deaths)
            ++*m_deaths;
    }

    void record(const QString& event)
    {
        std::lock_guard guard(m_lock);
        m_events << event;
    }
    QStringList events() const
    {
        std::lock_guard guard(m_lock);
        return m_events;
    }

    Kor::TimerService* GetTimer() const override { return ownTimer ? ownTimer : Proc::GetTimer(); }
    void CheckBeforeDelete(Kor::SyncObject* object) override
    {
        record(deletedEvent(object));
        Proc::CheckBeforeDelete(object);
    }
    static QString deletedEvent(Kor::SyncObject* object) { return "deleted " + QString::number(quintptr(object)); }

    Kor::TimerService* ownTimer = nullptr;

protected:
    void Init() override
    {
        record(IsCurrent() ? "init" : "init on another thread");
        Proc::Init();
    }

private:
    std::atomic<int>* m_deaths;
    mutable std::mutex m_lock;
    QStringList m_events;
};

// A thread that is not reference-counted; its Run() waits for a gate.
class GatedThread : public Kor::Thread
{
public:
    GatedThread() : Kor::Thread("Gated") {}
    ~GatedThread() override { JoinThread(); }
    std::promise<void> gate;

protected:
    void Run() override { gate.get_future().wait(); }
};

} // namespace

class tst_Thread : public QObject
{
    Q_OBJECT

    // Each test's worker and timer threads, not started; whatever a failed
    // check left pending ends with them.
    Kor::AutoPointer<Recorder> m_worker;
    Kor::AutoPointer<Kor::TimerService> m_service;

private slots:
    void init()
    {
        m_worker = new Recorder("Worker Thread"); // message levels 0 to 9
        m_service = new Kor::TimerService(Kor::RelationParam(), "Timers", 0);
    }
    void cleanup()
    {
        QVERIFY(m_worker->Exit(5000, 5000, nullptr));
        QVERIFY(m_service->Exit(5000, 5000, nullptr));
    }

    // Messages wait for Init(), the highest level first (a level above the top
    // counts as the top, none as 0), in order within a level. A message that
    // throws does not end the thread.
    void startRunsInitFirst()
    {
        m_worker->Post([] { throw std::runtime_error("boom"); });
        m_worker->Post([] { throw 7; }, 9);
        for (int level : {0, 5, 12, int(Kor::Receiver::DefaultPriority), 9})
            QVERIFY(m_worker->Post([this, level] { m_worker->record(QString::number(level)); }, level));
        QVERIFY(m_worker->Post([this] {
            const QString name = QString::fromStdString(Kor::Platform::currentThreadName());
            m_worker->record(name + (m_worker->IsCurrent() ? " on" : " off"));
        }));
        QVERIFY(!m_worker->IsStarted());
        QVERIFY(m_worker->Begin());
        QVERIFY(!m_worker->Begin());
        QTRY_COMPARE(m_worker->events(), QStringList({"init", "12", "9", "5", "0", "-1", "Worker Thread on"}));
        QVERIFY(!m_worker->IsCurrent());
        QVERIFY(m_worker->WaitRunning(5000));

        // On the thread itself Exit() only asks it to end.
        std::atomic<int> result{-1};
        m_worker->Post([&] {
            bool terminated = true;
            result = m_worker->Exit(1000, 1000, &terminated) || terminated;
        });
        QTRY_VERIFY(m_worker->HasEnded());
        QCOMPARE(result.load(), 0);
        QVERIFY(!m_worker->IsRunning());
        QVERIFY(!m_worker->Post([] {}));
        QVERIFY(m_worker->Exit(0, 0, nullptr));
        QCOMPARE(m_worker->RefCount(), 1L); // the thread has given back its own reference
    }

    // The orderly close waits behind a long message. The stop request after
    // the first wait ends one that watches it, and what is queued behind it is
    // dropped; one that does not is given up.
    void longMessages()
    {
        std::atomic<bool> busy{false};
        QVERIFY(m_worker->Begin());
        m_worker->Post([&] {
            busy = true;
            while (!m_worker->StopRequested())
                std::this_thread::yield();
        });
        m_worker->Post([this] { m_worker->record("queued behind"); });
        QTRY_VERIFY(busy);
        bool terminated = true;
        QVERIFY(m_worker->Exit(50, 10000, &terminated));
        QVERIFY(!terminated);
        QCOMPARE(m_worker->events(), QStringList({"init"}));

        std::atomic<int> deaths{0};
        std::promise<void> gate;
        std::shared_future<void> opened = gate.get_future().share();
        std::atomic<bool> laterRan{false};
        busy = false;
        Kor::AutoPointer<Recorder> p = new Recorder("Stuck", nullptr, &deaths);
        QVERIFY(p->Begin());
        p->Post([&, opened] {
            busy = true;
            opened.wait();
        });
        p->Post([&] { laterRan = true; });
        QTRY_VERIFY(busy);
        QVERIFY(!p->Exit(20, 20, nullptr)); // without a flag nothing is given up
        QVERIFY(!p->Exit(20, 20, &terminated));
        QVERIFY(terminated);
        QVERIFY(!p->HasEnded());
        QCOMPARE(p->RefCount(), 2L); // ours and the running thread's own

        p = nullptr; // the abandoned thread keeps itself alive
        QCOMPARE(deaths.load(), 0);
        gate.set_value();
        QTRY_COMPARE(deaths.load(), 1); // it ends on its own and deletes itself
        QVERIFY(!laterRan);
    }

    // Held as a Thread, a thread that is not reference-counted is deleted, a
    // reference-counted processor only released.
    void plainThreadExitAndRelease()
    {
        auto* gated = new GatedThread;
        Kor::AutoPointer<Kor::Thread> thread = gated;
        QVERIFY(thread->Exit(0, 0, nullptr)); // never started
        QVERIFY(thread->Begin());
        QVERIFY(!thread->Exit(10, 10, nullptr));
        gated->gate.set_value();
        bool terminated = true;
        QVERIFY(thread->Exit(5000, 5000, &terminated));
        QVERIFY(!terminated);
        QVERIFY(thread->HasEnded());

        std::atomic<int> deaths{0};
        auto* recorder = new Recorder("Held", nullptr, &deaths);
        QCOMPARE(recorder->AddRef(), 2L);
        thread = recorder;
        thread = nullptr;
        QCOMPARE(deaths.load(), 0);
        QCOMPARE(recorder->Release(), 0L);
        QCOMPARE(deaths.load(), 1);
    }

    void relations()
    {
        Kor::AutoPointer<Recorder> parent = new Recorder("Parent");
        parent->ownTimer = m_service.get();

        Kor::AutoPointer<Recorder> child = new Recorder("Child", parent.get());
        QCOMPARE(child->GetTimer(), m_service.get());
        QVERIFY(child->GetRelation().owner() == parent.get());
        Kor::SyncObject* childObject = child.get();
        child = nullptr;
        QCOMPARE(parent->events(), QStringList{Recorder::deletedEvent(childObject)});

        // The other way round: a child learns that its owner went first.
        Kor::AutoPointer<Recorder> orphan = new Recorder("Orphan", parent.get());
        Kor::SyncObject* parentObject = parent.get();
        parent = nullptr;
        QCOMPARE(orphan->events(), QStringList{Recorder::deletedEvent(parentObject)});
        QVERIFY(orphan->GetRelation().isEmpty());
        QVERIFY(orphan->GetTimer() == nullptr);
    }

    void timers()
    {
        QVERIFY(m_worker->Begin());
        QVERIFY(m_service->Begin());

        std::atomic<int> oneShot{0}, ticks{0};
        std::atomic<bool> allOnTarget{true}, barrier{false};
        auto onTarget = [&] { allOnTarget = allOnTarget && m_worker->IsCurrent(); };
        QVERIFY(m_service->StartTimer(m_worker.get(), [&] { ++oneShot; onTarget(); }, 10, false) != 0);
        // A later one-shot timer tells when the first would have fired again.
        QVERIFY(m_service->StartTimer(m_worker.get(), [&] { barrier = true; }, 150, false) != 0);
        QTRY_VERIFY(barrier);
        QCOMPARE(oneShot.load(), 1);

        const unsigned periodic = m_service->StartTimer(m_worker.get(), [&] { ++ticks; onTarget(); }, 5, true);
        QVERIFY(periodic != 0);
        QTRY_VERIFY(ticks >= 3);
        QVERIFY(m_service->StopTimer(periodic));
        QVERIFY(!m_service->StopTimer(periodic));
        // Snapshot on the target thread: any delivery still queued there is
        // already behind the stop.
        std::atomic<int> stoppedAt{-1};
        m_worker->Post([&] { stoppedAt = ticks.load(); });
        barrier = false;
        QVERIFY(m_service->StartTimer(m_worker.get(), [&] { barrier = true; }, 50, false) != 0);
        QTRY_VERIFY(barrier);
        QCOMPARE(ticks.load(), stoppedAt.load());
        QVERIFY(allOnTarget);

        QCOMPARE(m_service->StartTimer(m_worker.get(), {}, 10, false), 0u);
        QCOMPARE(m_service->StartTimer(m_worker.get(), [] {}, 0, true), 0u);
        QVERIFY(!m_service->StopTimer(0));

        // A timer for a closed target stops at its first tick.
        QVERIFY(m_worker->Exit(5000, 5000, nullptr));
        ticks = 0;
        QVERIFY(m_service->StartTimer(m_worker.get(), [&] { ++ticks; }, 1, true) != 0);
        QTRY_COMPARE(m_service->ActiveTimers(), std::size_t(0));
        QCOMPARE(ticks.load(), 0);
    }

    // Timers started before Begin() wait for the thread; those of a plain
    // receiver or of none run on it. Ending the service ends every timer.
    void timerTargets()
    {
        QVERIFY(m_service == m_service->GetTimer());
        std::atomic<int> untargeted{-1}, plain{-1};
        Kor::Receiver receiver;
        // Started before Begin(): they wait for the thread.
        m_service->StartTimer([&] { untargeted = m_service->IsCurrent(); }, 0, false);
        m_service->StartTimer(&receiver, [&] { plain = m_service->IsCurrent(); }, 1, false);
        QVERIFY(m_service->Begin());
        QTRY_COMPARE(untargeted.load(), 1);
        QTRY_COMPARE(plain.load(), 1);

        m_service->StartTimer([] {}, 60000, false);
        m_service->StartTimer(&receiver, [] {}, 60000, true);
        m_service->StartTimer(&receiver, [] {}, 60000, true);
        QCOMPARE(m_service->StopTimers(&receiver), std::size_t(2));
        QTRY_COMPARE(m_service->ActiveTimers(), std::size_t(1));
        bool terminated = true;
        QVERIFY(m_service->Exit(5000, 5000, &terminated));
        QVERIFY(!terminated);
        QCOMPARE(m_service->ActiveTimers(), std::size_t(0));
        QCOMPARE(m_service->StartTimer([] {}, 10, false), 0u);
    }
};

QTEST_GUILESS_MAIN(tst_Thread)
#include "tst_thread.moc"
