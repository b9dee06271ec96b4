#pragma once

// Private to the log module: the log file with its buffer and history files.
// Every function locks the file's own mutex; lines reach it either from the
// logging threads (synchronous writing) or from the writer thread.
//
// When the file cannot be opened or written, it is closed; the lines that
// arrive meanwhile are counted, not kept, and the next line after a second
// tries to open it again. The operator hears of the failure once, on
// standard output; the file, once open again, says how many lines it missed.
// A write that fails part-way is cut back to its last whole line, so the file
// never holds half a line with another one glued to it.

#include "VarnetExport.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace Kor::detail {

// A history file of this log. Its modification time gives the order, newest
// first: the local time in its name goes back when the zone or daylight
// saving time changes. Of files modified in the same millisecond, the name's
// time stamp and counter tell which is newer.
struct HistoryEntry
{
    std::string stamp; // yyyyMMdd-HHmmss
    int counter = 0;   // the _n before ".log", 0 without
    std::string name;
    std::uint64_t size = 0;
    std::int64_t modified = 0; // milliseconds since the epoch
};
// The names of the history files to delete: those beyond the newest keep
// (0: no limit) and those that, with all newer ones, hold more than
// maxBytes (0: no limit). The newest file is always kept.
VARNET_EXPORT std::vector<std::string> historyToDelete(std::vector<HistoryEntry> entries, int keep,
                                                       std::uint64_t maxBytes);

// Milliseconds of a monotonic clock.
using LogClock = std::int64_t (*)();
// For tests: the clock that paces the attempts to reopen the log file and the
// warnings about a filling queue; null goes back to the steady clock.
VARNET_EXPORT void setLogFileClock(LogClock clock);
// Now on that clock.
std::int64_t logClockNow();

class LogFile
{
public:
    // path made absolute against the current working directory; empty stays
    // empty.
    static std::string absolutePath(const std::string& path);

    // base is the absolute path without ".log". Another base closes the open
    // file and forgets an earlier failure.
    void setBase(const std::string& base);
    std::string base();
    // The first line of each file the module opens; none when empty.
    void setUserData(const std::string& text);
    void setHistoryFolder(const std::string& folder);
    void setMode(int mode);
    int mode();
    void setDeleteMode(int keep);
    int deleteMode();
    void setHistoryMaxBytes(std::uint64_t bytes);
    std::uint64_t historyMaxBytes();
    void setFlush(bool on);
    void setBufferSize(int bytes);

    // The file output was switched on: lines may open the file, and the next
    // one tries at once, also when an attempt failed a moment ago.
    void arm();
    // Appends whole lines, all of the same local date (yyyymmdd). Opens the
    // file first when armed; starts a new file when the date moved on in
    // history mode; hands the bytes to the kernel now when flushing is on.
    void write(const char* data, std::size_t size, int date);
    // Hands the buffer to the kernel.
    void flush();
    // Closes the file; lines no longer open it until arm().
    void close();
    // After a full stop: the next open counts as the first one again, and
    // lines lost before are forgotten.
    void forgetRun();

private:
    bool wanted() const { return m_openAllowed && !m_base.empty(); }
    bool reopen(int date);
    bool openNow(int date);
    void startNewDay(int date);
    void append(const char* data, std::size_t size);
    void flushBuffer();
    // counted: lines that do not reach the file count as lost.
    void writeOut(const char* data, std::size_t size, bool counted = true);
    void fail(const char* action, int error);
    void lose(const char* data, std::size_t size);
    std::string reopenedLine() const;
    void forgetFailure();
    void closeNow();
    std::string path() const { return m_base + ".log"; }
    void moveToHistory();
    std::string historyName(const std::string& folder, const std::string& stamp) const;
    void pruneHistory(const std::string& folder);

    std::mutex m_mutex;
    std::string m_base;
    std::string m_userData;
    std::string m_historyFolder;
    int m_mode = 0;
    int m_keep = 0;
    std::uint64_t m_maxBytes = 0;
    // Lines about deleted history files, for the top of the next file.
    std::string m_historyNotes;
    bool m_flushEach = true;
    std::vector<char> m_buffer = std::vector<char>(4096);
    std::size_t m_used = 0;

    int m_fd = -1;
    int m_fileDate = 0; // of the file at the path, as far as this module made it
    bool m_openAllowed = false;
    bool m_historyDone = false;

    // Failure state, touched only while the file is failing or coming back.
    std::string m_failureNotice; // the last one said; empty while the file is fine
    std::uint64_t m_lost = 0;    // lines not written since the failure
    bool m_tornTail = false;     // a torn line could not be cut off; end it first
    std::int64_t m_retryDue = 0; // clock time of the next attempt to open
};

} // namespace Kor::detail
