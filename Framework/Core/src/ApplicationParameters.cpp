// The command line: the parameter registry, the parse and the built-in handlers.
#include "Application.h"

#include "Application_p.h"
#include "CoreLog_p.h"
#include "KorMutexLocker_p.h"
#include "CrashHandler_p.h"
#include "ParameterRegistry_p.h"
#include "ServiceControl.h"
#include "StdInReader_p.h"

#include "PlatformFiles.h"

#include <Kor/LogModule.h>

#include <QDir>
#include <QFile>

#include <cstring>

namespace Kor::NS {

namespace {

bool isUsableText(const QVariant& value)
{
    return value.isValid() && !value.isNull() && value.canConvert<QString>();
}

// Listings are bare console text: no time, no type mark, no logger name.
void printLine(const QString& line)
{
    moduleLog(Kor::ALWAYS, Kor::LOG_INFO) << line;
}

void prepareConsoleListing()
{
    Kor::LogModule::Enable(Kor::LogModule::Console, true);
    Kor::LogModule::EnableTime(false);
    Kor::LogModule::EnableType(false);
}

} // namespace

void Application::registerParameter(const QString& longName, const QString& shortName, const QString& propertyName,
                                    const QString& functionName, Parameter::Type type, const QString& description)
{
    d->parameterRegistry->add(longName, shortName, propertyName, functionName, type, description);
}

const QList<QSharedPointer<Parameter>>& Application::parameters() const { return d->parameterRegistry->parameters(); }
const QList<QString>& Application::arguments() const { return d->parameterRegistry->arguments(); }

Parameter::ProcessState Application::printHelp()
{
    prepareConsoleListing();
    printLine(QStringLiteral("Help:"));
    const QString indent(20, QLatin1Char(' '));
    for (const QSharedPointer<Parameter>& parameter : parameters()) {
        if (parameter->getDescription().isEmpty())
            continue;
        const QString& shortName = parameter->getShortName();
        const QString& longName = parameter->getLongName();
        QString column;
        if (!shortName.isEmpty() && !longName.isEmpty())
            column = QLatin1String("-") + shortName + QLatin1String(", --") + longName;
        else if (!shortName.isEmpty())
            column = QLatin1String("-") + shortName;
        else if (!longName.isEmpty())
            column = QLatin1String("--") + longName;
        else
            continue;
        if (column.size() > 20) {
            printLine(column);
            column = indent;
        } else {
            column = column.leftJustified(20, QLatin1Char(' '));
        }
        for (const QString& piece : parameter->getDescription().split(QLatin1Char('\n'), Qt::KeepEmptyParts)) {
            printLine(column + piece);
            column = indent;
        }
    }
    return Parameter::Finished;
}

Parameter::ProcessState Application::printVersion()
{
    prepareConsoleListing();
    qsizetype width = s_AppVersion.name.size();
    for (const VersionInfo& info : std::as_const(s_DLLVersions))
        width = qMax(width, info.name.size());
    const QString separator = QStringLiteral("%1").arg(QString(), int(width + 9), QLatin1Char('-'));
    auto line = [width](const VersionInfo& info) {
        return QStringLiteral("%1 %2").arg(info.name, int(-width)).arg(VersionInfo::toString(info.version));
    };
    printLine(separator);
    printLine(line(s_AppVersion));
    printLine(separator);
    for (const VersionInfo& info : std::as_const(s_DLLVersions))
        printLine(line(info));
    printLine(separator);
    return Parameter::Finished;
}

Parameter::ProcessState Application::setWorkingDirectory(QVariant value)
{
    if (!isUsableText(value)) {
        coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << "Invalid working directory";
        return Parameter::Failed;
    }
    QDir dir(value.toString());
    if (!dir.exists()) {
        if (dir.isAbsolute()) {
            coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << "Path '" << dir.path() << "' does not exist";
            return Parameter::Failed;
        }
        dir = QDir(modulePath() + QLatin1Char('/') + value.toString());
        if (!dir.exists()) {
            coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << "Path '" << dir.path() << "' does not exist";
            return Parameter::Failed;
        }
    }
    if (!QDir::setCurrent(dir.path())) {
        coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << "Failed to change working directory to '" << dir.path() << "'";
        return Parameter::Failed;
    }
    coreLog(Kor::ALWAYS, Kor::LOG_INFO) << "CWD is '" << QDir::currentPath() << "'";
    return Parameter::Continue;
}

Parameter::ProcessState Application::setPIDFile(QVariant value)
{
    if (!isUsableText(value)) {
        coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << "Invalid pid file";
        return Parameter::Failed;
    }
    if (d->pidFileName.isEmpty()) {
        coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << "No pid file defined";
        return Parameter::Failed;
    }
    d->pidFileName = value.toString();
    coreLog(Kor::TRACE, Kor::LOG_INFO) << "pid file is '" << d->pidFileName << "'";
    return Parameter::Continue;
}

Parameter::ProcessState Application::setINIFile(QVariant value)
{
    if (!isUsableText(value)) {
        coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << "Invalid ini file";
        return Parameter::Failed;
    }
    d->settingsFileName = value.toString();
    if (d->settingsFileName.isEmpty()) {
        coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << "No ini file defined";
        return Parameter::Failed;
    }
    mutexTraceSettingsChanged();
    coreLog(Kor::TRACE, Kor::LOG_INFO) << "ini file is '" << d->settingsFileName << "'";
    return Parameter::Continue;
}

Parameter::ProcessState Application::activateCrashDump()
{
    return installCrashHandler() ? Parameter::Continue : Parameter::Failed;
}

Parameter::ProcessState Application::activateKeyboard()
{
    // One reader per application: a second -kb keeps the running one.
    if (d->keyboardReader)
        return Parameter::Continue;
    auto* reader = new StdInReader();
    d->keyboardReader = reader;
    connect(reader, &StdInReader::lineRead, this, qOverload<const QString&>(&Application::keyboardInput));
    connect(reader, &StdInReader::fkeyRead, this, qOverload<int>(&Application::keyboardInput));
    reader->start(QThread::InheritPriority);
    return Parameter::Continue;
}

// The service commands log their own outcome; the handlers only end the
// program with it: exit code 0 when the command did what was asked, 1 when not.
namespace {
Parameter::ProcessState finishedIf(ParameterRegistry& registry, bool succeeded)
{
    if (succeeded)
        return Parameter::Finished;
    registry.setEndingExitCode(ExitCode::CommandFailed);
    return Parameter::Failed;
}
} // namespace

Parameter::ProcessState Application::installService(QVariantList values, bool allowInteraction)
{
    const QString account = values.value(0).toString();
    const QString password = values.value(1).toString();
    const bool installed = ServiceControl::installService(account, password, allowInteraction);
    // This run, as root, has just created the program's own log and working
    // folders; the service's account must be able to write them.
    if (installed && !account.isEmpty()) {
        for (const QString& folder : { d->loggingPath, defaultWorkingDirectory() }) {
            if (folder.isEmpty() || QDir(folder) == QDir(d->modulePath))
                continue;
            bool changed = false;
            int error = 0;
            if (!Kor::Platform::giveFolderToAccount(QFile::encodeName(folder).toStdString(), account.toStdString(),
                                                    changed, error))
                coreLog(Kor::ALWAYS, Kor::LOG_WARNING)
                    << "The folder " << folder << " could not be given to the account " << account << ": "
                    << QString::fromLocal8Bit(std::strerror(error)) << "; the service may not be able to write it";
            else if (changed)
                coreLog(Kor::ALWAYS, Kor::LOG_INFO) << "The folder " << folder << " now belongs to the account " << account;
        }
    }
    return finishedIf(*d->parameterRegistry, installed);
}

Parameter::ProcessState Application::installInteractiveService(QVariantList values)
{
    return installService(values, true);
}

Parameter::ProcessState Application::installNonInteractiveService(QVariantList values)
{
    return installService(values, false);
}

Parameter::ProcessState Application::uninstallService()
{
    return finishedIf(*d->parameterRegistry, ServiceControl::uninstallService());
}
Parameter::ProcessState Application::startService()
{
    return finishedIf(*d->parameterRegistry, ServiceControl::startService());
}
Parameter::ProcessState Application::stopService()
{
    return finishedIf(*d->parameterRegistry, ServiceControl::stopService());
}
Parameter::ProcessState Application::statusService()
{
    return finishedIf(*d->parameterRegistry, ServiceControl::statusService());
}

} // namespace Kor::NS
