#include "LogMessage.h"

#include <Kor/LogModule.h>

#include <QThread>

#include <cstdarg>
#include <cstdlib>

namespace Kor::NS {

namespace {
// Lines carry the position of this class, not of the caller.
constexpr const char* SourceFile = "Framework/Core/src/LogMessage";
}

QString LogMessage::dateTimeFormat = QStringLiteral("yyyy/MM/dd HH:mm:ss,zzz");

LogMessage::LogMessage(Kor::LogObject* logObject, const Kor::String& name, Kor::LogSeverity severity,
                       Kor::LogEntryType level)
    : m_severity(severity), m_level(level), m_logObject(logObject),
      m_wouldLog(Kor::LogModule::WouldLog(level, severity)), m_name(name)
{
}

LogMessage::LogMessage(Kor::LogObject* logObject, const Kor::String& name, Kor::LogSeverity severity,
                       Kor::LogEntryType level, const char* format, ...)
    : LogMessage(logObject, name, severity, level)
{
    if (!m_wouldLog || !format)
        return;
    va_list args;
    va_start(args, format);
    m_text = QString::vasprintf(format, args);
    va_end(args);
}

LogMessage::~LogMessage()
{
    if (!m_wouldLog)
        return;
    // The text travels as the argument of "%s", so per-cent signs in it stay literal.
    const QByteArray bytes = m_text.toLocal8Bit();
    if (m_logObject && !m_name.empty())
        m_logObject->Log(m_name.c_str(), m_level, SourceFile, __LINE__, m_severity, "%s", bytes.constData());
    else if (m_logObject)
        m_logObject->Log(m_level, SourceFile, __LINE__, m_severity, "%s", bytes.constData());
    else
        Kor::LogModule::_LOG(m_level, SourceFile, __LINE__, m_severity, "%s", bytes.constData());
}

void LogMessage::append(const QString& value)
{
    if (m_wouldLog)
        m_text += value;
}

LogMessage& LogMessage::operator<<(const QString& value) { append(value); return *this; }

LogMessage& LogMessage::operator<<(const QStringView& value)
{
    if (m_wouldLog)
        m_text += value;
    return *this;
}

LogMessage& LogMessage::operator<<(const QLatin1String& value)
{
    if (m_wouldLog)
        m_text += value;
    return *this;
}

LogMessage& LogMessage::operator<<(const char* value)
{
    if (m_wouldLog)
        m_text += QString::fromUtf8(value);
    return *this;
}

LogMessage& LogMessage::operator<<(const QByteArray& value)
{
    if (m_wouldLog)
        m_text += QString::fromUtf8(value);
    return *this;
}

LogMessage& LogMessage::operator<<(const Kor::String& value)
{
    if (m_wouldLog)
        m_text += QString::fromUtf8(value.c_str(), qsizetype(value.size()));
    return *this;
}

LogMessage& LogMessage::operator<<(const Kor::Uuid& value)
{
    if (m_wouldLog)
        m_text += QString::fromUtf8(value.toString().c_str());
    return *this;
}

LogMessage& LogMessage::operator<<(const Kor::Object& value)
{
    if (m_wouldLog)
        m_text += QString::fromUtf8(value.toDebugString().c_str());
    return *this;
}

LogMessage& LogMessage::operator<<(bool value)
{
    if (m_wouldLog)
        m_text += QLatin1Char(value ? '1' : '0');
    return *this;
}

LogMessage& LogMessage::operator<<(char value)
{
    if (m_wouldLog)
        m_text += QChar(static_cast<unsigned char>(value));
    return *this;
}

LogMessage& LogMessage::operator<<(const QChar& value)
{
    if (m_wouldLog)
        m_text += value;
    return *this;
}

LogMessage& LogMessage::operator<<(short value) { return *this << qlonglong(value); }
LogMessage& LogMessage::operator<<(unsigned short value) { return *this << qulonglong(value); }
LogMessage& LogMessage::operator<<(int value) { return *this << qlonglong(value); }
LogMessage& LogMessage::operator<<(unsigned int value) { return *this << qulonglong(value); }
LogMessage& LogMessage::operator<<(long value) { return *this << qlonglong(value); }
LogMessage& LogMessage::operator<<(unsigned long value) { return *this << qulonglong(value); }

LogMessage& LogMessage::operator<<(long long value)
{
    if (m_wouldLog)
        m_text += QString::number(value);
    return *this;
}

LogMessage& LogMessage::operator<<(unsigned long long value)
{
    if (m_wouldLog)
        m_text += QString::number(value);
    return *this;
}

LogMessage& LogMessage::operator<<(float value) { return *this << double(value); }

LogMessage& LogMessage::operator<<(double value)
{
    if (m_wouldLog)
        m_text += QString::number(value, 'g', 6);
    return *this;
}

LogMessage& LogMessage::operator<<(const QDateTime& value)
{
    if (m_wouldLog)
        m_text += value.toString(dateTimeFormat);
    return *this;
}

LogMessage& LogMessage::operator<<(const QVariant& value)
{
    if (m_wouldLog)
        m_text += render(value);
    return *this;
}

QString LogMessage::render(const QVariant& value)
{
    switch (value.metaType().id()) {
    case QMetaType::QVariantList: {
        QString out = QStringLiteral("(");
        const QVariantList list = value.toList();
        for (qsizetype i = 0; i < list.size(); ++i) {
            if (i)
                out += QLatin1String(", ");
            out += render(list[i]);
        }
        return out + QLatin1Char(')');
    }
    case QMetaType::QVariantMap: {
        QString out = QStringLiteral("(");
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            out += QLatin1Char('(') + it.key() + QLatin1String(", ") + render(it.value()) + QLatin1Char(')');
        return out + QLatin1Char(')');
    }
    case QMetaType::QVariantHash: {
        QString out = QStringLiteral("(");
        const QVariantHash hash = value.toHash();
        for (auto it = hash.cbegin(); it != hash.cend(); ++it)
            out += QLatin1Char('(') + it.key() + QLatin1String(", ") + render(it.value()) + QLatin1Char(')');
        return out + QLatin1Char(')');
    }
    default:
        return value.toString();
    }
}

Kor::LogSeverity Logging::s_qDebugSeverity = Kor::TRACE;
Kor::LogSeverity Logging::s_qWarningSeverity = Kor::TRACE;
Kor::LogSeverity Logging::s_qFatalSeverity = Kor::ALWAYS;

void Logging::Install() { qInstallMessageHandler(&Logging::MsgHandler); }
void Logging::Uninstall() { qInstallMessageHandler(nullptr); }
void Logging::SetQDebugSeverity(Kor::LogSeverity severity) { s_qDebugSeverity = severity; }
void Logging::SetQWarningSeverity(Kor::LogSeverity severity) { s_qWarningSeverity = severity; }
void Logging::SetQFatalSeverity(Kor::LogSeverity severity) { s_qFatalSeverity = severity; }

void Logging::MsgHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    static const Kor::String emptyName;
    const char* name = nullptr;
    Kor::LogSeverity severity = Kor::TRACE;
    Kor::LogEntryType level = Kor::LOG_INFO;
    switch (type) {
    case QtDebugMsg: name = "qDebug"; severity = s_qDebugSeverity; level = Kor::LOG_INFO; break;
    case QtWarningMsg: name = "qWarning"; severity = s_qWarningSeverity; level = Kor::LOG_WARNING; break;
    case QtFatalMsg: name = "qFatal"; severity = s_qFatalSeverity; level = Kor::LOG_ERROR; break;
    default: return; // critical and info messages are not part of the bridge
    }
    LogMessage(Kor::LogObject::getLogObject(name), emptyName, severity, level) << message;
    if (type == QtFatalMsg) {
        Kor::LogModule::LogFilePrepareStop(); // the line must be on disk before the process goes
        std::abort();
    }
}

Kor::LogObject* currentThreadLogObject()
{
    const QString name = QThread::currentThread()->objectName();
    if (name.isEmpty())
        return nullptr;
    const Kor::String converted = Kor::String::convertBuffer(
        name.utf16(), size_t(name.size()) * sizeof(char16_t), Kor::String::s_defaultCharset,
        Kor::String::Charset_UCS_2, '?');
    return Kor::LogObject::getLogObject(converted.c_str());
}

} // namespace Kor::NS
