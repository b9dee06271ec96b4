#pragma once

// Closing and report signals, turned into small records on a self-pipe so
// that the event loop of the main thread can act on them outside the
// handler. The crash handler (CrashDump.h) shares the dispatcher for the
// report signals; either may be installed first.

#include <atomic>
#include <cstddef>

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

// Read end of the pipe (non-blocking), -1 before installSignalHandlers().
int signalPipeReadFd();
// Reads what is in the pipe without blocking: bytes read, 0 for none, -1 on
// error or before installation. Records are never split between reads when
// max is a multiple of signalRecordSize.
int readSignalPipe(unsigned char* out, int max);

// A closing signal also sets *flag, in the handler itself, so that code
// polling it learns of the signal before the event loop runs. The flag must
// live as long as the handlers may run; nullptr stops the setting.
void setQuitFlag(std::atomic<bool>* flag);

// While a service dispatcher runs, SIGTERM is the service manager's stop
// control and no closing signal: its records go to a pipe of their own (read
// with readStopControl, which works as readSignalPipe), and the quit flag is
// left alone. False when the pipe could not be made.
bool routeStopControl(bool on);
int stopControlReadFd();
int readStopControl(unsigned char* out, int max);

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

inline constexpr int signalRecordSize = 4;
// Decodes one record; false for bytes that are not a record.
bool decodeSignalRecord(const unsigned char* record, int size, int* signalNumber);

} // namespace Kor::Platform

#pragma GCC visibility pop
