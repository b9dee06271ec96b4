#include "ShareStream.h"

#include "PlatformFileLock.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>

namespace Kor {

namespace {
// Buffered text beyond this is written out at once.
constexpr std::size_t MaxPending = 64 * 1024;
constexpr std::size_t ReadChunk = 512;
} // namespace

ShareStream::ShareStream() = default;

ShareStream::~ShareStream()
{
    close();
}

bool ShareStream::open(const char* path, int mode, int share, int permissions)
{
    close();
    m_failed = false;
    m_error = 0;
    if (mode < Mode_Read || mode > Mode_ReadWrite || (share != Share_DenyWrite && share != Share_DenyNone)) {
        setFailure(EINVAL);
        return false;
    }
    int error = 0;
    const bool write = mode & Mode_Write;
    const int fd = Platform::openRegularFile(path, mode & Mode_Read, write, permissions, error);
    if (fd < 0) {
        setFailure(error);
        return false;
    }
    if (write && share == Share_DenyWrite && !Platform::tryLockWholeFile(fd, error)) {
        Platform::closeFile(fd);
        setFailure(error);
        return false;
    }
    m_fd = fd;
    m_mode = mode;
    return true;
}

bool ShareStream::is_linked_at(const char* path) const
{
    return Platform::isLinkedAt(m_fd, path);
}

void ShareStream::close()
{
    if (m_fd < 0)
        return;
    flush();
    Platform::closeFile(m_fd); // releases the lock with the open file description
    m_fd = -1;
    m_mode = 0;
    m_position = 0;
    m_pendingStart = 0;
    m_pending.clear();
    m_readChunk.clear();
}

bool ShareStream::flush()
{
    if (m_fd < 0)
        return false;
    if (m_pending.empty())
        return true;
    int error = 0;
    const std::int64_t end = m_pendingStart + std::int64_t(m_pending.size());
    const bool ok = Platform::writeAllAt(m_fd, m_pending.data(), m_pending.size(), m_pendingStart, error)
                    && Platform::truncateFile(m_fd, end, error);
    m_pending.clear();
    m_readChunk.clear();
    if (!ok)
        setFailure(error);
    return ok;
}

bool ShareStream::writable()
{
    if (m_fd >= 0 && (m_mode & Mode_Write))
        return true;
    setFailure(EBADF);
    return false;
}

void ShareStream::append(const char* bytes, std::size_t length)
{
    if (!writable())
        return;
    if (m_pending.empty())
        m_pendingStart = m_position;
    m_pending.append(bytes, length);
    m_position += std::int64_t(length);
    m_readChunk.clear();
    if (m_pending.size() > MaxPending)
        flush();
}

ShareStream& ShareStream::operator<<(const char* text)
{
    if (text)
        append(text, std::strlen(text));
    return *this;
}

ShareStream& ShareStream::operator<<(const String& text)
{
    append(text.c_str(), text.size());
    return *this;
}

ShareStream& ShareStream::operator<<(char c)
{
    append(&c, 1);
    return *this;
}

ShareStream& ShareStream::operator<<(long long value)
{
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    append(digits, std::size_t(result.ptr - digits));
    return *this;
}

ShareStream& ShareStream::operator<<(unsigned long long value)
{
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    append(digits, std::size_t(result.ptr - digits));
    return *this;
}

int ShareStream::peekByte()
{
    const std::int64_t offset = m_position - m_readChunkStart;
    if (offset >= 0 && offset < std::int64_t(m_readChunk.size()))
        return static_cast<unsigned char>(m_readChunk[std::size_t(offset)]);
    m_readChunk.resize(ReadChunk);
    m_readChunkStart = m_position;
    int error = 0;
    const std::int64_t n = Platform::readAt(m_fd, m_readChunk.data(), ReadChunk, m_position, error);
    m_readChunk.resize(n > 0 ? std::size_t(n) : 0);
    if (n < 0)
        setFailure(error);
    return n > 0 ? static_cast<unsigned char>(m_readChunk[0]) : -1;
}

ShareStream& ShareStream::operator>>(long long& value)
{
    value = 0;
    if (m_fd < 0 || !(m_mode & Mode_Read)) {
        setFailure(EBADF);
        return *this;
    }
    flush();
    int c = peekByte();
    while (c == ' ' || (c >= '\t' && c <= '\r')) {
        ++m_position;
        c = peekByte();
    }
    const bool negative = c == '-';
    if (c == '-' || c == '+') {
        ++m_position;
        c = peekByte();
    }
    // Accumulated negatively so that the smallest value fits as well.
    long long result = 0;
    bool any = false;
    bool overflow = false;
    constexpr long long lowest = std::numeric_limits<long long>::min();
    while (c >= '0' && c <= '9') {
        const int digit = c - '0';
        if (result < (lowest + digit) / 10)
            overflow = true;
        else
            result = result * 10 - digit;
        any = true;
        ++m_position;
        c = peekByte();
    }
    if (!negative && result == lowest)
        overflow = true;
    if (!any || overflow) {
        setFailure(overflow ? ERANGE : EINVAL);
        return *this;
    }
    value = negative ? result : -result;
    return *this;
}

ShareStream& ShareStream::operator>>(int& value)
{
    long long wide = 0;
    *this >> wide;
    value = 0;
    if (wide < std::numeric_limits<int>::min() || wide > std::numeric_limits<int>::max())
        setFailure(ERANGE);
    else
        value = int(wide);
    return *this;
}

void ShareStream::setFailure(int error)
{
    m_failed = true;
    m_error = error;
}

} // namespace Kor
