#include "Object.h"

#include "LogModule.h"

#include <atomic>

namespace Kor {

Object::~Object() = default;

String Object::toString() const
{
    return String("Object");
}

String Object::toDebugString() const
{
    return toString();
}

void Object::clearRef() {}

namespace {
std::atomic<long> g_useCount{0};
long g_storedCount = 0;
bool g_reportOnRestore = false;
} // namespace

ObjectData::ObjectData()
{
    g_useCount.fetch_add(1, std::memory_order_relaxed);
}

ObjectData::ObjectData(const ObjectData&) : ObjectData() {}

ObjectData::~ObjectData()
{
    g_useCount.fetch_sub(1, std::memory_order_relaxed);
}

long ObjectData::globalUseCount()
{
    return g_useCount.load(std::memory_order_relaxed);
}

void ObjectData::storeGlobalUseCount(bool report)
{
    g_storedCount = globalUseCount();
    g_reportOnRestore = report;
}

void ObjectData::restoreGlobalUseCount()
{
    const long alive = globalUseCount() - g_storedCount;
    if (g_reportOnRestore && alive != 0)
        LogModule::_LOG(LOG_WARNING, __FILE__, __LINE__, ALWAYS, "%ld base library objects still alive at exit", alive);
    g_reportOnRestore = false;
}

} // namespace Kor
