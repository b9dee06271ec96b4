// The service commands: install, remove, start, stop and query the program's
// own service through the systemd layer of the platform library.
#include "ServiceControl.h"
#include "ServiceControlCommands_p.h"
#include "ServiceStatus_p.h"

#include "CoreLog_p.h"
#include "HostProvider_p.h"
#include "ServiceManager.h"

#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <thread>

namespace Kor::NS {

namespace {

namespace P = Kor::Platform;

constexpr auto pollInterval = std::chrono::seconds(1);
// How long past the unit's own time-out a start or stop is waited for, and
// the bound when the unit has none.
constexpr auto waitMargin = std::chrono::seconds(30);
constexpr auto waitWithoutTimeout = std::chrono::minutes(5);
constexpr auto longestWait = std::chrono::hours(24);

// Each sibling is installed with automatic start and the restart policy.
const char* const siblingServices[] = {
    "Kor Steward", "Kor Keeper", "Kor Sweeper", "Kor Fetch Client", "Kor Bridge Client",
};

// The first systemd that sends the reload signal itself (Type=notify-reload).
constexpr int notifyReloadVersion = 253;

bool isSibling(const QString& name)
{
    for (const char* sibling : siblingServices)
        if (name == QLatin1String(sibling))
            return true;
    return false;
}

LogMessage info() { return coreLog(Kor::INFO, Kor::LOG_INFO); }
LogMessage warning() { return coreLog(Kor::INFO, Kor::LOG_WARNING); }
LogMessage failure() { return coreLog(Kor::INFO, Kor::LOG_ERROR); }

bool unitFilePresent(const std::string& unit)
{
    return QFileInfo::exists(QString::fromStdString(P::systemdUnitDirectory() + '/' + unit));
}

std::chrono::steady_clock::duration waitBound(const std::optional<std::uint64_t>& timeoutUs)
{
    if (!timeoutUs)
        return waitWithoutTimeout;
    const auto timeout = std::chrono::microseconds(std::min<std::uint64_t>(
        *timeoutUs, std::chrono::duration_cast<std::chrono::microseconds>(longestWait).count()));
    return timeout + waitMargin;
}

// "Service/WatchdogSec" of the settings file, whole seconds; read here only
// and never written, so that a program without it keeps its file as it was.
int watchdogSeconds()
{
    HostProvider* host = hostProvider();
    if (!host)
        return 0;
    const QString key = QStringLiteral("Service/WatchdogSec");
    const QVariant value = host->setting(key, QVariant(0), true);
    bool ok = false;
    const int seconds = value.toString().trimmed().toInt(&ok);
    if (!ok || seconds < 0) {
        coreLog(Kor::ALWAYS, Kor::LOG_WARNING) << key << " '" << value.toString()
                                               << "' is no whole number of seconds; the unit gets no watchdog";
        return 0;
    }
    return seconds;
}

// Whether the manager sends the reload signal itself; an answer without a
// version counts as an older manager.
bool managerSendsReloadSignal()
{
    const P::CommandResult version = P::systemctlVersion();
    return version.ok() && P::parseSystemdVersion(version.output) >= notifyReloadVersion;
}

QString ownServiceName()
{
    const HostProvider* host = hostProvider();
    return host ? host->serviceName() : QString();
}

unsigned int shown(int error) { return static_cast<unsigned int>(error); }

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

// The manager's list ends each name with a NUL character; a hand-written
// one separates them by ';' instead. Blanks belong to the names ("Kor
// Keeper"): only the blanks around a hand-written name go.
QStringList serviceDependencyNames(const QString& dependencies)
{
    const bool managerForm = dependencies.contains(QChar(0));
    const QStringList names = dependencies.split(managerForm ? QChar(0) : QChar(u';'));
    QStringList result;
    for (const QString& name : names) {
        const QString kept = managerForm ? name : name.trimmed();
        if (!kept.trimmed().isEmpty() && !result.contains(kept))
            result << kept;
    }
    return result;
}

void ServiceCommands::failed(const P::CommandResult& result)
{
    m_error = P::systemctlError(result);
}

bool ServiceCommands::query(const std::string& unit, P::UnitProperties& properties)
{
    const P::CommandResult result = P::systemctlShow(unit);
    if (!result.ok()) {
        failed(result);
        return false;
    }
    properties = P::parseUnitProperties(result.output);
    return true;
}

bool ServiceCommands::contactManager(const std::string& unit, P::UnitProperties& properties)
{
    info() << "Looking up service control manager";
    if (unit.empty()) {
        m_error = EINVAL;
        return false;
    }
    const P::CommandResult result = P::systemctlShow(unit);
    if (P::managerUnreachable(result)) {
        failed(result);
        failure() << "Could not contact service control manager.";
        return false;
    }
    // An answer that is no list of properties still tells that the manager
    // is there; the unit file then decides whether the service is installed.
    if (result.ok())
        properties = P::parseUnitProperties(result.output);
    return true;
}

// The current state; false with m_error set when it cannot be read or is
// nothing the mapping knows.
bool ServiceCommands::queryState(const std::string& unit, unsigned long& state, P::UnitProperties& properties)
{
    if (!query(unit, properties))
        return false;
    const P::ServiceState mapped = P::serviceStateOf(properties);
    if (mapped == P::ServiceState::Unknown) {
        warning() << "Unexpected service state '" << QString::fromStdString(properties.activeState).left(80) << "'";
        m_error = EBADMSG;
        return false;
    }
    state = static_cast<unsigned long>(mapped);
    return true;
}

std::string ServiceCommands::open(const QString& name)
{
    m_error = 0;
    const std::string unit = P::systemdUnitName(name.toStdString());
    P::UnitProperties properties;
    if (!contactManager(unit, properties))
        return {};
    if (unitFilePresent(unit) || P::unitExists(properties.loadState))
        return unit;
    m_error = ENOENT;
    return {};
}

std::string ServiceCommands::create(const QString& name, const QString& executable, const QString& dependencies,
                                    const QString& account, const QString& password)
{
    m_error = 0;
    const std::string unit = P::systemdUnitName(name.toStdString());
    P::UnitProperties properties;
    if (!contactManager(unit, properties))
        return {};

    P::UnitDescription description;
    description.serviceName = name.toStdString();
    description.executablePath = executable.toStdString();
    description.user = account.toStdString();
    for (const QString& dependency : serviceDependencyNames(dependencies))
        description.dependencies.push_back(dependency.toStdString());
    description.automaticStart = isSibling(name);
    description.watchdogSeconds = watchdogSeconds();
    description.notifyReload = managerSendsReloadSignal();
    const std::string text = P::systemdUnitText(description);
    if (text.empty()) {
        failure() << "The service name, account, dependencies or program path cannot be written into a unit file";
        m_error = EINVAL;
        return {};
    }
    if (!password.isEmpty())
        warning() << "The password was ignored: a system service runs under its account without one";

    const std::string directory = P::systemdUnitDirectory();
    switch (P::writeUnitFile(directory, unit, text, m_error)) {
    case P::UnitFileResult::Written:
        break;
    case P::UnitFileResult::AlreadyExists:
        m_error = EEXIST;
        return {};
    case P::UnitFileResult::Failed:
        return {};
    }

    const P::CommandResult reload = P::systemctlDaemonReload();
    if (!reload.ok()) {
        // A unit the manager never read is taken back, so that a second try
        // starts from scratch instead of finding it "already installed".
        failed(reload);
        int ignored = 0;
        P::removeUnitFile(directory, unit, ignored);
        return {};
    }
    if (description.automaticStart) {
        // The restart policy is part of the unit; enabling makes it start at boot.
        info() << "Setting service failure actions";
        const P::CommandResult enable = P::systemctlEnable(unit);
        if (!enable.ok()) {
            failed(enable);
            failure() << "Could not set service failure actions; error = " << shown(m_error);
            return {};
        }
    }
    return unit;
}

bool ServiceCommands::control(const std::string& unit, Control control)
{
    m_error = 0;
    const bool starting = control == Control::Start;
    const P::CommandResult call = starting ? P::systemctlStart(unit) : P::systemctlStop(unit);
    if (!call.ok()) {
        failed(call);
        return false;
    }
    unsigned long state = 0;
    P::UnitProperties properties;
    if (!queryState(unit, state, properties))
        return false;
    // Pending while systemd holds a job for the unit, or while it reads as
    // being on the way. The unit's own time-out bounds the wait; Ctrl+C ends
    // it earlier.
    const unsigned long pendingState = starting ? SERVICE_START_PENDING : SERVICE_STOP_PENDING;
    const auto deadline = std::chrono::steady_clock::now()
        + waitBound(starting ? properties.startTimeoutUs : properties.stopTimeoutUs);
    while (!properties.job.empty() || state == pendingState) {
        if (std::chrono::steady_clock::now() >= deadline) {
            m_error = ETIMEDOUT;
            break;
        }
        std::this_thread::sleep_for(pollInterval);
        if (!queryState(unit, state, properties))
            return false;
    }
    if (state == (starting ? SERVICE_RUNNING : SERVICE_STOPPED))
        return true;
    // Settled elsewhere, a start that failed above all: the state is the
    // only answer there is.
    if (m_error == 0)
        m_error = EIO;
    return false;
}

bool ServiceCommands::install(const QString& account, const QString& password)
{
    const HostProvider* host = hostProvider();
    const QString name = host ? host->serviceName() : QString();
    const std::string unit = create(name, host ? host->executable() : QString(),
                                    host ? host->serviceDependencies() : QString(), account, password);
    if (!unit.empty()) {
        info() << "The service is installed.";
        return true;
    }
    if (m_error == EEXIST) {
        warning() << "The service was already installed.";
        return true;
    }
    failure() << "Could not install service. error = " << shown(m_error);
    return false;
}

bool ServiceCommands::uninstall()
{
    const std::string unit = open(ownServiceName());
    if (unit.empty()) {
        failure() << "Could not find service. error = " << shown(m_error);
        return false;
    }
    if (control(unit, Control::Stop)) {
        info() << "The service is stopped.";
        const std::string directory = P::systemdUnitDirectory();
        const P::CommandResult disable = P::systemctlDisable(unit);
        if (!disable.ok()) {
            failed(disable);
        } else if (P::removeUnitFile(directory, unit, m_error)) {
            const P::CommandResult reload = P::systemctlDaemonReload();
            if (reload.ok()) {
                info() << "The service is deleted.";
                return true;
            }
            failed(reload);
        }
    } else {
        failure() << "The service could not be stopped. error = " << shown(m_error);
    }
    failure() << "The service could not be deleted. error = " << shown(m_error);
    return false;
}

bool ServiceCommands::settle(Control wantedControl, const char* done, const char* failedText)
{
    const std::string unit = open(ownServiceName());
    if (unit.empty()) {
        failure() << "Could not find service. error = " << shown(m_error);
        return false;
    }
    if (control(unit, wantedControl)) {
        info() << done;
        return true;
    }
    failure() << failedText << shown(m_error);
    return false;
}

bool ServiceCommands::start()
{
    return settle(Control::Start, "The service is started.", "The service could not be started. error = ");
}

bool ServiceCommands::stop()
{
    return settle(Control::Stop, "The service is stopped.", "The service could not be stopped. error = ");
}

bool ServiceCommands::status()
{
    const std::string unit = open(ownServiceName());
    if (unit.empty()) {
        failure() << "Could not find service. error = " << shown(m_error);
        return false;
    }
    unsigned long state = 0;
    P::UnitProperties properties;
    if (!queryState(unit, state, properties)) {
        failure() << "Could not query service status. error = " << shown(m_error);
        return false;
    }
    LogMessage(currentThreadLogObject(), Kor::String(), Kor::INFO, Kor::LOG_INFO, "Status is '%s'",
               serviceStateName(state).toLocal8Bit().constData());
    return true;
}

// The commands need no service thread: each runs on the caller's and ends
// with its outcome logged.
bool ServiceControl::installService(const QString& account, const QString& password, bool)
{
    // Interaction with a desktop has no meaning for a system service.
    return ServiceCommands().install(account, password);
}

bool ServiceControl::uninstallService() { return ServiceCommands().uninstall(); }
bool ServiceControl::startService() { return ServiceCommands().start(); }
bool ServiceControl::stopService() { return ServiceCommands().stop(); }
bool ServiceControl::statusService() { return ServiceCommands().status(); }

} // namespace Kor::NS
