#include "KorException.h"

#include <cstring>
#include <new>
#include <utility>

namespace Kor::NS {

KorException::KorException(const char* message)
{
    if (message)
        setText(message, qsizetype(std::strlen(message)));
}

KorException::KorException(const QByteArray& message) : m_byteMessage(message)
{
    // The text ends at the first NUL, as what() would read it anyway.
    setText(message.constData(), qsizetype(std::strlen(message.constData())));
}

KorException::KorException(const QString& message) : KorException(message.toLocal8Bit()) {}

KorException::KorException(const KorException& other)
    : std::exception(other), m_byteMessage(other.m_byteMessage)
{
    if (other.m_text)
        setText(other.m_text, qsizetype(std::strlen(other.m_text)));
}

KorException::KorException(KorException&& other) noexcept
    : std::exception(other), m_byteMessage(std::move(other.m_byteMessage))
{
    // The moved-from exception keeps its text, so it still answers what().
    if (other.m_text)
        setText(other.m_text, qsizetype(std::strlen(other.m_text)));
}

KorException& KorException::operator=(const KorException& other)
{
    if (this != &other) {
        delete[] m_text;
        m_text = nullptr;
        if (other.m_text)
            setText(other.m_text, qsizetype(std::strlen(other.m_text)));
        m_byteMessage = other.m_byteMessage;
    }
    return *this;
}

KorException& KorException::operator=(KorException&& other) noexcept
{
    if (this != &other) {
        delete[] m_text;
        m_text = nullptr;
        if (other.m_text)
            setText(other.m_text, qsizetype(std::strlen(other.m_text)));
        m_byteMessage = std::move(other.m_byteMessage);
    }
    return *this;
}

KorException::~KorException()
{
    delete[] m_text;
}

const char* KorException::what() const noexcept
{
    return m_text ? m_text : "Unknown exception";
}

bool KorException::isNull()
{
    return m_byteMessage.isNull() && *what() == '\0';
}

void KorException::setText(const char* text, qsizetype length) noexcept
{
    // Without memory the exception carries no text rather than throwing.
    m_text = new (std::nothrow) char[length + 1];
    if (m_text) {
        std::memcpy(m_text, text, size_t(length));
        m_text[length] = '\0';
    }
}

} // namespace Kor::NS
