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
#include <cstring>

namespace Kor::detail {

namespace {

constexpr int kMaxBufferSize = 64 * 1024 * 1024;
constexpr int kMaxNameCounter = 10000;

QString fromLocal(const std::string& text)
{
    return QString::fromLocal8Bit(text.data(), qsizetype(text.size()));
}

std::string toLocal(const QString& text)
{
    return text.toLocal8Bit().toStdString();
}

} // namespace

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
    m_lastOpenError = 0;
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
}

void LogFile::write(const char* data, std::size_t size, int date)
{
    std::lock_guard guard(m_mutex);
    if (!ensureOpen(date))
        return;
    // Only forward: a line formatted just before midnight may arrive after
    // one formatted just after it.
    if (m_mode == 1 && date > m_fileDate)
        startNewDay(date);
    if (m_fd < 0)
        return;
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

void LogFile::forgetHistory()
{
    std::lock_guard guard(m_mutex);
    m_historyDone = false;
}

bool LogFile::ensureOpen(int date)
{
    if (m_fd >= 0)
        return true;
    if (!m_openAllowed || m_base.empty())
        return false;
    m_openAllowed = false; // one attempt per switching on, not one per line
    if (m_mode == 1 && !m_historyDone)
        moveToHistory();
    m_historyDone = true;
    return openNow(date);
}

bool LogFile::openNow(int date)
{
    int error = 0;
    const int fd = Platform::openForAppend(path(), error);
    if (fd < 0) {
        if (error != m_lastOpenError) // the same reason again is not news
            writeNotice(("Log file " + path() + " cannot be opened: " + Platform::errorText(error)).c_str());
        m_lastOpenError = error;
        return false;
    }
    m_lastOpenError = 0;
    m_writeFailed = false;
    m_fd = fd;
    m_fileDate = date;
    writeHeader();
    return true;
}

void LogFile::startNewDay(int date)
{
    closeNow();
    moveToHistory();
    openNow(date);
}

void LogFile::writeHeader()
{
    if (m_userData.empty())
        return;
    append(m_userData.data(), m_userData.size());
    append("\n", 1);
}

void LogFile::append(const char* data, std::size_t size)
{
    if (m_used + size > m_buffer.size())
        flushBuffer();
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

void LogFile::writeOut(const char* data, std::size_t size)
{
    if (m_fd < 0)
        return;
    int error = 0;
    if (Platform::writeAll(m_fd, data, size, error)) {
        m_writeFailed = false;
        return;
    }
    // The bytes are lost; the program goes on. Said once until a write
    // succeeds again.
    if (!m_writeFailed)
        writeNotice(("Log file " + path() + " cannot be written: " + Platform::errorText(error)).c_str());
    m_writeFailed = true;
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
    if (m_keep > 0)
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
    const std::size_t slash = m_base.rfind('/');
    const QString base = fromLocal(slash == std::string::npos ? m_base : m_base.substr(slash + 1));
    const QRegularExpression pattern(QStringLiteral("^%1\\.(\\d{8}-\\d{6})(?:_(\\d+))?\\.log$")
                                         .arg(QRegularExpression::escape(base)));
    struct Entry { QString stamp; int counter; QString name; };
    std::vector<Entry> entries;
    QDir dir(fromLocal(folder));
    for (const QString& name : dir.entryList(QDir::Files)) {
        const QRegularExpressionMatch match = pattern.match(name);
        if (match.hasMatch())
            entries.push_back({match.captured(1), match.captured(2).toInt(), name});
    }
    if (entries.size() <= std::size_t(m_keep))
        return;
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.stamp != b.stamp ? a.stamp > b.stamp : a.counter > b.counter;
    });
    for (std::size_t i = std::size_t(m_keep); i < entries.size(); ++i)
        dir.remove(entries[i].name);
}

} // namespace Kor::detail
