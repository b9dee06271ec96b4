#pragma once

#include "VarnetExport.h"

namespace Kor {

class SyncObject;
class TimerService;

// The objects a thread-model object is related to: its owner (the parent
// thread or object) and up to three further objects. A SyncObject built with
// a relation tells these objects, and is told by them, through
// CheckBeforeDelete() before one of them is deleted.
class VARNET_EXPORT RelationParam
{
public:
    enum { Count = 4 };

    RelationParam();
    RelationParam(SyncObject* owner, SyncObject* related1, SyncObject* related2, SyncObject* related3);

    SyncObject* owner() const { return m_objects[0]; }
    // 0 is the owner, 1 to 3 the further objects; other indexes give null.
    SyncObject* object(int index) const;
    bool isEmpty() const;
    bool contains(const SyncObject* object) const;
    // Clears every slot that holds object.
    void forget(const SyncObject* object);

    // The timer service of the first related object that is a thread and has
    // one, the owner first; null when none has. A cycle of relations ends in
    // null instead of recursing for ever.
    TimerService* GetTimer() const;

private:
    SyncObject* m_objects[Count];
};

} // namespace Kor
