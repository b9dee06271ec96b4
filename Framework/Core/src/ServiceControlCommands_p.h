#pragma once

// Internal: the service commands behind ServiceControl's static functions,
// and the pieces of them that tests reach directly.

#include "KorCoreExport.h"

#include <QString>
#include <QStringList>

#include <string>

namespace Kor::Platform {
struct CommandResult;
struct UnitProperties;
} // namespace Kor::Platform

namespace Kor::NS {

// The name the status command shows for a service state number:
// SERVICE_STOPPED ... SERVICE_PAUSED, "UNKNOWN (0x%08X)" for any other.
KORCORE_AUTOTEST_EXPORT QString serviceStateName(unsigned long state);

// The registered dependency list as service names, see the definition.
KORCORE_AUTOTEST_EXPORT QStringList serviceDependencyNames(const QString& dependencies);

// One command on the program's own service (Application::serviceName()).
// Each logs its outcome and returns whether it did what was asked. A failed
// step leaves its errno in m_error for the line that reports it.
class ServiceCommands
{
public:
    bool install(const QString& account, const QString& password);
    bool uninstall();
    bool start();
    bool stop();
    bool status();

private:
    enum class Control { Start, Stop };

    // The unit of the named service when it is installed; empty otherwise.
    std::string open(const QString& name);
    // Writes, loads and (for the siblings) enables the unit; empty on failure.
    std::string create(const QString& name, const QString& executable, const QString& dependencies,
                       const QString& account, const QString& password);
    // Sends the start or stop and waits, bounded, while it is pending; true
    // when the unit then runs or is stopped as asked.
    bool control(const std::string& unit, Control control);
    // Asks for the unit's properties; false when the manager cannot be
    // reached, after the line that says so.
    bool contactManager(const std::string& unit, Platform::UnitProperties& properties);
    bool query(const std::string& unit, Platform::UnitProperties& properties);
    bool queryState(const std::string& unit, unsigned long& state, Platform::UnitProperties& properties);
    // Starts or stops the own service and logs whether it settled as wanted.
    bool settle(Control control, const char* done, const char* failed);
    void failed(const Platform::CommandResult& result);

    int m_error = 0;
};

} // namespace Kor::NS
