#pragma once

// The service manager underneath the service control commands and the
// service runtime: unit names and unit files, the status datagrams a running
// service sends, and the control program that starts, stops and queries
// units. Every failing call reports an errno value.

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Exported from libVarnet, which holds the one copy of this layer.
#pragma GCC visibility push(default)

namespace Kor::Platform {

// Service states with the numbers the control commands log and compare.
enum class ServiceState : int {
    Unknown = 0, // an answer the mapping does not know, or no answer at all
    Stopped = 1,
    StartPending = 2,
    StopPending = 3,
    Running = 4,
};

// The unit a service name maps to: every byte but ASCII letters, digits,
// ':', '_' and a '.' that is not the first byte becomes \xNN (lower-case
// hex), then ".service" follows. Distinct names give distinct units. Empty
// for an empty name.
std::string systemdUnitName(const std::string& serviceName);

// ---- Status datagrams of a running service --------------------------------

inline constexpr std::string_view notifyReady = "READY=1";
inline constexpr std::string_view notifyStopping = "STOPPING=1";
inline constexpr std::string_view notifyWatchdog = "WATCHDOG=1";
// "RELOADING=1" and the CLOCK_MONOTONIC time of the reload's start in one
// datagram; the manager keeps the unit "reloading" until READY=1 follows.
std::string notifyReloading(std::uint64_t monotonicMicroseconds);
// CLOCK_MONOTONIC in microseconds, the clock the notify protocol uses.
std::uint64_t monotonicMicroseconds();
// "STATUS=<text>"; line breaks in the text become blanks, since each line of
// a datagram is an assignment of its own.
std::string notifyStatus(const std::string& text);
std::string notifyExtendTimeout(std::uint64_t microseconds);
std::string notifyMainPid(std::int64_t pid);
// Several assignments in one datagram, one per line.
std::string notifyMessage(std::initializer_list<std::string_view> assignments);

// Whether NOTIFY_SOCKET is set to something: the service manager started
// this process as a service that reports its state.
bool notifySocketPresent();
// Sends message as one datagram to NOTIFY_SOCKET: a file system path, or an
// abstract address when it starts with '@'. True only when the datagram was
// sent. Failures: ENXIO when NOTIFY_SOCKET is unset or empty (nobody to
// tell), EINVAL for an address that is neither an absolute path nor
// abstract and for an empty message, ENAMETOOLONG for an address longer
// than a socket address holds; otherwise the errno of socket or sendto
// (ENOENT for a missing path, ECONNREFUSED for a path that is no socket).
bool sendNotify(const std::string& message, int& error);

// ---- Watchdog ----------------------------------------------------------------

struct WatchdogSetting {
    enum Kind {
        Off,          // WATCHDOG_USEC not set
        On,           // ping every intervalUs / 2
        Invalid,      // WATCHDOG_USEC is 0, negative or not a whole number
        OtherProcess, // WATCHDOG_PID names another process
    };
    Kind kind = Off;
    std::uint64_t intervalUs = 0;
    std::string text; // the value as found, for the log line of an Invalid one
};
// From the two variables' values (nullptr: not set) and our process id.
WatchdogSetting watchdogSetting(const char* watchdogUsec, const char* watchdogPid, std::int64_t ownPid);
// The same for this process's environment.
WatchdogSetting watchdogFromEnvironment();

// ---- The journal -----------------------------------------------------------

// JOURNAL_STREAM's "<device>:<inode>", both decimal; false for anything else.
bool parseJournalStream(std::string_view text, std::uint64_t& device, std::uint64_t& inode);
// JOURNAL_STREAM names the file standard error is open on: the service
// manager connected it to the journal (and not, say, a terminal the program
// was started from with the variable inherited).
bool standardErrorIsJournal();
// The same for standard output, which systemd connects to the same stream.
bool standardOutputIsJournal();

// ---- Unit files ------------------------------------------------------------

struct UnitDescription {
    std::string serviceName;              // Description= and the unit's name
    std::string executablePath;           // started with " -service"; its folder is the working directory
    std::string user;                     // User=, left out when empty
    std::vector<std::string> dependencies; // service names, each After= and Requires=
    bool automaticStart = false;          // enabled at boot, restarted 60 s after a failure
    int watchdogSeconds = 0;              // WatchdogSec=, left out when 0 or less; restarted after a failure
    bool notifyReload = false;            // Type=notify-reload (systemd 253 and later): the manager sends
                                          // SIGHUP itself, so no ExecReload=
};

// The unit file text, or empty when a field cannot be written into a unit
// file: an empty service name, a line break or NUL byte in the name or the
// user, an executable path that is not absolute or that holds a quote, a
// backslash or a control character (systemd would not start it).
std::string systemdUnitText(const UnitDescription& unit);

// KOR_SYSTEMD_UNIT_DIR when set, otherwise /etc/systemd/system.
std::string systemdUnitDirectory();

enum class UnitFileResult {
    Written,
    AlreadyExists, // a file of that name is there and was left as it was
    Failed,        // error holds the errno
};

// Writes directory/unitName with mode 0644 so that readers see either no
// file or the whole text: a temporary file in the same folder is written,
// flushed to disk and renamed into place without replacing anything.
// unitName must be a plain file name.
UnitFileResult writeUnitFile(const std::string& directory, const std::string& unitName,
                             const std::string& text, int& error);
// Removes directory/unitName; ENOENT when it is not there.
bool removeUnitFile(const std::string& directory, const std::string& unitName, int& error);

// ---- The control program ---------------------------------------------------

inline constexpr int systemctlTimeoutMs = 30000;

struct CommandResult {
    bool finished = false;  // ran and ended within the time bound
    int exitCode = -1;      // valid when finished; -1 also when ended by a signal
    int error = 0;          // errno when it could not be started, ETIMEDOUT when killed for taking too long
    std::string output;     // standard output
    std::string errors;     // standard error
    // Ran, ended and said it succeeded.
    bool ok() const { return finished && exitCode == 0; }
};

// KOR_SYSTEMCTL when set, otherwise "systemctl" (looked up in PATH).
std::string systemctlProgram();
// Runs the program with arguments and no shell in between, standard input
// empty. A program still running after timeoutMs is killed together with
// everything it started.
CommandResult runCommand(const std::string& program, const std::vector<std::string>& arguments,
                         int timeoutMs = systemctlTimeoutMs);
CommandResult runSystemctl(const std::vector<std::string>& arguments, int timeoutMs = systemctlTimeoutMs);

CommandResult systemctlDaemonReload(int timeoutMs = systemctlTimeoutMs);
CommandResult systemctlEnable(const std::string& unit, int timeoutMs = systemctlTimeoutMs);
CommandResult systemctlDisable(const std::string& unit, int timeoutMs = systemctlTimeoutMs);
// Start and stop return once the job is queued; the state is polled after.
CommandResult systemctlStart(const std::string& unit, int timeoutMs = systemctlTimeoutMs);
CommandResult systemctlStop(const std::string& unit, int timeoutMs = systemctlTimeoutMs);
// "systemctl --version"; the number of its first line, "systemd 252 (...)".
CommandResult systemctlVersion(int timeoutMs = systemctlTimeoutMs);
// The version number of that answer, 0 when it has none.
int parseSystemdVersion(std::string_view versionText);

// What the commands need to know of a unit, read in one "systemctl show".
struct UnitProperties {
    std::string loadState;
    std::string activeState;
    std::string subState;
    std::string job; // the id of the job systemd holds for the unit, empty when none
    std::optional<std::uint64_t> startTimeoutUs; // none when "infinity" or unreadable
    std::optional<std::uint64_t> stopTimeoutUs;
};
inline constexpr std::string_view unitPropertyNames =
    "LoadState,ActiveState,SubState,Job,TimeoutStartUSec,TimeoutStopUSec";
// "show -p <unitPropertyNames> <unit>": one Key=value line each, in the
// manager's order.
CommandResult systemctlShow(const std::string& unit, int timeoutMs = systemctlTimeoutMs);
// Takes the Key=value lines it knows; the rest is left empty.
UnitProperties parseUnitProperties(std::string_view text);
// A time span as systemd prints it ("1min 30s", "100ms", "1.500000s", "0")
// in microseconds; none for "infinity" and for anything else it cannot read.
std::optional<std::uint64_t> parseTimespan(std::string_view text);

// A unit the manager does not know still answers every property (ActiveState
// "inactive"); only its LoadState "not-found" tells that it does not exist.
// An empty answer tells nothing and counts as not found.
bool unitExists(std::string_view loadState);
// activating, active/reloading, deactivating, inactive/failed; Unknown for
// everything else.
ServiceState serviceStateFromActiveState(std::string_view activeState);
// The same, but a unit waiting to be restarted after a failure (SubState
// "auto-restart", ActiveState "activating") is stopped.
ServiceState serviceStateOf(const UnitProperties& unit);

// The control program could not reach the manager: it did not run or did
// not end, or it said it has no bus to talk over.
bool managerUnreachable(const CommandResult& result);
// The errno for a control program that did not succeed: EACCES when it was
// refused, ENOENT for a unit it does not know, EIO for anything else.
int systemctlError(const CommandResult& result);

} // namespace Kor::Platform

#pragma GCC visibility pop
