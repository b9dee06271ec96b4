#pragma once

#include "KorString.h"
#include "VarnetExport.h"

#include <concepts>
#include <cstdint>
#include <string>

namespace Kor {

// A file stream whose opener decides what other openers may do meanwhile.
//
// Open modes (bits): 1 read, 2 write; 3 reads and writes. Opening never
// truncates; with write, a missing file is created with the given
// permissions. Only regular files open.
//
// Share flags: 0x20 lets others read but not write. A writer takes a
// whole-file lock held until close(); while anyone else holds it, another
// write open fails (the stream stays closed). Readers take no lock and always
// get in. The lock goes with its holder, also when that process is killed,
// so a file left behind is simply reused. 0x40 shares everything and takes
// no lock. Other share values are refused.
//
// Writes start at the beginning of the file and overwrite what is there.
// Text is buffered; flush() writes it and then cuts the file off at the end
// of what this stream wrote, so a shorter new content leaves no remains of
// the old. A stream that has written nothing never truncates.
class VARNET_EXPORT ShareStream
{
public:
    enum Mode { Mode_Read = 1, Mode_Write = 2, Mode_ReadWrite = 3 };
    enum Share { Share_DenyWrite = 0x20, Share_DenyNone = 0x40 };

    ShareStream();
    ShareStream(const ShareStream&) = delete;
    ShareStream& operator=(const ShareStream&) = delete;
    ~ShareStream(); // closes, flushing first

    // Closes any file this stream had open first.
    bool open(const char* path, int mode, int share, int permissions);
    bool is_open() const { return m_fd >= 0; }
    // Whether path still names the open file: false when it was removed or
    // replaced since it was opened (a lock on it then keeps nobody out).
    bool is_linked_at(const char* path) const;
    void close();
    // False when writing or truncating failed; the stream then is in fail().
    bool flush();

    ShareStream& operator<<(const char* text);
    ShareStream& operator<<(const String& text);
    ShareStream& operator<<(char c);
    ShareStream& operator<<(long long value);
    ShareStream& operator<<(unsigned long long value);
    template <std::integral T>
        requires(!std::same_as<T, char> && !std::same_as<T, bool>)
    ShareStream& operator<<(T value)
    {
        if constexpr (std::signed_integral<T>)
            return *this << static_cast<long long>(value);
        else
            return *this << static_cast<unsigned long long>(value);
    }

    // Reads one decimal integer: leading white space is skipped, then an
    // optional sign and the digits. Without one, or when it does not fit,
    // value becomes 0 and the stream is in fail().
    ShareStream& operator>>(long long& value);
    ShareStream& operator>>(int& value);

    bool fail() const { return m_failed; }
    // errno value of the last failure, 0 when there was none.
    int error() const { return m_error; }

private:
    bool writable();
    void append(const char* bytes, std::size_t length);
    int peekByte(); // at m_position; -1 at the end or on error
    void setFailure(int error);

    int m_fd = -1;
    int m_mode = 0;
    bool m_failed = false;
    int m_error = 0;
    std::int64_t m_position = 0;    // where the next read or write goes
    std::int64_t m_pendingStart = 0; // file offset of m_pending
    std::string m_pending;           // written but not yet flushed
    std::string m_readChunk;         // bytes read ahead from m_readChunkStart
    std::int64_t m_readChunkStart = 0;
};

} // namespace Kor
