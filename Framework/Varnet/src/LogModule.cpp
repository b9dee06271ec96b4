// The log module's public face: switches, severities and the routing of one
// line to the console, the debugger window and the log file. Formatting,
// the file and the asynchronous writer live in LogFormatter, LogFile and
// LogWriter.
#include "LogModule.h"

#include "LogFile_p.h"
#include "LogJournal_p.h"
#include "LogFormatter_p.h"
#include "LogWriter_p.h"
#include "Platform.h"
#include "ServiceManager.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace Kor {

namespace {

constexpr int kNoLine = INT_MAX; // threshold when no output takes any line
constexpr int kMaxNameMinSize = 255;

enum Slot { ConsoleSlot, DebugWindowSlot, LogFileSlot, JournalSlot, SlotCount };
constexpr int kSlotOutput[SlotCount] = {LogModule::Console, LogModule::DebugWindow, LogModule::LogFile,
                                        LogModule::Journal};
constexpr int kEveryOutput = LogModule::AllOutputs | LogModule::Journal;
// Warnings and errors kept for the log file before it takes its first line;
// a program that logs more while starting is in trouble anyway.
constexpr std::size_t kMaxKeptLines = 256;
constexpr std::size_t kMaxKeptBytes = 256 * 1024;

// Read by every logging thread without a lock. All are trivially
// destructible, so lines logged during process exit still find them.
constinit std::atomic<int> g_enabled{0};
constinit std::atomic<int> g_global{INFO};
constinit std::atomic<int> g_severity[SlotCount]{INFO, INFO, INFO, INFO};
// The lowest line severity that some enabled output accepts, the global
// severity included; WouldLog() needs nothing else.
constinit std::atomic<int> g_threshold{kNoLine};
// The same for warnings and errors, which the log file takes also while it
// is kept (see Control::kept): at first what the file's INFO would take.
constinit std::atomic<int> g_keptThreshold{INFO};
// Until the log file first takes lines, from the start of the process or a
// Stop(LogFile) on: warnings and errors that the file output would take
// while it is off, or not started yet, are kept for it.
constinit std::atomic<bool> g_keeping{true};
constinit std::atomic<long long> g_debuggerCheckDue{0};
constinit std::atomic<bool> g_debuggerAttached{false};

struct Control
{
    std::mutex mutex; // serialises the switches; never taken by a logging thread
    detail::LogFile file;
    detail::LogWriter writer{file};
    bool exitHandlerInstalled = false;
    // A note for the log file that came while the file output was off.
    std::string heldNotice;

    // A program keeps its file output off until it knows the file is its own
    // (a second instance must not write into the first one's log); what went
    // wrong meanwhile still belongs into the file. Logging threads take this
    // lock; the switches take it after the control mutex.
    std::mutex keptMutex;
    // g_keeping as changed under this lock: false once the file took lines,
    // until the next Stop(LogFile).
    bool keeping = true;
    struct KeptLine
    {
        std::string text; // formatted when it was logged
        int date;
    };
    std::vector<KeptLine> kept; // the first ones, in order
    std::size_t keptBytes = 0;
    std::uint64_t keptDropped = 0;
};

Control& control()
{
    static Control* c = new Control; // never destroyed: lines may come during exit
    return *c;
}

bool isKeptType(LogEntryType type)
{
    return type == LOG_WARNING || type == LOG_ERROR;
}

// WouldLog() without the call through the library's symbol table.
inline bool anyOutputTakes(LogEntryType type, int severity)
{
    const int threshold = (isKeptType(type) ? g_keptThreshold : g_threshold).load(std::memory_order_relaxed);
    return severity >= threshold && threshold != kNoLine;
}

bool passes(int lineSeverity, int severity)
{
    return severity < DISABLED && lineSeverity >= severity;
}

// Called with the control mutex held, after every change of a switch that
// decides whether a line is written.
void recomputeThreshold()
{
    const int global = g_global.load(std::memory_order_relaxed);
    const int enabled = g_enabled.load(std::memory_order_relaxed);
    int lowest = kNoLine;
    for (int slot = 0; slot < SlotCount; ++slot) {
        const int severity = g_severity[slot].load(std::memory_order_relaxed);
        if ((enabled & kSlotOutput[slot]) && severity < DISABLED)
            lowest = std::min(lowest, severity);
    }
    int keptLowest = lowest;
    const int fileSeverity = g_severity[LogFileSlot].load(std::memory_order_relaxed);
    if (g_keeping.load(std::memory_order_relaxed) && fileSeverity < DISABLED)
        keptLowest = std::min(keptLowest, fileSeverity);
    const auto withGlobal = [global](int threshold) {
        return global >= DISABLED || threshold == kNoLine ? kNoLine : std::max(threshold, global);
    };
    g_threshold.store(withGlobal(lowest), std::memory_order_relaxed);
    g_keptThreshold.store(withGlobal(keptLowest), std::memory_order_relaxed);
}

void setEnabled(int outputs, bool on)
{
    const int mask = outputs & kEveryOutput;
    if (on)
        g_enabled.fetch_or(mask, std::memory_order_relaxed);
    else
        g_enabled.fetch_and(~mask, std::memory_order_relaxed);
}

bool debuggerAttached()
{
    // Reading /proc costs a few microseconds: once a second at most, by
    // whichever thread comes first.
    using namespace std::chrono;
    const long long now = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    long long due = g_debuggerCheckDue.load(std::memory_order_relaxed);
    if (now >= due && g_debuggerCheckDue.compare_exchange_strong(due, now + 1000, std::memory_order_relaxed))
        g_debuggerAttached.store(Platform::debuggerAttached(), std::memory_order_relaxed);
    return g_debuggerAttached.load(std::memory_order_relaxed);
}

// false with error set when the stream refused the line.
bool writeStream(std::FILE* stream, const detail::LineBuffer& line, int& error)
{
    // One fwrite per line: stdio locks the stream for it, so lines of
    // different threads never mix.
    if (std::fwrite(line.data(), 1, line.size(), stream) == line.size() && std::fflush(stream) == 0)
        return true;
    error = errno ? errno : EIO;
    return false;
}

// One write for the whole entry, so that its lines stay together.
void writeToJournal(std::FILE* stream, const detail::LineBuffer& line, LogEntryType type, int severity)
{
    std::string entry;
    detail::appendJournalEntry(entry, line.data(), line.size(), detail::timeColumnSize(),
                               detail::journalPriority(type, severity));
    std::fwrite(entry.data(), 1, entry.size(), stream);
    std::fflush(stream);
}

// Under systemd standard output and error are the journal's stream (the
// two are usually one). Lines written there carry their priority and leave
// the time to the journal, whichever output writes them; and a line the
// journal output writes already is not written to the same stream again.
// Looked at when outputs start or change, not per line.
std::atomic<bool> g_stdoutIsJournal{false};
std::atomic<bool> g_stderrIsJournal{false};

void lookAtJournalStreams()
{
    g_stdoutIsJournal.store(Platform::standardOutputIsJournal(), std::memory_order_relaxed);
    g_stderrIsJournal.store(Platform::standardErrorIsJournal(), std::memory_order_relaxed);
}

// The console and debug-window outputs on a stream that may be the journal.
// false with error set when the stream refused the line.
bool writeToStream(std::FILE* stream, bool isJournal, bool journalOutputTakes, const detail::LineBuffer& line,
                   LogEntryType type, int severity, int& error)
{
    if (!isJournal)
        return writeStream(stream, line, error);
    if (!(journalOutputTakes && g_stderrIsJournal.load(std::memory_order_relaxed)))
        writeToJournal(stream, line, type, severity);
    return true;
}

void writeToFile(const char* data, std::size_t size, int date)
{
    Control& c = control();
    if (c.writer.active() && c.writer.push(data, size, date))
        return;
    c.file.write(data, size, date);
}

void forgetKept(Control& c)
{
    std::vector<Control::KeptLine>().swap(c.kept);
    c.keptBytes = 0;
    c.keptDropped = 0;
}

// Under the kept lines' lock, before the file takes any other line.
void writeKept(Control& c)
{
    for (const Control::KeptLine& line : c.kept)
        writeToFile(line.text.data(), line.text.size(), line.date);
    if (c.keptDropped > 0) {
        const bool one = c.keptDropped == 1;
        const std::string text = std::to_string(c.keptDropped)
            + (one ? " more warning or error from before the log file was opened was dropped"
                   : " more warnings and errors from before the log file was opened were dropped");
        detail::LineBuffer line;
        int date = 0;
        detail::beginLine(line, LOG_WARNING, nullptr, &date);
        line.append(text.data(), text.size());
        detail::endLine(line);
        writeToFile(line.data(), line.size(), date);
    }
    forgetKept(c);
    c.keeping = false;
}

void keepForFile(const detail::LineBuffer& line, int date)
{
    Control& c = control();
    {
        std::lock_guard guard(c.keptMutex);
        if (c.keeping) {
            if (c.keptDropped == 0 && c.kept.size() < kMaxKeptLines && c.keptBytes + line.size() <= kMaxKeptBytes) {
                c.kept.push_back({std::string(line.data(), line.size()), date});
                c.keptBytes += line.size();
            } else {
                ++c.keptDropped;
            }
            return;
        }
    }
    // The file output went on meanwhile, and what was kept is written.
    writeToFile(line.data(), line.size(), date);
}

// The first lines for the file: the kept ones go before them.
// A line that finds g_keeping clear finds them written.
[[gnu::cold]] void endKeeping()
{
    Control& c = control();
    std::lock_guard guard(c.keptMutex);
    if (!c.keeping)
        return;
    writeKept(c);
    g_keeping.store(false, std::memory_order_release);
}

// Called with the control mutex held, the file armed. Lines kept so far are
// written before the output goes on, so that no later line overtakes them,
// and g_keeping is cleared after it: a line that finds it clear finds the
// file output on. A line that still found it set and the output off waits
// for the lock, then follows them. With nothing kept the keeping goes on
// until the file takes its first line.
void switchFileOn(Control& c, int outputs)
{
    std::lock_guard guard(c.keptMutex);
    const bool writeFirst = c.keeping && (!c.kept.empty() || c.keptDropped > 0);
    if (writeFirst)
        writeKept(c);
    setEnabled(outputs, true);
    if (writeFirst)
        g_keeping.store(false, std::memory_order_release);
}

// Called with the control mutex held: the file is stopped, and what was kept
// for it with it; what comes now is kept for the next one.
void keepAfresh(Control& c)
{
    std::lock_guard guard(c.keptMutex);
    c.keeping = true;
    g_keeping.store(true, std::memory_order_relaxed);
    forgetKept(c);
}

void logNotice(const std::string& text)
{
    LogModule::_LOG(LOG_ERROR, __FILE__, __LINE__, ALWAYS, "%s", text.c_str());
}

// Standard output failed (mostly a pipe whose reader has gone): every further
// line would fail the same way, so the console output goes off as if
// switched off, and the log file keeps a note of why. While the file output
// is off (a program starting up) the note waits for it.
void switchConsoleOff(int error)
{
    Control& c = control();
    const std::string notice = "Console output switched off: " + Platform::errorText(error);
    {
        std::lock_guard guard(c.mutex);
        if (!(g_enabled.load(std::memory_order_relaxed) & LogModule::Console))
            return; // another thread came first, or the output was switched off meanwhile
        setEnabled(LogModule::Console, false);
        recomputeThreshold();
        std::clearerr(stdout); // switched on again, the console tries afresh
        if (!(g_enabled.load(std::memory_order_relaxed) & LogModule::LogFile)) {
            c.heldNotice = notice;
            return;
        }
    }
    logNotice(notice);
}

// At exit the writer thread would die with lines still queued, and a
// buffered file would lose its buffer: write both out, and from then on hand
// every line to the kernel at once, for lines from static destructors.
void flushAtExit()
{
    Control& c = control();
    std::lock_guard guard(c.mutex);
    c.writer.stop();
    c.file.setFlush(true);
}

void installExitHandler(Control& c)
{
    if (c.exitHandlerInstalled)
        return;
    c.exitHandlerInstalled = std::atexit(flushAtExit) == 0;
}

std::string orEmpty(const char* s)
{
    return s ? std::string(s) : std::string();
}

// Routes one line to the outputs that take it; appendText adds the text
// after the columns. Kept out of line: its frame holds the line buffer, which
// the callers' quick refusal of an unwanted line should not have to set up.
template <class AppendText>
[[gnu::noinline]] void emitLine(LogEntryType type, int severity, const char* name, const char* subName,
                                AppendText appendText)
{
    if (!anyOutputTakes(type, severity))
        return;
    // Read before the outputs (see switchFileOn).
    const bool keeping = g_keeping.load(std::memory_order_acquire);
    const int enabled = g_enabled.load(std::memory_order_relaxed);
    if (!passes(severity, g_global.load(std::memory_order_relaxed)))
        return;
    bool to[SlotCount];
    for (int slot = 0; slot < SlotCount; ++slot)
        to[slot] = (enabled & kSlotOutput[slot]) && passes(severity, g_severity[slot].load(std::memory_order_relaxed));
    to[DebugWindowSlot] = to[DebugWindowSlot] && debuggerAttached();
    // What the file output, still off, would take by its severity now.
    const bool keep = keeping && !to[LogFileSlot] && isKeptType(type)
        && passes(severity, g_severity[LogFileSlot].load(std::memory_order_relaxed));
    if (!to[ConsoleSlot] && !to[DebugWindowSlot] && !to[LogFileSlot] && !to[JournalSlot] && !keep)
        return;

    detail::LineBuffer text;
    int date = 0;
    detail::beginLine(text, type, name, subName, &date);
    appendText(text);
    detail::endLine(text);
    int error = 0;
    if (to[ConsoleSlot]
        && !writeToStream(stdout, g_stdoutIsJournal.load(std::memory_order_relaxed), to[JournalSlot], text, type,
                          severity, error))
        switchConsoleOff(error);
    if (to[DebugWindowSlot])
        writeToStream(stderr, g_stderrIsJournal.load(std::memory_order_relaxed), to[JournalSlot], text, type,
                      severity, error);
    if (to[LogFileSlot]) {
        if (keeping)
            endKeeping();
        writeToFile(text.data(), text.size(), date);
    } else if (keep) {
        keepForFile(text, date);
    }
    if (to[JournalSlot])
        writeToJournal(stderr, text, type, severity);
}

} // namespace

bool LogModule::Start(int outputs, const char* file, const char*, const char*)
{
    Control& c = control();
    std::lock_guard guard(c.mutex);
    installExitHandler(c);
    lookAtJournalStreams();
    // Resolved now: the program may change its working directory right after.
    const std::string base = detail::LogFile::absolutePath(orEmpty(file));
    if (base != c.file.base()) {
        c.writer.drain(); // lines queued so far belong into the old file
        c.file.setBase(base);
    }
    g_enabled.store(outputs & kEveryOutput, std::memory_order_relaxed);
    // What was kept waits for the file's first line, so that a program that
    // switches the file off at once has not opened it.
    if (outputs & LogFile)
        c.file.arm();
    recomputeThreshold();
    return true;
}

bool LogModule::Stop(int outputs)
{
    Control& c = control();
    std::lock_guard guard(c.mutex);
    if (outputs & AsyncWriter)
        c.writer.stop();
    setEnabled(outputs, false);
    if (outputs & LogFile)
        keepAfresh(c);
    recomputeThreshold();
    if (outputs & LogFile) {
        c.writer.drain();
        c.file.close();
    }
    if (outputs == -1)
        c.file.forgetRun();
    return true;
}

bool LogModule::Enable(int outputs, bool on)
{
    Control& c = control();
    std::string notice;
    {
        std::lock_guard guard(c.mutex);
        if (on)
            lookAtJournalStreams();
        if (on && (outputs & LogFile)) {
            c.file.arm();
            notice = std::exchange(c.heldNotice, std::string());
            switchFileOn(c, outputs);
        } else {
            setEnabled(outputs, on);
        }
        recomputeThreshold();
    }
    if (!notice.empty())
        logNotice(notice);
    return true;
}

bool LogModule::IsEnabled(int output)
{
    return (g_enabled.load(std::memory_order_relaxed) & output & kEveryOutput) != 0;
}

void LogModule::SetGlobalInfoSeverity(int severity)
{
    std::lock_guard guard(control().mutex);
    g_global.store(severity, std::memory_order_relaxed);
    recomputeThreshold();
}

int LogModule::GetGlobalInfoSeverity()
{
    return g_global.load(std::memory_order_relaxed);
}

void LogModule::SetInfoSeverity(int outputs, int severity)
{
    std::lock_guard guard(control().mutex);
    for (int slot = 0; slot < SlotCount; ++slot)
        if (outputs & kSlotOutput[slot])
            g_severity[slot].store(severity, std::memory_order_relaxed);
    recomputeThreshold();
}

int LogModule::GetInfoSeverity(int output)
{
    for (int slot = 0; slot < SlotCount; ++slot)
        if (output & kSlotOutput[slot])
            return g_severity[slot].load(std::memory_order_relaxed);
    return DISABLED;
}

bool LogModule::WouldLog(LogEntryType type, int severity)
{
    return anyOutputTakes(type, severity);
}

void LogModule::_LOG(LogEntryType type, const char* file, int line, int severity, const char* format, ...)
{
    if (!anyOutputTakes(type, severity))
        return;
    va_list args;
    va_start(args, format);
    LogV(type, file, line, severity, nullptr, format, args);
    va_end(args);
}

void LogModule::LogV(LogEntryType type, const char*, int, int severity, const char* name, const char* format,
                     va_list args)
{
    // Checked here as well, so that a line nobody takes costs no more than
    // the check.
    if (!anyOutputTakes(type, severity))
        return;
    emitLine(type, severity, name, nullptr, [&](detail::LineBuffer& text) { detail::appendText(text, format, args); });
}

void LogModule::LogUtf16(LogEntryType type, const char*, int, int severity, const char* name,
                         const char* subName, const char16_t* text, std::size_t length)
{
    emitLine(type, severity, name, subName,
             [&](detail::LineBuffer& line) { detail::appendUtf16(line, text, length); });
}

void LogModule::LogFileUserdata(const char* text)
{
    control().file.setUserData(orEmpty(text));
}

void LogModule::LogFileHistoryPath(const char* path)
{
    control().file.setHistoryFolder(detail::LogFile::absolutePath(orEmpty(path)));
}

void LogModule::LogFileMode(int mode)
{
    control().file.setMode(mode);
}

int LogModule::GetLogFileMode()
{
    return control().file.mode();
}

void LogModule::LogFileDeleteMode(int mode)
{
    control().file.setDeleteMode(mode);
}

int LogModule::GetLogFileDeleteMode()
{
    return control().file.deleteMode();
}

void LogModule::LogFileHistoryMaxBytes(unsigned long long bytes)
{
    control().file.setHistoryMaxBytes(std::uint64_t(bytes));
}

unsigned long long LogModule::GetLogFileHistoryMaxBytes()
{
    return control().file.historyMaxBytes();
}

bool LogModule::LogFileEnableAsyncWriting(int bufferSize, int batchLines)
{
    if (bufferSize <= 0)
        return false;
    Control& c = control();
    std::lock_guard guard(c.mutex);
    installExitHandler(c);
    return c.writer.start(std::size_t(bufferSize), std::max(batchLines, 1));
}

bool LogModule::IsAsyncWriting()
{
    return control().writer.active();
}

void LogModule::LogFileFlush(bool on)
{
    control().file.setFlush(on);
}

void LogModule::setLogWarning(int percent)
{
    control().writer.setWarning(percent);
}

int LogModule::getLogWarning()
{
    return control().writer.warning();
}

void LogModule::LogFileBufferSize(int bytes)
{
    control().file.setBufferSize(bytes);
}

void LogModule::LogFilePrepareStop()
{
    Control& c = control();
    std::lock_guard guard(c.mutex);
    c.writer.drain();
    c.file.flush();
}

void LogModule::EnableThreadID(bool on, bool withName)
{
    detail::g_logLayout.threadId.store(on, std::memory_order_relaxed);
    detail::g_logLayout.threadName.store(withName, std::memory_order_relaxed);
}

bool LogModule::ThreadIDEnabled()
{
    return detail::g_logLayout.threadId.load(std::memory_order_relaxed);
}

void LogModule::SetNameMinSize(int size)
{
    detail::g_logLayout.nameMinSize.store(std::clamp(size, 0, kMaxNameMinSize), std::memory_order_relaxed);
}

int LogModule::GetNameMinSize()
{
    return detail::g_logLayout.nameMinSize.load(std::memory_order_relaxed);
}

void LogModule::SetNameDotted(bool on)
{
    detail::g_logLayout.nameDotted.store(on, std::memory_order_relaxed);
}

bool LogModule::GetNameDotted()
{
    return detail::g_logLayout.nameDotted.load(std::memory_order_relaxed);
}

void LogModule::SetNameSeparated(bool on)
{
    detail::g_logLayout.nameSeparated.store(on, std::memory_order_relaxed);
}

bool LogModule::GetNameSeparated()
{
    return detail::g_logLayout.nameSeparated.load(std::memory_order_relaxed);
}

void LogModule::EnableTime(bool on)
{
    detail::g_logLayout.time.store(on, std::memory_order_relaxed);
}

bool LogModule::TimeEnabled()
{
    return detail::g_logLayout.time.load(std::memory_order_relaxed);
}

void LogModule::EnableType(bool on)
{
    detail::g_logLayout.type.store(on, std::memory_order_relaxed);
}

bool LogModule::TypeEnabled()
{
    return detail::g_logLayout.type.load(std::memory_order_relaxed);
}

} // namespace Kor
