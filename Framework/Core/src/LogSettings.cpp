// The "Loglevel" keys as one value: read, and handed to the log module.
#include "LogSettings_p.h"

#include "LogLevelKeys_p.h"
#include "ServiceManager.h"

#include <Kor/LogModule.h>

#include <QSettings>

namespace Kor::NS {

namespace {

// 4294967295 in the low 32 bits of LoggerNameSize means "leave the module's default".
constexpr quint32 Unset = 0xFFFFFFFFu;

// Beyond these a history limit is a typing error rather than a wish.
constexpr qint64 MaxHistoryFiles = 1000000;
constexpr qint64 MaxHistoryMegabytes = qint64(1) << 30;

QString key(const char* name)
{
    return QLatin1String("Loglevel/") + QLatin1String(name);
}

QString onOffText(bool on)
{
    return on ? QStringLiteral("true") : QStringLiteral("false");
}

} // namespace

bool FileLogSource::contains(const QString& key) { return m_file.contains(key); }

QVariant FileLogSource::value(const QString& key, const QVariant& fallback, bool) { return m_file.value(key, fallback); }

LogSettings LogSettings::inForce() const
{
    LogSettings s = *this;
    s.global = Kor::LogModule::GetGlobalInfoSeverity();
    s.logFile = Kor::LogModule::GetInfoSeverity(Kor::LogModule::LogFile);
    s.console = Kor::LogModule::GetInfoSeverity(Kor::LogModule::Console);
    s.debugWindow = Kor::LogModule::GetInfoSeverity(Kor::LogModule::DebugWindow);
    s.journal = Kor::LogModule::GetInfoSeverity(Kor::LogModule::Journal);
    s.warningPercent = Kor::LogModule::getLogWarning();
    s.threadId = Kor::LogModule::ThreadIDEnabled();
    // The module clamps it.
    s.nameSize = Kor::LogModule::GetNameMinSize();
    s.nameDotted = Kor::LogModule::GetNameDotted();
    s.nameSeparated = Kor::LogModule::GetNameSeparated();
    return s;
}

int LogSettings::startLevel(Source& source, const QString& key, int fallback)
{
    const QVariant value = source.value(key, QVariant(severityName(fallback)), false);
    const std::optional<Kor::LogSeverity> parsed = parseLogSeverity(value);
    const Kor::LogSeverity severity = parsed.value_or(Kor::TRACE);
    // A name is kept as the operator wrote it; everything else is rewritten.
    if (!parsed || value.toString().toUpper() != severityName(severity))
        source.change(key, QVariant(severityName(severity)));
    return severity;
}

LogSettings::Reading LogSettings::read(Source& source, Mode mode, const LogSettings& base, Occasion occasion)
{
    const bool atStart = occasion == Occasion::Start;
    Reading reading{ base, {} };
    LogSettings& s = reading.settings;
    s.mode = mode;

    auto level = [&](const char* name, int& field, int fallback) {
        const QString k = key(name);
        if (atStart) {
            field = startLevel(source, k, fallback);
        } else if (source.contains(k)) {
            const QVariant value = source.value(k, QVariant(), true);
            if (const std::optional<Kor::LogSeverity> parsed = parseLogSeverity(value))
                field = *parsed;
            else
                reading.warnings << QStringLiteral("%1 '%2' is no log level, %3 stays")
                                        .arg(QLatin1String(name), value.toString(), severityName(field));
        }
    };
    // A missing or unreadable switch stays as it is; only a reload says so.
    auto onOff = [&](const char* name, bool& field) {
        const QString k = key(name);
        if (!source.contains(k))
            return;
        const QVariant value = source.value(k, QVariant(), true);
        if (const std::optional<bool> parsed = parseLogSwitch(value))
            field = *parsed;
        else if (!atStart)
            reading.warnings << QStringLiteral("%1 '%2' is neither true nor false, %3 stays")
                                    .arg(QLatin1String(name), value.toString(), onOffText(field));
    };
    // Neither key is written: without them the history keeps everything.
    auto historyLimit = [&](const char* name, qint64 maximum) -> qint64 {
        const QString k = key(name);
        if (!source.contains(k))
            return 0;
        const QVariant value = source.value(k, QVariant(0), true);
        bool ok = false;
        const qint64 n = value.toString().trimmed().toLongLong(&ok);
        if (ok && n >= 0 && n <= maximum)
            return n;
        reading.warnings << QStringLiteral("%1 '%2' is no number from 0 to %3; the history is not limited by it")
                                .arg(k, value.toString())
                                .arg(maximum);
        return 0;
    };

    level("Global", s.global, Kor::TRACE);
    level("LogFile", s.logFile, Kor::TRACE);
    if (atStart) {
        s.asyncWriting = source.value(key("LogFileEnableAsyncWriting"), true, false).toBool();
        if (s.asyncWriting)
            s.asyncBufferSize = source.value(key("LogFileAsyncBufferSize"), 10485760, false).toInt();
        s.flush = source.value(key("LogFileFlush"), 1, false).toInt() != 0;
        s.warningPercent = source.value(key("LogFileWarning"), 100, false).toInt();
        s.bufferSize = source.value(key("LogFileBufferSize"), 4096, false).toInt();
        if (mode == Mode::Service) {
            s.console = Kor::DISABLED;
            s.debugWindow = Kor::DISABLED;
            level("Journal", s.journal, Kor::INFO);
        } else {
            level("Console", s.console, Kor::TRACE);
            level("DebugWindow", s.debugWindow, Kor::TRACE);
        }
        s.historyMaxFiles = historyLimit("LogFileHistoryMaxFiles", MaxHistoryFiles);
        s.historyMaxMegabytes = historyLimit("LogFileHistoryMaxMegabytes", MaxHistoryMegabytes);
    } else {
        if (source.contains(key("LogFileWarning")))
            s.warningPercent = source.value(key("LogFileWarning"), QVariant(), true).toLongLong();
        level("Journal", s.journal, Kor::INFO);
    }
    onOff("ThreadID", s.threadId);
    const QVariant size = source.value(key("LoggerNameSize"), QVariant(qulonglong(Unset)), true);
    const quint32 low = quint32(size.toULongLong());
    if (low != Unset)
        s.nameSize = atStart ? qint64(low) : size.toLongLong();
    onOff("LoggerNameDotted", s.nameDotted);
    onOff("LoggerNameSeparated", s.nameSeparated);
    return reading;
}

namespace {

// Everything the start sets, in the order it always has.
void setUp(const LogSettings& next)
{
    Kor::LogModule::SetGlobalInfoSeverity(next.global);
    Kor::LogModule::SetInfoSeverity(Kor::LogModule::LogFile, next.logFile);
    if (next.asyncWriting)
        Kor::LogModule::LogFileEnableAsyncWriting(next.asyncBufferSize, 1024);
    Kor::LogModule::LogFileFlush(next.flush);
    Kor::LogModule::setLogWarning(int(next.warningPercent));
    Kor::LogModule::LogFileBufferSize(next.bufferSize);
    Kor::LogModule::SetInfoSeverity(Kor::LogModule::Console, next.console);
    Kor::LogModule::SetInfoSeverity(Kor::LogModule::DebugWindow, next.debugWindow);
    if (next.mode == LogSettings::Mode::Service) {
        // Under systemd standard error is the journal; anywhere else the
        // output stays off, so that a service started by hand writes nothing
        // there.
        Kor::LogModule::SetInfoSeverity(Kor::LogModule::Journal, next.journal);
        Kor::LogModule::Enable(Kor::LogModule::Journal, Kor::Platform::standardErrorIsJournal());
    }
    Kor::LogModule::LogFileDeleteMode(int(next.historyMaxFiles));
    Kor::LogModule::LogFileHistoryMaxBytes((unsigned long long)(next.historyMaxMegabytes) << 20);
    if (next.threadId)
        Kor::LogModule::EnableThreadID(true, true);
    Kor::LogModule::SetNameMinSize(int(next.nameSize));
    Kor::LogModule::SetNameDotted(next.nameDotted);
    Kor::LogModule::SetNameSeparated(next.nameSeparated);
}

} // namespace

QString LogSettings::apply(const LogSettings& next, const LogSettings* previous)
{
    if (!previous) {
        setUp(next);
        return {};
    }
    const LogSettings& was = *previous;
    QStringList changes;
    auto changed = [&](auto LogSettings::*field, const char* name, auto text) {
        if (next.*field == was.*field)
            return false;
        changes << QStringLiteral("%1 %2 -> %3").arg(QLatin1String(name), text(was.*field), text(next.*field));
        return true;
    };
    auto level = [&](int LogSettings::*field, const char* name, int output) {
        if (!changed(field, name, severityName))
            return;
        if (output)
            Kor::LogModule::SetInfoSeverity(output, next.*field);
        else
            Kor::LogModule::SetGlobalInfoSeverity(next.*field);
    };
    const auto number = [](qint64 n) { return QString::number(n); };

    level(&LogSettings::global, "Global", 0);
    level(&LogSettings::logFile, "LogFile", Kor::LogModule::LogFile);
    level(&LogSettings::console, "Console", Kor::LogModule::Console);
    level(&LogSettings::debugWindow, "DebugWindow", Kor::LogModule::DebugWindow);
    level(&LogSettings::journal, "Journal", Kor::LogModule::Journal);
    if (changed(&LogSettings::warningPercent, "LogFileWarning", number))
        Kor::LogModule::setLogWarning(int(next.warningPercent));
    if (changed(&LogSettings::threadId, "ThreadID", onOffText))
        Kor::LogModule::EnableThreadID(next.threadId, next.threadId);
    if (changed(&LogSettings::nameSize, "LoggerNameSize", number))
        Kor::LogModule::SetNameMinSize(int(next.nameSize));
    if (changed(&LogSettings::nameDotted, "LoggerNameDotted", onOffText))
        Kor::LogModule::SetNameDotted(next.nameDotted);
    if (changed(&LogSettings::nameSeparated, "LoggerNameSeparated", onOffText))
        Kor::LogModule::SetNameSeparated(next.nameSeparated);
    return changes.isEmpty() ? QStringLiteral("nothing changed") : changes.join(QStringLiteral(", "));
}

} // namespace Kor::NS
