#pragma once

namespace Kor {

// A line reaches an output when its severity is at least the output's
// severity and the global one. DISABLED (or any higher value) as an output's
// or the global severity silences it, ALWAYS lines included.
enum LogSeverity {
    TRACE = 0,
    DEBUG = 1,
    INFO = 2,
    ALWAYS = 3,
    DISABLED = 4,
};

// What kind of line it is; shown as the line's type mark.
enum LogEntryType {
    LOG_INFO = 1,    // "I"
    LOG_WARNING = 2, // "W"
    LOG_ERROR = 3,   // "E"
    LOG_DETAIL = 4,  // "D"
};

} // namespace Kor
