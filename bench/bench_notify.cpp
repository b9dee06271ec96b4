// The cost of one event through the console application's guarded dispatch,
// beside Qt's own dispatch of the same event in the same process.
#include <Kor/KorCore.h>

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <benchmark/benchmark.h>

namespace {

QObject* receiver()
{
    static QObject* object = new QObject;
    return object;
}

// QCoreApplication::notify, called past the override.
void BM_notify_plainQt(benchmark::State& state)
{
    QCoreApplication* app = QCoreApplication::instance();
    QEvent event(QEvent::User);
    for (auto _ : state)
        benchmark::DoNotOptimize(app->QCoreApplication::notify(receiver(), &event));
}

// The override of a ConsoleApplication's Qt application.
void BM_notify_console(benchmark::State& state)
{
    QCoreApplication* app = QCoreApplication::instance();
    QEvent event(QEvent::User);
    for (auto _ : state)
        benchmark::DoNotOptimize(app->notify(receiver(), &event));
}

BENCHMARK(BM_notify_plainQt);
BENCHMARK(BM_notify_console);

} // namespace

int main(int argc, char** argv)
{
    Kor::NS::ConsoleApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
