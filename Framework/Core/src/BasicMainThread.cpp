#include "BasicMainThread.h"

#include <Kor/LogTypes.h>
#include <Kor/RelationParam.h>

namespace Kor::NS {

class BasicMainThreadPrivate
{
public:
    // Null before PreInit() and once the service was handed to CheckBeforeDelete().
    Kor::AutoPointer<Kor::TimerService> timerService;
};

BasicMainThread::BasicMainThread(const Kor::String& name)
    : Kor::Processor<Kor::MessageQueue, Kor::Receiver>(Kor::RelationParam(nullptr, nullptr, nullptr, nullptr),
                                                       name, 0, 9),
      d(std::make_unique<BasicMainThreadPrivate>())
{
}

BasicMainThread::~BasicMainThread()
{
    // Normally Close() has stopped the timers already. The timer thread may
    // outlive the last reference held here; the related objects hear of the
    // end before the base classes go.
    stopTimers();
    DetachRelations();
    d->timerService = nullptr;
}

// The timer thread calls into this object (a virtual Post()), so its timers
// stop (waiting for a delivery under way) while the object is still whole:
// once a subclass's destructor has begun, such a call would race with it.
void BasicMainThread::stopTimers()
{
    if (Kor::TimerService* service = d->timerService.get()) {
        service->StopTimers(this);
        service->Close();
    }
}

void BasicMainThread::PreInit()
{
    d->timerService = new Kor::TimerService(Kor::RelationParam(this, nullptr, nullptr, nullptr), "Timer Service", 0);
    d->timerService->Begin();
}

void BasicMainThread::DerivedClassInit() {}

Kor::TimerService* BasicMainThread::GetTimer() const
{
    return d->timerService.get();
}

void BasicMainThread::Init()
{
    Log(Kor::LOG_INFO, __FILE__, __LINE__, Kor::ALWAYS, "starting");
    PreInit();
    DerivedClassInit();
    Log(Kor::LOG_INFO, __FILE__, __LINE__, Kor::ALWAYS, "started");
    Kor::SyncObject::Init();
}

void BasicMainThread::Close()
{
    stopTimers();
    Kor::Receiver::Close();
}

void BasicMainThread::CheckBeforeDelete(Kor::SyncObject* object)
{
    Kor::TimerService* service = d->timerService.get();
    if (object && object == static_cast<Kor::SyncObject*>(service))
        d->timerService = nullptr;
    Kor::SyncObject::CheckBeforeDelete(object);
}

} // namespace Kor::NS
