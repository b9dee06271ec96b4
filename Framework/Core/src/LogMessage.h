#pragma once

#include "KorCoreExport.h"

#include <Kor/KorString.h>
#include <Kor/LogObject.h>
#include <Kor/LogTypes.h>
#include <Kor/Uuid.h>

#include <QByteArray>
#include <QChar>
#include <QDateTime>
#include <QLatin1String>
#include <QString>
#include <QStringView>
#include <QVariant>
#include <QtGlobal>

namespace Kor::NS {

// One log line, built in stream style and handed to the log module when the
// message is destroyed. Whether it will be written is decided once, in the
// constructor; a message that will not be written collects nothing.
class KORCORE_EXPORT LogMessage
{
public:
    LogMessage(Kor::LogObject* logObject, const Kor::String& name, Kor::LogSeverity severity,
               Kor::LogEntryType level);
    // printf-style initial text (QString::vasprintf rules: %s takes UTF-8).
    LogMessage(Kor::LogObject* logObject, const Kor::String& name, Kor::LogSeverity severity,
               Kor::LogEntryType level, const char* format, ...);
    LogMessage(const LogMessage& other) = default;
    LogMessage& operator=(const LogMessage& other) = default;
    ~LogMessage();

    Kor::LogSeverity getSeverity() const { return m_severity; }
    Kor::LogEntryType getLevel() const { return m_level; }
    QString getText() const { return m_text; }

    LogMessage& operator<<(const QString& value);
    LogMessage& operator<<(const QStringView& value);
    LogMessage& operator<<(const QLatin1String& value);
    LogMessage& operator<<(const char* value);
    LogMessage& operator<<(const QByteArray& value);
    LogMessage& operator<<(const Kor::String& value);
    LogMessage& operator<<(const Kor::Uuid& value);
    LogMessage& operator<<(const Kor::Object& value);
    LogMessage& operator<<(bool value);
    LogMessage& operator<<(char value);
    LogMessage& operator<<(const QChar& value);
    LogMessage& operator<<(short value);
    LogMessage& operator<<(unsigned short value);
    LogMessage& operator<<(int value);
    LogMessage& operator<<(unsigned int value);
    LogMessage& operator<<(long value);
    LogMessage& operator<<(unsigned long value);
    LogMessage& operator<<(long long value);
    LogMessage& operator<<(unsigned long long value);
    LogMessage& operator<<(float value);
    LogMessage& operator<<(double value);
    LogMessage& operator<<(const QDateTime& value);
    LogMessage& operator<<(const QVariant& value);

    // Pattern for every QDateTime a message renders; hosts may change it.
    static QString dateTimeFormat;

private:
    void append(const QString& value);
    static QString render(const QVariant& value);

    Kor::LogSeverity m_severity;
    Kor::LogEntryType m_level;
    QString m_text;
    Kor::LogObject* m_logObject;
    bool m_wouldLog;
    Kor::String m_name;
};

// Bridges Qt's qDebug/qWarning/qFatal output into the log module.
class KORCORE_EXPORT Logging
{
public:
    Logging() = default;
    Logging(const Logging&) = default;
    Logging& operator=(const Logging&) { return *this; }
    Logging& operator=(Logging&&) noexcept { return *this; }

    static void Install();
    static void Uninstall();
    static void SetQDebugSeverity(Kor::LogSeverity severity);
    static void SetQWarningSeverity(Kor::LogSeverity severity);
    static void SetQFatalSeverity(Kor::LogSeverity severity);

private:
    static void MsgHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

    static Kor::LogSeverity s_qDebugSeverity;
    static Kor::LogSeverity s_qWarningSeverity;
    static Kor::LogSeverity s_qFatalSeverity;
};

// The log object named after the current thread, or null for an unnamed thread.
KORCORE_EXPORT Kor::LogObject* currentThreadLogObject();

} // namespace Kor::NS
