#pragma once

#include "LogTypes.h"
#include "VarnetExport.h"

#include <cstdarg>
#include <cstddef>

namespace Kor {

// The process-wide log module: formats lines and writes them to up to four
// outputs. All functions may be called from any thread at any time, also
// while other threads log and during process exit; a line that was accepted
// is never lost while its outputs can be written, and lines are never torn or
// mixed.
//
// A line reads
//     2024/03/05 14:07:09,042 I [12345 worker] LoggerName  text
// with the local time (EnableTime), the entry type's mark I, W, E or D
// (EnableType), the thread id and name (EnableThreadID) and the logger name
// (SetNameMinSize, SetNameDotted, SetNameSeparated); columns that are off are
// left out, so with all of them off the line is the bare text. The line ends
// with a line feed unless the text ends with one; it is never cut short.
//
// When the log file cannot be opened or written (a full disk, a folder that
// is missing, a read-only file system), the module says so once on standard
// output and counts the lines that cannot reach the file; the next line a
// second later (or the first one after Enable(LogFile, true)) tries the file
// again. Once it is open again, the file's first line after the user data
// reads "Log file <path> reopened; <n> lines were lost". A write that fails
// part-way is cut back to its last whole line. When standard output cannot be
// written (a pipe whose reader has gone), the console output is switched off
// as by Enable(Console, false), and the log file gets a line saying so (at
// once, or when the file output is next switched on).
class VARNET_EXPORT LogModule
{
public:
    enum Output {
        Console = 2,     // standard output
        DebugWindow = 4, // standard error, only while a debugger is attached
        LogFile = 8,     // <file>.log
        // The three outputs every program has; Journal is left out, so that
        // a mask of them never switches it on by the way.
        AllOutputs = 14,
        // Standard error for the journal of the service manager: every line
        // with its syslog priority "<N>" in front and without the time column.
        // Switched on only by whoever knows standard error is the journal.
        Journal = 16,
        // Stop(): the asynchronous writer thread (its queue is written first).
        AsyncWriter = int(0xF0000000),
    };

    // Starts the module with the given outputs enabled (the others off).
    // file is the log file's path without extension; a relative one is taken
    // against the working directory of this call, so that the file and its
    // history stay there when the program moves on. Enabling the file output
    // (here or with Enable) does not touch the file yet: it is opened by the
    // first line that reaches it, so that Enable(LogFile, false) right after
    // Start keeps a process away from the file altogether. Until the file
    // takes its first line, from the start of the process on (before Start()
    // too), the warnings and errors that the file output, being off, misses
    // although its severity at the time takes them are kept (the first 256; a
    // line then says how many more were dropped). They are written into the
    // file when Enable() switches it on or its first line comes, after the
    // file's first lines and as they were formatted when logged;
    // Stop(LogFile) forgets them and keeps what comes after for the next file. name and description are not used on this platform; the
    // file's first line is the LogFileUserdata text. A second Start()
    // reconfigures the outputs; another file name closes the open file, after
    // the lines still queued for it have been written there.
    static bool Start(int outputs, const char* file, const char* name, const char* description);
    // Stops the outputs in the mask; AsyncWriter drains and ends the writer
    // thread (later lines are written synchronously); LogFile also writes out
    // and closes the file; -1 stops everything, and the next Start counts as
    // a new run (history mode moves the file again). Nothing accepted before
    // is lost.
    static bool Stop(int outputs);
    // Switches outputs on or off, keeping the file open. Switching the file
    // output on lets the next line try the file at once if it failed.
    static bool Enable(int outputs, bool on);
    static bool IsEnabled(int output);

    // A line reaches an output when its severity is at least the global and
    // the output's severity (see LogTypes.h); outputs is a mask.
    static void SetGlobalInfoSeverity(int severity);
    static int GetGlobalInfoSeverity();
    static void SetInfoSeverity(int outputs, int severity);
    // DISABLED for a mask naming no output.
    static int GetInfoSeverity(int output);

    // Whether a line of this type and severity would reach any output now,
    // or be kept for the log file (see Start). One atomic load, no lock. The
    // debugger window counts as enabled also while no debugger is attached
    // (that is looked up once a second at most, when a line is written).
    static bool WouldLog(LogEntryType type, int severity);
    static void _LOG(LogEntryType type, const char* file, int line, int severity, const char* format, ...)
        __attribute__((format(printf, 5, 6)));
    // name may be null or empty: no logger name.
    static void LogV(LogEntryType type, const char* file, int line, int severity, const char* name,
                     const char* format, va_list args);
    // A line whose text is already UTF-16 (a QString's characters): written
    // in the local 8-bit encoding without a printf pass or a copy of the
    // text. The logger name is name, or "name.subName" when both are given;
    // either may be null or empty.
    static void LogUtf16(LogEntryType type, const char* file, int line, int severity, const char* name,
                         const char* subName, const char16_t* text, std::size_t length);

    // Log file
    // Text written as the first line of every log file the module opens or
    // starts, and so also where a run begins in a file appended to.
    static void LogFileUserdata(const char* text);
    // Folder of the history files, created when missing; a relative one is
    // taken against the working directory of this call; empty: the log file's
    // own folder.
    static void LogFileHistoryPath(const char* path);
    // 0: one file, appended to. 1: history mode; the previous file is moved
    // into the history folder, named <name>.<yyyyMMdd-HHmmss>.log after its
    // last change (local time; <name>.<stamp>_1.log and so on when that name
    // is taken), when the file is first opened and when the local date
    // changes between two lines. Other values mean 0.
    static void LogFileMode(int mode);
    static int GetLogFileMode();
    // 0 keeps every history file; n > 0 keeps the n newest of this log (by
    // their last change, not the time in their names, which goes back when
    // the zone or daylight saving time changes), checked whenever a file is
    // moved into the history folder.
    static void LogFileDeleteMode(int mode);
    static int GetLogFileDeleteMode();
    // 0 keeps history files whatever their size; bytes > 0 deletes the
    // oldest history files of this log while all of them together hold
    // more, checked with the delete mode. The newest one always stays. Each
    // deleted file gets a line at the top of the next file.
    static void LogFileHistoryMaxBytes(unsigned long long bytes);
    static unsigned long long GetLogFileHistoryMaxBytes();
    // Hands file lines to one writer thread through a queue of at most
    // bufferSize bytes; a caller whose line does not fit waits, nothing is
    // dropped (a line longer than the whole queue waits for an empty one).
    // batchLines is how many lines the writer takes per write at most
    // (1 if less). Called again, it changes both limits. false for a
    // bufferSize of 0 or less, or when no thread could be started. The
    // writer waits about a millisecond for more lines before it goes to
    // sleep, so that a busy program's lines are written in batches.
    static bool LogFileEnableAsyncWriting(int bufferSize, int batchLines);
    static bool IsAsyncWriting();
    // true: every line (synchronous) or every batch (asynchronous) reaches
    // the kernel at once; false: the file buffer is written when full.
    static void LogFileFlush(bool on);
    // Percentage of the asynchronous queue at which a warning line is
    // written to the file. The queue counts as rising above it again only
    // after it fell below half of it; the warning is said at most once a
    // minute, and the next one tells how often the queue rose meanwhile. A
    // new percentage is said at its first rise. 100 warns when callers start
    // to wait. 0 or less: no warning.
    static void setLogWarning(int percent);
    static int getLogWarning();
    // Size in bytes of the file buffer used without flushing (default 4096,
    // at most 64 MiB); 0 writes every line at once.
    static void LogFileBufferSize(int bytes);
    // Writes what is queued and buffered and flushes the file, so that a
    // following Stop() finds nothing pending.
    static void LogFilePrepareStop();

    // Line layout
    static void EnableThreadID(bool on, bool withName);
    static bool ThreadIDEnabled();
    // Minimum width of the logger name column, 0 to 255 (other values are
    // clamped); longer names are written whole.
    static void SetNameMinSize(int size);
    static int GetNameMinSize();
    // Pad the logger name to its minimum size with dots instead of blanks.
    static void SetNameDotted(bool on);
    static bool GetNameDotted();
    // Enclose the logger name in "<" and ">".
    static void SetNameSeparated(bool on);
    static bool GetNameSeparated();
    static void EnableTime(bool on);
    static bool TimeEnabled();
    static void EnableType(bool on);
    static bool TypeEnabled();
};

} // namespace Kor
