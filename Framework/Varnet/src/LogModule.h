#pragma once

#include "LogTypes.h"
#include "VarnetExport.h"

#include <cstdarg>

namespace Kor {

// The process-wide log module: formats lines and writes them to up to three
// outputs. All functions may be called from any thread at any time.
//
// A line reads
//     2024/03/05 14:07:09,042 I [12345 worker] LoggerName  text
// with the time (EnableTime), the entry type's mark (EnableType), the thread
// id and name (EnableThreadID) and the logger name (SetNameMinSize,
// SetNameDotted, SetNameSeparated); columns that are off are left out.
class VARNET_EXPORT LogModule
{
public:
    enum Output {
        Console = 2,     // standard output
        DebugWindow = 4, // standard error, only while a debugger is attached
        LogFile = 8,     // <file>.log
        AllOutputs = 14,
        // Stop(): the asynchronous writer thread (its queue is written first).
        AsyncWriter = int(0xF0000000),
    };

    // Starts the module with the given outputs enabled. file is the log file's
    // path without extension; the file is opened only when the file output is
    // first enabled. name and description identify the program in the file's
    // header. A second Start() reconfigures outputs and file name.
    static bool Start(int outputs, const char* file, const char* name, const char* description);
    // Stops the outputs in the mask; AsyncWriter drains and ends the writer
    // thread (later lines are written synchronously); -1 stops everything and
    // closes the file. Nothing accepted before is lost.
    static bool Stop(int outputs);
    static bool Enable(int outputs, bool on);
    static bool IsEnabled(int output);

    static void SetGlobalInfoSeverity(int severity);
    static int GetGlobalInfoSeverity();
    static void SetInfoSeverity(int outputs, int severity);
    static int GetInfoSeverity(int output);

    // Whether a line of this type and severity would reach any output now.
    // A few atomic loads, no lock.
    static bool WouldLog(LogEntryType type, int severity);
    static void _LOG(LogEntryType type, const char* file, int line, int severity, const char* format, ...)
        __attribute__((format(printf, 5, 6)));
    // name may be null or empty: no logger name.
    static void LogV(LogEntryType type, const char* file, int line, int severity, const char* name,
                     const char* format, va_list args);

    // Log file
    // Text written as the first line of every new log file.
    static void LogFileUserdata(const char* text);
    // Folder of the history files; empty: the log file's own folder.
    static void LogFileHistoryPath(const char* path);
    // 0: one file, appended to. 1: history mode; the previous file is moved
    // into the history folder, named <name>.<yyyyMMdd-HHmmss>.log after its
    // last change, when the file is first opened and when the date changes.
    static void LogFileMode(int mode);
    static int GetLogFileMode();
    // 0 keeps every history file; n > 0 keeps the n newest.
    static void LogFileDeleteMode(int mode);
    // Hands file lines to one writer thread through a queue of at most
    // bufferSize bytes; a caller whose line does not fit waits, nothing is
    // dropped. batchLines is how many lines the writer takes per write.
    static bool LogFileEnableAsyncWriting(int bufferSize, int batchLines);
    static bool IsAsyncWriting();
    // true: every line (synchronous) or every batch (asynchronous) reaches
    // the kernel at once; false: the file buffer is written when full.
    static void LogFileFlush(bool on);
    // Percentage of the asynchronous queue at which one warning line is
    // written to the file; repeated only after the queue fell below half of
    // it. 100 warns when callers start to wait. 0 or less: no warning.
    static void setLogWarning(int percent);
    static int getLogWarning();
    // Size in bytes of the file buffer used without flushing.
    static void LogFileBufferSize(int bytes);
    // Writes what is queued and buffered and flushes the file, so that a
    // following Stop() finds nothing pending.
    static void LogFilePrepareStop();

    // Line layout
    static void EnableThreadID(bool on, bool withName);
    static bool ThreadIDEnabled();
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
