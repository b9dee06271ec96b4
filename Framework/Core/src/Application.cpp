#include "Application.h"
#include "KorMutexLocker_p.h"

#include "Application_p.h"
#include "ConfiguredPath_p.h"
#include "HostProvider_p.h"
#include "CoreLog_p.h"
#include "CrashHandler_p.h"
#include "KorException.h"
#include "LogSettings_p.h"
#include "ParameterRegistry_p.h"
#include "PidFile_p.h"
#include "ServiceControl.h"
#include "SetupConfigData.h"
#include "SignalNotifier_p.h"

#include <Kor/LogModule.h>
#include <Kor/LogObject.h>
#include <Kor/MoltrixVersion.h>
#include <Kor/Object.h>
#include <Kor/Section.h>
#include <Kor/ShareStream.h>
#include <Kor/VarnetVersion.h>

#include "Platform.h"
#include "ServiceManager.h"
#include "Signals.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <utility>

namespace Kor::NS {

// Registries first: the load-time registrations below rely on their order
// of construction within this file.
VersionInfo Application::s_AppVersion;
QMap<QString, VersionInfo> Application::s_DLLVersions;
Application* Application::s_pInstance = nullptr;
SetupConfigData* ApplicationPrivate::s_setupConfig = nullptr;
Kor::Uuid Application::s_MachineId;
Kor::Uuid Application::s_CallPoolId;
QString Application::s_UpdaterConfigPath;
QRecursiveMutex ApplicationPrivate::s_settingsLock;

namespace {

struct LoadTimeRegistration
{
    LoadTimeRegistration()
    {
        Application::registerDLLVersion(QStringLiteral("Kor Moltrix"), s_MoltrixVersionHigh, s_MoltrixVersionLow,
                                        s_MoltrixVersionBuild);
        Application::registerDLLVersion(QStringLiteral("Kor Varnet"), s_VarnetVersionInfo.high,
                                        s_VarnetVersionInfo.low, s_VarnetVersionInfo.build);
        Application::registerDLLVersion(QStringLiteral("Kor Core"), 80, 0, 0);
    }
};
const LoadTimeRegistration s_loadTimeRegistration;

const VersionType& unknownVersion()
{
    static const VersionType none;
    return none;
}

// The executable's name without a trailing ".exe"; Linux executables have no
// extension, and completeBaseName() would cut "Kor.Recorder" to "Kor".
QString moduleNameOf(const QString& filePath)
{
    QString name = QFileInfo(filePath).fileName();
    if (name.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive))
        name.chop(4);
    return name;
}

// An exit that reached the main thread before its event loop ran; only the
// main thread touches it.
std::optional<int> g_pendingExit;
// Any thread may ask; the start reads it to tell a program that is ending
// from one that serves.
std::atomic<bool> g_exitRequested{false};

void exitOnMainThread(int code)
{
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::exit(code);
    else
        g_pendingExit = code;
}

// The application as the leaves of the library see it.
class ApplicationHost final : public HostProvider
{
public:
    explicit ApplicationHost(Application& app) : m_app(app) {}

    QString machineIdText() const override
    {
        return QString::fromUtf8(Application::getMachineId().toString().c_str());
    }
    QVariant setting(const QString& key, const QVariant& defaultValue, bool hidden) override
    {
        return m_app.setting(key, defaultValue, hidden);
    }
    QString updaterConfigPath(const QString& fileName) const override { return m_app.updaterConfigPath(fileName); }
    QString callPoolFolder() const override { return Application::setupConfig()->callPoolDirPath(); }
    QString serviceName() const override { return m_app.serviceName(); }
    QString executable() const override { return m_app.moduleFileName(); }
    QString serviceDependencies() const override { return m_app.serviceDependencies(); }
    QObject* parameterReceiver() override { return &m_app; }
    void quit() override { m_app.quit(); }

private:
    Application& m_app;
};

// Lives from the application's construction to its destruction.
std::optional<ApplicationHost> s_host;

} // namespace

bool applicationExitRequested()
{
    return g_exitRequested.load(std::memory_order_acquire);
}

void requestApplicationExit(int code)
{
    g_exitRequested.store(true, std::memory_order_release);
    // Posting is safe from any thread, and a posted call waits in the queue
    // until the loop runs; QCoreApplication::exit() itself is neither.
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, [code] { exitOnMainThread(code); }, Qt::QueuedConnection);
}

void deliverPendingExit()
{
    if (!g_pendingExit || !QCoreApplication::instance())
        return;
    const int code = *g_pendingExit;
    g_pendingExit.reset();
    QMetaObject::invokeMethod(QCoreApplication::instance(), [code] { QCoreApplication::exit(code); },
                              Qt::QueuedConnection);
}

Application::Application(QSharedPointer<QCoreApplication> app)
    : QObject(nullptr), d(std::make_unique<ApplicationPrivate>(std::move(app)))
{
    if (s_pInstance)
        throw MultipleApplicationException("Only one instance of Application allowed");
    s_pInstance = this;
    s_host.emplace(*this);
    setHostProvider(&*s_host);
    if (d->coreApplication)
        connect(d->coreApplication.data(), &QCoreApplication::aboutToQuit, this, &Application::doClose);
    d->moduleFileName = QCoreApplication::applicationFilePath();
    d->modulePath = QCoreApplication::applicationDirPath();
    d->moduleName = moduleNameOf(d->moduleFileName);
    d->pid = QString::number(Kor::Platform::processId());
    // A console piped into a reader that ends (| head) must not end us.
    Kor::Platform::ignoreBrokenPipe();

    qRegisterMetaType<Kor::Uuid>("Uuid");
    qRegisterMetaType<Kor::Uuid*>("Uuid*");
    qRegisterMetaType<KorException>("KorException");
    qRegisterMetaType<KorException*>("KorException*");
    qRegisterMetaType<Parameter::ProcessState>("Kor::NS::Parameter::ProcessState");

    registerParameter(QStringLiteral("help"), QStringLiteral("h"), QStringLiteral("pHelp"), QStringLiteral("printHelp"),
                      Parameter::NoValue, QStringLiteral("Display help information"));
    registerParameter(QStringLiteral("version"), QStringLiteral("v"), QStringLiteral("pVersion"),
                      QStringLiteral("printVersion"), Parameter::NoValue, QStringLiteral("Display version information"));
    registerParameter(QStringLiteral("directory"), QStringLiteral("d"), QStringLiteral("PWD"),
                      QStringLiteral("setWorkingDirectory"), Parameter::SingleValue,
                      QStringLiteral("<DIRECTORY>\nChanges the working directory.\n"
                                     "If this option is not given, the folder named after the program in the datadir of "
                                     "setup.xml is used, or the program's own folder when there is no datadir."));
    registerParameter(QStringLiteral("pidfile"), QStringLiteral("p"), QStringLiteral("PID"), QStringLiteral("setPIDFile"),
                      Parameter::SingleValue,
                      QStringLiteral("<PIDFILE>\nThe complete filename to use as pid file.\n"
                                     "If PIDFILE is empty, no pid file is used."));
    registerParameter(QStringLiteral("inifile"), QStringLiteral("i"), QStringLiteral("INI"), QStringLiteral("setINIFile"),
                      Parameter::SingleValue,
                      QStringLiteral("<INIFILE>\nThe complete filename to use as ini file.\n"
                                     "If INIFILE is empty, no ini file is used."));
    registerParameter(QStringLiteral("crashdump"), QStringLiteral("cd"), QString(), QStringLiteral("activateCrashDump"),
                      Parameter::NoValue, QStringLiteral("Creates crash dump file on crash"));
    registerParameter(QStringLiteral("keyboard"), QStringLiteral("kb"), QString(), QStringLiteral("activateKeyboard"),
                      Parameter::NoValue, QStringLiteral("Activates listening to STDIN (by line)"));
    registerParameter(QString(), QStringLiteral("service"), QStringLiteral("pService"), QString(), Parameter::NoValue,
                      QStringLiteral("Run as service."));
    registerParameter(QString(), QStringLiteral("install"), QString(), QStringLiteral("installNonInteractiveService"),
                      Parameter::MultipleValues,
                      QStringLiteral("[ACCOUNT [PASSWORD]]\nInstall as service for the given account"));
    registerParameter(QString(), QStringLiteral("installInteractive"), QString(),
                      QStringLiteral("installInteractiveService"), Parameter::MultipleValues,
                      QStringLiteral("[ACCOUNT [PASSWORD]]\nInstall as service for the given account "
                                     "with option to interact with the desktop"));
    registerParameter(QString(), QStringLiteral("uninstall"), QString(), QStringLiteral("uninstallService"),
                      Parameter::NoValue, QStringLiteral("Uninstall from services."));
    registerParameter(QString(), QStringLiteral("start"), QString(), QStringLiteral("startService"),
                      Parameter::NoValue, QStringLiteral("Start installed service"));
    registerParameter(QString(), QStringLiteral("stop"), QString(), QStringLiteral("stopService"),
                      Parameter::NoValue, QStringLiteral("Stop installed service"));
    registerParameter(QString(), QStringLiteral("status"), QString(), QStringLiteral("statusService"),
                      Parameter::NoValue, QStringLiteral("Show status of the service"));
}

Application::~Application()
{
    // s_pInstance keeps pointing here; the leaves ask the provider instead,
    // which is gone with us.
    setHostProvider(nullptr);
    s_host.reset();
    mutexTraceSettingsChanged();
    Kor::Platform::setQuitFlag(nullptr);
    // Owned; still running when main() ended before the event loop (-kb --help).
    if (d->keyboardReader) {
        d->keyboardReader->quit();
        d->keyboardReader->wait(30000);
        delete d->keyboardReader;
    }
}

Application* Application::instance()
{
    return s_pInstance;
}

void Application::prepare(bool flag)
{
    getMachineId();
    if (s_CallPoolId.isNull())
        s_CallPoolId = s_MachineId;
    Kor::ObjectData::storeGlobalUseCount(flag);
}

void Application::finish()
{
    Kor::LogModule::LogFilePrepareStop();
    Kor::LogModule::Stop(Kor::LogModule::AsyncWriter);
    Kor::LogObject::cleanUp();
    Kor::ObjectData::restoreGlobalUseCount();
    Kor::LogModule::Stop(-1);
    Kor::LogObject::cleanUp();
    uninstallCrashHandler();
}

QString Application::shortModuleName() const
{
    return d->moduleName.startsWith(QLatin1String("Kor.")) ? d->moduleName.mid(4) : d->moduleName;
}

QString Application::chooseLogFile()
{
    if (!d->loggingPath.isEmpty())
        return QDir(d->loggingPath).absoluteFilePath(d->moduleName);
    const QString logDir = setupConfig()->logDirPath();
    if (logDir.isEmpty())
        return d->moduleName;
    d->loggingPath = QDir(logDir).absoluteFilePath(shortModuleName());
    ensureConfiguredPath(d->loggingPath);
    return QDir(d->loggingPath).absoluteFilePath(d->moduleName);
}

int Application::main()
{
    d->pidFileName = d->moduleName + QLatin1String(".pid");
    d->settingsFileName = d->moduleName + QLatin1String(".ini");
    mutexTraceSettingsChanged(); // a locker before now found no settings file
    setupConfig();
    const QString logFile = chooseLogFile();
    Kor::Platform::setConsoleTitle((serviceName() + QLatin1String(" Console")).toStdString());
    startLogging(logFile);
    ApplicationPrivate::s_setupConfig->initAfterLogCreation();
    Logging::Install();
    try {
        coreLog(Kor::TRACE, Kor::LOG_DETAIL) << "Set LogDirectory: " << logFile;
        setWorkingDirectory(QVariant(defaultWorkingDirectory()));
    } catch (const KorException& e) {
        coreLog(Kor::ALWAYS, Kor::LOG_WARNING) << "Error while setting default working directory: " << e.what();
    }
    const Parameter::ProcessState state = d->parameterRegistry->assign(QCoreApplication::arguments());
    const bool ended = state == Parameter::Finished || state == Parameter::Failed;
    // The console goes quiet before the data folders are derived, so that a
    // listing such as --help ends with its own last line.
    if (ended)
        Kor::LogModule::Enable(Kor::LogModule::Console, false);
    setupConfig();
    ApplicationPrivate::s_setupConfig->initDataPaths();

    int result = 0;
    if (ended) {
        result = d->parameterRegistry->endingExitCode();
    } else if (state != Parameter::Continue) {
        result = int(state);
    } else {
        const bool asService = QCoreApplication::instance()->property("pService").toBool();
        configureLogging(asService);
        result = run(asService);
    }
    qInstallMessageHandler(nullptr);
    return result;
}

QString Application::defaultWorkingDirectory()
{
    const QString dataDir = setupConfig()->dataDirPath();
    if (dataDir.isEmpty())
        return d->modulePath;
    const QString path = QDir(dataDir).absoluteFilePath(shortModuleName());
    ensureConfiguredPath(path);
    return path;
}

QString Application::defaultPIDFileDirectory()
{
    return d->modulePath;
}

bool Application::isHistoryLogging()
{
    return true;
}

void Application::init() {}

void Application::close()
{
    if (d->keyboardReader) {
        d->keyboardReader->quit();
        if (!d->keyboardReader->wait(30000))
            d->keyboardReader->terminate();
        delete d->keyboardReader;
        d->keyboardReader = nullptr;
    }
    {
        QMutexLocker locker(&ApplicationPrivate::s_settingsLock);
        delete ApplicationPrivate::s_setupConfig;
        ApplicationPrivate::s_setupConfig = nullptr;
    }
    s_setupSection.clearRef();
}

void Application::doClose()
{
    close();
}

namespace {

// Takes the PID file, or logs why another instance keeps this one out.
bool takePidFile(PidFile& pidFile, const QString& pid, const QString& name, const QString& path)
{
    switch (pidFile.acquire(pid)) {
    case PidFile::Acquired:
        return true;
    case PidFile::HeldByOther:
        coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << "service already started with pid file '" << name << "' and pid "
                                             << pidFile.holderPid() << ".";
        return false;
    case PidFile::Failed:
        break;
    }
    const QString cause = pidFile.error() != 0 ? QString::fromLocal8Bit(std::strerror(pidFile.error()))
                                               : QStringLiteral("the file kept being removed");
    coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << "service can not start with pid file '" << path << "': " << cause;
    return false;
}

// A service that systemd gave a runtime folder keeps its PID file there, so
// that an account without write access to the executable's folder can run
// it; everywhere else the file stays beside the executable.
QString pidFileFolder(bool asService, const QString& fallback)
{
    const QString runtime = qEnvironmentVariable("RUNTIME_DIRECTORY").section(QLatin1Char(':'), 0, 0);
    return asService && !runtime.isEmpty() ? runtime : fallback;
}

// When the service manager watches us, a timer on the main thread's loop
// tells it at half its interval that the loop still runs; a hung loop then
// gets the service restarted.
std::unique_ptr<QTimer> startWatchdog()
{
    const Kor::Platform::WatchdogSetting watchdog = Kor::Platform::watchdogFromEnvironment();
    switch (watchdog.kind) {
    case Kor::Platform::WatchdogSetting::Off:
    case Kor::Platform::WatchdogSetting::OtherProcess:
        return nullptr;
    case Kor::Platform::WatchdogSetting::Invalid:
        coreLog(Kor::ALWAYS, Kor::LOG_WARNING) << "WATCHDOG_USEC '" << QString::fromStdString(watchdog.text)
                                               << "' is no positive number of microseconds; it is ignored";
        return nullptr;
    case Kor::Platform::WatchdogSetting::On:
        break;
    }
    const std::uint64_t halfMs = std::max<std::uint64_t>(watchdog.intervalUs / 2000, 1);
    const int intervalMs = int(std::min<std::uint64_t>(halfMs, std::uint64_t(std::numeric_limits<int>::max())));
    auto timer = std::make_unique<QTimer>();
    QObject::connect(timer.get(), &QTimer::timeout, [] { ServiceControl::reportAlive(); });
    timer->start(intervalMs);
    coreLog(Kor::ALWAYS, Kor::LOG_INFO) << "Watchdog: the service manager hears from us every " << intervalMs << " ms";
    return timer;
}

} // namespace

int Application::run(bool asService)
{
    d->isService = asService;
    // SIGTERM is the manager's stop control from the moment the handlers may
    // see it, not a console's closing signal: the dispatcher reads what came
    // in the meantime once it runs.
    if (asService && Kor::Platform::notifySocketPresent())
        Kor::Platform::routeStopControl(true);
    // The manager's reload request; at a console SIGHUP still means the
    // terminal has gone. Set up before the service reports that it runs: the
    // manager may send a reload the moment it hears so.
    if (asService && !Kor::Platform::useHangupForReload())
        coreLog(Kor::ALWAYS, Kor::LOG_WARNING) << "SIGHUP could not be set up for reloading the settings";
    ServiceControl serviceControl;
    if (asService) {
        serviceControl.start(QThread::InheritPriority);
        serviceControl.waitForStart();
    }
    setSignaling();

    std::optional<PidFile> pidFile;
    const QString pidPath = QDir(pidFileFolder(asService, defaultPIDFileDirectory())).absoluteFilePath(d->pidFileName);
    if (!d->allowMultipleInstances)
        pidFile.emplace(pidPath);
    int result = ExitCode::InstanceRefused;
    // A service logs nothing to standard output, and a refused one opens no
    // log file: its reason goes there all the same, into the manager's journal.
    const int consoleSeverity = Kor::LogModule::GetInfoSeverity(Kor::LogModule::Console);
    Kor::LogModule::SetInfoSeverity(Kor::LogModule::Console, std::min(consoleSeverity, int(Kor::INFO)));
    const bool pidFileOurs = !pidFile || takePidFile(*pidFile, d->pid, d->pidFileName, pidPath);
    Kor::LogModule::SetInfoSeverity(Kor::LogModule::Console, consoleSeverity);
    if (pidFileOurs) {
        // The log file opens once the PID file is ours, before the start
        // lines, so that they reach the file as well as the console.
        Kor::LogModule::Enable(Kor::LogModule::LogFile, true);
        coreLog(Kor::ALWAYS, Kor::LOG_INFO) << "service start with pid " << d->pid << ".";
        coreLog(Kor::ALWAYS, Kor::LOG_INFO) << "current working directory: " << QDir::currentPath();
        for (const QString& note : std::exchange(d->startNotes, {}))
            coreLog(Kor::ALWAYS, Kor::LOG_WARNING) << note;
        moduleLog(Kor::ALWAYS, Kor::LOG_INFO) << "MachineId:  " << getMachineId();
        if (s_CallPoolId.isNull())
            s_CallPoolId = getMachineId();
        moduleLog(Kor::ALWAYS, Kor::LOG_INFO) << "CallPoolId: " << s_CallPoolId;
        init();
        // Ready is the loop's first event: the PID file is ours, init() has
        // returned and the loop runs. A quit or exit asked for before then
        // ends the start instead.
        std::unique_ptr<QTimer> watchdog;
        // Takes the queued call with it should the loop end before it ran.
        QObject readyContext;
        if (asService && !quitting() && !applicationExitRequested()) {
            QMetaObject::invokeMethod(
                &readyContext,
                [this, &watchdog] {
                    if (quitting() || applicationExitRequested())
                        return;
                    ServiceControl::reportReady();
                    watchdog = startWatchdog();
                },
                Qt::QueuedConnection);
        }
        result = exec();
        watchdog.reset();

        // The end lines are written whatever the operator turned down.
        Kor::LogModule::SetGlobalInfoSeverity(Kor::INFO);
        Kor::LogModule::SetInfoSeverity(Kor::LogModule::AllOutputs | Kor::LogModule::Journal, Kor::INFO);
        coreLog(Kor::ALWAYS, Kor::LOG_INFO) << "service end with pid " << d->pid << ".";
        if (pidFile && !pidFile->release())
            coreLog(Kor::ALWAYS, Kor::LOG_WARNING) << "pid file '" << d->pidFileName << "' could not be removed.";
    } else {
        // No loop ran, so no aboutToQuit() released what the start set up.
        doClose();
    }
    if (asService) {
        serviceControl.stop(result);
        serviceControl.quit();
        // The dispatcher's loop and the service-main sequence both end on the
        // stopped report, so the wait is short.
        serviceControl.wait();
    }
    return result;
}

int Application::exec()
{
    coreLog(Kor::TRACE, Kor::LOG_DETAIL) << "Starting Qt main event loop now";
    deliverPendingExit();
    return QCoreApplication::exec();
}

void Application::quit()
{
    d->quitting.store(true, std::memory_order_release);
    QMetaObject::invokeMethod(d->coreApplication.data(), "quit", Qt::QueuedConnection);
}

void Application::exit(int returnCode)
{
    // From any thread, also before the event loop runs (from init()).
    requestApplicationExit(returnCode);
}

bool Application::isService() const { return d->isService; }
bool Application::quitting() { return d->quitting.load(std::memory_order_acquire); }

void Application::setSignaling()
{
    if (findChild<SignalNotifier*>(QString(), Qt::FindDirectChildrenOnly))
        return;
    // The handler itself sets the flag: a long init() that polls quitting()
    // learns of the signal before the event loop runs.
    Kor::Platform::setQuitFlag(&d->quitting);
    auto* notifier = new SignalNotifier(Kor::Platform::SignalPipe::Signals, this);
    connect(notifier, &SignalNotifier::received, this, [this](int signalNumber) { handleSignal(signalNumber); });
}

void Application::handleSignal(int signalNumber)
{
    const char* name = Kor::Platform::signalName(signalNumber);
    switch (Kor::Platform::signalKind(signalNumber)) {
    case Kor::Platform::SignalKind::Closing:
        coreLog(Kor::ALWAYS, Kor::LOG_INFO) << "Closing by signal: " << name;
        if (Kor::Platform::closingSignalEndsProcess(signalNumber)) {
            // The line reaches the file before the signal ends us.
            Kor::LogModule::Stop(Kor::LogModule::AllOutputs);
            Kor::Platform::endBySignal(signalNumber);
        }
        quit();
        break;
    case Kor::Platform::SignalKind::Reload:
        requestReload();
        break;
    default:
        coreLog(Kor::ALWAYS, Kor::LOG_INFO) << "Received signal: " << name;
        break;
    }
}

void Application::requestReload()
{
    // Requests that come while one is queued are served by it: it reads the
    // file as it is then. Those that come during a reload queue the next.
    if (d->reloadQueued)
        return;
    d->reloadQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            d->reloadQueued = false;
            reloadLogSettings();
        },
        Qt::QueuedConnection);
}

const QString& Application::moduleFileName() const { return d->moduleFileName; }
const QString& Application::moduleName() const { return d->moduleName; }
const QString& Application::modulePath() const { return d->modulePath; }
const QString& Application::serviceName() const { return s_AppVersion.serviceName; }
const QString& Application::serviceDescription() const { return s_AppVersion.serviceDescription; }
const QString& Application::serviceDependencies() const { return s_AppVersion.serviceDependencies; }
const VersionType& Application::moduleVersion() const { return s_AppVersion.version; }
QString Application::moduleVersionString() const { return VersionInfo::toString(s_AppVersion.version); }

const VersionType& Application::dllVersion(const QString& name) const
{
    const auto it = s_DLLVersions.constFind(name);
    return it == s_DLLVersions.constEnd() ? unknownVersion() : it->version;
}

QString Application::dllVersionString(const QString& name) const
{
    return VersionInfo::toString(dllVersion(name));
}

void Application::registerAppVersion(const QString& name, const VersionType& version, const QString& serviceName,
                                     const QString& serviceDescription, const QString& serviceDependencies)
{
    s_AppVersion = VersionInfo{ name, version, serviceName, serviceDescription, serviceDependencies };
}

void Application::registerAppVersion(const QString& name, unsigned high, unsigned low, unsigned build,
                                     const QString& serviceName, const QString& serviceDescription,
                                     const QString& serviceDependencies)
{
    registerAppVersion(name, VersionType(high, low, build), serviceName, serviceDescription, serviceDependencies);
}

void Application::registerDLLVersion(const QString& name, const VersionType& version)
{
    s_DLLVersions[name] = VersionInfo{ name, version, QString(), QString(), QString() };
}

void Application::registerDLLVersion(const QString& name, unsigned high, unsigned low, unsigned build)
{
    registerDLLVersion(name, VersionType(high, low, build));
}

void Application::setLoggingPath(QString path) { d->loggingPath = path; }
const QString& Application::getLoggingPath() const { return d->loggingPath; }
void Application::setAllowMultipleInstances(bool allow) { d->allowMultipleInstances = allow; }

} // namespace Kor::NS
