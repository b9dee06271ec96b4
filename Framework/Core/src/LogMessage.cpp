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

SharedString LogMessage::dateTimeFormat(QStringLiteral("yyyy/MM/dd HH:mm:ss,zzz"));

SharedString& SharedString::operator=(const QString& text)
{
    QMutexLocker locker(&m_lock);
    m_text = text;
    return *this;
}

SharedString::operator QString() const
{
    QMutexLocker locker(&m_lock);
    return m_text;
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

void LogMessage::emitLine()
{
    // The text travels as the argument of "%s", so per-cent signs in it stay literal.
    const QByteArray bytes = m_text.toLocal8Bit();
    if (m_logObject && !m_name.empty())
        m_logObject->Log(m_name.c_str(), m_level, SourceFile, __LINE__, m_severity, "%s", bytes.constData());
    else if (m_logObject)
        m_logObject->Log(m_level, SourceFile, __LINE__, m_severity, "%s", bytes.constData());
    else
        Kor::LogModule::_LOG(m_level, SourceFile, __LINE__, m_severity, "%s", bytes.constData());
}

void LogMessage::append(const QString& value) { m_text += value; }
void LogMessage::appendView(const QStringView& value) { m_text += value; }
void LogMessage::appendLatin1(const QLatin1String& value) { m_text += value; }
void LogMessage::appendUtf8(const char* value) { m_text += QString::fromUtf8(value); }
void LogMessage::appendBytes(const QByteArray& value) { m_text += QString::fromUtf8(value); }

void LogMessage::appendString(const Kor::String& value)
{
    m_text += QString::fromUtf8(value.c_str(), qsizetype(value.size()));
}

void LogMessage::appendUuid(const Kor::Uuid& value) { m_text += QString::fromUtf8(value.toString().c_str()); }
void LogMessage::appendObject(const Kor::Object& value) { m_text += QString::fromUtf8(value.toDebugString().c_str()); }
void LogMessage::appendChar(const QChar& value) { m_text += value; }
void LogMessage::appendSigned(qlonglong value) { m_text += QString::number(value); }
void LogMessage::appendUnsigned(qulonglong value) { m_text += QString::number(value); }
void LogMessage::appendDouble(double value) { m_text += QString::number(value, 'g', 6); }
void LogMessage::appendDateTime(const QDateTime& value) { m_text += value.toString(QString(dateTimeFormat)); }
void LogMessage::appendVariant(const QVariant& value) { m_text += render(value); }

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

std::atomic<Kor::LogSeverity> Logging::s_qDebugSeverity{Kor::TRACE};
std::atomic<Kor::LogSeverity> Logging::s_qWarningSeverity{Kor::TRACE};
std::atomic<Kor::LogSeverity> Logging::s_qFatalSeverity{Kor::ALWAYS};

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
