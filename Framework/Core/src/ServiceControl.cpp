#include "ServiceControl.h"

#include "CoreLog_p.h"
#include "CrashDump.h"
#include "HostProvider_p.h"
#include "ServiceManager.h"
#include "ServiceStatus_p.h"
#include "SignalNotifier_p.h"
#include "Signals.h"

#include <QCoreApplication>
#include <QDateTime>

#include <atomic>
#include <cstdio>
#include <thread>

namespace Kor::NS {

namespace {

// The controls, by the numbers the service manager uses.
enum ServiceControlCode : unsigned long {
    SERVICE_CONTROL_STOP = 1,
    SERVICE_CONTROL_SHUTDOWN = 5,
};
constexpr unsigned long REGISTRATION_FAILED = 0xFFFFFFFF;

ServiceRuntime& runtime()
{
    static ServiceRuntime instance(
        [](const std::string& message, int& error) { return Platform::sendNotify(message, error); },
        std::int64_t(QCoreApplication::applicationPid()),
        [] { return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString(); });
    return instance;
}

void requestQuit()
{
    if (HostProvider* host = hostProvider())
        host->quit();
}

// Holds the service-main thread before it registers, so that a test can
// send its stop at every moment of the start.
void (*startHoldForTest)() = nullptr;

void logFailedReport(const char* what, int error)
{
    if (error != 0)
        coreLog(Kor::INFO, Kor::LOG_ERROR) << what << " failed, error= " << error;
}

} // namespace

void setServiceStartHoldForTest(void (*hold)())
{
    startHoldForTest = hold;
}

namespace {
// The one service control object; the dispatcher's thread reads it.
std::atomic<ServiceControl*> g_instance{nullptr};
} // namespace

ServiceControl::ServiceControl() : QThread(nullptr)
{
    g_instance = this;
}

ServiceControl::~ServiceControl()
{
    // Also on the way out of an exception: the thread must be gone before
    // QThread's destructor runs.
    if (!runtime().stopped())
        stop();
    if (isRunning()) {
        quit();
        wait();
    }
    ServiceControl* self = this;
    g_instance.compare_exchange_strong(self, nullptr);
}

ServiceControl* ServiceControl::instance()
{
    return g_instance;
}

void ServiceControl::waitForStart()
{
    // A stop that came first, or a dispatcher that ended without starting the
    // service, ends the wait too: the program goes on to its orderly end.
    runtime().waitForStart();
}

void ServiceControl::stop()
{
    stop(0);
}

void ServiceControl::stop(int exitCode)
{
    // The manager reads the code the process ends with, which is 8 bits.
    SetStatus(SERVICE_STOPPED, static_cast<unsigned long>(exitCode & 0xff), 0);
}

void ServiceControl::doServiceStart()
{
    SetStatus(SERVICE_START_PENDING, 0, 0);
    runtime().enterRunning();
    // The service-main sequence lasts as long as the service: until the
    // stopped report, or until the dispatcher ends.
    runtime().waitForEnd();
}

void ServiceControl::doServiceStop()
{
    SetStatus(SERVICE_STOP_PENDING, 0, 0);
    requestQuit();
}

void ServiceControl::ServiceMain(unsigned long, wchar_t**)
{
    // Registering the handler: the manager listens when it gave us a socket.
    runtime().setRegistered(Platform::notifySocketPresent());
    if (!runtime().registered()) {
        SetStatus(SERVICE_STOPPED, REGISTRATION_FAILED, 0);
        return;
    }
    if (ServiceControl* control = g_instance)
        control->doServiceStart();
}

void ServiceControl::ServerControlHandler(unsigned long control)
{
    if (control != SERVICE_CONTROL_STOP && control != SERVICE_CONTROL_SHUTDOWN)
        return;
    if (runtime().registered())
        SetStatus(SERVICE_STOP_PENDING, 0, 0);
    if (ServiceControl* control = g_instance)
        control->doServiceStop();
}

void ServiceControl::run()
{
    Platform::prepareThreadForCrashDump();
    Platform::keepOperatorSignalsAway();
    if (!Platform::notifySocketPresent() || !Platform::routeStopControl(true)) {
        Platform::routeStopControl(false);
        coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << "Couldn't start as service";
        // In service mode the console is off and the log file not open yet:
        // whoever typed -service by hand learns here why the program ends.
        std::fputs("Couldn't start as service (not started by systemd: NOTIFY_SOCKET is not set)\n", stderr);
        requestQuit();
        runtime().dispatcherEnded();
        return;
    }
    // The dispatcher: the service-main sequence on a thread of its own, and
    // the manager's stop control (SIGTERM) received here. Records that came
    // before this loop ran wait in the pipe and wake the notifier at once.
    SignalNotifier stopControl(Platform::SignalPipe::StopControl);
    connect(&stopControl, &SignalNotifier::received, &stopControl,
            [] { ServerControlHandler(SERVICE_CONTROL_STOP); });
    std::thread serviceMain([] {
        Platform::prepareThreadForCrashDump();
        Platform::keepOperatorSignalsAway();
        if (startHoldForTest)
            startHoldForTest();
        ServiceMain(0, nullptr);
    });
    exec();
    Platform::routeStopControl(false);
    // The run loop quits this thread after stop(), which ends the sequence;
    // the end of the dispatcher also ends it when stop() never came.
    runtime().dispatcherEnded();
    serviceMain.join();
}

void ServiceControl::reportReady()
{
    int error = 0;
    if (!runtime().ready(error))
        logFailedReport("Reporting readiness", error);
}

void ServiceControl::reportReloading()
{
    int error = 0;
    runtime().reloading(Platform::monotonicMicroseconds(), error);
    logFailedReport("Reporting the reload", error);
}

void ServiceControl::reportReloaded()
{
    int error = 0;
    runtime().reloaded(error);
    logFailedReport("Reporting the end of the reload", error);
}

void ServiceControl::reportAlive()
{
    int error = 0;
    runtime().alive(error);
    logFailedReport("Watchdog ping", error);
}

int ServiceControl::SetStatus(unsigned long state, unsigned long exitCode, unsigned long waitHint)
{
    int error = 0;
    if (runtime().report(state, exitCode, waitHint, error))
        return 1;
    coreLog(Kor::INFO, Kor::LOG_ERROR) << "SetServiceStatus failed state = " << state << ", error= " << error;
    return 0;
}

} // namespace Kor::NS
