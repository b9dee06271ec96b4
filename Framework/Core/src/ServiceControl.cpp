#include "ServiceControl.h"

#include "Application.h"
#include "CoreLog_p.h"
#include "CrashDump.h"
#include "ServiceManager.h"
#include "ServiceStatus_p.h"
#include "Signals.h"

#include <QDateTime>
#include <QSocketNotifier>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace Kor::NS {

namespace {

// The controls, by the numbers the service manager uses.
enum ServiceControlCode : unsigned long {
    SERVICE_CONTROL_STOP = 1,
    SERVICE_CONTROL_SHUTDOWN = 5,
};
constexpr unsigned long OWN_SHARE_INTERACTIVE_PROCESS = 0x130;
constexpr unsigned long REGISTRATION_FAILED = 0xFFFFFFFF;
// How long the start sequence's loops sleep between two reports of the
// state: 1000 seconds, unless a change of the flags wakes them.
constexpr std::chrono::seconds kReportInterval{1000};

// Reports come from the service-main, dispatcher and main threads.
std::mutex g_statusLock;
ServiceStatus g_srvstatus;       // under g_statusLock
unsigned long g_checkPoint = 1;  // under g_statusLock; never reset
std::string g_runningSince;      // under g_statusLock; local time the running state was first reported
std::atomic<bool> g_hstatus{false}; // the handler is registered: reports have somewhere to go

// Wakes the start sequence's loops when a flag changes.
std::mutex g_flagLock;
std::condition_variable g_flagChanged;

void flagsChanged()
{
    std::lock_guard guard(g_flagLock);
    g_flagChanged.notify_all();
}

unsigned long currentState()
{
    std::lock_guard guard(g_statusLock);
    return g_srvstatus.currentState;
}

void requestQuit()
{
    if (Application* app = Application::instance())
        app->quit();
}

} // namespace

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

ServiceControl* ServiceControl::m_instance = nullptr;

ServiceControl::ServiceControl() : QThread(nullptr)
{
    m_instance = this;
}

ServiceControl::~ServiceControl()
{
    if (!m_stopped)
        stop();
    if (m_instance == this)
        m_instance = nullptr;
}

ServiceControl* ServiceControl::instance()
{
    return m_instance;
}

void ServiceControl::waitForStart()
{
    // A stop that came in between ends the wait too: the start has been and
    // gone, and the program must go on to its orderly end.
    while (!m_started && !m_stopRequested && !isFinished())
        QThread::msleep(100);
}

void ServiceControl::stop()
{
    m_stopped = true;
    flagsChanged();
    SetStatus(SERVICE_STOPPED, 0, 0);
}

void ServiceControl::doServiceStart()
{
    SetStatus(SERVICE_START_PENDING, 0, 0);
    m_started = true;
    m_stopped = false;
    SetStatus(SERVICE_RUNNING, 0, 0);
    // The reports repeat the current state now and then; a change of the
    // flags ends the wait at once, so that the thread is joined promptly.
    // A program that ends without a stop control (stop() only) ends the
    // first loop too.
    std::unique_lock lock(g_flagLock);
    while (m_started && !m_stopped) {
        lock.unlock();
        SetStatus(currentState(), 0, 0);
        lock.lock();
        g_flagChanged.wait_for(lock, kReportInterval, [this] { return !m_started || m_stopped; });
    }
    while (!m_stopped) {
        lock.unlock();
        SetStatus(currentState(), 0, 0);
        lock.lock();
        g_flagChanged.wait_for(lock, kReportInterval, [this] { return bool(m_stopped); });
    }
}

void ServiceControl::doServiceStop()
{
    SetStatus(SERVICE_STOP_PENDING, 0, 0);
    m_stopRequested = true;
    m_started = false;
    flagsChanged();
    requestQuit();
}

void ServiceControl::ServiceMain(unsigned long, wchar_t**)
{
    {
        std::lock_guard guard(g_statusLock);
        g_srvstatus.serviceType = OWN_SHARE_INTERACTIVE_PROCESS;
        g_srvstatus.serviceSpecificExitCode = 0;
    }
    // Registering the handler: the manager listens when it gave us a socket.
    g_hstatus = Platform::notifySocketPresent();
    if (!g_hstatus) {
        SetStatus(SERVICE_STOPPED, REGISTRATION_FAILED, 0);
        return;
    }
    if (m_instance)
        m_instance->doServiceStart();
}

void ServiceControl::ServerControlHandler(unsigned long control)
{
    if (control != SERVICE_CONTROL_STOP && control != SERVICE_CONTROL_SHUTDOWN)
        return;
    if (g_hstatus)
        SetStatus(SERVICE_STOP_PENDING, 0, 0);
    if (m_instance)
        m_instance->doServiceStop();
}

void ServiceControl::run()
{
    Platform::prepareThreadForCrashDump();
    Platform::keepOperatorSignalsAway();
    if (!Platform::notifySocketPresent() || !Platform::routeStopControl(true)) {
        coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << "Couldn't start as service";
        // In service mode the console is off and the log file not open yet:
        // whoever typed -service by hand learns here why the program ends.
        std::fputs("Couldn't start as service (not started by systemd: NOTIFY_SOCKET is not set)\n", stderr);
        requestQuit();
        return;
    }
    // The dispatcher: the service-main sequence on a thread of its own, and
    // the manager's stop control (SIGTERM) received here.
    QSocketNotifier stopControl(Platform::stopControlReadFd(), QSocketNotifier::Read);
    connect(&stopControl, &QSocketNotifier::activated, &stopControl, [] {
        unsigned char records[16 * Platform::signalRecordSize];
        const int n = Platform::readStopControl(records, int(sizeof records));
        for (int offset = 0; offset + Platform::signalRecordSize <= n; offset += Platform::signalRecordSize)
            if (Platform::decodeSignalRecord(records + offset, Platform::signalRecordSize, nullptr))
                ServerControlHandler(SERVICE_CONTROL_STOP);
    });
    std::thread serviceMain([] {
        Platform::prepareThreadForCrashDump();
        Platform::keepOperatorSignalsAway();
        ServiceMain(0, nullptr);
    });
    exec();
    Platform::routeStopControl(false);
    // The run loop quits this thread after stop(), which ends the sequence.
    m_stopped = true;
    flagsChanged();
    serviceMain.join();
}

void ServiceControl::reportReloading()
{
    if (!g_hstatus)
        return;
    int error = 0;
    if (!Platform::sendNotify(Platform::notifyReloading(Platform::monotonicMicroseconds()), error))
        coreLog(Kor::INFO, Kor::LOG_ERROR) << "Reporting the reload failed, error= " << error;
}

void ServiceControl::reportReloaded()
{
    if (!g_hstatus || currentState() != SERVICE_RUNNING)
        return;
    // READY=1 alone: the main PID and the status text stand as reported at
    // the start.
    int error = 0;
    if (!Platform::sendNotify(std::string(Platform::notifyReady), error))
        coreLog(Kor::INFO, Kor::LOG_ERROR) << "Reporting the end of the reload failed, error= " << error;
}

void ServiceControl::reportAlive()
{
    if (!g_hstatus)
        return;
    int error = 0;
    if (!Platform::sendNotify(std::string(Platform::notifyWatchdog), error))
        coreLog(Kor::INFO, Kor::LOG_ERROR) << "Watchdog ping failed, error= " << error;
}

int ServiceControl::SetStatus(unsigned long state, unsigned long exitCode, unsigned long waitHint)
{
    std::string message;
    {
        std::lock_guard guard(g_statusLock);
        // The repeated reports of the running state keep the first time.
        if (state == SERVICE_RUNNING && g_srvstatus.currentState != SERVICE_RUNNING)
            g_runningSince = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
        updateServiceStatus(g_srvstatus, g_checkPoint, state, exitCode, waitHint);
        message = serviceStatusMessage(g_srvstatus, std::int64_t(QCoreApplication::applicationPid()), g_runningSince);
    }
    int error = 0;
    if (Platform::sendNotify(message, error))
        return 1;
    coreLog(Kor::INFO, Kor::LOG_ERROR) << "SetServiceStatus failed state = " << state << ", error= " << error;
    return 0;
}

} // namespace Kor::NS
