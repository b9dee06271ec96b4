#include "LogObject.h"

#include "LogModule.h"

#include <map>
#include <memory>
#include <mutex>

namespace Kor {

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
    static void destroy(LogObject* object) { delete object; }
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
    LogObjectRegistry& registry = LogObjectRegistry::instance();
    std::lock_guard guard(registry.lock);
    for (auto& [name, object] : registry.objects)
        LogObjectRegistry::destroy(object);
    registry.objects.clear();
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
    const std::string name = subName && *subName ? m_name.str() + "." + subName : m_name.str();
    va_list args;
    va_start(args, format);
    LogModule::LogV(type, file, line, severity, name.c_str(), format, args);
    va_end(args);
}

} // namespace Kor
