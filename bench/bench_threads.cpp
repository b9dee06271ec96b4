// Thread context calls against bare Qt invocations, and the traced mutex
// locker with tracing off against QMutexLocker, side by side in one run.
#include <Kor/KorCore.h>

#include <QCoreApplication>
#include <QMutex>
#include <QMutexLocker>
#include <QRecursiveMutex>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <memory>

using namespace Kor::NS;

namespace {

// A worker thread with an event loop and a context living in it.
struct Worker
{
    Worker()
    {
        thread.start();
        context.moveToThread(&thread);
    }
    ~Worker()
    {
        thread.quit();
        thread.wait();
    }
    QThread thread;
    ThreadContext context; // destroyed first, once its thread has ended
};

void BM_contextSynchronous(benchmark::State& state)
{
    Worker worker;
    int counter = 0;
    for (auto _ : state)
        worker.context.call([&counter] { ++counter; }, ThreadContext::Synchronous);
    benchmark::DoNotOptimize(counter);
}
BENCHMARK(BM_contextSynchronous);

void BM_bareBlockingQueued(benchmark::State& state)
{
    Worker worker;
    int counter = 0;
    for (auto _ : state)
        QMetaObject::invokeMethod(&worker.context, [&counter] { ++counter; }, Qt::BlockingQueuedConnection);
    benchmark::DoNotOptimize(counter);
}
BENCHMARK(BM_bareBlockingQueued);

// Posting only; the queue is drained once at the end of the timed run.
void BM_contextAsynchronous(benchmark::State& state)
{
    Worker worker;
    int counter = 0;
    for (auto _ : state)
        worker.context.call([&counter] { ++counter; }, ThreadContext::Asynchronous);
    worker.context.call([] {}, ThreadContext::Synchronous);
    benchmark::DoNotOptimize(counter);
}
BENCHMARK(BM_contextAsynchronous);

void BM_bareQueued(benchmark::State& state)
{
    Worker worker;
    int counter = 0;
    for (auto _ : state)
        QMetaObject::invokeMethod(&worker.context, [&counter] { ++counter; }, Qt::QueuedConnection);
    QMetaObject::invokeMethod(&worker.context, [] {}, Qt::BlockingQueuedConnection);
    benchmark::DoNotOptimize(counter);
}
BENCHMARK(BM_bareQueued);

// The traced locker with tracing off against QMutexLocker, on both mutex kinds.
template <typename Mutex>
void BM_korMutexLockerTracingOff(benchmark::State& state)
{
    Mutex mutex;
    for (auto _ : state) {
        _KorMutexLocker locker(&mutex);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_korMutexLockerTracingOff<QMutex>);
BENCHMARK(BM_korMutexLockerTracingOff<QRecursiveMutex>);

template <typename Mutex>
void BM_qMutexLocker(benchmark::State& state)
{
    Mutex mutex;
    for (auto _ : state) {
        QMutexLocker locker(&mutex);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_qMutexLocker<QMutex>);
BENCHMARK(BM_qMutexLocker<QRecursiveMutex>);

// What reading the two settings on every construction would cost.
void BM_readTwoSettings(benchmark::State& state)
{
    Application* app = Application::instance();
    for (auto _ : state) {
        benchmark::DoNotOptimize(app->setting(QStringLiteral("Loglevel/LogMutex"), false, false).toBool());
        benchmark::DoNotOptimize(app->setting(QStringLiteral("Loglevel/LogMutexConfig"), false, false).toBool());
    }
}
BENCHMARK(BM_readTwoSettings);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication core(argc, argv);
    QTemporaryDir dir;
    qputenv("KOR_REGISTRY_ROOT", QFile::encodeName(dir.filePath("registry")));
    Application app(QSharedPointer<QCoreApplication>(&core, [](QCoreApplication*) {}));
    // A real settings file, so that a settings read does what it does in a host.
    app.setINIFile(QVariant(dir.filePath("bench.ini")));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
