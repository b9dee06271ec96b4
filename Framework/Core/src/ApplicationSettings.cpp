// The program's INI settings and the log set-up read from them.
#include "Application.h"
#include "Application_p.h"

#include "CoreLog_p.h"
#include "KorMutexLocker_p.h"
#include "LogLevelKeys_p.h"
#include "LogSettings_p.h"
#include "ServiceControl.h"
#include "ServiceManager.h"

#include <Kor/KorString.h>
#include <Kor/LogModule.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

#include <memory>

namespace Kor::NS {

bool ApplicationLogSource::contains(const QString& key) { return m_app.containsSetting(key); }

QVariant ApplicationLogSource::value(const QString& key, const QVariant& fallback, bool hidden)
{
    return m_app.setting(key, fallback, hidden);
}

void ApplicationLogSource::change(const QString& key, const QVariant& value) { m_app.changeSetting(key, value); }

namespace {

void logNoSettingsFile()
{
    coreLog(Kor::TRACE, Kor::LOG_WARNING) << "No settings file configured";
}

Kor::String toBaseString(const QString& text)
{
    return Kor::String::convertBuffer(text.utf16(), size_t(text.size()) * sizeof(char16_t),
                                      Kor::String::s_defaultCharset, Kor::String::Charset_UCS_2, '?');
}

QString uuidText(const Kor::Uuid& id)
{
    return QString::fromUtf8(id.toString().c_str());
}

// The log module's file modes: history files, and none of them deleted.
constexpr int HistoryMode = 1;
constexpr int KeepAllHistory = 0;

// Why a settings file cannot be reloaded, or empty when it can.
QString unreadableReason(const QString& path)
{
    if (path.isEmpty())
        return QStringLiteral("no settings file is configured");
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("the file is missing");
    if (!info.isFile())
        return QStringLiteral("it is not a regular file");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("it cannot be read: ") + file.errorString();
    return {};
}

} // namespace

const QString& Application::settingsFileName() const { return d->settingsFileName; }

bool Application::initSettings()
{
    if (!d->settings) {
        // A FIFO would block the start for ever, and a device would be
        // replaced: QSettings saves by renaming a new file over the path.
        // Such a path is never opened; the settings then live on no file.
        const QFileInfo info(d->settingsFileName);
        const bool usable = !info.exists() || info.isFile();
        if (!usable)
            coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << "Settings file " << d->settingsFileName
                                                 << " is not a regular file; it is neither read nor written";
        d->settings = QSharedPointer<QSettings>::create(usable ? d->settingsFileName : QString(), QSettings::IniFormat);
    }
    return !d->settings->fileName().isEmpty();
}

QVariant Application::setting(const QString& key, const QVariant& defaultValue, bool hidden)
{
    if (d->settingsFileName.isEmpty()) {
        logNoSettingsFile();
        return defaultValue;
    }
    QMutexLocker locker(&ApplicationPrivate::s_settingsLock);
    if (!initSettings()) {
        logNoSettingsFile();
        return defaultValue;
    }
    if (d->settings->contains(key))
        return d->settings->value(key);
    if (!hidden) {
        d->settings->setValue(key, defaultValue);
        d->settings->sync();
    }
    return defaultValue;
}

Kor::Uuid Application::setting(const QString& key, const Kor::Uuid& defaultValue, bool hidden)
{
    const QVariant value = setting(key, QVariant(uuidText(defaultValue)), hidden);
    return Kor::Uuid(toBaseString(value.toString()));
}

QMap<QString, QVariant> Application::settings(const QString& group)
{
    QMutexLocker locker(&ApplicationPrivate::s_settingsLock);
    initSettings();
    QMap<QString, QVariant> result;
    if (d->settings->contains(group))
        result.insert(QString(), d->settings->value(group));
    d->settings->beginGroup(group);
    for (const QString& key : d->settings->childKeys())
        result.insert(key, d->settings->value(key));
    for (const QString& child : d->settings->childGroups())
        result.insert(child, QVariant(settings(child)));
    d->settings->endGroup();
    return result;
}

bool Application::containsSetting(const QString& key)
{
    if (d->settingsFileName.isEmpty())
        logNoSettingsFile();
    QMutexLocker locker(&ApplicationPrivate::s_settingsLock);
    initSettings();
    return d->settings->contains(key);
}

bool Application::containsSettingGroup(const QString& group)
{
    if (d->settingsFileName.isEmpty())
        logNoSettingsFile();
    QMutexLocker locker(&ApplicationPrivate::s_settingsLock);
    initSettings();
    return d->settings->childGroups().contains(group, Qt::CaseSensitive);
}

bool Application::changeSetting(const QString& key, const QVariant& value)
{
    return changeSettings(QMap<QString, QVariant>{ { key, value } });
}

bool Application::changeSetting(const QString& key, const Kor::Uuid& value)
{
    return changeSetting(key, QVariant(uuidText(value)));
}

bool Application::changeSettings(const QMap<QString, QVariant>& values)
{
    if (d->settingsFileName.isEmpty()) {
        logNoSettingsFile();
        return false;
    }
    QMutexLocker locker(&ApplicationPrivate::s_settingsLock);
    if (!initSettings()) {
        logNoSettingsFile();
        return false;
    }
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        d->settings->setValue(it.key(), it.value());
    d->settings->sync();
    mutexTraceSettingsChanged();
    return true;
}

bool Application::changeSettings(const QString& group, const QMap<QString, QVariant>& values)
{
    QMap<QString, QVariant> grouped;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        grouped.insert(group + QLatin1Char('/') + it.key(), it.value());
    return changeSettings(grouped);
}

void Application::removeSetting(const QString& key)
{
    removeSettings(QList<QString>{ key });
}

void Application::removeSettings(const QString& key)
{
    removeSettings(QList<QString>{ key });
}

void Application::removeSettings(const QList<QString>& keys)
{
    if (d->settingsFileName.isEmpty()) {
        logNoSettingsFile();
        return;
    }
    QMutexLocker locker(&ApplicationPrivate::s_settingsLock);
    if (!initSettings()) {
        logNoSettingsFile();
        return;
    }
    for (const QString& key : keys)
        d->settings->remove(key);
    d->settings->sync();
    mutexTraceSettingsChanged();
}

void Application::resetSettings()
{
    QMutexLocker locker(&ApplicationPrivate::s_settingsLock);
    d->settings.reset();
    initSettings();
    mutexTraceSettingsChanged();
}

Kor::LogSeverity Application::getLogLevel(QString name)
{
    ApplicationLogSource source(*this);
    return Kor::LogSeverity(LogSettings::startLevel(source, QLatin1String("Loglevel/") + name, Kor::TRACE));
}

void Application::startLogging(const QString& logFile)
{
    const QString userData = QStringLiteral("%1 %2 with pid %3")
                                 .arg(serviceName(), VersionInfo::toString(s_AppVersion.version), d->pid);
    Kor::LogModule::Start(Kor::LogModule::AllOutputs, logFile.toLocal8Bit().constData(),
                          serviceName().toLocal8Bit().constData(), serviceDescription().toLocal8Bit().constData());
    Kor::LogModule::LogFileUserdata(userData.toLocal8Bit().constData());
    // The file stays closed until run() has passed the PID-file check, so a
    // refused second instance never writes into the running one's log.
    Kor::LogModule::Enable(Kor::LogModule::LogFile, false);
    Kor::LogModule::SetGlobalInfoSeverity(Kor::INFO);
    Kor::LogModule::SetInfoSeverity(Kor::LogModule::AllOutputs, Kor::INFO);
    if (isHistoryLogging()) {
        Kor::LogModule::LogFileHistoryPath(toBaseString(QDir(d->loggingPath).absolutePath()).c_str());
        Kor::LogModule::LogFileMode(HistoryMode);
        Kor::LogModule::LogFileDeleteMode(KeepAllHistory);
    }
}

void Application::configureLogging(bool asService)
{
    ApplicationLogSource source(*this);
    const LogSettings::Reading reading =
        LogSettings::read(source, asService ? LogSettings::Mode::Service : LogSettings::Mode::Console,
                          LogSettings().inForce(), LogSettings::Occasion::Start);
    LogSettings::apply(reading.settings, nullptr);
    *d->logSettings = reading.settings.inForce();
    d->startNotes << reading.warnings;
}

void Application::reloadLogSettings()
{
    ServiceControl::reportReloading();
    QString path;
    {
        QMutexLocker locker(&ApplicationPrivate::s_settingsLock);
        if (!d->settingsFileName.isEmpty() && initSettings())
            path = QFileInfo(d->settings->fileName()).absoluteFilePath();
    }
    QString failure = unreadableReason(path);
    // A fresh object: a long-lived one keeps reporting an error it met once.
    std::unique_ptr<QSettings> fresh;
    if (failure.isEmpty()) {
        fresh = std::make_unique<QSettings>(path, QSettings::IniFormat);
        fresh->beginGroup(QStringLiteral("Loglevel"));
        if (fresh->status() != QSettings::NoError)
            failure = QStringLiteral("it is no valid settings file");
        else if (fresh->childKeys().isEmpty())
            failure = QStringLiteral("it holds no [Loglevel] settings");
        fresh->endGroup();
    }
    if (!failure.isEmpty()) {
        coreLog(Kor::ALWAYS, Kor::LOG_WARNING) << "Reloading the log settings from " << path << " failed: " << failure
                                               << "; they stay as they were";
        ServiceControl::reportReloaded();
        return;
    }

    FileLogSource source(*fresh);
    const LogSettings::Reading reading =
        LogSettings::read(source, d->logSettings->mode, *d->logSettings, LogSettings::Occasion::Reload);
    QString summary = LogSettings::apply(reading.settings, d->logSettings.get());
    *d->logSettings = reading.settings.inForce();
    if (!reading.warnings.isEmpty())
        summary += QStringLiteral("; ") + reading.warnings.join(QStringLiteral("; "));
    coreLog(Kor::ALWAYS, Kor::LOG_INFO) << "Log settings reloaded from " << path << ": " << summary;
    ServiceControl::reportReloaded();
}

} // namespace Kor::NS
