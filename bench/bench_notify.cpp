// The cost of sending one event through a console application, whose Qt
// application guards every event handler, against a plain QCoreApplication.
// Only one application object can exist per process, so the program runs
// once for each:
//     bench_notify            the console application
//     bench_notify --plain    a plain QCoreApplication
#include <Kor/KorCore.h>

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>

namespace {

void BM_sendEvent(benchmark::State& state)
{
    QObject receiver;
    QEvent event(QEvent::User);
    for (auto _ : state)
        benchmark::DoNotOptimize(QCoreApplication::sendEvent(&receiver, &event));
}
BENCHMARK(BM_sendEvent);

} // namespace

int main(int argc, char** argv)
{
    const bool plain = argc > 1 && std::strcmp(argv[1], "--plain") == 0;
    std::unique_ptr<QCoreApplication> plainApplication;
    std::unique_ptr<Kor::NS::ConsoleApplication> consoleApplication;
    if (plain)
        plainApplication = std::make_unique<QCoreApplication>(argc, argv);
    else
        consoleApplication = std::make_unique<Kor::NS::ConsoleApplication>(argc, argv);
    benchmark::AddCustomContext("application", plain ? "plain QCoreApplication" : "Kor::NS::ConsoleApplication");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
