#pragma once

// Private to the log module: the layout switches and the formatting of one
// line. Nothing here takes a lock.

#include "LogTypes.h"

#include <atomic>
#include <cstdarg>
#include <cstddef>

namespace Kor::detail {

struct LogLayout
{
    std::atomic<bool> time{true};
    std::atomic<bool> type{true};
    std::atomic<bool> threadId{false};
    std::atomic<bool> threadName{false};
    std::atomic<int> nameMinSize{0};
    std::atomic<bool> nameDotted{false};
    std::atomic<bool> nameSeparated{false};
};
// Trivially destructible, so it outlives every static destructor.
extern constinit LogLayout g_logLayout;

// A line under construction: on the stack for ordinary lines, on the heap
// only for long ones, so that no allocation is made per line and nothing
// thread-local has to survive the thread's destructors.
class LineBuffer
{
public:
    LineBuffer() = default;
    ~LineBuffer();
    LineBuffer(const LineBuffer&) = delete;
    LineBuffer& operator=(const LineBuffer&) = delete;

    const char* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    void clear() { m_size = 0; }
    void append(const char* text, std::size_t size);
    void append(char c) { append(&c, 1); }
    void append(std::size_t count, char c);
    // Room for at least size more bytes after the end; commit() takes them.
    // Returns null when no memory could be had.
    char* reserveTail(std::size_t size);
    void commit(std::size_t size) { m_size += size; }
    // Capacity after the end without growing.
    std::size_t tailRoom() const { return m_capacity - m_size; }

private:
    bool grow(std::size_t needed);

    char m_inline[512];
    char* m_data = m_inline;
    std::size_t m_size = 0;
    std::size_t m_capacity = sizeof m_inline;
};

// Appends the columns before the text: time, type mark, thread and logger
// name, as the layout switches say. *date is the line's local date as
// yyyymmdd, also when the time column is off.
void beginLine(LineBuffer& line, LogEntryType type, const char* name, int* date);
// The same with the logger name "name.subName"; subName may be null or empty.
void beginLine(LineBuffer& line, LogEntryType type, const char* name, const char* subName, int* date);
// Appends the printf-formatted text, however long.
void appendText(LineBuffer& line, const char* format, va_list args);
// Appends UTF-16 text in the local 8-bit encoding, as QString::toLocal8Bit
// would give it.
void appendUtf16(LineBuffer& line, const char16_t* text, std::size_t length);
// Ends the line with a line feed unless the text already ends with one.
void endLine(LineBuffer& line);

// Tells the operator about a problem of the module itself (the log file
// cannot be opened, written or moved): one error line on standard output,
// whatever the console output's switches.
void writeNotice(const char* text);

} // namespace Kor::detail
