#pragma once

#include "KorCoreExport.h"

#include <Kor/AutoPointer.h>
#include <Kor/KorString.h>
#include <Kor/MessageQueue.h>
#include <Kor/Processor.h>
#include <Kor/Receiver.h>
#include <Kor/TimerService.h>

#include <memory>

namespace Kor::NS {

class BasicMainThreadPrivate;

// Base of a program's main thread: a message-processing thread of the base
// library that brings its own timer service. On its thread it logs
// "starting", creates and starts the timer service (PreInit()), runs the
// subclass's DerivedClassInit(), logs "started" and then processes messages
// until it is closed.
class KORCORE_EXPORT BasicMainThread : public Kor::Processor<Kor::MessageQueue, Kor::Receiver>
{
public:
    // Messages posted without a priority get level 0; the queue has levels
    // 0 to 9. No related objects.
    explicit BasicMainThread(const Kor::String& name);
    ~BasicMainThread() override;

    // The thread's own timer service, null before PreInit() and after the
    // service was handed to CheckBeforeDelete().
    Kor::TimerService* GetTimer() const override;
    void Close() override;
    void CheckBeforeDelete(Kor::SyncObject* object) override;

    // Creates and starts the timer service.
    virtual void PreInit();
    // Subclasses initialise here, on the thread.
    virtual void DerivedClassInit();

private:
    void stopTimers();
    void Init() override;

    std::unique_ptr<BasicMainThreadPrivate> d;
};

} // namespace Kor::NS
