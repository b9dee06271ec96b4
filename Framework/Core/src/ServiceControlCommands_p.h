#pragma once

// Internal: pieces of the service commands that tests reach directly.

#include "KorCoreExport.h"

#include <QString>
#include <QStringList>

namespace Kor::NS {

// The name the status command shows for a service state number:
// SERVICE_STOPPED ... SERVICE_PAUSED, "UNKNOWN (0x%08X)" for any other.
KORCORE_AUTOTEST_EXPORT QString serviceStateName(unsigned long state);

// The registered dependency list as service names, see the definition.
KORCORE_AUTOTEST_EXPORT QStringList serviceDependencyNames(const QString& dependencies);

} // namespace Kor::NS
