#include "SyncObject.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace Kor {

namespace {

// One lock for every relation: the bookkeeping touches two objects at once.
// Recursive, because a CheckBeforeDelete() may delete further objects.
std::recursive_mutex& relationLock()
{
    static auto* lock = new std::recursive_mutex; // never destroyed: objects may die during exit
    return *lock;
}

} // namespace

struct SyncObject::Private
{
    RelationParam relation;
    std::vector<SyncObject*> dependents; // objects whose relation names this one
    bool detached = false;

    mutable std::mutex lock;
    mutable std::condition_variable changed;
    bool running = false;
};

SyncObject::SyncObject(const RelationParam& relation) : d(new Private)
{
    std::lock_guard guard(relationLock());
    d->relation = relation;
    d->relation.forget(this);
    for (int i = 0; i < RelationParam::Count; ++i)
        if (SyncObject* other = d->relation.object(i))
            other->d->dependents.push_back(this);
}

SyncObject::~SyncObject()
{
    DetachRelations();
}

void SyncObject::DetachRelations()
{
    std::lock_guard guard(relationLock());
    if (d->detached)
        return;
    d->detached = true;
    // Read the lists afresh each round: a callback may delete objects that
    // are still listed, and those take themselves off on their way out.
    for (int i = 0; i < RelationParam::Count; ++i) {
        SyncObject* other = d->relation.object(i);
        if (!other)
            continue;
        d->relation.forget(other);
        auto& list = other->d->dependents;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
        other->CheckBeforeDelete(this);
    }
    while (!d->dependents.empty()) {
        SyncObject* other = d->dependents.back();
        d->dependents.pop_back();
        other->d->relation.forget(this); // even if an override forgets to call the base
        other->CheckBeforeDelete(this);
    }
}

void SyncObject::CheckBeforeDelete(SyncObject* object)
{
    if (!object || object == this)
        return;
    std::lock_guard guard(relationLock());
    d->relation.forget(object);
    auto& list = d->dependents;
    list.erase(std::remove(list.begin(), list.end(), object), list.end());
}

RelationParam SyncObject::GetRelation() const
{
    std::lock_guard guard(relationLock());
    return d->relation;
}

TimerService* SyncObject::RelatedTimer() const
{
    // Held while asking, so that a related object cannot finish being
    // deleted in between.
    std::lock_guard guard(relationLock());
    return d->relation.GetTimer();
}

void SyncObject::Init()
{
    {
        std::lock_guard guard(d->lock);
        d->running = true;
    }
    d->changed.notify_all();
}

void SyncObject::Stopped()
{
    {
        std::lock_guard guard(d->lock);
        d->running = false;
    }
    d->changed.notify_all();
}

void SyncObject::Close()
{
    Stopped();
}

bool SyncObject::IsRunning() const
{
    std::lock_guard guard(d->lock);
    return d->running;
}

bool SyncObject::WaitRunning(unsigned ms) const
{
    std::unique_lock guard(d->lock);
    return d->changed.wait_for(guard, std::chrono::milliseconds(ms), [this] { return d->running; });
}

bool SyncObject::Exit(unsigned firstWait, unsigned secondWait, bool* terminated)
{
    if (terminated)
        *terminated = false;
    PostClose();
    if (OnOwnThread())
        return false;
    if (WaitForEnd(firstWait))
        return true;
    StopNow();
    if (WaitForEnd(secondWait))
        return true;
    if (terminated) {
        Abandon();
        *terminated = true;
    }
    return false;
}

void SyncObject::PostClose() { Close(); }
void SyncObject::StopNow() {}
bool SyncObject::WaitForEnd(unsigned) { return true; }
void SyncObject::Abandon() {}
bool SyncObject::OnOwnThread() const { return false; }

} // namespace Kor
