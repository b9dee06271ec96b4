#pragma once

// Internal: the library's own log lines.

#include "LogMessage.h"

namespace Kor::NS {

// A line on the current thread's log object with an empty logger name.
inline LogMessage coreLog(Kor::LogSeverity severity, Kor::LogEntryType type)
{
    static const Kor::String emptyName;
    return LogMessage(currentThreadLogObject(), emptyName, severity, type);
}

// A line straight to the log module, with no log object.
inline LogMessage moduleLog(Kor::LogSeverity severity, Kor::LogEntryType type)
{
    static const Kor::String emptyName;
    return LogMessage(nullptr, emptyName, severity, type);
}

} // namespace Kor::NS
