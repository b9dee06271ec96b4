#pragma once

#include "KorCoreExport.h"

#include <Kor/KorString.h>
#include <Kor/LogModule.h>
#include <Kor/LogObject.h>
#include <Kor/LogTypes.h>
#include <Kor/Uuid.h>

#include <QByteArray>
#include <QChar>
#include <QDateTime>
#include <QLatin1String>
#include <QMutex>
#include <QString>
#include <QStringView>
#include <QVariant>
#include <QtGlobal>

#include <atomic>

namespace Kor::NS {

// A text that one thread may replace while others read it: assigned and
// read like a QString, each under a lock of its own.
class KORCORE_EXPORT SharedString
{
public:
    SharedString(const QString& text) : m_text(text) {}
    SharedString(const SharedString&) = delete;
    SharedString& operator=(const SharedString&) = delete;
    SharedString& operator=(const QString& text);
    operator QString() const;

private:
    mutable QMutex m_lock;
    QString m_text;
};

// One log line, built in stream style and handed to the log module when the
// message is destroyed. Whether it will be written is decided once, in the
// constructor; a message that will not be written collects nothing.
class KORCORE_EXPORT LogMessage
{
public:
    LogMessage(Kor::LogObject* logObject, const Kor::String& name, Kor::LogSeverity severity,
               Kor::LogEntryType level)
        : m_severity(severity), m_level(level), m_logObject(logObject),
          m_wouldLog(Kor::LogModule::WouldLog(level, severity)), m_name(name)
    {
        if (m_wouldLog)
            takeBuffer();
    }
    // printf-style initial text (QString::vasprintf rules: %s takes UTF-8).
    LogMessage(Kor::LogObject* logObject, const Kor::String& name, Kor::LogSeverity severity,
               Kor::LogEntryType level, const char* format, ...);
    LogMessage(const LogMessage& other) = default;
    LogMessage& operator=(const LogMessage& other) = default;
    ~LogMessage()
    {
        if (m_wouldLog)
            emitLine();
    }

    Kor::LogSeverity getSeverity() const { return m_severity; }
    Kor::LogEntryType getLevel() const { return m_level; }
    QString getText() const { return m_text; }

    // Each operator tests the would-log flag inline, so that a line that is
    // not written costs no call.
    LogMessage& operator<<(const QString& value) { return when(&LogMessage::append, value); }
    LogMessage& operator<<(const QStringView& value) { return when(&LogMessage::appendView, value); }
    LogMessage& operator<<(const QLatin1String& value) { return when(&LogMessage::appendLatin1, value); }
    LogMessage& operator<<(const char* value) { return when(&LogMessage::appendUtf8, value); }
    LogMessage& operator<<(const QByteArray& value) { return when(&LogMessage::appendBytes, value); }
    LogMessage& operator<<(const Kor::String& value) { return when(&LogMessage::appendString, value); }
    LogMessage& operator<<(const Kor::Uuid& value) { return when(&LogMessage::appendUuid, value); }
    LogMessage& operator<<(const Kor::Object& value) { return when(&LogMessage::appendObject, value); }
    LogMessage& operator<<(bool value) { return when(&LogMessage::appendChar, QChar(value ? '1' : '0')); }
    LogMessage& operator<<(char value) { return when(&LogMessage::appendChar, QChar(static_cast<unsigned char>(value))); }
    LogMessage& operator<<(const QChar& value) { return when(&LogMessage::appendChar, value); }
    LogMessage& operator<<(short value) { return when(&LogMessage::appendSigned, qlonglong(value)); }
    LogMessage& operator<<(unsigned short value) { return when(&LogMessage::appendUnsigned, qulonglong(value)); }
    LogMessage& operator<<(int value) { return when(&LogMessage::appendSigned, qlonglong(value)); }
    LogMessage& operator<<(unsigned int value) { return when(&LogMessage::appendUnsigned, qulonglong(value)); }
    LogMessage& operator<<(long value) { return when(&LogMessage::appendSigned, qlonglong(value)); }
    LogMessage& operator<<(unsigned long value) { return when(&LogMessage::appendUnsigned, qulonglong(value)); }
    LogMessage& operator<<(long long value) { return when(&LogMessage::appendSigned, qlonglong(value)); }
    LogMessage& operator<<(unsigned long long value) { return when(&LogMessage::appendUnsigned, qulonglong(value)); }
    LogMessage& operator<<(float value) { return when(&LogMessage::appendDouble, double(value)); }
    LogMessage& operator<<(double value) { return when(&LogMessage::appendDouble, value); }
    LogMessage& operator<<(const QDateTime& value) { return when(&LogMessage::appendDateTime, value); }
    LogMessage& operator<<(const QVariant& value) { return when(&LogMessage::appendVariant, value); }

    // Pattern for every QDateTime a message renders; hosts may change it,
    // also while other threads log.
    static SharedString dateTimeFormat;

private:
    template <class Value, class Arg>
    LogMessage& when(void (LogMessage::*appendFunction)(Arg), const Value& value)
    {
        if (m_wouldLog)
            (this->*appendFunction)(value);
        return *this;
    }

    void append(const QString& value);
    void appendView(const QStringView& value);
    void appendLatin1(const QLatin1String& value);
    void appendUtf8(const char* value);
    void appendUtf8Bytes(const char* data, qsizetype size);
    void appendDigits(bool negative, qulonglong magnitude);
    void appendBytes(const QByteArray& value);
    void appendString(const Kor::String& value);
    void appendUuid(const Kor::Uuid& value);
    void appendObject(const Kor::Object& value);
    void appendChar(const QChar& value);
    void appendSigned(qlonglong value);
    void appendUnsigned(qulonglong value);
    void appendDouble(double value);
    void appendDateTime(const QDateTime& value);
    void appendVariant(const QVariant& value);
    void emitLine();
    // The thread's spare text storage: lent to the message while it collects
    // and given back when it has been emitted, so that lines of ordinary
    // length allocate nothing.
    void takeBuffer();
    void returnBuffer();
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

    static std::atomic<Kor::LogSeverity> s_qDebugSeverity;
    static std::atomic<Kor::LogSeverity> s_qWarningSeverity;
    static std::atomic<Kor::LogSeverity> s_qFatalSeverity;
};

// The log object named after the current thread, or null for an unnamed thread.
KORCORE_EXPORT Kor::LogObject* currentThreadLogObject();

} // namespace Kor::NS
