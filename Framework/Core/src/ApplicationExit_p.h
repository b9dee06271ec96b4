#pragma once

// How the program ends, and with which codes; for every part of the library.

namespace Kor::NS {

// The program's exit codes besides 0 and the ones a host chooses.
namespace ExitCode {
// A service command (-install, -start, ...) did not do what was asked.
inline constexpr int CommandFailed = 1;
// Another instance holds the PID file; the shell sees 255.
inline constexpr int InstanceRefused = -1;
// A configured folder does not exist and could not be created.
inline constexpr int ConfiguredPathMissing = 1001;
// A ThreadContext timer could not be started, or an unknown one was stopped.
inline constexpr int TimerNotStarted = 1002;
inline constexpr int UnknownTimer = 1003;
} // namespace ExitCode

// Ends the main event loop with code, from any thread, before or while the
// loop runs: QCoreApplication::exit() does nothing before the loop runs and
// must not be called from other threads.
void requestApplicationExit(int code);
// An exit was asked for since the process started.
bool applicationExitRequested();
// Main thread, as the loop is about to start: queues an exit that was
// delivered while events were processed outside the loop, if any.
void deliverPendingExit();

} // namespace Kor::NS
