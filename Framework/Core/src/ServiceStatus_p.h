#pragma once

// Internal: the status record a service reports, and the small state machine
// that decides which report becomes a datagram for the service manager.

#include "KorCoreExport.h"
#include "ServiceManager.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace Kor::NS {

// The states by the numbers the records, the commands and their log lines
// use: the platform's mapping of the manager's states is the one source.
enum ServiceStateValue : unsigned long {
    SERVICE_STOPPED = static_cast<unsigned long>(Platform::ServiceState::Stopped),
    SERVICE_START_PENDING = static_cast<unsigned long>(Platform::ServiceState::StartPending),
    SERVICE_STOP_PENDING = static_cast<unsigned long>(Platform::ServiceState::StopPending),
    SERVICE_RUNNING = static_cast<unsigned long>(Platform::ServiceState::Running),
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

// The service's life as the manager must see it. The record changes on every
// report, but a datagram goes out only where it tells the manager something
// true and new:
//  - the running state is reached inside; READY=1 waits for ready(), which
//    the program calls once it really serves, and goes out once per start;
//  - STOPPING=1 once per stop, however many stop reports come; a stop
//    report also keeps the start from going on;
//  - RELOADING=1 only while ready and not stopping, and READY=1 ends it;
//  - nothing at all after the stopped report.
// A stop that comes before the start keeps the start from reaching the
// running state. All of it under one lock; waiters wake on every change.
class KORCORE_AUTOTEST_EXPORT ServiceRuntime
{
public:
    // Sends one datagram; false with error set when it could not be sent.
    using Sender = std::function<bool(const std::string& message, int& error)>;
    using Clock = std::function<std::string()>; // local time of the running state, for the status text

    ServiceRuntime(Sender sender, std::int64_t pid, Clock clock);

    // The manager listens: reports have somewhere to go.
    void setRegistered(bool registered);
    bool registered() const;

    // Records the state and sends what the rules above allow; the running
    // state itself is entered with enterRunning(). Returns the
    // send's result (true when nothing was to be sent); error is the errno of
    // a failed send.
    bool report(unsigned long state, unsigned long exitCode, unsigned long waitHint, int& error);
    // The running state, unless a stop came first: returns whether it was
    // reached. Sends nothing; READY=1 waits for ready().
    bool enterRunning();
    // The program serves: READY=1 if it is due. True when it went out.
    bool ready(int& error);
    bool reloading(std::uint64_t monotonicUs, int& error);
    bool reloaded(int& error);
    bool alive(int& error);

    // The dispatcher has ended: nobody will start the service any more.
    void dispatcherEnded();

    // Blocks until the running state was reached, a stop was requested or
    // the dispatcher ended.
    void waitForStart();
    // Blocks until the stopped report has gone or the dispatcher ended.
    void waitForEnd();

    bool started() const;
    bool stopped() const;

private:
    bool sendLocked(const std::string& message, int& error);

    const Sender m_sender;
    const std::int64_t m_pid;
    const Clock m_clock;

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    ServiceStatus m_status;          // under m_lock
    unsigned long m_checkPoint = 1;  // under m_lock; never reset
    std::string m_runningSince;      // under m_lock
    bool m_registered = false;       // under m_lock
    bool m_started = false;          // under m_lock: running reached, no stop since
    bool m_stopped = true;           // under m_lock: reported stopped, or never started
    bool m_stopRequested = false;    // under m_lock
    bool m_readySent = false;        // under m_lock: READY=1 went out for this start
    bool m_reloadOpen = false;       // under m_lock: RELOADING=1 awaits its READY=1
    bool m_finalSent = false;        // under m_lock: the stopped report went
    bool m_dispatcherEnded = false;  // under m_lock
};

// Called on the service-main thread before it registers; nullptr for none.
KORCORE_AUTOTEST_EXPORT void setServiceStartHoldForTest(void (*hold)());

} // namespace Kor::NS
