#pragma once

// Internal helpers shared by the application and the set-up record.

#include <QString>

namespace Kor::NS {

// Logs and creates a configured directory; on failure logs the fatal line and
// asks the application to exit with ExitCode::ConfiguredPathMissing.
void ensureConfiguredPath(QString path);

} // namespace Kor::NS
