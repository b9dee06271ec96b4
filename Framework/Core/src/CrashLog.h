#pragma once

#include "KorCoreExport.h"

#include <exception>

namespace Kor::NS {

// For a host's last-resort handler: appends a short crash log for the given
// exception to "<program>.Crash.<yyyy-MM-dd HHmmss.zzz>.log" in the current
// directory. Neither ends the process nor rethrows; a file that cannot be
// opened is skipped.
KORCORE_EXPORT void logUncaughtExceptionBeforeCrash(std::exception_ptr exception);

// A crash dump of a stack overflow needs a spare signal stack on the thread
// that overflows. Threads the library starts (Kor::Thread and its message
// threads, the timer, log and console threads) and the main thread of a
// running Application have one.
// A host's own threads call this once, first thing in the thread function:
// in QThread::run() or in the function given to std::thread, before any real
// work; it may be called before or after the crash dump option is handled.
// The stack belongs to the calling thread and is freed when it ends; a
// second call, or one on a thread that already has a stack, does nothing.
// False when no stack could be set up: the thread runs on, but a stack
// overflow on it ends the process without a dump.
KORCORE_EXPORT bool prepareThreadForCrashDump();

} // namespace Kor::NS
