#pragma once

// Internal helpers shared by the application and the set-up record.

#include <QString>

namespace Kor::NS {

// Logs and creates a configured directory; on failure logs the fatal line and
// asks the application to exit with 1001.
void ensureConfiguredPath(QString path);

// QCoreApplication::exit() does nothing before the event loop runs, so an exit
// asked for during start-up is remembered and handed to the loop once it starts.
void requestApplicationExit(int code);
// Queues the remembered exit, if any, into the event loop about to start.
void deliverPendingExit();

} // namespace Kor::NS
