#include "PlatformClock.h"

#include <time.h>

namespace Kor::Platform {

namespace {

constexpr std::int64_t kNsPerMs = 1000000;

clockid_t chooseWallClock()
{
    timespec resolution{};
    const bool known = ::clock_getres(CLOCK_REALTIME_COARSE, &resolution) == 0;
    const std::int64_t ns = std::int64_t(resolution.tv_sec) * 1000 * kNsPerMs + resolution.tv_nsec;
    return coarseClockSuffices(known, ns) ? CLOCK_REALTIME_COARSE : CLOCK_REALTIME;
}

// A line logged by a static constructor that runs before this one finds the
// zero of static storage, which is the precise clock.
static_assert(CLOCK_REALTIME == 0);
const clockid_t g_wallClock = chooseWallClock();

} // namespace

bool coarseClockSuffices(bool resolutionKnown, std::int64_t resolutionNs)
{
    return resolutionKnown && resolutionNs > 0 && resolutionNs <= kNsPerMs;
}

std::int64_t wallClockMs()
{
    timespec now{};
    ::clock_gettime(g_wallClock, &now);
    return std::int64_t(now.tv_sec) * 1000 + now.tv_nsec / kNsPerMs;
}

bool localTime(std::int64_t secondsSinceEpoch, LocalTime& out)
{
    // localtime_r() alone keeps the zone it read first; tzset() reads TZ
    // again, and costs a comparison when it did not change.
    ::tzset();
    const time_t seconds = time_t(secondsSinceEpoch);
    tm fields{};
    if (!::localtime_r(&seconds, &fields))
        return false;
    out.year = fields.tm_year + 1900;
    out.month = fields.tm_mon + 1;
    out.day = fields.tm_mday;
    out.hour = fields.tm_hour;
    out.minute = fields.tm_min;
    out.second = fields.tm_sec;
    return true;
}

bool wallClockIsCoarse()
{
    return g_wallClock == CLOCK_REALTIME_COARSE;
}

} // namespace Kor::Platform
