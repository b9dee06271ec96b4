// The service commands: install, remove, start, stop and query the program's
// own service through the systemd layer of the platform library.
#include "ServiceControl.h"
#include "ServiceControlCommands_p.h"

#include "Application.h"
#include "CoreLog_p.h"
#include "ServiceManager.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <chrono>
#include <thread>

namespace Kor::NS {

namespace {

namespace P = Kor::Platform;

// The control value that asks for a start instead of sending a control.
constexpr unsigned long startControl = 0xFFFFFFFFul;
constexpr unsigned long stopControl = 1;
constexpr auto pollInterval = std::chrono::seconds(1);

constexpr unsigned long stateStopped = static_cast<unsigned long>(P::ServiceState::Stopped);
constexpr unsigned long stateStartPending = static_cast<unsigned long>(P::ServiceState::StartPending);
constexpr unsigned long stateStopPending = static_cast<unsigned long>(P::ServiceState::StopPending);
constexpr unsigned long stateRunning = static_cast<unsigned long>(P::ServiceState::Running);

// Each sibling is installed with automatic start and the restart policy.
const char* const siblingServices[] = {
    "Kor Steward", "Kor Keeper", "Kor Sweeper", "Kor Fetch Client", "Kor Bridge Client",
};

// The errno of the last failed step, for the command that called it. The
// commands run one at a time, but a thread of its own keeps them apart anyway.
thread_local int t_lastError = 0;

int lastError() { return t_lastError; }
void setLastError(int error) { t_lastError = error; }

// A control program that ran but said no gives no errno of its own.
int commandError(const P::CommandResult& result)
{
    if (!result.finished)
        return result.error != 0 ? result.error : EIO;
    return EIO;
}

bool isSibling(const QString& name)
{
    for (const char* sibling : siblingServices)
        if (name == QLatin1String(sibling))
            return true;
    return false;
}

std::string unitOf(const QString& handle) { return handle.toStdString(); }

LogMessage info() { return coreLog(Kor::INFO, Kor::LOG_INFO); }
LogMessage warning() { return coreLog(Kor::INFO, Kor::LOG_WARNING); }
LogMessage failure() { return coreLog(Kor::INFO, Kor::LOG_ERROR); }

// Asks for the unit's load state; the manager counts as contacted when the
// query finished, whatever it answered. An empty unit (no service name) is
// refused before anything runs.
bool contactManager(const std::string& unit, P::CommandResult& loadState)
{
    info() << "Looking up service control manager";
    if (unit.empty()) {
        setLastError(EINVAL);
        return false;
    }
    loadState = P::systemctlLoadState(unit);
    if (!loadState.finished) {
        setLastError(commandError(loadState));
        failure() << "Could not contact service control manager.";
        return false;
    }
    return true;
}

bool unitFilePresent(const std::string& unit)
{
    return QFileInfo::exists(QString::fromStdString(P::systemdUnitDirectory() + '/' + unit));
}

// The current state; false with lastError() set when it cannot be read or
// is nothing the mapping knows.
bool queryState(const std::string& unit, unsigned long& state)
{
    const P::CommandResult result = P::systemctlActiveState(unit);
    if (!result.ok()) {
        setLastError(commandError(result));
        return false;
    }
    const P::ServiceState mapped = P::serviceStateFromActiveState(result.output);
    if (mapped == P::ServiceState::Unknown) {
        warning() << "Unexpected service state '" << QString::fromStdString(result.output).left(80) << "'";
        setLastError(EBADMSG);
        return false;
    }
    state = static_cast<unsigned long>(mapped);
    return true;
}

// The executable between the quotes of "\"<path>\" -service".
std::string executableOf(const QString& commandLine)
{
    if (!commandLine.startsWith(QLatin1Char('"')))
        return {};
    const qsizetype end = commandLine.indexOf(QLatin1Char('"'), 1);
    return end < 0 ? std::string() : commandLine.mid(1, end - 1).toStdString();
}

// "Service/WatchdogSec" of the settings file, whole seconds; read here only
// and never written, so that a program without it keeps its file as it was.
int watchdogSeconds()
{
    Application* app = Application::instance();
    if (!app)
        return 0;
    const QString key = QStringLiteral("Service/WatchdogSec");
    const QVariant value = app->setting(key, QVariant(0), true);
    bool ok = false;
    const int seconds = value.toString().trimmed().toInt(&ok);
    if (!ok || seconds < 0) {
        coreLog(Kor::ALWAYS, Kor::LOG_WARNING) << key << " '" << value.toString()
                                               << "' is no whole number of seconds; the unit gets no watchdog";
        return 0;
    }
    return seconds;
}

} // namespace

QString serviceStateName(unsigned long state)
{
    static const char* const names[] = {
        "SERVICE_STOPPED",          "SERVICE_START_PENDING", "SERVICE_STOP_PENDING", "SERVICE_RUNNING",
        "SERVICE_CONTINUE_PENDING", "SERVICE_PAUSE_PENDING", "SERVICE_PAUSED",
    };
    if (state >= 1 && state <= std::size(names))
        return QLatin1String(names[state - 1]);
    return QString::asprintf("UNKNOWN (0x%08X)", static_cast<unsigned int>(state));
}

// The registered list separates names by NUL characters. A hand-written
// list may use ';' or blanks instead; a name with blanks in it ("Kor
// Steward") survives only the first two forms, so NUL wins over ';', and
// ';' over blanks.
QStringList serviceDependencyNames(const QString& dependencies)
{
    QStringList names;
    if (dependencies.contains(QChar(0)))
        names = dependencies.split(QChar(0));
    else if (dependencies.contains(QLatin1Char(';')))
        names = dependencies.split(QLatin1Char(';'));
    else
        names = dependencies.split(QRegularExpression(QStringLiteral("\\s+")));
    QStringList result;
    for (const QString& name : std::as_const(names)) {
        const QString trimmed = name.trimmed();
        if (!trimmed.isEmpty() && !result.contains(trimmed))
            result << trimmed;
    }
    return result;
}

QString ServiceControl::OpenServiceHandle(const QString& name)
{
    setLastError(0);
    const std::string unit = P::systemdUnitName(name.toStdString());
    P::CommandResult loadState;
    if (!contactManager(unit, loadState))
        return {};
    if (unitFilePresent(unit) || (loadState.ok() && P::unitExists(loadState.output)))
        return QString::fromStdString(unit);
    setLastError(ENOENT);
    return {};
}

QString ServiceControl::CreateServiceHandle(const QString& name, const QString& commandLine,
                                            const QString& dependencies, const QString& account,
                                            const QString& password, bool)
{
    // Interaction with a desktop has no meaning for a system service.
    setLastError(0);
    const std::string unit = P::systemdUnitName(name.toStdString());
    P::CommandResult loadState;
    if (!contactManager(unit, loadState))
        return {};

    P::UnitDescription description;
    description.serviceName = name.toStdString();
    description.executablePath = executableOf(commandLine);
    description.user = account.toStdString();
    for (const QString& dependency : serviceDependencyNames(dependencies))
        description.dependencies.push_back(dependency.toStdString());
    description.automaticStart = isSibling(name);
    description.watchdogSeconds = watchdogSeconds();
    const std::string text = P::systemdUnitText(description);
    if (text.empty()) {
        failure() << "The service name, account, dependencies or program path cannot be written into a unit file";
        setLastError(EINVAL);
        return {};
    }
    if (!password.isEmpty())
        warning() << "The password was ignored: a system service runs under its account without one";

    const std::string directory = P::systemdUnitDirectory();
    int error = 0;
    switch (P::writeUnitFile(directory, unit, text, error)) {
    case P::UnitFileResult::Written:
        break;
    case P::UnitFileResult::AlreadyExists:
        setLastError(EEXIST);
        return {};
    case P::UnitFileResult::Failed:
        setLastError(error);
        return {};
    }

    const P::CommandResult reload = P::systemctlDaemonReload();
    if (!reload.ok()) {
        // A unit the manager never read is taken back, so that a second try
        // starts from scratch instead of finding it "already installed".
        setLastError(commandError(reload));
        int ignored = 0;
        P::removeUnitFile(directory, unit, ignored);
        return {};
    }
    if (description.automaticStart) {
        // The restart policy is part of the unit; enabling makes it start at boot.
        info() << "Setting service failure actions";
        const P::CommandResult enable = P::systemctlEnable(unit);
        if (!enable.ok()) {
            setLastError(commandError(enable));
            failure() << "Could not set service failure actions; error = " << static_cast<unsigned int>(lastError());
            return {};
        }
    }
    return QString::fromStdString(unit);
}

unsigned long ServiceControl::ControlService(const QString& service, unsigned long control, unsigned long pendingState)
{
    setLastError(0);
    const std::string unit = unitOf(service);
    // Start and stop are the only controls a unit takes from here.
    int error = EINVAL;
    if (control == startControl || control == stopControl) {
        const P::CommandResult call = control == startControl ? P::systemctlStart(unit) : P::systemctlStop(unit);
        error = call.ok() ? 0 : commandError(call);
    }
    unsigned long state = 0;
    if (error != 0) {
        queryState(unit, state);
        setLastError(error);
        return state;
    }
    if (!queryState(unit, state))
        return 0;
    // No upper bound: a service may take long to settle, and an operator ends
    // the wait with Ctrl+C.
    while (state == pendingState) {
        std::this_thread::sleep_for(pollInterval);
        unsigned long next = 0;
        if (!queryState(unit, next))
            break;
        state = next;
    }
    return state;
}

bool ServiceControl::installService(const QString& account, const QString& password, bool allowInteraction)
{
    const Application* app = Application::instance();
    const QString name = app ? app->serviceName() : QString();
    const QString commandLine =
        QLatin1Char('"') + (app ? app->moduleFileName() : QString()) + QLatin1String("\" -service");
    const QString handle = CreateServiceHandle(name, commandLine, app ? app->serviceDependencies() : QString(),
                                               account, password, allowInteraction);
    if (!handle.isEmpty()) {
        info() << "The service is installed.";
        return true;
    }
    if (lastError() == EEXIST) {
        warning() << "The service was already installed.";
        return true;
    }
    failure() << "Could not install service. error = " << static_cast<unsigned int>(lastError());
    return false;
}

namespace {
QString ownServiceName()
{
    const Application* app = Application::instance();
    return app ? app->serviceName() : QString();
}
} // namespace

bool ServiceControl::uninstallService()
{
    const QString handle = OpenServiceHandle(ownServiceName());
    if (handle.isEmpty()) {
        failure() << "Could not find service. error = " << static_cast<unsigned int>(lastError());
        return false;
    }
    const unsigned long state = ControlService(handle, stopControl, stateStopPending);
    if (state == stateStopped) {
        info() << "The service is stopped.";
        const std::string unit = unitOf(handle);
        const std::string directory = P::systemdUnitDirectory();
        int error = 0;
        const P::CommandResult disable = P::systemctlDisable(unit);
        if (!disable.ok()) {
            setLastError(commandError(disable));
        } else if (!P::removeUnitFile(directory, unit, error)) {
            setLastError(error);
        } else {
            const P::CommandResult reload = P::systemctlDaemonReload();
            if (reload.ok()) {
                info() << "The service is deleted.";
                return true;
            }
            setLastError(commandError(reload));
        }
    } else {
        failure() << "The service could not be stopped. error = " << static_cast<unsigned int>(lastError());
    }
    failure() << "The service could not be deleted. error = " << static_cast<unsigned int>(lastError());
    return false;
}

namespace {
// Opens the own service, sends a start or stop and logs whether it settled
// in the wanted state.
template <class Open, class Control>
bool settleOwnService(Open open, Control control, unsigned long wanted, const char* done, const char* failed)
{
    const QString handle = open(ownServiceName());
    if (handle.isEmpty()) {
        failure() << "Could not find service. error = " << static_cast<unsigned int>(lastError());
        return false;
    }
    if (control(handle) == wanted) {
        info() << done;
        return true;
    }
    failure() << failed << static_cast<unsigned int>(lastError());
    return false;
}
} // namespace

bool ServiceControl::startService()
{
    return settleOwnService(OpenServiceHandle,
                            [](const QString& handle) { return ControlService(handle, startControl, stateStartPending); },
                            stateRunning, "The service is started.", "The service could not be started. error = ");
}

bool ServiceControl::stopService()
{
    return settleOwnService(OpenServiceHandle,
                            [](const QString& handle) { return ControlService(handle, stopControl, stateStopPending); },
                            stateStopped, "The service is stopped.", "The service could not be stopped. error = ");
}

bool ServiceControl::statusService()
{
    const QString handle = OpenServiceHandle(ownServiceName());
    if (handle.isEmpty()) {
        failure() << "Could not find service. error = " << static_cast<unsigned int>(lastError());
        return false;
    }
    unsigned long state = 0;
    if (!queryState(unitOf(handle), state)) {
        failure() << "Could not query service status. error = " << static_cast<unsigned int>(lastError());
        return false;
    }
    LogMessage(currentThreadLogObject(), Kor::String(), Kor::INFO, Kor::LOG_INFO, "Status is '%s'",
               serviceStateName(state).toLocal8Bit().constData());
    return true;
}

} // namespace Kor::NS
