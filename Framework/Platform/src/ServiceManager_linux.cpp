#include "ServiceManager.h"

#include "PlatformFileIo.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <ctime>
#include <unistd.h>

extern char** environ;

namespace Kor::Platform {

namespace {

constexpr std::string_view unitSuffix = ".service";
constexpr std::string_view defaultUnitDirectory = "/etc/systemd/system";
constexpr std::string_view defaultSystemctl = "systemctl";
constexpr mode_t unitFileMode = 0644;
constexpr int restartDelaySeconds = 60;
// How often a child that closed its output is looked at when the kernel
// offers no process descriptor to wait on.
constexpr int childPollFallbackMs = 20;

std::string environmentValue(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

bool isAsciiAlnum(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool hasLineBreakOrNul(const std::string& s)
{
    return s.find_first_of(std::string_view("\n\r\0", 3)) != std::string::npos;
}

// Each mark written twice: how unit file settings keep a literal '%'
// (specifiers) or '\\' (C escapes, where a setting takes them).
std::string doubled(const std::string& s, char mark)
{
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        out += c;
        if (c == mark)
            out += mark;
    }
    return out;
}

std::string escapeSpecifiers(const std::string& s)
{
    return doubled(s, '%');
}

// systemd refuses to run an executable whose path holds a quote, a
// backslash or a control character, however it is escaped.
bool isRunnablePath(const std::string& path)
{
    for (char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7f || c == '"' || c == '\'' || c == '\\')
            return false;
    }
    return !path.empty() && path[0] == '/';
}

// The executable as the first word of ExecStart=: quoted so that blanks stay
// in the path. Only arguments have their '$' expanded, so the path keeps it.
std::string quotedExecPath(const std::string& path)
{
    return '"' + escapeSpecifiers(path) + '"';
}

std::string parentFolder(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool isPlainFileName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos
        && name.find('\0') == std::string::npos;
}

void syncFolder(const std::string& directory)
{
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd); // best effort: the rename itself has happened either way
        ::close(fd);
    }
}

bool writeAll(int fd, const std::string& text, int& error)
{
    std::size_t written = 0;
    return Platform::writeAll(fd, text.data(), text.size(), written, error);
}

// Moves from to to unless to exists. renameat2 does that in one step; file
// systems without it get a hard link, which also never replaces anything.
bool renameNoReplace(const std::string& from, const std::string& to, int& error)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) {
        error = errno;
        return false;
    }
    if (::link(from.c_str(), to.c_str()) != 0) {
        error = errno;
        return false;
    }
    ::unlink(from.c_str());
    return true;
}

int openProcessFd(pid_t pid)
{
#ifdef SYS_pidfd_open
    return int(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

void drainInto(int& fd, std::string& sink)
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            sink.append(buffer, std::size_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || errno != EAGAIN) {
            ::close(fd);
            fd = -1;
        }
        return;
    }
}

// Ends a child that may have started children of its own: it leads its own
// process group, so the whole group goes.
void killGroup(pid_t pid)
{
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
}

} // namespace

std::string systemdUnitName(const std::string& serviceName)
{
    if (serviceName.empty())
        return {};
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(serviceName.size() * 4 + unitSuffix.size());
    for (std::size_t i = 0; i < serviceName.size(); ++i) {
        const auto c = static_cast<unsigned char>(serviceName[i]);
        if (isAsciiAlnum(c) || c == ':' || c == '_' || (c == '.' && i > 0)) {
            out += char(c);
        } else {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 0xf];
        }
    }
    out += unitSuffix;
    return out;
}

std::string notifyStatus(const std::string& text)
{
    std::string out = "STATUS=" + text;
    for (char& c : out) {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
    return out;
}

std::string notifyExtendTimeout(std::uint64_t microseconds)
{
    return "EXTEND_TIMEOUT_USEC=" + std::to_string(microseconds);
}

std::string notifyMainPid(std::int64_t pid)
{
    return "MAINPID=" + std::to_string(pid);
}

std::string notifyMessage(std::initializer_list<std::string_view> assignments)
{
    std::string out;
    for (std::string_view a : assignments) {
        if (!out.empty())
            out += '\n';
        out += a;
    }
    return out;
}

std::string notifyReloading(std::uint64_t monotonicMicroseconds)
{
    return "RELOADING=1\nMONOTONIC_USEC=" + std::to_string(monotonicMicroseconds);
}

std::uint64_t monotonicMicroseconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::uint64_t(now.tv_sec) * 1000000u + std::uint64_t(now.tv_nsec) / 1000u;
}

namespace {

// A whole decimal number without sign, blanks or anything after it.
bool parseUnsigned(std::string_view text, std::uint64_t& value)
{
    if (text.empty() || text.size() > 20)
        return false;
    std::uint64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        const std::uint64_t digit = std::uint64_t(c - '0');
        if (result > (UINT64_MAX - digit) / 10)
            return false;
        result = result * 10 + digit;
    }
    value = result;
    return true;
}

} // namespace

WatchdogSetting watchdogSetting(const char* watchdogUsec, const char* watchdogPid, std::int64_t ownPid)
{
    WatchdogSetting setting;
    if (!watchdogUsec)
        return setting;
    setting.text = watchdogUsec;
    std::uint64_t pid = 0;
    // An unset or empty WATCHDOG_PID means the whole service, so us too.
    if (watchdogPid && *watchdogPid && (!parseUnsigned(watchdogPid, pid) || std::int64_t(pid) != ownPid)) {
        setting.kind = WatchdogSetting::OtherProcess;
        return setting;
    }
    std::uint64_t interval = 0;
    if (!parseUnsigned(setting.text, interval) || interval == 0) {
        setting.kind = WatchdogSetting::Invalid;
        return setting;
    }
    setting.kind = WatchdogSetting::On;
    setting.intervalUs = interval;
    return setting;
}

WatchdogSetting watchdogFromEnvironment()
{
    return watchdogSetting(std::getenv("WATCHDOG_USEC"), std::getenv("WATCHDOG_PID"), std::int64_t(::getpid()));
}

bool parseJournalStream(std::string_view text, std::uint64_t& device, std::uint64_t& inode)
{
    const auto colon = text.find(':');
    if (colon == std::string_view::npos)
        return false;
    return parseUnsigned(text.substr(0, colon), device) && parseUnsigned(text.substr(colon + 1), inode);
}

namespace {
bool isJournalStream(int fd)
{
    const char* value = std::getenv("JOURNAL_STREAM");
    std::uint64_t device = 0, inode = 0;
    if (!value || !parseJournalStream(value, device, inode))
        return false;
    struct stat st{};
    if (::fstat(fd, &st) != 0)
        return false;
    return std::uint64_t(st.st_dev) == device && std::uint64_t(st.st_ino) == inode;
}
} // namespace

bool standardErrorIsJournal()
{
    return isJournalStream(STDERR_FILENO);
}

bool standardOutputIsJournal()
{
    return isJournalStream(STDOUT_FILENO);
}

bool notifySocketPresent()
{
    const char* value = std::getenv("NOTIFY_SOCKET");
    return value && *value;
}

bool sendNotify(const std::string& message, int& error)
{
    const std::string address = environmentValue("NOTIFY_SOCKET");
    if (address.empty()) {
        error = ENXIO;
        return false;
    }
    if (message.empty() || (address[0] != '/' && address[0] != '@')) {
        error = EINVAL;
        return false;
    }
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    socklen_t length;
    if (address[0] == '@') {
        // Abstract names are not NUL-terminated: the address length says
        // where the name ends, and any byte more would be part of it.
        if (address.size() > sizeof sa.sun_path) {
            error = ENAMETOOLONG;
            return false;
        }
        std::memcpy(sa.sun_path, address.data(), address.size());
        sa.sun_path[0] = '\0';
        length = socklen_t(offsetof(sockaddr_un, sun_path) + address.size());
    } else {
        if (address.size() >= sizeof sa.sun_path) {
            error = ENAMETOOLONG;
            return false;
        }
        std::memcpy(sa.sun_path, address.data(), address.size());
        length = socklen_t(offsetof(sockaddr_un, sun_path) + address.size() + 1);
    }

    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = errno;
        return false;
    }
    ssize_t sent;
    do {
        sent = ::sendto(fd, message.data(), message.size(), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&sa), length);
    } while (sent < 0 && errno == EINTR);
    const int sendError = errno;
    ::close(fd);
    if (sent < 0) {
        error = sendError;
        return false;
    }
    if (std::size_t(sent) != message.size()) {
        error = EMSGSIZE; // a datagram is sent whole or not at all; be safe anyway
        return false;
    }
    return true;
}

std::string systemdUnitText(const UnitDescription& unit)
{
    if (unit.serviceName.empty() || !isRunnablePath(unit.executablePath))
        return {};
    if (hasLineBreakOrNul(unit.serviceName) || hasLineBreakOrNul(unit.user))
        return {};
    std::vector<std::string> dependencyUnits;
    for (const std::string& dependency : unit.dependencies) {
        const std::string name = systemdUnitName(dependency);
        if (name.empty())
            return {};
        dependencyUnits.push_back(name);
    }

    std::string text = "[Unit]\n";
    text += "Description=" + escapeSpecifiers(unit.serviceName) + '\n';
    for (const std::string& name : dependencyUnits)
        text += "After=" + name + '\n';
    for (const std::string& name : dependencyUnits)
        text += "Requires=" + name + '\n';
    if (unit.automaticStart)
        text += "StartLimitIntervalSec=0\n";

    text += "\n[Service]\n";
    // SIGHUP makes a running service re-read its log settings. A manager
    // that knows notify-reload sends it itself and waits for READY=1.
    text += unit.notifyReload ? "Type=notify-reload\n" : "Type=notify\n";
    text += "NotifyAccess=main\n";
    text += "ExecStart=" + quotedExecPath(unit.executablePath) + " -service\n";
    if (!unit.notifyReload)
        text += "ExecReload=/bin/kill -HUP $MAINPID\n";
    const bool watchdog = unit.watchdogSeconds > 0;
    if (watchdog) {
        text += "WatchdogSec=" + std::to_string(unit.watchdogSeconds) + '\n';
        // The watchdog ends a hung program with SIGABRT; one that does not
        // end from that is killed soon after.
        text += "TimeoutAbortSec=10s\n";
    }
    // WorkingDirectory= takes the rest of the line as the path and does not
    // unquote it: blanks are written as they are.
    text += "WorkingDirectory=" + escapeSpecifiers(parentFolder(unit.executablePath)) + '\n';
    // The folder is named as the unit is; systemd reads "\\" as one backslash.
    std::string runtimeDirectory = systemdUnitName(unit.serviceName);
    runtimeDirectory.resize(runtimeDirectory.size() - unitSuffix.size());
    text += "RuntimeDirectory=" + doubled(runtimeDirectory, '\\') + '\n';
    if (!unit.user.empty())
        text += "User=" + escapeSpecifiers(unit.user) + '\n';
    if (unit.automaticStart || watchdog)
        text += "Restart=on-failure\n";
    if (unit.automaticStart)
        text += "RestartSec=" + std::to_string(restartDelaySeconds) + '\n';
    // Every unit can be enabled; the install enables only automatic ones.
    text += "\n[Install]\n";
    text += "WantedBy=multi-user.target\n";
    return text;
}

std::string systemdUnitDirectory()
{
    const std::string dir = environmentValue("KOR_SYSTEMD_UNIT_DIR");
    return dir.empty() ? std::string(defaultUnitDirectory) : dir;
}

UnitFileResult writeUnitFile(const std::string& directory, const std::string& unitName,
                             const std::string& text, int& error)
{
    if (directory.empty() || !isPlainFileName(unitName)) {
        error = EINVAL;
        return UnitFileResult::Failed;
    }
    const std::string target = directory + "/" + unitName;
    struct stat st{};
    if (::lstat(target.c_str(), &st) == 0)
        return UnitFileResult::AlreadyExists;

    // A leading dot keeps the manager from reading the file before it is whole.
    std::string temporary = directory + "/." + unitName + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return UnitFileResult::Failed;
    }
    bool ok = writeAll(fd, text, error);
    if (ok && ::fchmod(fd, unitFileMode) != 0) {
        error = errno;
        ok = false;
    }
    if (ok && ::fsync(fd) != 0) {
        error = errno;
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        error = errno;
        ok = false;
    }
    if (ok && !renameNoReplace(temporary, target, error))
        ok = false;
    if (!ok) {
        const bool exists = error == EEXIST;
        ::unlink(temporary.c_str());
        return exists ? UnitFileResult::AlreadyExists : UnitFileResult::Failed;
    }
    syncFolder(directory);
    return UnitFileResult::Written;
}

bool removeUnitFile(const std::string& directory, const std::string& unitName, int& error)
{
    if (directory.empty() || !isPlainFileName(unitName)) {
        error = EINVAL;
        return false;
    }
    if (::unlink((directory + "/" + unitName).c_str()) != 0) {
        error = errno;
        return false;
    }
    syncFolder(directory);
    return true;
}

std::string systemctlProgram()
{
    const std::string program = environmentValue("KOR_SYSTEMCTL");
    return program.empty() ? std::string(defaultSystemctl) : program;
}

namespace {

// A spawned control program and the ends of its pipes this process reads.
struct RunningCommand {
    pid_t pid = -1;
    int out = -1;
    int err = -1;
    int processFd = -1;
    int status = 0;
    bool exited = false;
};

// Spawns program with arguments and no shell in between, standard input
// empty; 0 or the errno of what failed.
int startCommand(const std::string& program, const std::vector<std::string>& arguments, RunningCommand& running)
{
    if (program.empty())
        return ENOENT;
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        const int error = errno;
        for (int fd : {out[0], out[1], err[0], err[1]})
            if (fd >= 0)
                ::close(fd);
        return error;
    }

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);

    // The child starts with default signal handling and an empty mask,
    // whatever this process set up for itself (an ignored SIGPIPE above all),
    // and leads a process group of its own so that a hung call can be
    // ended with all it started.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults, mask;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGHUP);
    sigemptyset(&mask);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &mask);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);

    const int spawnError = ::posix_spawnp(&running.pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(out[1]);
    ::close(err[1]);
    if (spawnError != 0) {
        ::close(out[0]);
        ::close(err[0]);
        return spawnError;
    }
    ::fcntl(out[0], F_SETFL, O_NONBLOCK);
    ::fcntl(err[0], F_SETFL, O_NONBLOCK);
    running.out = out[0];
    running.err = err[0];
    running.processFd = openProcessFd(running.pid);
    return 0;
}

// Collects the program's output into result until it has exited or
// timeoutMs have passed.
void readCommand(RunningCommand& running, int timeoutMs, CommandResult& result)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!running.exited) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return;
        pollfd fds[3];
        nfds_t count = 0;
        for (int fd : {running.out, running.err, running.processFd}) {
            if (fd >= 0)
                fds[count++] = pollfd{fd, POLLIN, 0};
        }
        int wait = int(left);
        if (running.processFd < 0 && running.out < 0 && running.err < 0)
            wait = std::min(wait, childPollFallbackMs);
        else if (running.processFd < 0)
            wait = std::min(wait, childPollFallbackMs * 10);
        const int ready = ::poll(fds, count, wait);
        if (ready < 0 && errno != EINTR)
            return;
        if (running.out >= 0)
            drainInto(running.out, result.output);
        if (running.err >= 0)
            drainInto(running.err, result.errors);
        pid_t waited;
        do {
            waited = ::waitpid(running.pid, &running.status, WNOHANG);
        } while (waited < 0 && errno == EINTR);
        if (waited == running.pid)
            running.exited = true;
    }
}

// Takes the exit status of a program that ended, or kills one that did not
// end in time, and closes what is left open.
void reapCommand(RunningCommand& running, CommandResult& result)
{
    if (running.exited) {
        // What the program wrote before it ended is in the pipes; children it
        // left behind may hold them open, so read only what is there.
        if (running.out >= 0)
            drainInto(running.out, result.output);
        if (running.err >= 0)
            drainInto(running.err, result.errors);
        result.finished = true;
        result.exitCode = WIFEXITED(running.status) ? WEXITSTATUS(running.status) : -1;
    } else {
        killGroup(running.pid);
        while (::waitpid(running.pid, &running.status, 0) < 0 && errno == EINTR) {
        }
        result.error = ETIMEDOUT;
    }
    for (int fd : {running.out, running.err, running.processFd})
        if (fd >= 0)
            ::close(fd);
}

} // namespace

CommandResult runCommand(const std::string& program, const std::vector<std::string>& arguments,
                         int timeoutMs)
{
    CommandResult result;
    RunningCommand running;
    result.error = startCommand(program, arguments, running);
    if (result.error != 0)
        return result;
    readCommand(running, timeoutMs, result);
    reapCommand(running, result);
    return result;
}

CommandResult runSystemctl(const std::vector<std::string>& arguments, int timeoutMs)
{
    return runCommand(systemctlProgram(), arguments, timeoutMs);
}

CommandResult systemctlDaemonReload(int timeoutMs)
{
    return runSystemctl({"daemon-reload"}, timeoutMs);
}

CommandResult systemctlEnable(const std::string& unit, int timeoutMs)
{
    return runSystemctl({"enable", unit}, timeoutMs);
}

CommandResult systemctlDisable(const std::string& unit, int timeoutMs)
{
    return runSystemctl({"disable", unit}, timeoutMs);
}

CommandResult systemctlStart(const std::string& unit, int timeoutMs)
{
    return runSystemctl({"start", "--no-block", unit}, timeoutMs);
}

CommandResult systemctlStop(const std::string& unit, int timeoutMs)
{
    return runSystemctl({"stop", "--no-block", unit}, timeoutMs);
}

CommandResult systemctlVersion(int timeoutMs)
{
    return runSystemctl({"--version"}, timeoutMs);
}

int parseSystemdVersion(std::string_view versionText)
{
    constexpr std::string_view prefix = "systemd ";
    if (versionText.substr(0, prefix.size()) != prefix)
        return 0;
    const std::string_view rest = versionText.substr(prefix.size());
    const std::string_view digits = rest.substr(0, std::min(rest.find_first_not_of("0123456789"), rest.size()));
    std::uint64_t version = 0;
    if (!parseUnsigned(digits, version) || version > 1000000)
        return 0;
    return int(version);
}

CommandResult systemctlShow(const std::string& unit, int timeoutMs)
{
    return runSystemctl({"show", "-p", std::string(unitPropertyNames), unit}, timeoutMs);
}

UnitProperties parseUnitProperties(std::string_view text)
{
    UnitProperties unit;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            continue;
        const std::string_view key = line.substr(0, equals);
        const std::string_view value = line.substr(equals + 1);
        if (key == "LoadState")
            unit.loadState = value;
        else if (key == "ActiveState")
            unit.activeState = value;
        else if (key == "SubState")
            unit.subState = value;
        else if (key == "Job")
            unit.job = value;
        else if (key == "TimeoutStartUSec")
            unit.startTimeoutUs = parseTimespan(value);
        else if (key == "TimeoutStopUSec")
            unit.stopTimeoutUs = parseTimespan(value);
    }
    return unit;
}

std::optional<std::uint64_t> parseTimespan(std::string_view text)
{
    struct Unit {
        std::string_view suffix;
        std::uint64_t us;
    };
    static constexpr Unit units[] = {
        {"month", 2629800000000ull}, {"min", 60000000ull}, {"ms", 1000ull}, {"us", 1ull},
        {"y", 31557600000000ull},    {"w", 604800000000ull}, {"d", 86400000000ull},
        {"h", 3600000000ull},        {"s", 1000000ull},
    };
    constexpr std::uint64_t limit = UINT64_MAX / 2;
    if (text == "0")
        return 0;
    std::uint64_t total = 0;
    bool any = false;
    while (!text.empty()) {
        if (text.front() == ' ') {
            text.remove_prefix(1);
            continue;
        }
        const std::size_t numberEnd = std::min(text.find_first_not_of("0123456789."), text.size());
        const std::string_view number = text.substr(0, numberEnd);
        text.remove_prefix(numberEnd);
        const std::size_t suffixEnd = std::min(text.find(' '), text.size());
        const std::string_view suffix = text.substr(0, suffixEnd);
        text.remove_prefix(suffixEnd);
        const Unit* unit = nullptr;
        for (const Unit& u : units)
            if (u.suffix == suffix)
                unit = &u;
        const std::size_t dot = number.find('.');
        const std::string_view whole = number.substr(0, dot);
        const std::string_view fraction = dot == std::string_view::npos ? std::string_view() : number.substr(dot + 1);
        std::uint64_t value = 0, fractionValue = 0;
        if (!unit || !parseUnsigned(whole, value) || (dot != std::string_view::npos && !parseUnsigned(fraction, fractionValue))
            || fraction.size() > 9 || value > limit / unit->us)
            return std::nullopt;
        std::uint64_t scale = 1;
        for (std::size_t i = 0; i < fraction.size(); ++i)
            scale *= 10;
        total += value * unit->us + fractionValue * unit->us / scale;
        if (total > limit)
            return std::nullopt;
        any = true;
    }
    if (!any)
        return std::nullopt;
    return total;
}

bool unitExists(std::string_view loadState)
{
    return !loadState.empty() && loadState != "not-found";
}

ServiceState serviceStateFromActiveState(std::string_view activeState)
{
    if (activeState == "activating")
        return ServiceState::StartPending;
    if (activeState == "active" || activeState == "reloading")
        return ServiceState::Running;
    if (activeState == "deactivating")
        return ServiceState::StopPending;
    if (activeState == "inactive" || activeState == "failed")
        return ServiceState::Stopped;
    return ServiceState::Unknown;
}

ServiceState serviceStateOf(const UnitProperties& unit)
{
    if (unit.subState == "auto-restart")
        return ServiceState::Stopped;
    return serviceStateFromActiveState(unit.activeState);
}

namespace {
bool saidAnyOf(const std::string& errors, std::initializer_list<std::string_view> texts)
{
    for (std::string_view text : texts)
        if (errors.find(text) != std::string::npos)
            return true;
    return false;
}
} // namespace

bool managerUnreachable(const CommandResult& result)
{
    return !result.finished
        || saidAnyOf(result.errors, {"Failed to connect to bus", "System has not been booted with systemd"});
}

int systemctlError(const CommandResult& result)
{
    if (saidAnyOf(result.errors, {"Access denied", "Interactive authentication required"}))
        return EACCES;
    if (saidAnyOf(result.errors, {" not found", " not loaded"}))
        return ENOENT;
    return EIO;
}

} // namespace Kor::Platform
