#pragma once

// Crash dumps for genuine faults (SIGSEGV, SIGBUS, SIGILL, SIGFPE raised by
// the hardware, not by kill or raise). The report is a text file beside the
// executable, written with async-signal-safe calls only; afterwards the
// fault takes its course and the process ends by the signal.

#include <cstdint>
#include <memory>
#include <string>

// Exported from libVarnet, which holds the one copy of this layer.
#pragma GCC visibility push(default)

namespace Kor::Platform {

// Returns true when the handler is in place, also when it already was.
// False when the alternate signal stack or sigaction could not be set up.
bool installCrashHandler();
// False when no crash handler was installed. The report signals keep the
// dispatcher when the signal handlers need it, otherwise their previous
// disposition comes back.
bool uninstallCrashHandler();
bool crashHandlerInstalled();
// Where the installed handler writes its dumps: the executable's folder, or
// the working directory (as it was at installation) when the executable's
// folder cannot be written. Empty before installation.
std::string crashDumpFolder();

// Gives the calling thread its own alternate signal stack (with a guard page
// below it), so that a stack overflow on the thread still reaches the crash
// handler. Every thread the libraries start calls this first, whether or not
// the handler is installed yet. A stack already in place, ours or one a
// sanitizer set, is kept, so repeated calls are cheap. The stack is freed
// when the thread ends. False when none could be set up.
bool prepareThreadForCrashDump();

// The running executable, from /proc/self/exe; empty when unreadable.
std::string executablePath();
// "<path without a trailing .exe>." - the dump name continues with the time.
std::string crashDumpPrefix(const std::string& executablePath);
// Writes "%Y-%m-%d_%H-%M-%S" for seconds since 1970 in local time (the UTC
// offset already added) plus a terminating zero: 20 bytes. Safe in a signal
// handler. Returns the length written without the zero, 0 if size is short.
int formatDumpTime(std::int64_t localSeconds, char* out, int size);

// The local zone's UTC offsets over a span of time, so that the handler can
// name a dump in local time without the C library's zone code, which locks
// and may read files. Not changed once built.
struct UtcOffsetTable
{
    struct Change
    {
        std::int64_t from;   // seconds since 1970 (UTC) from which offset holds
        std::int32_t offset; // seconds east of UTC
    };
    static constexpr int capacity = 64;
    Change changes[capacity] = {};
    int count = 0;
};

// Reads the zone setting afresh, samples the offset once a day for a little
// over a year from startUtc and finds each change to the second. Null when
// the local time cannot be worked out.
std::unique_ptr<UtcOffsetTable> buildUtcOffsetTable(std::int64_t startUtc);
// utcSeconds plus the offset that holds then; before the table's start the
// first offset, after its end the last. Safe in a signal handler.
std::int64_t localSecondsAt(const UtcOffsetTable& table, std::int64_t utcSeconds);
// Rebuilds the table the installed handler names its dumps with, from now
// on. For a normal thread, about once a day, so that the table always
// reaches a year ahead. Does nothing while no handler is installed.
void refreshDumpClock();

} // namespace Kor::Platform

#pragma GCC visibility pop
