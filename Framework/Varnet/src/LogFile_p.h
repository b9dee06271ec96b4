#pragma once

// Private to the log module: the log file with its buffer and history files.
// Every function locks the file's own mutex; lines reach it either from the
// logging threads (synchronous writing) or from the writer thread.

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace Kor::detail {

class LogFile
{
public:
    // path made absolute against the current working directory; empty stays
    // empty.
    static std::string absolutePath(const std::string& path);

    // base is the absolute path without ".log". Another base closes the open
    // file.
    void setBase(const std::string& base);
    std::string base();
    // The first line of each file the module starts; none when empty.
    void setUserData(const std::string& text);
    void setHistoryFolder(const std::string& folder);
    void setMode(int mode);
    int mode();
    void setDeleteMode(int keep);
    void setFlush(bool on);
    void setBufferSize(int bytes);

    // The file output was switched on: the next line may open the file,
    // also after an earlier attempt failed.
    void arm();
    // Appends whole lines, all of the same local date (yyyymmdd). Opens the
    // file first when armed; starts a new file when the date moved on in
    // history mode; hands the bytes to the kernel now when flushing is on.
    void write(const char* data, std::size_t size, int date);
    // Hands the buffer to the kernel.
    void flush();
    void close();
    // After a full stop: the next open counts as the first one again.
    void forgetHistory();

private:
    bool ensureOpen(int date);
    bool openNow(int date);
    void startNewDay(int date);
    void writeHeader();
    void append(const char* data, std::size_t size);
    void flushBuffer();
    void writeOut(const char* data, std::size_t size);
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
    bool m_flushEach = true;
    std::vector<char> m_buffer = std::vector<char>(4096);
    std::size_t m_used = 0;

    int m_fd = -1;
    int m_fileDate = 0;
    bool m_openAllowed = false;
    bool m_historyDone = false;
    int m_lastOpenError = 0;
    bool m_writeFailed = false;
};

} // namespace Kor::detail
