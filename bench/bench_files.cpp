// The checksum and the cross-file-system move of a 256 MiB file, each beside
// the command-line tool that does the same job, in one run.
#include <Kor/KorCore.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace Kor::NS;

namespace {

constexpr qint64 FileSize = 256LL * 1024 * 1024;

bool writeBigFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray block(1024 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < block.size(); ++i)
        block[i] = char((i * 131) ^ (i >> 9));
    for (qint64 written = 0; written < FileSize; written += block.size())
        if (file.write(block) != block.size())
            return false;
    return true;
}

struct Files
{
    QTemporaryDir local;
    QTemporaryDir shm{ QStringLiteral("/dev/shm/bench_files-XXXXXX") };
    QString source() const { return local.filePath("big"); }
    QString target() const { return shm.filePath("big"); }
    bool crossDevice() const { return QStorageInfo(local.path()).device() != QStorageInfo(shm.path()).device(); }
};

Files& files()
{
    static Files f;
    return f;
}

void BM_ChecksumLibrary(benchmark::State& state)
{
    if (!writeBigFile(files().source()))
        return state.SkipWithError("cannot write the test file");
    for (auto _ : state)
        benchmark::DoNotOptimize(GetFileCheckSum(files().source()));
    state.SetBytesProcessed(state.iterations() * FileSize);
}

void BM_ChecksumMd5sum(benchmark::State& state)
{
    if (!writeBigFile(files().source()))
        return state.SkipWithError("cannot write the test file");
    for (auto _ : state) {
        if (QProcess::execute("sh", { "-c", "md5sum \"$0\" >/dev/null", files().source() }) != 0)
            return state.SkipWithError("md5sum failed");
    }
    state.SetBytesProcessed(state.iterations() * FileSize);
}

template<bool Library>
void BM_MoveAcross(benchmark::State& state)
{
    if (!files().crossDevice())
        return state.SkipWithError("/dev/shm and the temporary folder share a file system");
    for (auto _ : state) {
        state.PauseTiming();
        QFile::remove(files().target());
        if (!writeBigFile(files().source()))
            return state.SkipWithError("cannot write the test file");
        state.ResumeTiming();
        const bool ok = Library ? MoveFileW(files().source(), files().target())
                                : QProcess::execute("mv", { files().source(), files().target() }) == 0;
        if (!ok)
            return state.SkipWithError("the move failed");
    }
    state.SetBytesProcessed(state.iterations() * FileSize);
}

} // namespace

BENCHMARK(BM_ChecksumLibrary)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_ChecksumMd5sum)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_MoveAcross<true>)->Name("BM_MoveAcross/MoveFileW")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_MoveAcross<false>)->Name("BM_MoveAcross/mv")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
