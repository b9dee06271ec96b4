#include "CrashHandler.h"

#include "CrashDump.h"

#include "CoreLog.h"

namespace Kor::NS {

namespace {

// Set by the first successful installation and, like the handle of the
// original exception handler it stands for, not cleared by removal: a second
// activation after finish() only reports that the handler is installed.
bool s_crashHandlerHandle = false;

void logLine(Kor::LogEntryType type, const char* text)
{
    coreLog(Kor::ALWAYS, type) << text;
}

} // namespace

bool installCrashHandler()
{
    if (s_crashHandlerHandle) {
        logLine(Kor::LOG_INFO, "Crashhandler already installed!");
        return true;
    }
    if (!Platform::installCrashHandler()) {
        logLine(Kor::LOG_ERROR, "Installing Crashhandler failed!");
        return false;
    }
    s_crashHandlerHandle = true;
    logLine(Kor::LOG_INFO, "Crashhandler successfully installed!");
    return true;
}

bool uninstallCrashHandler()
{
    const bool removed = Platform::uninstallCrashHandler();
    logLine(Kor::LOG_ERROR, removed ? "Crashhandler successfully uninstalled!" : "Uninstalling Crashhandler failed!");
    return removed;
}

} // namespace Kor::NS
