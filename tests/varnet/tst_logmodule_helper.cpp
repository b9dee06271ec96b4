// Child process for tst_logmodule: what only a separate process can show
// (standard output, standard error, process exit, process limits).
#include <Kor/LogModule.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using Kor::LogModule;

namespace {

// Exit codes besides 0 and 2 (usage).
enum Failure { SetupFailed = 3, ConsoleStillOn = 4, ThresholdKept = 5 };

// The set-up every mode shares: each then narrows what it tests.
void start(int outputs, const char* path)
{
    LogModule::Start(outputs, path, "helper", "");
    LogModule::SetGlobalInfoSeverity(Kor::TRACE);
    LogModule::SetInfoSeverity(LogModule::AllOutputs, Kor::TRACE);
}

void logLines(int from, int to)
{
    for (int i = from; i < to; ++i)
        LogModule::_LOG(Kor::LOG_INFO, __FILE__, __LINE__, Kor::INFO, "line %d", i);
}

// console <global> <console>: one bare line per severity to stdout; the
// debugger window is on too but no debugger is attached.
int console(int global, int console)
{
    start(LogModule::Console | LogModule::DebugWindow, nullptr);
    LogModule::EnableTime(false);
    LogModule::EnableType(false);
    LogModule::SetGlobalInfoSeverity(global);
    LogModule::SetInfoSeverity(LogModule::Console, console);
    for (int severity = Kor::TRACE; severity <= Kor::ALWAYS; ++severity)
        LogModule::_LOG(Kor::LOG_INFO, __FILE__, __LINE__, severity, "s%d", severity);
    return 0;
}

// unwritable <path> [journal]: the file output fails; the console output is
// off, yet the reason must show on stdout, once.
int unwritable(const char* path, bool journal)
{
    if (journal) { // as systemd starts a service: JOURNAL_STREAM names standard output
        struct stat st{};
        ::fstat(STDOUT_FILENO, &st);
        const std::string stream = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
        ::setenv("JOURNAL_STREAM", stream.c_str(), 1);
    }
    start(LogModule::Console | LogModule::LogFile, path);
    LogModule::SetInfoSeverity(LogModule::Console, Kor::DISABLED);
    logLines(0, 100);
    LogModule::Enable(LogModule::LogFile, true); // a retry failing for the same reason stays quiet
    logLines(100, 101);
    std::printf("alive\n");
    return 0;
}

// exit <path>: queued, unflushed lines when main() returns without Stop().
int exitWithQueue(const char* path)
{
    start(LogModule::LogFile, path);
    LogModule::LogFileUserdata("helper");
    LogModule::LogFileFlush(false);
    LogModule::LogFileEnableAsyncWriting(1 << 20, 1024);
    logLines(0, 2000);
    return 0;
}

// filelimit <path> <sync|buffered|async>: the file may not grow beyond a
// few KiB, so a write fails part-way (EFBIG); later the limit is lifted and
// the file output switched on again.
int fileLimit(const char* path, const std::string& how)
{
    constexpr rlim_t kFileLimit = 10000;
    std::signal(SIGXFSZ, SIG_IGN); // the write fails instead of killing us
    rlimit original{};
    if (::getrlimit(RLIMIT_FSIZE, &original) != 0 || original.rlim_max < kFileLimit)
        return SetupFailed;
    const rlimit limited{kFileLimit, original.rlim_max};
    if (::setrlimit(RLIMIT_FSIZE, &limited) != 0)
        return SetupFailed;
    start(LogModule::LogFile, path);
    LogModule::LogFileFlush(how == "sync");
    if (how == "async")
        LogModule::LogFileEnableAsyncWriting(1 << 20, 16);
    logLines(0, 400);
    LogModule::LogFilePrepareStop();
    if (::setrlimit(RLIMIT_FSIZE, &original) != 0)
        return SetupFailed;
    LogModule::Enable(LogModule::LogFile, true); // no need to wait for the next attempt
    logLines(400, 410);
    LogModule::Stop(-1);
    return 0;
}

// brokenpipe <path>: standard output is a pipe without a reader; the console
// output must go off, and with it what only the console took.
int brokenPipe(const char* path)
{
    std::signal(SIGPIPE, SIG_IGN); // as the application frame does
    int ends[2];
    if (::pipe(ends) != 0 || ::dup2(ends[1], STDOUT_FILENO) < 0)
        return SetupFailed;
    ::close(ends[0]);
    ::close(ends[1]);
    start(LogModule::Console | LogModule::LogFile, path);
    LogModule::EnableTime(false);
    LogModule::SetInfoSeverity(LogModule::LogFile, Kor::INFO);
    logLines(0, 1000);
    if (LogModule::IsEnabled(LogModule::Console))
        return ConsoleStillOn;
    if (LogModule::WouldLog(Kor::LOG_INFO, Kor::TRACE))
        return ThresholdKept;
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "console" && argc == 4)
        return console(std::atoi(argv[2]), std::atoi(argv[3]));
    if (mode == "unwritable" && (argc == 3 || argc == 4))
        return unwritable(argv[2], argc == 4);
    if (mode == "exit" && argc == 3)
        return exitWithQueue(argv[2]);
    if (mode == "filelimit" && argc == 4)
        return fileLimit(argv[2], argv[3]);
    if (mode == "brokenpipe" && argc == 3)
        return brokenPipe(argv[2]);
    std::fprintf(stderr, "usage: %s console|unwritable|exit|filelimit|brokenpipe ...\n", argv[0]);
    return 2;
}
