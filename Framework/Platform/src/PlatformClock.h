#pragma once

// The wall clock of log lines: read for every line, so it takes the cheapest
// clock that is still exact to the millisecond.

#include <cstdint>

namespace Kor::Platform {

// Milliseconds since 1970-01-01 UTC.
std::int64_t wallClockMs();
// Whether wallClockMs() reads the coarse clock; decided once, when the
// library is loaded.
bool wallClockIsCoarse();
// The rule behind that choice: a coarse clock whose resolution is known and
// 1 ms or finer.
bool coarseClockSuffices(bool resolutionKnown, std::int64_t resolutionNs);

} // namespace Kor::Platform
