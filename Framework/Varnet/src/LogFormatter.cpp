#include "LogFormatter_p.h"

#include "Platform.h"
#include "PlatformClock.h"
#include "ServiceManager.h"

#include "LogJournal_p.h"

#include <QStringEncoder>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace Kor::detail {

constinit LogLayout g_logLayout;

namespace {

// Per thread, trivially destructible: the date and time text of the current
// second and the thread column, recomputed once a second at most.
struct ThreadCache
{
    std::int64_t second = INT64_MIN;
    int date = 0;
    char stamp[20] = {}; // "yyyy/MM/dd HH:mm:ss"
    std::int64_t nameSecond = INT64_MIN;
    char idText[24] = {};
    std::size_t idSize = 0;
    char name[16] = {};
    std::size_t nameSize = 0;
};
// At a fixed offset from the thread pointer (the library is linked, not
// loaded later): read on every line without a call.
[[gnu::tls_model("initial-exec")]] thread_local ThreadCache t_cache;

void putDigits(char* out, int value, int width)
{
    for (int i = width - 1; i >= 0; --i) {
        out[i] = char('0' + value % 10);
        value /= 10;
    }
}

void refreshSecond(ThreadCache& cache, std::int64_t second)
{
    // Once a second per thread; follows the local zone and its
    // daylight-saving changes. A time the system cannot convert keeps the
    // text of the second before.
    Platform::LocalTime local;
    if (Platform::localTime(second, local)) {
        const int year = local.year < 0 ? 0 : local.year % 10000;
        char* s = cache.stamp;
        putDigits(s, year, 4);
        s[4] = '/';
        putDigits(s + 5, local.month, 2);
        s[7] = '/';
        putDigits(s + 8, local.day, 2);
        s[10] = ' ';
        putDigits(s + 11, local.hour, 2);
        s[13] = ':';
        putDigits(s + 14, local.minute, 2);
        s[16] = ':';
        putDigits(s + 17, local.second, 2);
        cache.date = year * 10000 + local.month * 100 + local.day;
    }
    cache.second = second;
}

void appendThread(LineBuffer& line, ThreadCache& cache, bool withName, std::int64_t second)
{
    if (cache.idSize == 0) {
        const int n = std::snprintf(cache.idText, sizeof cache.idText, "[%lld",
                                    static_cast<long long>(Platform::currentThreadId()));
        cache.idSize = n > 0 ? std::size_t(n) : 0;
    }
    line.append(cache.idText, cache.idSize);
    if (withName) {
        if (cache.nameSecond != second) { // a thread may be renamed while it runs
            const std::string name = Platform::currentThreadName();
            cache.nameSize = std::min(name.size(), sizeof cache.name);
            std::memcpy(cache.name, name.data(), cache.nameSize);
            cache.nameSecond = second;
        }
        if (cache.nameSize) {
            line.append(' ');
            line.append(cache.name, cache.nameSize);
        }
    }
    line.append("] ", 2);
}

void appendName(LineBuffer& line, const char* name, const char* subName)
{
    const std::size_t nameSize = name ? std::strlen(name) : 0;
    // "name.subName" when both are there; a sub-name alone is no name.
    const std::size_t subSize = nameSize && subName ? std::strlen(subName) : 0;
    const std::size_t size = nameSize + (subSize ? subSize + 1 : 0);
    const int minSize = g_logLayout.nameMinSize.load(std::memory_order_relaxed);
    if (size == 0 && minSize <= 0)
        return;
    const bool separated = g_logLayout.nameSeparated.load(std::memory_order_relaxed);
    const std::size_t width = std::size_t(minSize > 0 ? minSize : 0) + (separated ? 2 : 0);
    std::size_t used = 0;
    if (size) {
        if (separated)
            line.append('<');
        line.append(name, nameSize);
        if (subSize) {
            line.append('.');
            line.append(subName, subSize);
        }
        if (separated)
            line.append('>');
        used = size + (separated ? 2 : 0);
    }
    if (used < width) // a nameless line keeps the column blank
        line.append(width - used, size && g_logLayout.nameDotted.load(std::memory_order_relaxed) ? '.' : ' ');
    line.append(' ');
}

} // namespace

LineBuffer::~LineBuffer()
{
    if (m_data != m_inline)
        std::free(m_data);
}

bool LineBuffer::grow(std::size_t needed)
{
    std::size_t capacity = m_capacity;
    while (capacity - m_size < needed)
        capacity *= 2;
    char* data = static_cast<char*>(m_data == m_inline ? std::malloc(capacity) : std::realloc(m_data, capacity));
    if (!data)
        return false;
    if (m_data == m_inline)
        std::memcpy(data, m_inline, m_size);
    m_data = data;
    m_capacity = capacity;
    return true;
}

char* LineBuffer::reserveTail(std::size_t size)
{
    if (m_capacity - m_size < size && !grow(size))
        return nullptr;
    return m_data + m_size;
}

void LineBuffer::append(const char* text, std::size_t size)
{
    if (char* tail = reserveTail(size)) {
        std::memcpy(tail, text, size);
        m_size += size;
    }
}

void LineBuffer::append(std::size_t count, char c)
{
    if (char* tail = reserveTail(count)) {
        std::memset(tail, c, count);
        m_size += count;
    }
}

void beginLine(LineBuffer& line, LogEntryType type, const char* name, int* date)
{
    beginLine(line, type, name, nullptr, date);
}

void beginLine(LineBuffer& line, LogEntryType type, const char* name, const char* subName, int* date)
{
    const std::int64_t ms = Platform::wallClockMs();
    std::int64_t second = ms / 1000;
    int millis = int(ms % 1000);
    if (millis < 0) { // before 1970: keep the milliseconds positive
        millis += 1000;
        --second;
    }
    ThreadCache& cache = t_cache;
    if (cache.second != second)
        refreshSecond(cache, second);
    *date = cache.date;
    if (g_logLayout.time.load(std::memory_order_relaxed)) {
        char* out = line.reserveTail(24);
        if (out) {
            std::memcpy(out, cache.stamp, 19);
            out[19] = ',';
            putDigits(out + 20, millis, 3);
            out[23] = ' ';
            line.commit(24);
        }
    }
    if (g_logLayout.type.load(std::memory_order_relaxed)) {
        static const char marks[] = "?IWED";
        line.append(marks[type >= LOG_INFO && type <= LOG_DETAIL ? type : 0]);
        line.append(' ');
    }
    if (g_logLayout.threadId.load(std::memory_order_relaxed))
        appendThread(line, cache, g_logLayout.threadName.load(std::memory_order_relaxed), second);
    appendName(line, name, subName);
}

void appendUtf16(LineBuffer& line, const char16_t* text, std::size_t length)
{
    // Plain ASCII, by far the most common text, is copied as it is: it reads
    // the same in every 8-bit encoding.
    std::size_t ascii = 0;
    while (ascii < length && text[ascii] < 0x80)
        ++ascii;
    if (char* tail = line.reserveTail(ascii)) {
        for (std::size_t i = 0; i < ascii; ++i)
            tail[i] = char(text[i]);
        line.commit(ascii);
    }
    // The rest is encoded in pieces that fit the room left, so a line of
    // ordinary length stays in the line's own storage. A piece never ends
    // between the two halves of a surrogate pair.
    constexpr std::size_t kMinPiece = 64;
    QStringEncoder encoder(QStringEncoder::System, QStringEncoder::Flag::Stateless);
    for (std::size_t done = ascii; done < length;) {
        std::size_t piece = std::max(kMinPiece, line.tailRoom() / 4);
        if (piece >= length - done)
            piece = length - done;
        else if (QChar::isHighSurrogate(text[done + piece - 1]))
            --piece;
        const QStringView input(text + done, qsizetype(piece));
        char* tail = line.reserveTail(std::size_t(encoder.requiredSpace(input.size())));
        if (!tail)
            return;
        line.commit(std::size_t(encoder.appendToBuffer(tail, input) - tail));
        done += piece;
    }
}

void appendText(LineBuffer& line, const char* format, va_list args)
{
    if (!format)
        return;
    if (format[0] == '%' && format[1] == 's' && format[2] == '\0') { // the usual case: text formatted before
        const char* text = va_arg(args, const char*);
        if (!text)
            text = "(null)";
        line.append(text, std::strlen(text));
        return;
    }
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(line.reserveTail(0), line.tailRoom(), format, copy);
    va_end(copy);
    if (needed <= 0)
        return;
    if (std::size_t(needed) < line.tailRoom()) {
        line.commit(std::size_t(needed));
        return;
    }
    char* tail = line.reserveTail(std::size_t(needed) + 1);
    if (!tail)
        return;
    std::vsnprintf(tail, std::size_t(needed) + 1, format, args);
    line.commit(std::size_t(needed));
}

void endLine(LineBuffer& line)
{
    if (line.size() == 0 || line.data()[line.size() - 1] != '\n')
        line.append('\n');
}

void writeNotice(const char* text)
{
    LineBuffer line;
    int date;
    beginLine(line, LOG_ERROR, nullptr, &date);
    line.append(text, std::strlen(text));
    endLine(line);
    // Under systemd the journal reads standard output: without its priority
    // in front, an error would be filed as information.
    if (Platform::standardOutputIsJournal()) {
        std::string entry;
        appendJournalEntry(entry, line.data(), line.size(), timeColumnSize(), journalPriority(LOG_ERROR, ALWAYS));
        std::fwrite(entry.data(), 1, entry.size(), stdout);
    } else {
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    std::fflush(stdout);
}

} // namespace Kor::detail
