#include "ServiceStatus_p.h"

#include "ServiceManager.h"

namespace Kor::NS {

void updateServiceStatus(ServiceStatus& status, unsigned long& checkPointCounter, unsigned long state,
                         unsigned long exitCode, unsigned long waitHint)
{
    status.currentState = state;
    status.win32ExitCode = exitCode;
    status.waitHint = waitHint;
    status.controlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP_AND_SHUTDOWN;
    status.checkPoint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : checkPointCounter++;
}

std::string serviceStatusMessage(const ServiceStatus& status, std::int64_t pid, const std::string& runningSince)
{
    using namespace Platform;
    switch (status.currentState) {
    case SERVICE_START_PENDING:
        if (status.waitHint)
            return notifyMessage({ notifyStatus("starting"),
                                   notifyExtendTimeout(std::uint64_t(status.waitHint) * 1000) });
        return notifyStatus("starting");
    case SERVICE_RUNNING:
        return notifyMessage({ notifyReady,
                               notifyStatus("running since " + runningSince + ", pid " + std::to_string(pid)),
                               notifyMainPid(pid) });
    case SERVICE_STOP_PENDING:
        return notifyMessage({ notifyStopping, notifyStatus("stopping") });
    default:
        return notifyStatus("stopped, exit code " + std::to_string(status.win32ExitCode));
    }
}

ServiceRuntime::ServiceRuntime(Sender sender, std::int64_t pid, Clock clock)
    : m_sender(std::move(sender)), m_pid(pid), m_clock(std::move(clock))
{
}

void ServiceRuntime::setRegistered(bool registered)
{
    std::lock_guard guard(m_lock);
    m_registered = registered;
}

bool ServiceRuntime::registered() const
{
    std::lock_guard guard(m_lock);
    return m_registered;
}

bool ServiceRuntime::sendLocked(const std::string& message, int& error)
{
    error = 0;
    // A report before the manager listens, or after it heard the end, has
    // nobody to go to.
    if (!m_registered || m_finalSent)
        return true;
    return m_sender(message, error);
}

bool ServiceRuntime::report(unsigned long state, unsigned long exitCode, unsigned long waitHint, int& error)
{
    error = 0;
    std::lock_guard guard(m_lock);
    const unsigned long previous = m_status.currentState;
    if (state == SERVICE_RUNNING && previous != SERVICE_RUNNING)
        m_runningSince = m_clock();
    updateServiceStatus(m_status, m_checkPoint, state, exitCode, waitHint);
    bool sent = true;
    switch (state) {
    case SERVICE_RUNNING:
        // READY=1 waits for ready().
        break;
    case SERVICE_STOP_PENDING:
        m_stopRequested = true;
        m_started = false;
        if (previous != SERVICE_STOP_PENDING)
            sent = sendLocked(serviceStatusMessage(m_status, m_pid, m_runningSince), error);
        m_reloadOpen = false;
        break;
    case SERVICE_STOPPED:
        sent = sendLocked(serviceStatusMessage(m_status, m_pid, m_runningSince), error);
        m_finalSent = true;
        m_started = false;
        m_stopped = true;
        break;
    case SERVICE_START_PENDING:
        // A stop that came first has the last word.
        if (!m_stopRequested)
            sent = sendLocked(serviceStatusMessage(m_status, m_pid, m_runningSince), error);
        break;
    default:
        sent = sendLocked(serviceStatusMessage(m_status, m_pid, m_runningSince), error);
        break;
    }
    m_changed.notify_all();
    return sent;
}

bool ServiceRuntime::enterRunning()
{
    std::lock_guard guard(m_lock);
    if (m_stopRequested || m_finalSent)
        return false;
    m_runningSince = m_clock();
    updateServiceStatus(m_status, m_checkPoint, SERVICE_RUNNING, 0, 0);
    m_started = true;
    m_stopped = false;
    m_readySent = false;
    m_changed.notify_all();
    return true;
}

bool ServiceRuntime::ready(int& error)
{
    error = 0;
    std::lock_guard guard(m_lock);
    if (!m_registered || !m_started || m_readySent || m_stopRequested || m_finalSent
        || m_status.currentState != SERVICE_RUNNING)
        return false;
    m_readySent = true;
    return sendLocked(serviceStatusMessage(m_status, m_pid, m_runningSince), error);
}

bool ServiceRuntime::reloading(std::uint64_t monotonicUs, int& error)
{
    error = 0;
    std::lock_guard guard(m_lock);
    if (!m_readySent || m_stopRequested || m_finalSent || m_reloadOpen)
        return true;
    m_reloadOpen = true;
    return sendLocked(Platform::notifyReloading(monotonicUs), error);
}

bool ServiceRuntime::reloaded(int& error)
{
    error = 0;
    std::lock_guard guard(m_lock);
    if (!m_reloadOpen)
        return true;
    m_reloadOpen = false;
    // READY=1 alone: the main PID and the status text stand as reported at
    // the start.
    return sendLocked(std::string(Platform::notifyReady), error);
}

bool ServiceRuntime::alive(int& error)
{
    error = 0;
    std::lock_guard guard(m_lock);
    if (!m_readySent || m_finalSent)
        return true;
    return sendLocked(std::string(Platform::notifyWatchdog), error);
}

void ServiceRuntime::dispatcherEnded()
{
    std::lock_guard guard(m_lock);
    m_dispatcherEnded = true;
    m_changed.notify_all();
}

void ServiceRuntime::waitForStart()
{
    std::unique_lock lock(m_lock);
    m_changed.wait(lock, [this] { return m_started || m_stopRequested || m_finalSent || m_dispatcherEnded; });
}

void ServiceRuntime::waitForEnd()
{
    std::unique_lock lock(m_lock);
    m_changed.wait(lock, [this] { return m_finalSent || m_dispatcherEnded; });
}

bool ServiceRuntime::started() const
{
    std::lock_guard guard(m_lock);
    return m_started;
}

bool ServiceRuntime::stopped() const
{
    std::lock_guard guard(m_lock);
    return m_stopped;
}

} // namespace Kor::NS
