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

// Unit file settings expand %-specifiers; a literal '%' is written twice.
std::string escapeSpecifiers(const std::string& s)
{
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        out += c;
        if (c == '%')
            out += '%';
    }
    return out;
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

std::string trimmedLine(std::string s)
{
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    return s;
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

bool standardErrorIsJournal()
{
    const char* value = std::getenv("JOURNAL_STREAM");
    std::uint64_t device = 0, inode = 0;
    if (!value || !parseJournalStream(value, device, inode))
        return false;
    struct stat st{};
    if (::fstat(STDERR_FILENO, &st) != 0)
        return false;
    return std::uint64_t(st.st_dev) == device && std::uint64_t(st.st_ino) == inode;
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
    text += "Type=notify\n";
    text += "NotifyAccess=main\n";
    text += "ExecStart=" + quotedExecPath(unit.executablePath) + " -service\n";
    // SIGHUP makes a running service re-read its log settings.
    text += "ExecReload=/bin/kill -HUP $MAINPID\n";
    if (unit.watchdogSeconds > 0)
        text += "WatchdogSec=" + std::to_string(unit.watchdogSeconds) + '\n';
    // WorkingDirectory= takes the rest of the line as the path and does not
    // unquote it: blanks are written as they are.
    text += "WorkingDirectory=" + escapeSpecifiers(parentFolder(unit.executablePath)) + '\n';
    if (!unit.user.empty())
        text += "User=" + escapeSpecifiers(unit.user) + '\n';
    if (unit.automaticStart) {
        text += "Restart=on-failure\n";
        text += "RestartSec=" + std::to_string(restartDelaySeconds) + '\n';
        text += "\n[Install]\n";
        text += "WantedBy=multi-user.target\n";
    }
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

CommandResult runCommand(const std::string& program, const std::vector<std::string>& arguments,
                         int timeoutMs)
{
    CommandResult result;
    if (program.empty()) {
        result.error = ENOENT;
        return result;
    }
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        result.error = errno;
        for (int fd : {out[0], out[1], err[0], err[1]})
            if (fd >= 0)
                ::close(fd);
        return result;
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

    pid_t pid = -1;
    const int spawnError = ::posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(out[1]);
    ::close(err[1]);
    if (spawnError != 0) {
        ::close(out[0]);
        ::close(err[0]);
        result.error = spawnError;
        return result;
    }
    ::fcntl(out[0], F_SETFL, O_NONBLOCK);
    ::fcntl(err[0], F_SETFL, O_NONBLOCK);

    int processFd = openProcessFd(pid);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    bool exited = false;
    while (!exited) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            break;
        pollfd fds[3];
        nfds_t count = 0;
        for (int fd : {out[0], err[0], processFd}) {
            if (fd >= 0)
                fds[count++] = pollfd{fd, POLLIN, 0};
        }
        int wait = int(left);
        if (processFd < 0 && out[0] < 0 && err[0] < 0)
            wait = std::min(wait, childPollFallbackMs);
        else if (processFd < 0)
            wait = std::min(wait, childPollFallbackMs * 10);
        const int ready = ::poll(fds, count, wait);
        if (ready < 0 && errno != EINTR)
            break;
        if (out[0] >= 0)
            drainInto(out[0], result.output);
        if (err[0] >= 0)
            drainInto(err[0], result.errors);
        pid_t waited;
        do {
            waited = ::waitpid(pid, &status, WNOHANG);
        } while (waited < 0 && errno == EINTR);
        if (waited == pid)
            exited = true;
    }

    if (exited) {
        // What the program wrote before it ended is in the pipes; children it
        // left behind may hold them open, so read only what is there.
        if (out[0] >= 0)
            drainInto(out[0], result.output);
        if (err[0] >= 0)
            drainInto(err[0], result.errors);
        result.finished = true;
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    } else {
        killGroup(pid);
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        result.error = ETIMEDOUT;
    }
    for (int fd : {out[0], err[0], processFd})
        if (fd >= 0)
            ::close(fd);
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

CommandResult systemctlLoadState(const std::string& unit, int timeoutMs)
{
    CommandResult r = runSystemctl({"show", "-p", "LoadState", "--value", unit}, timeoutMs);
    r.output = trimmedLine(std::move(r.output));
    return r;
}

CommandResult systemctlActiveState(const std::string& unit, int timeoutMs)
{
    CommandResult r = runSystemctl({"show", "-p", "ActiveState", "--value", unit}, timeoutMs);
    r.output = trimmedLine(std::move(r.output));
    return r;
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

} // namespace Kor::Platform
