#pragma once

// The wall clock of log lines: read for every line, so it takes the cheapest
// clock that is still exact to the millisecond.

#include <cstdint>

// Exported from libVarnet, which holds the one copy of this layer.
#pragma GCC visibility push(default)

namespace Kor::Platform {

// Milliseconds since 1970-01-01 UTC.
std::int64_t wallClockMs();
// Calendar fields of a time in the local zone, as the TZ variable names it
// at the time of the call (a change of TZ is seen at once).
struct LocalTime
{
    int year = 0;
    int month = 0; // 1 to 12
    int day = 0;   // 1 to 31
    int hour = 0;
    int minute = 0;
    int second = 0;
};
// false when the system cannot convert the time.
bool localTime(std::int64_t secondsSinceEpoch, LocalTime& out);
// Whether wallClockMs() reads the coarse clock; decided once, when the
// library is loaded.
bool wallClockIsCoarse();
// The rule behind that choice: a coarse clock whose resolution is known and
// 1 ms or finer.
bool coarseClockSuffices(bool resolutionKnown, std::int64_t resolutionNs);

} // namespace Kor::Platform

#pragma GCC visibility pop
