#include "LogWriter_p.h"

#include "CrashDump.h"
#include "Signals.h"
#include "LogFile_p.h"
#include "LogFormatter_p.h"
#include "Platform.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace Kor::detail {

namespace {

constexpr std::size_t kSpareBatchBytes = 1024 * 1024;
constexpr std::size_t kCompactAfter = 64;
// How long the writer waits for more lines before it counts as idle. Under
// load this spares the callers a wake-up call per line; an idle program
// still sleeps without a timer.
constexpr std::chrono::milliseconds kLinger{1};
// Under steady load the queue rises above the warning level with nearly
// every batch; the warning is repeated at most this often.
constexpr std::int64_t kWarningIntervalMs = 60 * 1000;

} // namespace

bool LogWriter::start(std::size_t capacity, int batchLines)
{
    std::unique_lock lock(m_mutex);
    m_capacity = capacity;
    m_batchLines = batchLines;
    m_space.notify_all(); // a larger queue may let waiting callers in
    if (m_running)
        return true;
    m_running = true;
    m_accepting = true;
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        m_running = false;
        m_accepting = false;
        return false;
    }
    m_active.store(true, std::memory_order_release);
    return true;
}

bool LogWriter::push(const char* data, std::size_t size, int date)
{
    std::unique_lock lock(m_mutex);
    if (m_accepting) {
        warnIfFilling(size);
        while (m_accepting && queued() > 0 && queued() + size > m_capacity) {
            if (m_writerWaiting) // full: do not let the writer linger
                m_work.notify_one();
            ++m_waitingCallers;
            m_space.wait(lock);
            --m_waitingCallers;
        }
    }
    if (!m_accepting) {
        // Stopping: lines queued earlier are still being written; wait for
        // them so that this thread's lines stay in order.
        m_space.wait(lock, [this] { return !m_running; });
        return false;
    }
    enqueue(data, size, date);
    if (m_writerIdle)
        m_work.notify_one();
    return true;
}

void LogWriter::warnIfFilling(std::size_t size)
{
    if (m_warnPercent <= 0 || m_above || m_capacity == 0)
        return;
    const std::size_t fill = queued() + size;
    if (fill * 100 <= std::size_t(m_warnPercent) * m_capacity)
        return;
    m_above = true;
    const std::int64_t now = logClockNow();
    if (m_warnedYet && now - m_warnedAt < kWarningIntervalMs) {
        ++m_unsaidRises;
        return;
    }
    m_warnedYet = true;
    m_warnedAt = now;
    char text[256];
    const int length = std::snprintf(text, sizeof text,
                                     "Log queue above %d%% of its %zu bytes: %zu bytes waiting to be written",
                                     m_warnPercent, m_capacity, queued());
    if (m_unsaidRises > 0 && length > 0 && std::size_t(length) < sizeof text)
        std::snprintf(text + length, sizeof text - std::size_t(length),
                      "; it rose above %d%% %llu more time%s since this was last said", m_warnPercent,
                      static_cast<unsigned long long>(m_unsaidRises), m_unsaidRises == 1 ? "" : "s");
    m_unsaidRises = 0;
    LineBuffer line;
    int date;
    beginLine(line, LOG_WARNING, nullptr, &date);
    line.append(text, std::strlen(text));
    endLine(line);
    enqueue(line.data(), line.size(), date);
}

void LogWriter::enqueue(const char* data, std::size_t size, int date)
{
    Batch* batch = queueEmpty() ? nullptr : m_queue.back();
    if (!batch || batch->lines >= m_batchLines || batch->date != date) {
        if (m_spare.empty()) {
            batch = new Batch;
        } else {
            batch = m_spare.back();
            m_spare.pop_back();
            m_spareBytes -= batch->bytes.capacity();
        }
        batch->date = date;
        m_queue.push_back(batch);
    }
    batch->bytes.append(data, size);
    ++batch->lines;
    m_accepted += size;
}

void LogWriter::drain()
{
    std::unique_lock lock(m_mutex);
    const std::uint64_t target = m_accepted;
    m_work.notify_one(); // a lingering writer need not wait out its time
    m_progress.wait(lock, [&] { return m_written >= target || !m_running; });
}

void LogWriter::stop()
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_running)
            return;
        m_accepting = false;
        m_work.notify_one();
        m_space.notify_all();
    }
    m_thread.join();
}

void LogWriter::setWarning(int percent)
{
    std::lock_guard lock(m_mutex);
    m_warnPercent = percent;
    // A new level is said at its first rise.
    m_above = false;
    m_warnedYet = false;
    m_unsaidRises = 0;
}

int LogWriter::warning()
{
    std::lock_guard lock(m_mutex);
    return m_warnPercent;
}

void LogWriter::run()
{
    Platform::prepareThreadForCrashDump();
    Platform::keepOperatorSignalsAway();
    Platform::setCurrentThreadName("LogWriter");
    std::unique_lock lock(m_mutex);
    for (;;) {
        Batch* batch = takeBatch(lock);
        if (!batch)
            break;
        lock.unlock();
        m_file.write(batch->bytes.data(), batch->bytes.size(), batch->date);
        lock.lock();
        m_written += batch->bytes.size();
        recycle(batch);
        if (m_above && queued() * 200 < std::size_t(m_warnPercent) * m_capacity)
            m_above = false;
        if (m_waitingCallers)
            m_space.notify_all();
        m_progress.notify_all();
    }
    m_running = false;
    m_active.store(false, std::memory_order_release);
    m_space.notify_all();
    m_progress.notify_all();
}

LogWriter::Batch* LogWriter::takeBatch(std::unique_lock<std::mutex>& lock)
{
    // Null once stopping and nothing is left.
    bool lingered = false;
    while (queueEmpty()) {
        if (!m_accepting)
            return nullptr;
        m_writerWaiting = true;
        if (!lingered) {
            lingered = true;
            m_work.wait_for(lock, kLinger);
        } else {
            m_writerIdle = true;
            m_work.wait(lock);
            m_writerIdle = false;
        }
        m_writerWaiting = false;
    }
    return popFront();
}

LogWriter::Batch* LogWriter::popFront()
{
    Batch* batch = m_queue[m_queueHead++];
    if (m_queueHead == m_queue.size()) {
        m_queue.clear(); // keeps the capacity
        m_queueHead = 0;
    } else if (m_queueHead >= kCompactAfter && m_queueHead * 2 >= m_queue.size()) {
        // A queue that never runs empty moves its rest to the front now
        // and then, so that it does not grow without end.
        m_queue.erase(m_queue.begin(), m_queue.begin() + std::ptrdiff_t(m_queueHead));
        m_queueHead = 0;
    }
    return batch;
}

void LogWriter::recycle(Batch* batch)
{
    // Spares are kept up to what a full queue holds, so that a queue that
    // fills and empties again, as with several busy threads, takes nothing
    // new from the heap; a batch that grew unusually large is let go.
    const std::size_t keep = m_capacity + kSpareBatchBytes;
    if (batch->bytes.capacity() > kSpareBatchBytes || m_spareBytes + batch->bytes.capacity() > keep) {
        delete batch;
        return;
    }
    batch->bytes.clear();
    batch->lines = 0;
    m_spareBytes += batch->bytes.capacity();
    m_spare.push_back(batch);
}

} // namespace Kor::detail
