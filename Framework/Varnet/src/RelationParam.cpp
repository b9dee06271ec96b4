#include "RelationParam.h"

#include "SyncObject.h"
#include "Thread.h"

namespace Kor {

RelationParam::RelationParam() : m_objects{nullptr, nullptr, nullptr, nullptr} {}

RelationParam::RelationParam(SyncObject* owner, SyncObject* related1, SyncObject* related2,
                             SyncObject* related3)
    : m_objects{owner, related1, related2, related3}
{
}

SyncObject* RelationParam::object(int index) const
{
    return index >= 0 && index < Count ? m_objects[index] : nullptr;
}

bool RelationParam::isEmpty() const
{
    for (SyncObject* o : m_objects)
        if (o)
            return false;
    return true;
}

bool RelationParam::contains(const SyncObject* object) const
{
    if (!object)
        return false;
    for (SyncObject* o : m_objects)
        if (o == object)
            return true;
    return false;
}

void RelationParam::forget(const SyncObject* object)
{
    for (SyncObject*& o : m_objects)
        if (o == object)
            o = nullptr;
}

TimerService* RelationParam::GetTimer() const
{
    // Processors ask their relation for a timer by default, so two of them
    // related to each other would otherwise recurse without end.
    static thread_local int depth = 0;
    if (depth > 16)
        return nullptr;
    ++depth;
    TimerService* found = nullptr;
    for (SyncObject* o : m_objects) {
        const Thread* thread = dynamic_cast<const Thread*>(o);
        if (thread && (found = thread->GetTimer()))
            break;
    }
    --depth;
    return found;
}

} // namespace Kor
