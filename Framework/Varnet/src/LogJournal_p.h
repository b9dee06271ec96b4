#pragma once

// Private to the log module: the journal output, standard error with the
// syslog priority in front of every line, as the journal reads it from a
// service's standard error. The journal keeps its own time stamps, so the
// time column is left out; the other columns stay as in the log file.

#include "LogTypes.h"
#include "VarnetExport.h"

#include <cstddef>
#include <string>

namespace Kor::detail {

// The syslog priority of a line: TRACE and DEBUG 7 (debug), INFO 6 (info),
// ALWAYS 5 (notice); a warning is at least 4, an error at least 3.
VARNET_EXPORT int journalPriority(LogEntryType type, int severity);

// Appends one formatted entry (whole lines) to out as the journal gets it:
// "<priority>" before each of its lines, the first skip bytes (the time
// column) left out.
VARNET_EXPORT void appendJournalEntry(std::string& out, const char* entry, std::size_t size, std::size_t skip,
                                      int priority);

// Bytes of the time column at the start of a formatted line, 0 while the
// column is off.
std::size_t timeColumnSize();

} // namespace Kor::detail
