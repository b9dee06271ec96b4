// The program's INI settings and the log set-up read from them.
#include "Application.h"

#include "CoreLog_p.h"
#include "KorMutexLocker_p.h"
#include "LogLevelKeys_p.h"
#include "ServiceControl.h"
#include "ServiceManager.h"

#include <Kor/KorString.h>
#include <Kor/LogModule.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

#include <memory>
#include <optional>

namespace Kor::NS {

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

// 4294967295 in the low 32 bits means "leave the module's default".
constexpr quint32 Unset = 0xFFFFFFFFu;

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

const QString& Application::settingsFileName() const { return m_settingsFileName; }

bool Application::initSettings()
{
    if (!m_settings) {
        // A FIFO would block the start for ever, and a device would be
        // replaced: QSettings saves by renaming a new file over the path.
        // Such a path is never opened; the settings then live on no file.
        const QFileInfo info(m_settingsFileName);
        const bool usable = !info.exists() || info.isFile();
        if (!usable)
            coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << "Settings file " << m_settingsFileName
                                                 << " is not a regular file; it is neither read nor written";
        m_settings = QSharedPointer<QSettings>::create(usable ? m_settingsFileName : QString(), QSettings::IniFormat);
    }
    return !m_settings->fileName().isEmpty();
}

QVariant Application::setting(const QString& key, const QVariant& defaultValue, bool hidden)
{
    if (m_settingsFileName.isEmpty()) {
        logNoSettingsFile();
        return defaultValue;
    }
    QMutexLocker locker(&s_settingsLock);
    if (!initSettings()) {
        logNoSettingsFile();
        return defaultValue;
    }
    if (m_settings->contains(key))
        return m_settings->value(key);
    if (!hidden) {
        m_settings->setValue(key, defaultValue);
        m_settings->sync();
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
    QMutexLocker locker(&s_settingsLock);
    initSettings();
    QMap<QString, QVariant> result;
    if (m_settings->contains(group))
        result.insert(QString(), m_settings->value(group));
    m_settings->beginGroup(group);
    for (const QString& key : m_settings->childKeys())
        result.insert(key, m_settings->value(key));
    for (const QString& child : m_settings->childGroups())
        result.insert(child, QVariant(settings(child)));
    m_settings->endGroup();
    return result;
}

bool Application::containsSetting(const QString& key)
{
    if (m_settingsFileName.isEmpty())
        logNoSettingsFile();
    QMutexLocker locker(&s_settingsLock);
    initSettings();
    return m_settings->contains(key);
}

bool Application::containsSettingGroup(const QString& group)
{
    if (m_settingsFileName.isEmpty())
        logNoSettingsFile();
    QMutexLocker locker(&s_settingsLock);
    initSettings();
    return m_settings->childGroups().contains(group, Qt::CaseSensitive);
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
    if (m_settingsFileName.isEmpty()) {
        logNoSettingsFile();
        return false;
    }
    QMutexLocker locker(&s_settingsLock);
    if (!initSettings()) {
        logNoSettingsFile();
        return false;
    }
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        m_settings->setValue(it.key(), it.value());
    m_settings->sync();
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
    if (m_settingsFileName.isEmpty()) {
        logNoSettingsFile();
        return;
    }
    QMutexLocker locker(&s_settingsLock);
    if (!initSettings()) {
        logNoSettingsFile();
        return;
    }
    for (const QString& key : keys)
        m_settings->remove(key);
    m_settings->sync();
    mutexTraceSettingsChanged();
}

void Application::resetSettings()
{
    QMutexLocker locker(&s_settingsLock);
    m_settings.reset();
    initSettings();
    mutexTraceSettingsChanged();
}

Kor::LogSeverity Application::getLogLevel(QString name)
{
    return logLevelSetting(name, Kor::TRACE);
}

Kor::LogSeverity Application::logLevelSetting(const QString& name, Kor::LogSeverity defaultLevel)
{
    const QString key = QLatin1String("Loglevel/") + name;
    const QVariant value = setting(key, QVariant(severityName(defaultLevel)), false);
    const std::optional<Kor::LogSeverity> parsed = parseLogSeverity(value);
    const Kor::LogSeverity severity = parsed.value_or(Kor::TRACE);
    // A name is kept as the operator wrote it; everything else is rewritten.
    if (!parsed || value.toString().toUpper() != severityName(severity))
        changeSetting(key, QVariant(severityName(severity)));
    return severity;
}

void Application::startLogging(const QString& logFile)
{
    const QString userData = QStringLiteral("%1 %2 with pid %3")
                                 .arg(serviceName(), VersionInfo::toString(s_AppVersion.version), m_pid);
    Kor::LogModule::Start(Kor::LogModule::AllOutputs, logFile.toLocal8Bit().constData(),
                          serviceName().toLocal8Bit().constData(), serviceDescription().toLocal8Bit().constData());
    Kor::LogModule::LogFileUserdata(userData.toLocal8Bit().constData());
    // The file stays closed until run() has passed the PID-file check, so a
    // refused second instance never writes into the running one's log.
    Kor::LogModule::Enable(Kor::LogModule::LogFile, false);
    Kor::LogModule::SetGlobalInfoSeverity(Kor::INFO);
    Kor::LogModule::SetInfoSeverity(Kor::LogModule::AllOutputs, Kor::INFO);
    if (isHistoryLogging()) {
        Kor::LogModule::LogFileHistoryPath(toBaseString(QDir(m_loggingPath).absolutePath()).c_str());
        Kor::LogModule::LogFileMode(HistoryMode);
        Kor::LogModule::LogFileDeleteMode(KeepAllHistory);
    }
}

void Application::configureLogging(bool asService)
{
    auto optional = [this](const char* key) {
        return quint32(setting(QLatin1String(key), QVariant(qulonglong(Unset)), true).toULongLong());
    };
    // An on/off key that is missing or unreadable leaves the module's default.
    auto onOff = [this](const char* key) {
        return containsSetting(QLatin1String(key)) ? parseLogSwitch(setting(QLatin1String(key), QVariant(), true))
                                                   : std::nullopt;
    };
    const std::optional<bool> threadId = onOff("Loglevel/ThreadID");
    const quint32 nameSize = optional("Loglevel/LoggerNameSize");
    const std::optional<bool> dotted = onOff("Loglevel/LoggerNameDotted");
    const std::optional<bool> separated = onOff("Loglevel/LoggerNameSeparated");

    Kor::LogModule::SetGlobalInfoSeverity(getLogLevel(QStringLiteral("Global")));
    Kor::LogModule::SetInfoSeverity(Kor::LogModule::LogFile, getLogLevel(QStringLiteral("LogFile")));
    if (setting(QStringLiteral("Loglevel/LogFileEnableAsyncWriting"), true, false).toBool())
        Kor::LogModule::LogFileEnableAsyncWriting(
            setting(QStringLiteral("Loglevel/LogFileAsyncBufferSize"), 10485760, false).toInt(), 1024);
    Kor::LogModule::LogFileFlush(setting(QStringLiteral("Loglevel/LogFileFlush"), 1, false).toInt() != 0);
    Kor::LogModule::setLogWarning(setting(QStringLiteral("Loglevel/LogFileWarning"), 100, false).toInt());
    Kor::LogModule::LogFileBufferSize(setting(QStringLiteral("Loglevel/LogFileBufferSize"), 4096, false).toInt());
    if (asService) {
        Kor::LogModule::SetInfoSeverity(Kor::LogModule::Console, Kor::DISABLED);
        Kor::LogModule::SetInfoSeverity(Kor::LogModule::DebugWindow, Kor::DISABLED);
        // Under systemd standard error is the journal; anywhere else the
        // output stays off, so that a service started by hand writes nothing
        // there.
        Kor::LogModule::SetInfoSeverity(Kor::LogModule::Journal, logLevelSetting(QStringLiteral("Journal"), Kor::INFO));
        Kor::LogModule::Enable(Kor::LogModule::Journal, Kor::Platform::standardErrorIsJournal());
    } else {
        Kor::LogModule::SetInfoSeverity(Kor::LogModule::Console, getLogLevel(QStringLiteral("Console")));
        Kor::LogModule::SetInfoSeverity(Kor::LogModule::DebugWindow, getLogLevel(QStringLiteral("DebugWindow")));
    }
    configureHistoryLimits();
    if (threadId.value_or(false))
        Kor::LogModule::EnableThreadID(true, true);
    if (nameSize != Unset)
        Kor::LogModule::SetNameMinSize(int(nameSize));
    if (dotted)
        Kor::LogModule::SetNameDotted(*dotted);
    if (separated)
        Kor::LogModule::SetNameSeparated(*separated);
}

namespace {

// Beyond these a limit is a typing error rather than a wish.
constexpr qint64 MaxHistoryFiles = 1000000;
constexpr qint64 MaxHistoryMegabytes = qint64(1) << 30;

} // namespace

void Application::configureHistoryLimits()
{
    // Neither key is written: without them the history keeps everything.
    auto limit = [this](const char* name, qint64 maximum) -> qint64 {
        const QString key = QLatin1String(name);
        if (!containsSetting(key))
            return 0;
        const QVariant value = setting(key, QVariant(0), true);
        bool ok = false;
        const qint64 n = value.toString().trimmed().toLongLong(&ok);
        if (ok && n >= 0 && n <= maximum)
            return n;
        m_startNotes << QStringLiteral("%1 '%2' is no number from 0 to %3; the history is not limited by it")
                            .arg(key, value.toString())
                            .arg(maximum);
        return 0;
    };
    const qint64 files = limit("Loglevel/LogFileHistoryMaxFiles", MaxHistoryFiles);
    const qint64 megabytes = limit("Loglevel/LogFileHistoryMaxMegabytes", MaxHistoryMegabytes);
    Kor::LogModule::LogFileDeleteMode(int(files));
    Kor::LogModule::LogFileHistoryMaxBytes((unsigned long long)(megabytes) << 20);
}

void Application::reloadLogSettings()
{
    ServiceControl::reportReloading();
    QString path;
    {
        QMutexLocker locker(&s_settingsLock);
        if (!m_settingsFileName.isEmpty() && initSettings())
            path = QFileInfo(m_settings->fileName()).absoluteFilePath();
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
    }
    if (!failure.isEmpty()) {
        coreLog(Kor::ALWAYS, Kor::LOG_WARNING) << "Reloading the log settings from " << path << " failed: " << failure
                                               << "; they stay as they were";
        ServiceControl::reportReloaded();
        return;
    }

    QStringList changes;
    QStringList rejected;
    auto severityKey = [&](const char* name, int current, auto apply) {
        const QString key = QLatin1String(name);
        if (!fresh->contains(key))
            return;
        const QVariant value = fresh->value(key);
        const std::optional<Kor::LogSeverity> parsed = parseLogSeverity(value);
        if (!parsed) {
            rejected << QStringLiteral("%1 '%2' is no log level, %3 stays")
                            .arg(key, value.toString(), severityName(current));
            return;
        }
        if (*parsed == current)
            return;
        apply(*parsed);
        changes << QStringLiteral("%1 %2 -> %3").arg(key, severityName(current), severityName(*parsed));
    };
    severityKey("Global", Kor::LogModule::GetGlobalInfoSeverity(),
                [](int level) { Kor::LogModule::SetGlobalInfoSeverity(level); });
    severityKey("LogFile", Kor::LogModule::GetInfoSeverity(Kor::LogModule::LogFile),
                [](int level) { Kor::LogModule::SetInfoSeverity(Kor::LogModule::LogFile, level); });
    severityKey("Journal", Kor::LogModule::GetInfoSeverity(Kor::LogModule::Journal),
                [](int level) { Kor::LogModule::SetInfoSeverity(Kor::LogModule::Journal, level); });

    auto numberKey = [&](const char* name, long long current, auto apply) {
        const QString key = QLatin1String(name);
        if (!fresh->contains(key))
            return;
        const long long value = fresh->value(key).toLongLong();
        if (value == current)
            return;
        apply(value);
        changes << QStringLiteral("%1 %2 -> %3").arg(key).arg(current).arg(value);
    };
    numberKey("LogFileWarning", Kor::LogModule::getLogWarning(),
              [](long long value) { Kor::LogModule::setLogWarning(int(value)); });
    auto switchKey = [&](const char* name, bool current, auto apply) {
        const QString key = QLatin1String(name);
        if (!fresh->contains(key))
            return;
        const QVariant value = fresh->value(key);
        const std::optional<bool> parsed = parseLogSwitch(value);
        const QString currentText = current ? QStringLiteral("true") : QStringLiteral("false");
        if (!parsed) {
            rejected << QStringLiteral("%1 '%2' is neither true nor false, %3 stays").arg(key, value.toString(), currentText);
            return;
        }
        if (*parsed == current)
            return;
        apply(*parsed);
        changes << QStringLiteral("%1 %2 -> %3").arg(key, currentText, *parsed ? QStringLiteral("true") : QStringLiteral("false"));
    };
    switchKey("ThreadID", Kor::LogModule::ThreadIDEnabled(), [](bool on) { Kor::LogModule::EnableThreadID(on, on); });
    if (fresh->contains(QStringLiteral("LoggerNameSize"))
        && quint32(fresh->value(QStringLiteral("LoggerNameSize")).toULongLong()) != Unset)
        numberKey("LoggerNameSize", Kor::LogModule::GetNameMinSize(),
                  [](long long value) { Kor::LogModule::SetNameMinSize(int(value)); });
    switchKey("LoggerNameDotted", Kor::LogModule::GetNameDotted(), [](bool on) { Kor::LogModule::SetNameDotted(on); });
    switchKey("LoggerNameSeparated", Kor::LogModule::GetNameSeparated(),
              [](bool on) { Kor::LogModule::SetNameSeparated(on); });

    QString summary = changes.isEmpty() ? QStringLiteral("nothing changed") : changes.join(QStringLiteral(", "));
    if (!rejected.isEmpty())
        summary += QStringLiteral("; ") + rejected.join(QStringLiteral("; "));
    coreLog(Kor::ALWAYS, Kor::LOG_INFO) << "Log settings reloaded from " << path << ": " << summary;
    ServiceControl::reportReloaded();
}

} // namespace Kor::NS
