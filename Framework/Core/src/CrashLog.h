#pragma once

#include "KorCoreExport.h"

#include <exception>

namespace Kor::NS {

// For a host's last-resort handler: appends a short crash log for the given
// exception to "<program>.Crash.<yyyy-MM-dd HHmmss.zzz>.log" in the current
// directory. Neither ends the process nor rethrows; a file that cannot be
// opened is skipped.
KORCORE_EXPORT void logUncaughtExceptionBeforeCrash(std::exception_ptr exception);

} // namespace Kor::NS
