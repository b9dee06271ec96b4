#include "LogMessage.h"

#include <Kor/LogModule.h>

#include <QStringDecoder>
#include <QThread>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace Kor::NS {

namespace {
// Lines carry the position of this class, not of the caller.
constexpr const char* SourceFile = "Framework/Core/src/LogMessage";

// Text storage kept per thread between two messages. The first capacity
// holds most lines without growing; storage that one long line made larger
// than the limit is let go rather than kept for the thread's life.
constexpr qsizetype kFirstCapacity = 256;
constexpr qsizetype kMaxKeptCapacity = 4096;

// The holder's destructor runs at thread exit. The two plain fields stay
// readable after it, so a message built by a later thread-local destructor
// finds no spare storage and uses its own.
// The library is linked, not loaded later, so its thread-local data can
// sit at a fixed offset from the thread pointer: read without a call.
enum class SpareState : unsigned char { Unused, Live, Gone };
[[gnu::tls_model("initial-exec")]] thread_local SpareState t_spareState = SpareState::Unused;
[[gnu::tls_model("initial-exec")]] thread_local QString* t_spare = nullptr;

struct SpareHolder
{
    QString text;
    SpareHolder() { text.reserve(kFirstCapacity); }
    ~SpareHolder()
    {
        t_spareState = SpareState::Gone;
        t_spare = nullptr;
    }
};

QString* threadSpare()
{
    if (t_spareState == SpareState::Unused) {
        thread_local SpareHolder holder;
        t_spare = &holder.text;
        t_spareState = SpareState::Live;
    }
    return t_spare;
}

// Decodes each piece as QString::fromUtf8 would: stray bytes become
// replacement characters and a leading byte-order mark is dropped.
QStringDecoder utf8Decoder()
{
    return QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
}
} // namespace

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

void LogMessage::takeBuffer()
{
    QString* spare = threadSpare();
    if (spare && !spare->isNull())
        m_text.swap(*spare);
}

void LogMessage::returnBuffer()
{
    // A nested message on this thread may have given its storage back first;
    // a copied message shares its text with the copy.
    QString* spare = threadSpare();
    if (!spare || !spare->isNull() || !m_text.isDetached() || m_text.capacity() > kMaxKeptCapacity)
        return;
    m_text.resize(0);
    spare->swap(m_text);
}

void LogMessage::emitLine()
{
    // The characters go to the module as they are: its line is the only copy
    // of the 8-bit text, and no printf pass can take per-cent signs for
    // conversions. The log object's name and the message's name make the
    // logger name, as the log object's own operations would.
    const char* objectName = m_logObject ? m_logObject->getName().c_str() : nullptr;
    const char* subName = m_logObject && !m_name.empty() ? m_name.c_str() : nullptr;
    Kor::LogModule::LogUtf16(m_level, SourceFile, __LINE__, m_severity, objectName, subName,
                             reinterpret_cast<const char16_t*>(m_text.utf16()), std::size_t(m_text.size()));
    returnBuffer();
}

void LogMessage::append(const QString& value) { m_text += value; }
void LogMessage::appendView(const QStringView& value) { m_text += value; }
void LogMessage::appendLatin1(const QLatin1String& value) { m_text += value; }

void LogMessage::appendUtf8(const char* value)
{
    if (value)
        appendUtf8Bytes(value, qsizetype(std::strlen(value)));
}

void LogMessage::appendBytes(const QByteArray& value) { appendUtf8Bytes(value.constData(), value.size()); }

void LogMessage::appendString(const Kor::String& value)
{
    appendUtf8Bytes(value.c_str(), qsizetype(value.size()));
}

void LogMessage::appendUtf8Bytes(const char* data, qsizetype size)
{
    if (size <= 0)
        return;
    // Decoded straight into the text's own storage.
    QStringDecoder decoder = utf8Decoder();
    const qsizetype start = m_text.size();
    m_text.resize(start + decoder.requiredSpace(size));
    const QChar* end = decoder.appendToBuffer(m_text.data() + start, QByteArrayView(data, size));
    m_text.resize(end - m_text.constData());
}

void LogMessage::appendUuid(const Kor::Uuid& value)
{
    char text[Kor::Uuid::TextSize];
    value.writeText(text);
    m_text += QLatin1String(text, qsizetype(sizeof text));
}

void LogMessage::appendObject(const Kor::Object& value) { m_text += QString::fromUtf8(value.toDebugString().c_str()); }
void LogMessage::appendChar(const QChar& value) { m_text += value; }

void LogMessage::appendDigits(bool negative, qulonglong magnitude)
{
    char16_t digits[21]; // the 20 digits of the largest value and a sign
    char16_t* const end = std::end(digits);
    char16_t* first = end;
    do {
        *--first = char16_t(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (negative)
        *--first = u'-';
    m_text += QStringView(first, end);
}

void LogMessage::appendSigned(qlonglong value)
{
    // Negated as unsigned, so the most negative value has its magnitude too.
    appendDigits(value < 0, value < 0 ? 0 - qulonglong(value) : qulonglong(value));
}

void LogMessage::appendUnsigned(qulonglong value) { appendDigits(false, value); }
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
