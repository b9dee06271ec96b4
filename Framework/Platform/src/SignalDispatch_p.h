#pragma once

// Shared between Signals_linux.cpp and CrashDump_linux.cpp: both roles
// use one dispatcher for the report signals, so neither replaces the other.

#include <csignal>

namespace Kor::Platform::detail {

enum Role : int {
    SignalRole = 1, // report raised signals through the pipe
    CrashRole = 2,  // write a dump on genuine faults
};

// Puts the dispatcher on SIGILL, SIGFPE, SIGSEGV, SIGBUS for role; the
// disposition found the first time is kept for chaining and restoring.
bool claimReportSignals(int role);
// Drops role; when no role is left, the kept disposition comes back.
void releaseReportSignals(int role);
// An alternate stack for the calling thread, so that a stack overflow can
// still be reported: prepareThreadForCrashDump() of CrashDump.h.
bool ensureAlternateStack();

// Called by the dispatcher for a genuine fault.
void writeCrashDumpIfEnabled(int signalNumber, siginfo_t* info, void* context);

} // namespace Kor::Platform::detail
