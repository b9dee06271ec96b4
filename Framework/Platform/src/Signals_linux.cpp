#include "Signals.h"

#include "Console.h"
#include "SignalDispatch_p.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <unistd.h>

namespace Kor::Platform {

namespace {

constexpr int closingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGABRT};
constexpr int reportSignals[] = {SIGILL, SIGFPE, SIGSEGV, SIGBUS};

struct Slot
{
    struct sigaction previous = {}; // what was there before we first took the signal
    bool taken = false;
    volatile sig_atomic_t roles = 0;
};

Slot dispositions[NSIG];
int pipeFds[2] = {-1, -1};
std::atomic<std::atomic<bool>*> quitFlag{nullptr};
// While a service dispatcher runs, SIGTERM records go here instead.
int stopPipeFds[2] = {-1, -1};
std::atomic<bool> stopRouted{false};
// SIGHUP is the service manager's reload request.
std::atomic<bool> hangupReloads{false};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<std::atomic<bool>*>::is_always_lock_free,
              "the handler may only touch lock-free atomics");
bool signalsInstalled = false;
// Guards installation only; handlers never lock.
std::mutex installLock;

constexpr unsigned char recordMagic[2] = {'K', 'S'};
// How long a SIGABRT leaves the main thread to write its closing line before
// the process ends by the signal anyway: the loop may be the thing that hung.
constexpr unsigned abortGraceSeconds = 2;

void postRecord(int fd, int signalNumber)
{
    const unsigned char record[signalRecordSize] = {
        recordMagic[0], recordMagic[1], static_cast<unsigned char>(signalNumber),
        static_cast<unsigned char>(~signalNumber)};
    // A full pipe drops the record; the loop is behind on earlier ones anyway.
    const ssize_t unused = ::write(fd, record, sizeof record);
    (void)unused;
}

void postRecord(int signalNumber)
{
    postRecord(pipeFds[1], signalNumber);
}

// Reads what a non-blocking record pipe holds: bytes read, 0 for none, -1
// on error.
int readRecords(int fd, unsigned char* out, int max)
{
    if (fd < 0 || !out || max <= 0)
        return -1;
    const ssize_t n = ::read(fd, out, static_cast<size_t>(max));
    if (n >= 0)
        return int(n);
    return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
}

bool isRaisedByProcess(const siginfo_t* info)
{
    // Codes from user space (SI_USER, SI_TKILL, SI_QUEUE, ...) are not
    // positive; the kernel's fault codes are.
    return info && info->si_code <= 0;
}

bool isFunction(const struct sigaction& action)
{
    if (action.sa_flags & SA_SIGINFO)
        return action.sa_sigaction != nullptr;
    return action.sa_handler != SIG_DFL && action.sa_handler != SIG_IGN;
}

void setDefault(int signalNumber)
{
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signalNumber, &action, nullptr);
}

void callPrevious(const struct sigaction& previous, int signalNumber, siginfo_t* info, void* context)
{
    if (previous.sa_flags & SA_SIGINFO)
        previous.sa_sigaction(signalNumber, info, context);
    else
        previous.sa_handler(signalNumber);
}

// A raised report signal while only the crash role listens: do what the
// previous disposition would have done.
void actAsPrevious(int signalNumber, siginfo_t* info, void* context)
{
    const struct sigaction& previous = dispositions[signalNumber].previous;
    if (isFunction(previous)) {
        callPrevious(previous, signalNumber, info, context);
    } else if (previous.sa_handler == SIG_DFL) {
        // Blocked while we run; delivered with the default action on return.
        setDefault(signalNumber);
        ::raise(signalNumber);
    }
}

// Returning into a fault re-runs the faulting instruction, so the default
// action is put in place first: the process ends by the signal, whatever
// the previous handler does.
void handleFault(int signalNumber, siginfo_t* info, void* context)
{
    restoreTerminal();
    detail::writeCrashDumpIfEnabled(signalNumber, info, context);
    const struct sigaction previous = dispositions[signalNumber].previous;
    setDefault(signalNumber);
    if (isFunction(previous))
        callPrevious(previous, signalNumber, info, context);
}

// Safe in a handler: sigaction, pthread_sigmask and raise all are.
void raiseWithDefaultAction(int signalNumber)
{
    setDefault(signalNumber);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signalNumber);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(signalNumber);
}

void endByAbortNow(int)
{
    raiseWithDefaultAction(SIGABRT);
}

// SIGABRT is what the service manager's watchdog sends to a hung program, and
// what abort() raises; either way the process must end by it. The dump is
// written here, where the aborted thread's registers are at hand; the main
// thread logs the closing line and ends the process, or the alarm does when
// the main thread does not come to it.
void closeByAbort(siginfo_t* info, void* context)
{
    detail::writeCrashDumpIfEnabled(SIGABRT, info, context);
    struct sigaction action = {};
    action.sa_handler = endByAbortNow;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGALRM, &action, nullptr);
    ::alarm(abortGraceSeconds);
}

void dispatch(int signalNumber, siginfo_t* info, void* context)
{
    const int savedErrno = errno;
    const SignalKind kind = signalKind(signalNumber);
    if (signalNumber == SIGTERM && stopRouted.load(std::memory_order_acquire)) {
        postRecord(stopPipeFds[1], signalNumber);
    } else if (kind == SignalKind::Reload) {
        postRecord(signalNumber);
    } else if (kind == SignalKind::Closing) {
        restoreTerminal();
        if (std::atomic<bool>* flag = quitFlag.load(std::memory_order_acquire))
            flag->store(true, std::memory_order_release);
        if (signalNumber == SIGABRT)
            closeByAbort(info, context);
        postRecord(signalNumber);
    } else if (!isRaisedByProcess(info)) {
        handleFault(signalNumber, info, context);
    } else if (dispositions[signalNumber].roles & detail::SignalRole) {
        postRecord(signalNumber);
    } else {
        actAsPrevious(signalNumber, info, context);
    }
    errno = savedErrno;
}

bool installDispatcher(int signalNumber, int flags)
{
    struct sigaction action = {};
    action.sa_sigaction = dispatch;
    action.sa_flags = SA_SIGINFO | SA_RESTART | flags;
    // No handled signal interrupts another one of ours.
    sigemptyset(&action.sa_mask);
    for (int s : closingSignals)
        sigaddset(&action.sa_mask, s);
    for (int s : reportSignals)
        sigaddset(&action.sa_mask, s);
    Slot& slot = dispositions[signalNumber];
    struct sigaction old = {};
    if (::sigaction(signalNumber, &action, &old) != 0)
        return false;
    if (!slot.taken)
        slot.previous = old;
    slot.taken = true;
    return true;
}

bool claimUnlocked(int role)
{
    for (int s : reportSignals) {
        if (!installDispatcher(s, SA_ONSTACK))
            return false;
        dispositions[s].roles = dispositions[s].roles | role;
    }
    return true;
}

bool createPipe()
{
    if (pipeFds[0] >= 0)
        return true;
    return ::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) == 0;
}

} // namespace

SignalKind signalKind(int signalNumber)
{
    if (signalNumber == SIGHUP && hangupReloads.load(std::memory_order_acquire))
        return SignalKind::Reload;
    for (int s : closingSignals)
        if (s == signalNumber)
            return SignalKind::Closing;
    for (int s : reportSignals)
        if (s == signalNumber)
            return SignalKind::Report;
    return SignalKind::Other;
}

const char* signalName(int signalNumber)
{
    switch (signalNumber) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    case SIGQUIT: return "SIGQUIT";
    case SIGABRT: return "SIGABRT";
    case SIGILL: return "SIGILL";
    case SIGFPE: return "SIGFPE";
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    default: return nullptr;
    }
}

bool installSignalHandlers()
{
    std::lock_guard guard(installLock);
    if (signalsInstalled)
        return true;
    if (!createPipe() || !detail::ensureAlternateStack())
        return false;
    for (int s : closingSignals)
        if (!installDispatcher(s, SA_RESETHAND))
            return false;
    if (!claimUnlocked(detail::SignalRole))
        return false;
    signalsInstalled = true;
    return true;
}

bool signalHandlersInstalled()
{
    std::lock_guard guard(installLock);
    return signalsInstalled;
}

bool useHangupForReload()
{
    if (!installSignalHandlers())
        return false;
    std::lock_guard guard(installLock);
    // Set before the new disposition: a SIGHUP in between is already a reload.
    hangupReloads.store(true, std::memory_order_release);
    return installDispatcher(SIGHUP, 0);
}

void setQuitFlag(std::atomic<bool>* flag)
{
    quitFlag.store(flag, std::memory_order_release);
}

bool routeStopControl(bool on)
{
    std::lock_guard guard(installLock);
    if (on && stopPipeFds[0] < 0 && ::pipe2(stopPipeFds, O_NONBLOCK | O_CLOEXEC) != 0)
        return false;
    stopRouted.store(on, std::memory_order_release);
    return true;
}

bool closingSignalEndsProcess(int signalNumber)
{
    return signalNumber == SIGABRT;
}

void endBySignal(int signalNumber)
{
    raiseWithDefaultAction(signalNumber);
    std::_Exit(128 + signalNumber); // ignored or caught elsewhere: end all the same
}

void keepOperatorSignalsAway()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaddset(&set, signalNumber);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void ignoreBrokenPipe()
{
    struct sigaction action = {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGPIPE, &action, nullptr);
}

int SignalRecords::fd() const
{
    return m_pipe == SignalPipe::StopControl ? stopPipeFds[0] : pipeFds[0];
}

std::vector<int> SignalRecords::take()
{
    std::vector<int> signalNumbers;
    unsigned char buffer[16 * signalRecordSize];
    // A multiple of the record size: the handlers write whole records
    // atomically, so none is split between two reads.
    for (;;) {
        const int n = readRecords(fd(), buffer, int(sizeof buffer));
        for (int offset = 0; offset + signalRecordSize <= n; offset += signalRecordSize) {
            int signalNumber = 0;
            if (decodeSignalRecord(buffer + offset, signalRecordSize, &signalNumber))
                signalNumbers.push_back(signalNumber);
        }
        if (n < int(sizeof buffer))
            return signalNumbers;
    }
}

bool decodeSignalRecord(const unsigned char* record, int size, int* signalNumber)
{
    if (!record || size != signalRecordSize)
        return false;
    if (record[0] != recordMagic[0] || record[1] != recordMagic[1])
        return false;
    if (static_cast<unsigned char>(~record[2]) != record[3] || signalKind(record[2]) == SignalKind::Other)
        return false;
    if (signalNumber)
        *signalNumber = record[2];
    return true;
}

namespace detail {

bool claimReportSignals(int role)
{
    std::lock_guard guard(installLock);
    return claimUnlocked(role);
}

void releaseReportSignals(int role)
{
    std::lock_guard guard(installLock);
    for (int s : reportSignals) {
        Slot& slot = dispositions[s];
        slot.roles = slot.roles & ~role;
        if (slot.roles == 0 && slot.taken) {
            ::sigaction(s, &slot.previous, nullptr);
            slot.taken = false;
        }
    }
}

} // namespace detail

} // namespace Kor::Platform
