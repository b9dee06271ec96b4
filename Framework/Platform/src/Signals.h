#pragma once

// Closing and report signals, turned into small records on a self-pipe so
// that the event loop of the main thread can act on them outside the
// handler (SignalRecords reads them). The crash handler (CrashDump.h) shares the dispatcher for the
// report signals; either may be installed first.

#include <atomic>
#include <cstddef>
#include <vector>

// Exported from libVarnet, which holds the one copy of this layer.
#pragma GCC visibility push(default)

namespace Kor::Platform {

enum class SignalKind {
    Other,   // not handled
    Closing, // SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGABRT: the program should quit
    Report,  // SIGILL, SIGFPE, SIGSEGV, SIGBUS: logged when raised by a process
    Reload,  // SIGHUP after useHangupForReload(): re-read the settings, keep running
};

SignalKind signalKind(int signalNumber);
// "SIGINT", "SIGSEGV", ... for the handled signals, nullptr for all others.
const char* signalName(int signalNumber);

// Installs the handlers for the closing and report signals and creates the
// pipe. A closing signal is handled once; the next one of the same number
// takes the default action. Returns true when already installed.
bool installSignalHandlers();
bool signalHandlersInstalled();

// From now on SIGHUP asks for a reload instead of closing the program: its
// records still come through the pipe, it no longer sets the quit flag, and
// every further one is handled the same way (no reset to the default action).
// Installs the handlers first when they are not yet; false when that fails.
bool useHangupForReload();

// A closing signal also sets *flag, in the handler itself, so that code
// polling it learns of the signal before the event loop runs. The flag must
// live as long as the handlers may run; nullptr stops the setting.
void setQuitFlag(std::atomic<bool>* flag);

// While a service dispatcher runs, SIGTERM is the service manager's stop
// control and no closing signal: its records go to a pipe of their own
// (SignalPipe::StopControl), and the quit flag is left alone. False when the
// pipe could not be made.
bool routeStopControl(bool on);

// SIGABRT closes the program but never leaves it running: the handler writes
// the crash dump where one is asked for, and the process ends by the signal
// a moment later even when nobody reads the record (a hung main loop).
// After logging the closing line, call endBySignal() for such a signal.
bool closingSignalEndsProcess(int signalNumber);
// Ends the process by the signal's default action; does not return.
[[noreturn]] void endBySignal(int signalNumber);

// For threads the library starts: keeps the signals an operator sends to the
// process (SIGINT, SIGTERM, SIGHUP, SIGQUIT) away from the calling thread.
// The kernel then hands them to a thread that acts on them at once; a worker
// parked in a wait would otherwise receive them, and a sanitizer runtime that
// defers handlers until its thread wakes would hold them indefinitely.
void keepOperatorSignalsAway();

// Writes to a pipe or socket whose reader has gone fail with EPIPE instead
// of ending the process.
void ignoreBrokenPipe();

// The pipes the handlers write their records to.
enum class SignalPipe {
    Signals,     // the closing, reload and raised report signals
    StopControl, // SIGTERM while routeStopControl() is on
};

// The one reader of a record pipe: reads what waits without blocking and
// decodes it.
class SignalRecords
{
public:
    explicit SignalRecords(SignalPipe pipe) : m_pipe(pipe) {}

    // Read end to watch for readability; -1 while the pipe does not exist
    // (before installSignalHandlers(), or the first routeStopControl()).
    int fd() const;
    // The signals of the whole records waiting, oldest first; bytes that
    // are not a record are dropped.
    std::vector<int> take();

private:
    SignalPipe m_pipe;
};

inline constexpr int signalRecordSize = 4;
// Decodes one record; false for bytes that are not a record.
bool decodeSignalRecord(const unsigned char* record, int size, int* signalNumber);

} // namespace Kor::Platform

#pragma GCC visibility pop
