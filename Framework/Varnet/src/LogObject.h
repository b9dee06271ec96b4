#pragma once

#include "KorString.h"
#include "LogTypes.h"
#include "VarnetExport.h"

namespace Kor {

// A named logger. Log objects belong to the log module. A pointer stays
// usable for the whole process, also across cleanUp().
class VARNET_EXPORT LogObject
{
public:
    // The log object of that name, created on first use; null for an empty
    // name.
    static LogObject* getLogObject(const char* name);
    // Called at shutdown. Log objects are kept for the whole process, so a
    // thread that still logs through one is safe; nothing is released.
    static void cleanUp();

    const String& getName() const { return m_name; }

    void Log(LogEntryType type, const char* file, int line, int severity, const char* format, ...)
        __attribute__((format(printf, 6, 7)));
    // The line's logger name is this object's name, "." and subName.
    void Log(const char* subName, LogEntryType type, const char* file, int line, int severity,
             const char* format, ...) __attribute__((format(printf, 7, 8)));

private:
    explicit LogObject(const String& name);
    ~LogObject();
    friend struct LogObjectRegistry;

    String m_name;
};

} // namespace Kor
