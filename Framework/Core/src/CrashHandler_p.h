#pragma once

// Crash dumps on request (command-line option); internal to the library.

#include "KorCoreExport.h"

namespace Kor::NS {

// Installs the crash handler once; true also when it was already installed.
KORCORE_AUTOTEST_EXPORT bool installCrashHandler();
// Removes it again; false when there was nothing to remove.
KORCORE_AUTOTEST_EXPORT bool uninstallCrashHandler();

} // namespace Kor::NS
