#include "LogFile_p.h"

#include "LogFormatter_p.h"
#include "Platform.h"
#include "PlatformFileIo.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <utility>

namespace Kor::detail {

namespace {

constexpr int kMaxBufferSize = 64 * 1024 * 1024;
constexpr int kMaxNameCounter = 10000;
// A failed file is tried again at most this often, so that a full disk does
// not cost an open() per line.
constexpr std::int64_t kReopenIntervalMs = 1000;

constinit std::atomic<LogClock> g_clock{nullptr};

QString fromLocal(const std::string& text)
{
    return QString::fromLocal8Bit(text.data(), qsizetype(text.size()));
}

std::string toLocal(const QString& text)
{
    return text.toLocal8Bit().toStdString();
}

std::uint64_t countLines(const char* data, std::size_t size)
{
    return std::uint64_t(std::count(data, data + size, '\n'));
}

} // namespace

std::vector<std::string> historyToDelete(std::vector<HistoryEntry> entries, int keep, std::uint64_t maxBytes)
{
    std::sort(entries.begin(), entries.end(), [](const HistoryEntry& a, const HistoryEntry& b) {
        if (a.modified != b.modified)
            return a.modified > b.modified;
        return a.stamp != b.stamp ? a.stamp > b.stamp : a.counter > b.counter;
    });
    std::vector<std::string> doomed;
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        total += entries[i].size;
        const bool tooMany = keep > 0 && i >= std::size_t(keep);
        const bool tooLarge = maxBytes > 0 && total > maxBytes;
        if (i > 0 && (tooMany || tooLarge))
            doomed.push_back(entries[i].name);
    }
    return doomed;
}

void setLogFileClock(LogClock clock)
{
    g_clock.store(clock, std::memory_order_relaxed);
}

std::int64_t logClockNow()
{
    if (const LogClock clock = g_clock.load(std::memory_order_relaxed))
        return clock();
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string LogFile::absolutePath(const std::string& path)
{
    if (path.empty())
        return path;
    return toLocal(QDir::current().absoluteFilePath(fromLocal(path)));
}

void LogFile::setBase(const std::string& base)
{
    std::lock_guard guard(m_mutex);
    if (base == m_base)
        return;
    closeNow();
    m_base = base;
    m_historyDone = false;
    forgetFailure();
}

std::string LogFile::base()
{
    std::lock_guard guard(m_mutex);
    return m_base;
}

void LogFile::setUserData(const std::string& text)
{
    std::lock_guard guard(m_mutex);
    m_userData = text;
}

void LogFile::setHistoryFolder(const std::string& folder)
{
    std::lock_guard guard(m_mutex);
    m_historyFolder = folder;
}

void LogFile::setMode(int mode)
{
    std::lock_guard guard(m_mutex);
    m_mode = mode == 1 ? 1 : 0;
}

int LogFile::mode()
{
    std::lock_guard guard(m_mutex);
    return m_mode;
}

void LogFile::setDeleteMode(int keep)
{
    std::lock_guard guard(m_mutex);
    m_keep = std::max(keep, 0);
}

int LogFile::deleteMode()
{
    std::lock_guard guard(m_mutex);
    return m_keep;
}

void LogFile::setHistoryMaxBytes(std::uint64_t bytes)
{
    std::lock_guard guard(m_mutex);
    m_maxBytes = bytes;
}

std::uint64_t LogFile::historyMaxBytes()
{
    std::lock_guard guard(m_mutex);
    return m_maxBytes;
}

void LogFile::setFlush(bool on)
{
    std::lock_guard guard(m_mutex);
    m_flushEach = on;
    if (on)
        flushBuffer();
}

void LogFile::setBufferSize(int bytes)
{
    std::lock_guard guard(m_mutex);
    flushBuffer();
    m_buffer.assign(std::size_t(std::clamp(bytes, 0, kMaxBufferSize)), '\0');
    m_buffer.shrink_to_fit();
}

void LogFile::arm()
{
    std::lock_guard guard(m_mutex);
    m_openAllowed = true;
    m_retryDue = 0;
}

void LogFile::write(const char* data, std::size_t size, int date)
{
    std::lock_guard guard(m_mutex);
    if (m_fd < 0 && !reopen(date)) {
        if (wanted())
            lose(data, size);
        return;
    }
    // Only forward: a line formatted just before midnight may arrive after
    // one formatted just after it.
    if (m_mode == 1 && date > m_fileDate) {
        startNewDay(date);
        if (m_fd < 0) {
            lose(data, size);
            return;
        }
    }
    append(data, size);
    if (m_flushEach)
        flushBuffer();
}

void LogFile::flush()
{
    std::lock_guard guard(m_mutex);
    flushBuffer();
}

void LogFile::close()
{
    std::lock_guard guard(m_mutex);
    closeNow();
    m_openAllowed = false;
}

void LogFile::forgetRun()
{
    std::lock_guard guard(m_mutex);
    m_historyDone = false;
    forgetFailure();
}

bool LogFile::reopen(int date)
{
    if (!wanted() || logClockNow() < m_retryDue)
        return false;
    // History mode: a file left from an earlier day (the output was off, or
    // failing, over midnight) goes into the history first.
    if (m_mode == 1 && (!m_historyDone || date > m_fileDate))
        moveToHistory();
    m_historyDone = true;
    return openNow(date);
}

bool LogFile::openNow(int date)
{
    // Set also when the open fails, so that a failing file is moved at most
    // once a day.
    m_fileDate = date;
    int error = 0;
    m_fd = Platform::openForAppend(path(), error);
    if (m_fd < 0) {
        fail("opened", error);
        return false;
    }
    // Written at once and not counted as lost: the lines that follow must
    // not reach the file without them.
    std::string opening;
    if (m_tornTail)
        opening += '\n';
    if (!m_userData.empty())
        opening += m_userData + '\n';
    if (!m_failureNotice.empty())
        opening += reopenedLine();
    opening += std::exchange(m_historyNotes, std::string());
    if (opening.empty())
        return true;
    writeOut(opening.data(), opening.size(), false);
    if (m_fd < 0)
        return false;
    forgetFailure();
    return true;
}

std::string LogFile::reopenedLine() const
{
    LineBuffer line;
    int date;
    beginLine(line, LOG_WARNING, nullptr, &date);
    const std::string text = "Log file " + path() + " reopened; " + std::to_string(m_lost)
        + (m_lost == 1 ? " line was lost" : " lines were lost");
    line.append(text.data(), text.size());
    endLine(line);
    return std::string(line.data(), line.size());
}

void LogFile::forgetFailure()
{
    m_failureNotice.clear();
    m_lost = 0;
    m_tornTail = false;
    m_retryDue = 0;
}

void LogFile::startNewDay(int date)
{
    closeNow();
    moveToHistory();
    openNow(date);
}

void LogFile::append(const char* data, std::size_t size)
{
    if (m_used + size > m_buffer.size()) {
        flushBuffer();
        if (m_fd < 0) { // the flush failed
            lose(data, size);
            return;
        }
    }
    if (size >= m_buffer.size()) {
        writeOut(data, size);
        return;
    }
    std::memcpy(m_buffer.data() + m_used, data, size);
    m_used += size;
}

void LogFile::flushBuffer()
{
    if (m_used == 0)
        return;
    writeOut(m_buffer.data(), m_used);
    m_used = 0;
}

void LogFile::writeOut(const char* data, std::size_t size, bool counted)
{
    if (m_fd < 0) {
        if (counted)
            lose(data, size);
        return;
    }
    std::size_t written = 0;
    int error = 0;
    if (Platform::writeAll(m_fd, data, size, written, error))
        return;
    // data holds whole lines. Of a part that reached the file, keep the whole
    // lines and take the torn rest back, or the next line would be glued to it.
    const char* end = data + written;
    const char* lastEnd = std::find(std::make_reverse_iterator(end), std::make_reverse_iterator(data), '\n').base();
    const std::size_t kept = std::size_t(lastEnd - data);
    if (kept < written) {
        int cutError = 0;
        if (!Platform::dropWrittenTail(m_fd, written - kept, cutError))
            m_tornTail = true;
    }
    if (counted)
        lose(data + kept, size - kept);
    fail("written", error);
}

void LogFile::fail(const char* action, int error)
{
    Platform::closeFile(m_fd);
    m_fd = -1;
    m_retryDue = logClockNow() + kReopenIntervalMs;
    // Every retry would say it again: once for each reason until the file is back.
    std::string notice = "Log file " + path() + " cannot be " + action + ": " + Platform::errorText(error);
    if (notice == m_failureNotice)
        return;
    writeNotice(notice.c_str());
    m_failureNotice = std::move(notice);
}

void LogFile::lose(const char* data, std::size_t size)
{
    m_lost += countLines(data, size);
}

void LogFile::closeNow()
{
    flushBuffer();
    Platform::closeFile(m_fd);
    m_fd = -1;
}

void LogFile::moveToHistory()
{
    const QString current = fromLocal(path());
    const QFileInfo info(current);
    if (!info.exists())
        return;
    const QString folder = m_historyFolder.empty() ? info.absolutePath() : fromLocal(m_historyFolder);
    QDir().mkpath(folder);
    const std::string stamp = toLocal(info.lastModified().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    const std::string target = historyName(toLocal(folder), stamp);
    if (target.empty())
        return;
    QFile file(current);
    if (!file.rename(fromLocal(target))) {
        writeNotice(("Log file " + path() + " cannot be moved to " + target + ": " + toLocal(file.errorString()))
                        .c_str());
        return;
    }
    if (m_keep > 0 || m_maxBytes > 0)
        pruneHistory(toLocal(folder));
}

std::string LogFile::historyName(const std::string& folder, const std::string& stamp) const
{
    const std::size_t slash = m_base.rfind('/');
    const std::string name = folder + "/" + (slash == std::string::npos ? m_base : m_base.substr(slash + 1))
        + "." + stamp;
    for (int counter = 0; counter < kMaxNameCounter; ++counter) {
        const std::string candidate = counter ? name + "_" + std::to_string(counter) + ".log" : name + ".log";
        if (!QFileInfo::exists(fromLocal(candidate)))
            return candidate;
    }
    return std::string();
}

void LogFile::pruneHistory(const std::string& folder)
{
    // Only names the history mode gives this log's files: the live file and
    // files of other programs in the same folder are never touched.
    const std::size_t slash = m_base.rfind('/');
    const QString base = fromLocal(slash == std::string::npos ? m_base : m_base.substr(slash + 1));
    const QRegularExpression pattern(QStringLiteral("^%1\\.(\\d{8}-\\d{6})(?:_(\\d+))?\\.log$")
                                         .arg(QRegularExpression::escape(base)));
    std::vector<HistoryEntry> entries;
    QDir dir(fromLocal(folder));
    for (const QFileInfo& info : dir.entryInfoList(QDir::Files)) {
        const QRegularExpressionMatch match = pattern.match(info.fileName());
        if (match.hasMatch())
            entries.push_back({toLocal(match.captured(1)), match.captured(2).toInt(), toLocal(info.fileName()),
                               std::uint64_t(info.size()), info.lastModified().toMSecsSinceEpoch()});
    }
    for (const std::string& name : historyToDelete(std::move(entries), m_keep, m_maxBytes)) {
        const std::string path = folder + "/" + name;
        std::string text = dir.remove(fromLocal(name))
            ? "History file " + path + " deleted: the history keeps "
            : "History file " + path + " could not be deleted; the history should keep ";
        text += m_keep > 0 ? "at most " + std::to_string(m_keep) + " files" : std::string();
        if (m_maxBytes > 0)
            text += std::string(m_keep > 0 ? " and " : "") + "at most " + std::to_string(m_maxBytes) + " bytes";
        LineBuffer line;
        int date;
        beginLine(line, LOG_INFO, nullptr, &date);
        line.append(text.data(), text.size());
        endLine(line);
        m_historyNotes.append(line.data(), line.size());
    }
}

} // namespace Kor::detail
