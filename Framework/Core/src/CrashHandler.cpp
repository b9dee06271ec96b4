#include "CrashHandler_p.h"

#include "CrashDump.h"

#include "CoreLog_p.h"

#include <QThread>
#include <QTimer>

#include <chrono>
#include <mutex>

namespace Kor::NS {

namespace {

// Dumps are named in local time at the crash. The platform layer keeps the
// UTC offsets for a year ahead; this timer extends them once a day, on the
// installing thread's event loop.
constexpr std::chrono::hours dumpClockRefreshInterval{24};

// Installation and removal may come from different threads.
std::mutex s_stateLock;
QTimer* s_dumpClockRefresh = nullptr; // under s_stateLock

// Set by the first successful installation and, like the handle of the
// original exception handler it stands for, not cleared by removal: a second
// activation after finish() only reports that the handler is installed.
bool s_crashHandlerHandle = false; // under s_stateLock

void logLine(Kor::LogEntryType type, const char* text)
{
    coreLog(Kor::ALWAYS, type) << text;
}

void startDumpClockRefreshLocked()
{
    // Without an event loop on this thread there is no refresh; the offsets
    // taken at installation still cover the next year.
    if (s_dumpClockRefresh || !QThread::currentThread()->eventDispatcher())
        return;
    s_dumpClockRefresh = new QTimer;
    s_dumpClockRefresh->setInterval(dumpClockRefreshInterval);
    QObject::connect(s_dumpClockRefresh, &QTimer::timeout, [] { Platform::refreshDumpClock(); });
    s_dumpClockRefresh->start();
}

void stopDumpClockRefreshLocked()
{
    if (!s_dumpClockRefresh)
        return;
    if (s_dumpClockRefresh->thread() == QThread::currentThread())
        delete s_dumpClockRefresh;
    else
        s_dumpClockRefresh->deleteLater();
    s_dumpClockRefresh = nullptr;
}

} // namespace

bool installCrashHandler()
{
    std::lock_guard guard(s_stateLock);
    if (s_crashHandlerHandle) {
        logLine(Kor::LOG_INFO, "Crashhandler already installed!");
        return true;
    }
    if (!Platform::installCrashHandler()) {
        logLine(Kor::LOG_ERROR, "Installing Crashhandler failed!");
        return false;
    }
    s_crashHandlerHandle = true;
    startDumpClockRefreshLocked();
    logLine(Kor::LOG_INFO, "Crashhandler successfully installed!");
    const std::string folder = Platform::crashDumpFolder();
    // Dumps go beside the program unless its folder cannot be written; a
    // working directory above the program's folder still needs the line.
    const std::string exe = Platform::executablePath();
    if (!folder.empty() && exe.substr(0, exe.rfind('/')) != folder)
        coreLog(Kor::ALWAYS, Kor::LOG_WARNING)
            << "The program's folder cannot be written; crash dumps go to " << QString::fromStdString(folder);
    return true;
}

bool uninstallCrashHandler()
{
    std::lock_guard guard(s_stateLock);
    stopDumpClockRefreshLocked();
    const bool removed = Platform::uninstallCrashHandler();
    // Cleared, or a later install would report success and install nothing.
    if (removed)
        s_crashHandlerHandle = false;
    logLine(Kor::LOG_ERROR, removed ? "Crashhandler successfully uninstalled!" : "Uninstalling Crashhandler failed!");
    return removed;
}

} // namespace Kor::NS
