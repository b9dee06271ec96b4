#include "LogJournal_p.h"

#include "LogFormatter_p.h"

#include <algorithm>
#include <cstring>

namespace Kor::detail {

namespace {

// syslog priorities
constexpr int kNotice = 5;
constexpr int kInfo = 6;
constexpr int kDebug = 7;
constexpr int kWarning = 4;
constexpr int kError = 3;

// "yyyy/MM/dd HH:mm:ss,mmm " as beginLine() writes it.
constexpr std::size_t kTimeColumnSize = 24;

} // namespace

int journalPriority(LogEntryType type, int severity)
{
    int priority = severity >= ALWAYS ? kNotice : severity == INFO ? kInfo : kDebug;
    if (type == LOG_WARNING)
        priority = std::min(priority, kWarning);
    else if (type == LOG_ERROR)
        priority = std::min(priority, kError);
    return priority;
}

void appendJournalEntry(std::string& out, const char* entry, std::size_t size, std::size_t skip, int priority)
{
    const char prefix[4] = {'<', char('0' + priority), '>', '\0'};
    std::size_t begin = std::min(skip, size);
    while (begin < size) {
        const char* newline = static_cast<const char*>(std::memchr(entry + begin, '\n', size - begin));
        const std::size_t end = newline ? std::size_t(newline - entry) + 1 : size;
        out.append(prefix, 3);
        out.append(entry + begin, end - begin);
        begin = end;
    }
    if (!out.empty() && out.back() != '\n')
        out += '\n';
}

std::size_t timeColumnSize()
{
    return g_logLayout.time.load(std::memory_order_relaxed) ? kTimeColumnSize : 0;
}

} // namespace Kor::detail
