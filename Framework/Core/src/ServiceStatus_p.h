#pragma once

// Internal: the status record a service reports, and how each report fills
// it and turns into a datagram for the service manager.

#include "KorCoreExport.h"

#include <cstdint>
#include <string>

namespace Kor::NS {

enum ServiceStateValue : unsigned long {
    SERVICE_STOPPED = 1,
    SERVICE_START_PENDING = 2,
    SERVICE_STOP_PENDING = 3,
    SERVICE_RUNNING = 4,
};

struct ServiceStatus
{
    unsigned long serviceType = 0;
    unsigned long currentState = 0;
    unsigned long controlsAccepted = 0;
    unsigned long win32ExitCode = 0;
    unsigned long serviceSpecificExitCode = 0;
    unsigned long checkPoint = 0;
    unsigned long waitHint = 0;
};

// Stop and shutdown together, the controls accepted outside a start.
inline constexpr unsigned long SERVICE_ACCEPT_STOP_AND_SHUTDOWN = 5;

// One report of state: no controls are accepted while the start is pending;
// running and stopped carry check point 0, every other state the counter's
// value, after which the counter counts on (it is never reset).
KORCORE_AUTOTEST_EXPORT void updateServiceStatus(ServiceStatus& status, unsigned long& checkPointCounter,
                                                 unsigned long state, unsigned long exitCode,
                                                 unsigned long waitHint);
// The datagram that tells the service manager of the record, with the
// STATUS= text an operator reads: "starting" (and EXTEND_TIMEOUT_USEC= from
// the wait hint), READY=1 and "running since <runningSince>, pid <pid>",
// STOPPING=1 and "stopping", and the exit code when stopped.
KORCORE_AUTOTEST_EXPORT std::string serviceStatusMessage(const ServiceStatus& status, std::int64_t pid,
                                                         const std::string& runningSince);

} // namespace Kor::NS
