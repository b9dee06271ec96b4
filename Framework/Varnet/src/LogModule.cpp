// First, synchronous cut of the log module: every line is formatted and
// written under one lock. The asynchronous writer and history files follow.
#include "LogModule.h"

#include "Platform.h"

#include <QDateTime>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

namespace Kor {

namespace {

struct State
{
    std::mutex lock;
    std::atomic<int> enabled{0};
    std::atomic<int> global{INFO};
    std::atomic<int> console{INFO};
    std::atomic<int> debugWindow{INFO};
    std::atomic<int> logFile{INFO};
    std::string fileName;
    std::string userData;
    FILE* file = nullptr;
    bool fileFailed = false;
    bool time = true, type = true, threadId = false, threadName = false;
    int nameMin = 0;
    bool dotted = false, separated = false;
    bool flush = true;
};

State& state()
{
    static State* s = new State; // never destroyed: lines may come during exit
    return *s;
}

bool passes(int lineSeverity, int outputSeverity)
{
    return outputSeverity < DISABLED && lineSeverity >= outputSeverity;
}

void openFile(State& s)
{
    if (s.file || s.fileName.empty())
        return;
    const std::string path = s.fileName + ".log";
    s.file = std::fopen(path.c_str(), "a");
    if (!s.file) {
        if (!s.fileFailed)
            std::fprintf(stdout, "log file %s cannot be opened: %s\n", path.c_str(),
                         Platform::errorText(errno).c_str());
        s.fileFailed = true;
        return;
    }
    if (!s.userData.empty())
        std::fprintf(s.file, "%s\n", s.userData.c_str());
}

} // namespace

bool LogModule::Start(int outputs, const char* file, const char*, const char*)
{
    State& s = state();
    std::lock_guard guard(s.lock);
    s.fileName = file ? file : "";
    s.enabled = outputs & AllOutputs;
    return true;
}

bool LogModule::Stop(int outputs)
{
    State& s = state();
    std::lock_guard guard(s.lock);
    if (outputs == -1 || (outputs & LogFile)) {
        if (s.file)
            std::fclose(s.file);
        s.file = nullptr;
    }
    if (outputs == -1)
        s.enabled = 0;
    else
        s.enabled &= ~(outputs & AllOutputs);
    return true;
}

bool LogModule::Enable(int outputs, bool on)
{
    State& s = state();
    std::lock_guard guard(s.lock);
    if (on)
        s.enabled |= outputs & AllOutputs;
    else
        s.enabled &= ~(outputs & AllOutputs);
    return true;
}

bool LogModule::IsEnabled(int output) { return state().enabled & output; }

void LogModule::SetGlobalInfoSeverity(int severity) { state().global = severity; }
int LogModule::GetGlobalInfoSeverity() { return state().global; }

void LogModule::SetInfoSeverity(int outputs, int severity)
{
    State& s = state();
    if (outputs & Console) s.console = severity;
    if (outputs & DebugWindow) s.debugWindow = severity;
    if (outputs & LogFile) s.logFile = severity;
}

int LogModule::GetInfoSeverity(int output)
{
    State& s = state();
    return output == Console ? s.console.load() : output == DebugWindow ? s.debugWindow.load() : s.logFile.load();
}

bool LogModule::WouldLog(LogEntryType, int severity)
{
    State& s = state();
    const int enabled = s.enabled.load(std::memory_order_relaxed);
    if (!enabled || !passes(severity, s.global.load(std::memory_order_relaxed)))
        return false;
    return ((enabled & Console) && passes(severity, s.console.load(std::memory_order_relaxed)))
        || ((enabled & LogFile) && passes(severity, s.logFile.load(std::memory_order_relaxed)));
}

void LogModule::_LOG(LogEntryType type, const char* file, int line, int severity, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    LogV(type, file, line, severity, nullptr, format, args);
    va_end(args);
}

void LogModule::LogV(LogEntryType type, const char*, int, int severity, const char* name,
                     const char* format, va_list args)
{
    if (!WouldLog(type, severity))
        return;
    State& s = state();
    char text[4096];
    std::vsnprintf(text, sizeof text, format ? format : "", args);
    std::string out;
    std::lock_guard guard(s.lock);
    if (s.time)
        out += QDateTime::currentDateTime().toString(QStringLiteral("yyyy/MM/dd HH:mm:ss,zzz ")).toStdString();
    if (s.type) {
        static const char marks[] = "?IWED";
        out += marks[type >= 1 && type <= 4 ? type : 0];
        out += ' ';
    }
    if (name && *name) {
        out += name;
        out += ' ';
    }
    out += text;
    out += '\n';
    const int enabled = s.enabled;
    if ((enabled & Console) && passes(severity, s.console)) {
        std::fwrite(out.data(), 1, out.size(), stdout);
        std::fflush(stdout);
    }
    if ((enabled & LogFile) && passes(severity, s.logFile) && (s.file || (openFile(s), s.file))) {
        std::fwrite(out.data(), 1, out.size(), s.file);
        if (s.flush)
            std::fflush(s.file);
    }
}

void LogModule::LogFileUserdata(const char* text) { std::lock_guard g(state().lock); state().userData = text ? text : ""; }
void LogModule::LogFileHistoryPath(const char*) {}
void LogModule::LogFileMode(int) {}
int LogModule::GetLogFileMode() { return 0; }
void LogModule::LogFileDeleteMode(int) {}
bool LogModule::LogFileEnableAsyncWriting(int, int) { return true; }
bool LogModule::IsAsyncWriting() { return false; }
void LogModule::LogFileFlush(bool on) { std::lock_guard g(state().lock); state().flush = on; }
void LogModule::setLogWarning(int) {}
int LogModule::getLogWarning() { return 0; }
void LogModule::LogFileBufferSize(int) {}
void LogModule::LogFilePrepareStop() { std::lock_guard g(state().lock); if (state().file) std::fflush(state().file); }
void LogModule::EnableThreadID(bool on, bool withName) { std::lock_guard g(state().lock); state().threadId = on; state().threadName = withName; }
bool LogModule::ThreadIDEnabled() { return state().threadId; }
void LogModule::SetNameMinSize(int size) { state().nameMin = size; }
int LogModule::GetNameMinSize() { return state().nameMin; }
void LogModule::SetNameDotted(bool on) { state().dotted = on; }
bool LogModule::GetNameDotted() { return state().dotted; }
void LogModule::SetNameSeparated(bool on) { state().separated = on; }
bool LogModule::GetNameSeparated() { return state().separated; }
void LogModule::EnableTime(bool on) { std::lock_guard g(state().lock); state().time = on; }
bool LogModule::TimeEnabled() { return state().time; }
void LogModule::EnableType(bool on) { std::lock_guard g(state().lock); state().type = on; }
bool LogModule::TypeEnabled() { return state().type; }

} // namespace Kor
