#pragma once

#include "RelationParam.h"
#include "VarnetExport.h"

#include <memory>

namespace Kor {

class TimerService;

// Start-up and shut-down handshake of an object that does its work on a
// thread, and its relations to other such objects.
//
// Objects named in the relation given at construction are told through
// CheckBeforeDelete() before this object is deleted, and this object is told
// when one of them is deleted first. These calls are made under one lock for
// all relations, so CheckBeforeDelete() must not wait for other threads.
class VARNET_EXPORT SyncObject
{
public:
    explicit SyncObject(const RelationParam& relation = RelationParam());
    SyncObject(const SyncObject&) = delete;
    SyncObject& operator=(const SyncObject&) = delete;
    virtual ~SyncObject();

    // Called on the object's own thread once it has started: marks it
    // running and wakes whoever waits in WaitRunning(). Overrides do their
    // set-up first and call this last.
    virtual void Init();
    // Asks the object to end its work; runs on the object's own thread when
    // Exit() delivers it. For an object without a thread of its own this ends
    // it at once (IsRunning() becomes false); threads override it.
    virtual void Close();
    // object is about to be deleted: forget it. It may only be compared,
    // not used. Overrides clear their own pointers to it and call this.
    virtual void CheckBeforeDelete(SyncObject* object);

    // Asks the object's thread to end and waits for it:
    //  1. Close() is posted to the object's thread, behind the work already
    //     queued there, and Exit waits up to firstWait milliseconds for the
    //     thread to end in this orderly way.
    //  2. Then the thread is told to stop after the message it is running;
    //     work still queued is dropped. Exit waits up to secondWait further
    //     milliseconds.
    //  3. If the thread still runs and terminated is not null, the thread is
    //     abandoned and *terminated set to true. A thread cannot be killed
    //     safely, so abandoning means: it is detached, left to run on alone,
    //     and nobody waits for it any more; a reference-counted thread keeps
    //     itself alive until it has ended. With terminated null nothing is
    //     abandoned and Exit may be called again.
    // Returns true when the thread has ended (at once for an object without
    // a running thread). *terminated is set to false first when given.
    // Called on the object's own thread, Exit cannot wait for itself: it
    // posts Close() and returns false without abandoning anything.
    virtual bool Exit(unsigned firstWait, unsigned secondWait, bool* terminated);

    // Init() has run and the object has not stopped since.
    bool IsRunning() const;
    // Waits up to ms milliseconds until the object runs; true when it does.
    bool WaitRunning(unsigned ms) const;
    // A copy: the slots of related objects that were deleted are null.
    RelationParam GetRelation() const;

protected:
    // The steps of Exit(). The defaults suit an object without a thread.
    virtual void PostClose();               // Close() at once
    virtual void StopNow();                 // nothing
    virtual bool WaitForEnd(unsigned ms);   // true
    virtual void Abandon();                 // nothing
    virtual bool OnOwnThread() const;       // false

    // The object's work has ended: IsRunning() becomes false.
    void Stopped();
    // The timer service found through the relation (RelationParam::GetTimer).
    TimerService* RelatedTimer() const;
    // Tells the related objects that this one is going and forgets them.
    // Derived destructors call it first, while the whole object still
    // exists; the base destructor calls it again, which then does nothing.
    void DetachRelations();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace Kor
