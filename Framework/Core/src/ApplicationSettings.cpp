// The program's INI settings and the log set-up read from them.
#include "Application.h"

#include "CoreLog_p.h"
#include "KorMutexLocker_p.h"

#include <Kor/KorString.h>
#include <Kor/LogModule.h>

#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>

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

const char* const SeverityNames[] = { "TRACE", "DEBUG", "INFO", "ALWAYS", "DISABLED" };

// The log module's file modes: history files, and none of them deleted.
constexpr int HistoryMode = 1;
constexpr int KeepAllHistory = 0;

// 4294967295 in the low 32 bits means "leave the module's default".
constexpr quint32 Unset = 0xFFFFFFFFu;

} // namespace

QString severityName(int severity)
{
    return QLatin1String(severity >= 0 && severity < 4 ? SeverityNames[severity] : "DISABLED");
}

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
    const QString key = QLatin1String("Loglevel/") + name;
    const QVariant value = setting(key, QVariant(QStringLiteral("TRACE")), false);
    const QString text = value.toString().toUpper();
    for (int i = 0; i <= Kor::DISABLED; ++i)
        if (text == QLatin1String(SeverityNames[i]))
            return Kor::LogSeverity(i);
    const int n = value.toInt();
    const Kor::LogSeverity severity = n >= 0 && n <= Kor::DISABLED ? Kor::LogSeverity(n) : Kor::TRACE;
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
    const bool threadId = setting(QStringLiteral("Loglevel/ThreadID"), false, true).toBool();
    auto optional = [this](const char* key) {
        return quint32(setting(QLatin1String(key), QVariant(qulonglong(Unset)), true).toULongLong());
    };
    const quint32 nameSize = optional("Loglevel/LoggerNameSize");
    const quint32 dotted = optional("Loglevel/LoggerNameDotted");
    const quint32 separated = optional("Loglevel/LoggerNameSeparated");

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
    } else {
        Kor::LogModule::SetInfoSeverity(Kor::LogModule::Console, getLogLevel(QStringLiteral("Console")));
        Kor::LogModule::SetInfoSeverity(Kor::LogModule::DebugWindow, getLogLevel(QStringLiteral("DebugWindow")));
    }
    if (threadId)
        Kor::LogModule::EnableThreadID(true, true);
    if (nameSize != Unset)
        Kor::LogModule::SetNameMinSize(int(nameSize));
    if (dotted != Unset)
        Kor::LogModule::SetNameDotted(dotted != 0);
    if (separated != Unset)
        Kor::LogModule::SetNameSeparated(separated != 0);
}

} // namespace Kor::NS
