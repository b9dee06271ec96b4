#pragma once

// Private to the log module: the asynchronous writer. Logging threads put
// whole lines into a bounded queue; one thread takes them out in batches and
// writes them into the log file.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Kor::detail {

class LogFile;

class LogWriter
{
public:
    explicit LogWriter(LogFile& file) : m_file(file) {}

    // Starts the writer thread, or changes the limits of the running one.
    // capacity: bytes queued at most; batchLines: lines per write at most.
    bool start(std::size_t capacity, int batchLines);
    bool active() const { return m_active.load(std::memory_order_acquire); }
    // Queues one line; waits while it does not fit. false: no writer takes
    // lines (any more), the caller writes the line itself; by then every
    // line queued before has been written, so the order is kept.
    bool push(const char* data, std::size_t size, int date);
    // Waits until every line queued before the call has been written.
    void drain();
    // Writes what is queued and ends the thread.
    void stop();
    void setWarning(int percent);
    int warning();

private:
    struct Batch
    {
        std::string bytes;
        int lines = 0;
        int date = 0;
    };

    void run();
    void warnIfFilling(std::size_t size);
    void enqueue(const char* data, std::size_t size, int date);
    Batch* takeBatch(std::unique_lock<std::mutex>& lock);
    bool queueEmpty() const { return m_queueHead == m_queue.size(); }
    Batch* popFront();
    void recycle(Batch* batch);
    std::size_t queued() const { return std::size_t(m_accepted - m_written); }

    LogFile& m_file;
    std::mutex m_mutex;
    std::condition_variable m_work;    // writer: something to write, or stop
    std::condition_variable m_space;   // callers: room in the queue, or writer gone
    std::condition_variable m_progress;  // drain(): bytes were written
    // Batches waiting, oldest first from m_queueHead on. Kept in a vector
    // whose storage is reused: a deque would take and free a block of
    // memory every few dozen batches.
    std::vector<Batch*> m_queue;
    std::size_t m_queueHead = 0;
    std::vector<Batch*> m_spare;
    std::size_t m_spareBytes = 0; // capacity held by the spares
    std::uint64_t m_accepted = 0; // bytes ever queued
    std::uint64_t m_written = 0;  // bytes ever written; the difference is the queue's fill
    std::size_t m_capacity = 0;
    int m_batchLines = 1;
    int m_warnPercent = 100;
    // The queue went above the warning level and has not fallen below half
    // of it since.
    bool m_above = false;
    bool m_warnedYet = false;
    std::int64_t m_warnedAt = 0;     // log clock time of the last warning
    std::uint64_t m_unsaidRises = 0; // rises above the level since then
    bool m_running = false;   // the thread runs
    bool m_accepting = false; // new lines go into the queue
    bool m_writerWaiting = false; // lingering or idle
    bool m_writerIdle = false;    // waits for a wake-up call
    int m_waitingCallers = 0;
    std::atomic<bool> m_active{false};
    std::thread m_thread;
};

} // namespace Kor::detail
