// One log line through our log module (as a LogMessage) and through spdlog,
// in the same configurations: a line below the level, a synchronous file line
// (buffered, and handed to the kernel per line), and an asynchronous file
// line from one and from four threads. Both write the same layout to a file
// of their own. Each case reports the heap allocations made per line, by
// any thread of the process, as the counter "allocs/line".
#include <Kor/LogMessage.h>
#include <Kor/LogModule.h>

#include <benchmark/benchmark.h>
#include <spdlog/async.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <unistd.h>

// ---- allocation counting -------------------------------------------------
#include "AllocationCounter.h"

using Kor::LogModule;

namespace {

// Counts the allocations of the timed loop. With several threads the first
// one reports the process-wide count; the loop's start and end are barriers
// for all of them, so nothing outside the loop is counted.
class AllocationCount
{
public:
    explicit AllocationCount(const benchmark::State& state)
        : m_reporter(state.thread_index() == 0), m_start(g_allocations.load(std::memory_order_relaxed))
    {
    }
    void report(benchmark::State& state) const
    {
        const unsigned long long count = g_allocations.load(std::memory_order_relaxed) - m_start;
        state.counters["allocs/line"] =
            benchmark::Counter(m_reporter ? double(count) : 0.0, benchmark::Counter::kAvgIterations);
    }

private:
    bool m_reporter;
    unsigned long long m_start;
};

const std::filesystem::path& folder()
{
    static const std::filesystem::path path = [] {
        auto p = std::filesystem::temp_directory_path() / ("kor_bench_logging_" + std::to_string(::getpid()));
        std::filesystem::create_directories(p);
        return p;
    }();
    return path;
}

// The line as the library's own code writes it: a stream-style message.
inline void korLine(Kor::LogSeverity severity, int i)
{
    Kor::NS::LogMessage(nullptr, Kor::String(), severity, Kor::LOG_INFO) << "text " << i;
}

// ---- our module ----------------------------------------------------------

void korStart(bool flushEachLine, int queueBytes)
{
    LogModule::Stop(-1);
    std::filesystem::remove(folder() / "kor.log");
    LogModule::Start(LogModule::LogFile, (folder() / "kor").c_str(), "bench", "");
    LogModule::SetGlobalInfoSeverity(Kor::INFO);
    LogModule::SetInfoSeverity(LogModule::AllOutputs, Kor::INFO);
    LogModule::LogFileFlush(flushEachLine);
    LogModule::LogFileBufferSize(4096);
    if (queueBytes)
        LogModule::LogFileEnableAsyncWriting(queueBytes, 1024);
}

void korSyncSetup(const benchmark::State&) { korStart(false, 0); }
void korSyncFlushedSetup(const benchmark::State&) { korStart(true, 0); }
// The default of the settings file: async, batches handed to the kernel.
void korAsyncSetup(const benchmark::State&) { korStart(true, 1 << 20); }
void korTeardown(const benchmark::State&) { LogModule::Stop(-1); }

void BM_Kor_Disabled(benchmark::State& state)
{
    int i = 0;
    const AllocationCount allocations(state);
    for (auto _ : state)
        korLine(Kor::DEBUG, ++i);
    state.SetItemsProcessed(state.iterations());
    allocations.report(state);
}

// The module's own share of a disabled line, without the message object.
void BM_Kor_DisabledModule(benchmark::State& state)
{
    int i = 0;
    const AllocationCount allocations(state);
    for (auto _ : state)
        LogModule::_LOG(Kor::LOG_INFO, __FILE__, __LINE__, Kor::DEBUG, "text %d", ++i);
    state.SetItemsProcessed(state.iterations());
    allocations.report(state);
}

void BM_Kor_File(benchmark::State& state)
{
    int i = 0;
    const AllocationCount allocations(state);
    for (auto _ : state)
        korLine(Kor::INFO, ++i);
    state.SetItemsProcessed(state.iterations());
    allocations.report(state);
}

// ---- spdlog --------------------------------------------------------------

std::shared_ptr<spdlog::logger> g_spd;

void spdStart(bool async, bool flushEachLine)
{
    spdlog::drop_all();
    g_spd.reset();
    std::filesystem::remove(folder() / "spd.log");
    auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>((folder() / "spd.log").string());
    if (async) {
        spdlog::init_thread_pool(16384, 1); // about as many lines as our 1 MiB queue holds
        g_spd = std::make_shared<spdlog::async_logger>("spd", sink, spdlog::thread_pool(),
                                                       spdlog::async_overflow_policy::block);
    } else {
        g_spd = std::make_shared<spdlog::logger>("spd", sink);
    }
    g_spd->set_pattern("%Y/%m/%d %H:%M:%S,%e %L %v");
    g_spd->set_level(spdlog::level::info);
    g_spd->flush_on(flushEachLine ? spdlog::level::trace : spdlog::level::off);
}

void spdSyncSetup(const benchmark::State&) { spdStart(false, false); }
void spdSyncFlushedSetup(const benchmark::State&) { spdStart(false, true); }
void spdAsyncSetup(const benchmark::State&) { spdStart(true, false); }
void spdTeardown(const benchmark::State&)
{
    g_spd->flush();
    g_spd.reset();
    spdlog::drop_all();
    spdlog::shutdown(); // joins the pool: what is queued is written
}

void BM_Spdlog_Disabled(benchmark::State& state)
{
    int i = 0;
    const AllocationCount allocations(state);
    for (auto _ : state)
        g_spd->debug("text {}", ++i);
    state.SetItemsProcessed(state.iterations());
    allocations.report(state);
}

void BM_Spdlog_File(benchmark::State& state)
{
    int i = 0;
    const AllocationCount allocations(state);
    for (auto _ : state)
        g_spd->info("text {}", ++i);
    state.SetItemsProcessed(state.iterations());
    allocations.report(state);
}

} // namespace

BENCHMARK(BM_Kor_Disabled)->Name("Disabled/Kor")->Setup(korSyncSetup)->Teardown(korTeardown);
BENCHMARK(BM_Kor_DisabledModule)->Name("Disabled/Kor-module-only")->Setup(korSyncSetup)->Teardown(korTeardown);
BENCHMARK(BM_Spdlog_Disabled)->Name("Disabled/spdlog")->Setup(spdSyncSetup)->Teardown(spdTeardown);
BENCHMARK(BM_Kor_File)->Name("SyncFile/Kor")->Setup(korSyncSetup)->Teardown(korTeardown);
BENCHMARK(BM_Spdlog_File)->Name("SyncFile/spdlog")->Setup(spdSyncSetup)->Teardown(spdTeardown);
BENCHMARK(BM_Kor_File)->Name("SyncFileFlushed/Kor")->Setup(korSyncFlushedSetup)->Teardown(korTeardown);
BENCHMARK(BM_Spdlog_File)->Name("SyncFileFlushed/spdlog")->Setup(spdSyncFlushedSetup)->Teardown(spdTeardown);
BENCHMARK(BM_Kor_File)->Name("AsyncFile/Kor")->Setup(korAsyncSetup)->Teardown(korTeardown)
    ->Threads(1)->Threads(4)->UseRealTime();
BENCHMARK(BM_Spdlog_File)->Name("AsyncFile/spdlog")->Setup(spdAsyncSetup)->Teardown(spdTeardown)
    ->Threads(1)->Threads(4)->UseRealTime();

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    LogModule::Stop(-1);
    std::filesystem::remove_all(folder());
    return 0;
}
