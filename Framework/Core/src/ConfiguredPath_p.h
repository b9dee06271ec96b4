#pragma once

// Internal helpers shared by the application and the set-up record.

#include <QString>

namespace Kor::NS {

// Logs and creates a configured directory; on failure logs the fatal line and
// asks the application to exit with 1001.
void ensureConfiguredPath(QString path);

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
