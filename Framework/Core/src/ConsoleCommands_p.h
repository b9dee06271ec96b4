#pragma once

#include "KorCoreExport.h"

#include <QString>

namespace Kor::NS {

// Runs one line typed on the console ("lg3", "ln20", "help", ...; case does
// not matter). Unknown lines are ignored; replies go to the log.
KORCORE_AUTOTEST_EXPORT void runConsoleCommand(const QString& input);

} // namespace Kor::NS
