#include "LogObject.h"

#include "LogModule.h"

#include <map>
#include <mutex>

namespace Kor {

// Log objects are never freed: another thread may still hold one while the
// program shuts down (a line logged after cleanUp(), a pointer kept in a
// thread's context). Their number is bounded by the names in use.
struct LogObjectRegistry
{
    std::mutex lock;
    std::map<std::string, LogObject*> objects;

    static LogObjectRegistry& instance()
    {
        static LogObjectRegistry* registry = new LogObjectRegistry; // outlives static destructors
        return *registry;
    }
    static LogObject* make(const std::string& name) { return new LogObject(String(name)); }
};

LogObject::LogObject(const String& name) : m_name(name) {}

LogObject::~LogObject() = default;

LogObject* LogObject::getLogObject(const char* name)
{
    if (!name || !*name)
        return nullptr;
    LogObjectRegistry& registry = LogObjectRegistry::instance();
    std::lock_guard guard(registry.lock);
    LogObject*& slot = registry.objects[name];
    if (!slot)
        slot = LogObjectRegistry::make(name);
    return slot;
}

void LogObject::cleanUp()
{
    // Nothing to release: see LogObjectRegistry. Kept so that shutdown code
    // written against the interface needs no change.
}

void LogObject::Log(LogEntryType type, const char* file, int line, int severity, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    LogModule::LogV(type, file, line, severity, m_name.c_str(), format, args);
    va_end(args);
}

void LogObject::Log(const char* subName, LogEntryType type, const char* file, int line, int severity,
                    const char* format, ...)
{
    if (!LogModule::WouldLog(type, severity)) // spare building the name
        return;
    const std::string name = subName && *subName ? m_name.str() + "." + subName : m_name.str();
    va_list args;
    va_start(args, format);
    LogModule::LogV(type, file, line, severity, name.c_str(), format, args);
    va_end(args);
}

} // namespace Kor
