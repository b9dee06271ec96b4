#include "CrashDump.h"

#include "SignalDispatch_p.h"
#include "Signals.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <execinfo.h>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

namespace Kor::Platform {

namespace {

// Everything the handler needs is prepared at install: it must not allocate,
// lock or call into the time zone code.
struct DumpSetup
{
    char prefix[PATH_MAX + 1] = {};
    char executable[PATH_MAX + 1] = {};
};

DumpSetup setup;
volatile sig_atomic_t dumpsEnabled = 0;
bool installed = false;
std::mutex lock;

constexpr std::int64_t secondsPerDay = 24 * 3600;
// A refresh a day keeps at least a year ahead covered.
constexpr int offsetTableDays = 400;

// Read by the handler without a lock: a table is never changed once
// published, only replaced.
std::atomic<const UtcOffsetTable*> dumpClock{nullptr};
static_assert(std::atomic<const UtcOffsetTable*>::is_always_lock_free);
// The table replaced last, under lock. A handler that loaded it just before
// the swap may still read it, so it is freed one refresh (a day) later.
const UtcOffsetTable* retiredDumpClock = nullptr;

void publishDumpClockLocked(std::unique_ptr<UtcOffsetTable> table)
{
    if (!table)
        return; // the table in place is the best we have
    const UtcOffsetTable* replaced = dumpClock.exchange(table.release(), std::memory_order_acq_rel);
    delete retiredDumpClock;
    retiredDumpClock = replaced;
}

bool utcOffsetAt(std::int64_t utcSeconds, std::int32_t* offset)
{
    const time_t instant = static_cast<time_t>(utcSeconds);
    struct tm local = {};
    if (!::localtime_r(&instant, &local))
        return false;
    *offset = static_cast<std::int32_t>(local.tm_gmtoff);
    return true;
}

// The alternate signal stack this thread mapped, if any: taken down when the
// thread ends. This code is linked into more than one library, so each copy
// has its own owner; only the copy that set the stack up frees it.
class AlternateStack
{
public:
    AlternateStack() = default;
    AlternateStack(const AlternateStack&) = delete;
    AlternateStack& operator=(const AlternateStack&) = delete;
    ~AlternateStack() { release(); }

    bool create()
    {
        const long page = ::sysconf(_SC_PAGESIZE);
        const long minimum = ::sysconf(_SC_SIGSTKSZ);
        const std::size_t guard = std::size_t(page > 0 ? page : 4096);
        // Room for the dump writer and the unwinder on top of what the kernel needs.
        std::size_t size = std::size_t(minimum > 0 ? minimum : SIGSTKSZ) + 64 * 1024;
        size = (size + guard - 1) / guard * guard;
        void* mapping = ::mmap(nullptr, guard + size, PROT_READ | PROT_WRITE,
                               MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (mapping == MAP_FAILED)
            return false;
        // The stack grows down: an overflow of the handler hits the guard page
        // instead of whatever lies below.
        ::mprotect(mapping, guard, PROT_NONE);
        stack_t stack = {};
        stack.ss_sp = static_cast<char*>(mapping) + guard;
        stack.ss_size = size;
        if (::sigaltstack(&stack, nullptr) != 0) {
            ::munmap(mapping, guard + size);
            return false;
        }
        m_mapping = mapping;
        m_length = guard + size;
        m_stack = stack.ss_sp;
        return true;
    }

private:
    void release()
    {
        if (!m_mapping)
            return;
        stack_t current = {};
        if (::sigaltstack(nullptr, &current) == 0 && current.ss_sp == m_stack
            && !(current.ss_flags & SS_DISABLE)) {
            stack_t off = {};
            off.ss_flags = SS_DISABLE;
            // Refused while a handler runs on it: then the memory must stay.
            if (::sigaltstack(&off, nullptr) != 0)
                return;
        }
        ::munmap(m_mapping, m_length);
        m_mapping = nullptr;
    }

    void* m_mapping = nullptr;
    std::size_t m_length = 0;
    void* m_stack = nullptr;
};

thread_local AlternateStack threadAlternateStack;

// Formats into a stack buffer and hands it to write(2) when full.
class DumpWriter
{
public:
    explicit DumpWriter(int fd) : m_fd(fd) {}
    ~DumpWriter() { flush(); }

    DumpWriter& text(const char* s)
    {
        while (s && *s)
            put(*s++);
        return *this;
    }
    DumpWriter& decimal(long long value)
    {
        char digits[24];
        int n = 0;
        unsigned long long v = value < 0 ? 0ULL - static_cast<unsigned long long>(value) : value;
        do {
            digits[n++] = char('0' + v % 10);
            v /= 10;
        } while (v);
        if (value < 0)
            put('-');
        while (n)
            put(digits[--n]);
        return *this;
    }
    DumpWriter& hex(unsigned long long value)
    {
        text("0x");
        for (int shift = 60; shift >= 0; shift -= 4)
            put("0123456789abcdef"[(value >> shift) & 0xF]);
        return *this;
    }
    void flush()
    {
        const char* p = m_buffer;
        while (m_used > 0) {
            const ssize_t n = ::write(m_fd, p, static_cast<size_t>(m_used));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            p += n;
            m_used -= int(n);
        }
        m_used = 0;
    }

private:
    void put(char c)
    {
        if (m_used == int(sizeof m_buffer))
            flush();
        m_buffer[m_used++] = c;
    }

    int m_fd;
    int m_used = 0;
    char m_buffer[512];
};

bool isLeapYear(long long year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

struct CivilDate
{
    long long year;
    int month; // 1..12
    int day;   // 1..31
};

// Days since 1970-01-01 to a date of the Gregorian calendar, without the
// time zone code of the C library. Years outside 0..9999 come out as 0.
CivilDate civilDate(long long days)
{
    long long year = 1970;
    for (; days < 0; days += isLeapYear(year) ? 366 : 365)
        --year;
    for (; days >= (isLeapYear(year) ? 366 : 365); ++year)
        days -= isLeapYear(year) ? 366 : 365;
    static const int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int month = 0;
    for (; month < 11; ++month) {
        const int length = monthDays[month] + (month == 1 && isLeapYear(year));
        if (days < length)
            break;
        days -= length;
    }
    return {year < 0 || year > 9999 ? 0 : year, month + 1, int(days) + 1};
}

void putTwo(char* out, int value)
{
    out[0] = char('0' + value / 10 % 10);
    out[1] = char('0' + value % 10);
}

void writeHeader(DumpWriter& out, int signalNumber, const siginfo_t* info)
{
    const char* name = signalName(signalNumber);
    out.text("Crash report of ").text(setup.executable).text("\n");
    out.text("Process id: ").decimal(::getpid()).text("\n");
    out.text("Thread id: ").decimal(::syscall(SYS_gettid)).text("\n");
    out.text("Signal: ").text(name ? name : "?").text(" (").decimal(signalNumber).text(")\n");
    out.text("Signal code: ").decimal(info ? info->si_code : 0).text("\n");
    out.text("Fault address: ").hex(info ? reinterpret_cast<unsigned long long>(info->si_addr) : 0).text("\n");
}

void writeRegisters(DumpWriter& out, const void* context)
{
    if (!context)
        return;
    const auto* uc = static_cast<const ucontext_t*>(context);
    out.text("\nRegisters:\n");
#if defined(__x86_64__)
    static const char* const names[] = {"r8", "r9", "r10", "r11", "r12", "r13", "r14", "r15",
                                        "rdi", "rsi", "rbp", "rbx", "rdx", "rax", "rcx", "rsp",
                                        "rip", "eflags", "csgsfs", "err", "trapno", "oldmask", "cr2"};
    static_assert(sizeof names / sizeof names[0] == NGREG);
    for (int i = 0; i < NGREG; ++i)
        out.text(names[i]).text(" = ").hex(static_cast<unsigned long long>(uc->uc_mcontext.gregs[i])).text("\n");
#elif defined(__aarch64__)
    for (int i = 0; i < 31; ++i)
        out.text("x").decimal(i).text(" = ").hex(uc->uc_mcontext.regs[i]).text("\n");
    out.text("sp = ").hex(uc->uc_mcontext.sp).text("\n");
    out.text("pc = ").hex(uc->uc_mcontext.pc).text("\n");
#else
    (void)uc;
    out.text("(not available on this architecture)\n");
#endif
}

void writeBacktrace(DumpWriter& out, int fd)
{
    out.text("\nBacktrace:\n");
    out.flush();
    void* frames[64];
    const int count = ::backtrace(frames, 64);
    ::backtrace_symbols_fd(frames, count, fd);
}

void writeMemoryMap(DumpWriter& out, int fd)
{
    out.text("\nMemory map:\n");
    out.flush();
    const int maps = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (maps < 0)
        return;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(maps, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
        for (ssize_t done = 0; n > 0 && done < n;) {
            const ssize_t w = ::write(fd, buffer + done, static_cast<size_t>(n - done));
            if (w <= 0 && errno != EINTR)
                break;
            done += w > 0 ? w : 0;
        }
    }
    ::close(maps);
}

// "<prefix>%Y-%m-%d_%H-%M-%S.dmp"; false when it does not fit.
bool dumpFileName(char* out, std::size_t size)
{
    struct timespec now = {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const std::size_t prefixLength = std::strlen(setup.prefix);
    if (prefixLength + 20 + 4 + 1 > size)
        return false;
    std::memcpy(out, setup.prefix, prefixLength);
    const UtcOffsetTable* clock = dumpClock.load(std::memory_order_acquire);
    const std::int64_t local = clock ? localSecondsAt(*clock, now.tv_sec) : now.tv_sec;
    const int timeLength = formatDumpTime(local, out + prefixLength, 20);
    std::memcpy(out + prefixLength + timeLength, ".dmp", 5);
    return true;
}

// Beside the executable where that folder can be written; a service account
// often cannot write there, and then the working directory takes the dumps.
std::string dumpPrefixFor(const std::string& exe)
{
    const std::string prefix = crashDumpPrefix(exe);
    const auto slash = prefix.find_last_of('/');
    if (slash == std::string::npos)
        return prefix;
    const std::string folder = slash == 0 ? std::string("/") : prefix.substr(0, slash);
    if (::access(folder.c_str(), W_OK) == 0)
        return prefix;
    char cwd[PATH_MAX];
    if (!::getcwd(cwd, sizeof cwd))
        return prefix;
    return std::string(cwd) + (cwd[1] ? "/" : "") + prefix.substr(slash + 1);
}

void prepareDumpSetup()
{
    const std::string exe = executablePath();
    const std::string prefix = dumpPrefixFor(exe);
    if (exe.size() < sizeof setup.executable && prefix.size() < sizeof setup.prefix) {
        std::memcpy(setup.executable, exe.c_str(), exe.size() + 1);
        std::memcpy(setup.prefix, prefix.c_str(), prefix.size() + 1);
    }
    publishDumpClockLocked(buildUtcOffsetTable(::time(nullptr)));
    // The first backtrace() loads the unwinder, which must not happen in
    // the handler.
    void* frames[2];
    ::backtrace(frames, 2);
}

} // namespace

bool installCrashHandler()
{
    std::lock_guard guard(lock);
    if (installed)
        return true;
    prepareDumpSetup();
    if (!detail::ensureAlternateStack() || !detail::claimReportSignals(detail::CrashRole))
        return false;
    dumpsEnabled = 1;
    installed = true;
    return true;
}

bool uninstallCrashHandler()
{
    std::lock_guard guard(lock);
    if (!installed)
        return false;
    dumpsEnabled = 0;
    detail::releaseReportSignals(detail::CrashRole);
    installed = false;
    return true;
}

std::string crashDumpFolder()
{
    std::lock_guard guard(lock);
    const std::string prefix = setup.prefix;
    const auto slash = prefix.find_last_of('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? std::string("/") : prefix.substr(0, slash);
}

bool crashHandlerInstalled()
{
    std::lock_guard guard(lock);
    return installed;
}

bool prepareThreadForCrashDump()
{
    // The kernel's per-thread state, not a flag of ours: another copy of this
    // code or a sanitizer may have set the stack up already.
    stack_t current = {};
    if (::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE))
        return true;
    return threadAlternateStack.create();
}

std::unique_ptr<UtcOffsetTable> buildUtcOffsetTable(std::int64_t startUtc)
{
    ::tzset();
    auto table = std::make_unique<UtcOffsetTable>();
    std::int32_t offset = 0;
    if (!utcOffsetAt(startUtc, &offset))
        return nullptr;
    table->changes[table->count++] = {startUtc, offset};
    std::int64_t sampled = startUtc;
    for (int day = 1; day <= offsetTableDays && table->count < UtcOffsetTable::capacity; ++day) {
        const std::int64_t next = startUtc + day * secondsPerDay;
        std::int32_t nextOffset = 0;
        if (!utcOffsetAt(next, &nextOffset))
            break;
        if (nextOffset != offset) {
            // The first second of the new offset lies in (before, after].
            std::int64_t before = sampled;
            std::int64_t after = next;
            while (after - before > 1) {
                const std::int64_t middle = before + (after - before) / 2;
                std::int32_t middleOffset = 0;
                if (utcOffsetAt(middle, &middleOffset) && middleOffset == offset)
                    before = middle;
                else
                    after = middle;
            }
            table->changes[table->count++] = {after, nextOffset};
            offset = nextOffset;
        }
        sampled = next;
    }
    return table;
}

std::int64_t localSecondsAt(const UtcOffsetTable& table, std::int64_t utcSeconds)
{
    const int count = table.count < UtcOffsetTable::capacity ? table.count : UtcOffsetTable::capacity;
    if (count <= 0)
        return utcSeconds;
    // The last change at or before the instant; the first one before the start.
    int found = 0;
    for (int low = 1, high = count - 1; low <= high;) {
        const int middle = low + (high - low) / 2;
        if (table.changes[middle].from <= utcSeconds) {
            found = middle;
            low = middle + 1;
        } else {
            high = middle - 1;
        }
    }
    return utcSeconds + table.changes[found].offset;
}

void refreshDumpClock()
{
    std::lock_guard guard(lock);
    if (installed)
        publishDumpClockLocked(buildUtcOffsetTable(::time(nullptr)));
}

std::string executablePath()
{
    char buffer[PATH_MAX + 1];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

std::string crashDumpPrefix(const std::string& executablePath)
{
    std::string prefix = executablePath;
    if (prefix.size() > 4 && prefix.compare(prefix.size() - 4, 4, ".exe") == 0)
        prefix.resize(prefix.size() - 4);
    return prefix + '.';
}

int formatDumpTime(std::int64_t localSeconds, char* out, int size)
{
    if (!out || size < 20)
        return 0;
    long long days = localSeconds / 86400;
    long long secondOfDay = localSeconds % 86400;
    if (secondOfDay < 0) {
        secondOfDay += 86400;
        --days;
    }
    const CivilDate date = civilDate(days);
    putTwo(out, int(date.year / 100));
    putTwo(out + 2, int(date.year % 100));
    out[4] = '-';
    putTwo(out + 5, date.month);
    out[7] = '-';
    putTwo(out + 8, date.day);
    out[10] = '_';
    putTwo(out + 11, int(secondOfDay / 3600));
    out[13] = '-';
    putTwo(out + 14, int(secondOfDay / 60 % 60));
    out[16] = '-';
    putTwo(out + 17, int(secondOfDay % 60));
    out[19] = '\0';
    return 19;
}

namespace detail {

bool ensureAlternateStack()
{
    return prepareThreadForCrashDump();
}

void writeCrashDumpIfEnabled(int signalNumber, siginfo_t* info, void* context)
{
    if (!dumpsEnabled || !setup.prefix[0])
        return;
    char name[sizeof setup.prefix + 32];
    if (!dumpFileName(name, sizeof name))
        return;
    // A FIFO at that name would block the handler, and a device there must
    // not receive the dump: only a regular file is written, then emptied.
    const int fd = ::open(name, O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    struct stat file = {};
    if (::fstat(fd, &file) != 0 || !S_ISREG(file.st_mode) || ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return;
    }
    {
        DumpWriter out(fd);
        writeHeader(out, signalNumber, info);
        writeRegisters(out, context);
        writeBacktrace(out, fd);
        writeMemoryMap(out, fd);
    }
    ::close(fd);
}

} // namespace detail

} // namespace Kor::Platform
