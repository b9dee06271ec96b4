#pragma once

#include "KorCoreExport.h"

#include <QString>

namespace Kor::NS {

class LogSettings;

// Runs one line typed on the console ("lg3", "ln20", "help", ...; case does
// not matter). Unknown lines are ignored; replies go to the log. What a
// command changes it changes in inForce too, so that a reload compares with it.
KORCORE_AUTOTEST_EXPORT void runConsoleCommand(const QString& input, LogSettings& inForce);

} // namespace Kor::NS
