#pragma once

// Internal: how the values of the "Loglevel" keys read, the same at the
// start and at every reload.

#include "KorCoreExport.h"

#include <Kor/LogTypes.h>

#include <QVariant>

#include <optional>

namespace Kor::NS {

// TRACE, DEBUG, INFO or ALWAYS; DISABLED for anything else. Hosts find it
// in Application.h.
KORCORE_EXPORT QString severityName(int severity);

// A severity's name in any case, or its number 0 to 4; nothing otherwise.
KORCORE_AUTOTEST_EXPORT std::optional<Kor::LogSeverity> parseLogSeverity(const QVariant& value);

// An on/off key: true/false, on/off, yes/no in any case, or a whole number
// (0 is off); nothing otherwise.
KORCORE_AUTOTEST_EXPORT std::optional<bool> parseLogSwitch(const QVariant& value);

} // namespace Kor::NS
