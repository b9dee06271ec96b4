#pragma once

#include "KorString.h"
#include "MessageQueue.h"
#include "Object.h"
#include "Receiver.h"
#include "RefObject.h"
#include "RelationParam.h"
#include "SyncObject.h"
#include "Thread.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <utility>

namespace Kor {

// A thread that processes posted messages.
//
// Its thread runs the virtual Init() first, then the posted messages in
// order until it is closed: the highest priority level first, first in first
// out within a level. Post() may be called from any thread, also before
// Begin(); those messages wait until Init() has run.
//
// Constructor numbers:
//   defaultPriority  level of messages posted without one (Post(message)),
//                    clamped to 0..maxPriority. 0 is the lowest level.
//   maxPriority      highest level the queue has (0..255); a message posted
//                    with a higher level gets this one.
//
// Close() (normally delivered by Exit() behind the work already queued) ends
// the loop after the message that runs it; messages still waiting are
// dropped and later posts refused. An exception thrown by a message or by
// Init() is logged and the loop goes on.
//
// The processor is reference-counted and keeps itself alive while its thread
// runs (see Thread). Related objects find their timer service through
// GetTimer(), by default the one of the processor's relation.
//
// Default visibility: the instantiations of the libraries and of their users
// must be one and the same class.
template <class Queue, class Base>
class __attribute__((visibility("default"))) Processor : public Base,
                                                         public Thread,
                                                         public SyncObject,
                                                         public RefObject,
                                                         public ObjectData
{
public:
    Processor(const RelationParam& relation, const String& name, int defaultPriority, int maxPriority)
        : Thread(name), SyncObject(relation), m_queue(maxPriority),
          m_defaultPriority(std::clamp(defaultPriority, 0, m_queue.maxPriority()))
    {
    }
    ~Processor() override { DetachRelations(); }

    using Base::Post;
    // priority: 0..MaxPriority(), or DefaultPriority.
    bool Post(Message message, int priority) override
    {
        if (Base::IsClosed() || m_stop)
            return false;
        return m_queue.Push(std::move(message), priority < 0 ? m_defaultPriority : priority);
    }
    void Close() override { Base::Close(); }
    bool Exit(unsigned firstWait, unsigned secondWait, bool* terminated) override
    {
        return SyncObject::Exit(firstWait, secondWait, terminated);
    }
    TimerService* GetTimer() const override { return RelatedTimer(); }

    // Exit() has given up waiting for an orderly end: a long message may
    // watch this and return early.
    bool StopRequested() const { return m_stop; }
    int DefaultPriority() const { return m_defaultPriority; }
    int MaxPriority() const { return m_queue.maxPriority(); }
    // Messages waiting.
    std::size_t Pending() const { return m_queue.size(); }

protected:
    void Run() override
    {
        RunGuarded([this] { Init(); }, "Init()");
        Message message;
        while (!m_stop && !Base::IsClosed() && m_queue.Pop(message)) {
            RunGuarded(message, "message");
            message = nullptr; // what it captured goes now, on this thread
        }
        m_queue.Close();
        m_queue.Clear();
        Stopped();
    }
    RefObject* AcquireRunReference() override
    {
        AddRef();
        return this;
    }
    void OnClose() override { m_queue.Close(); }

    void PostClose() override { m_queue.Push([this] { Close(); }, 0); }
    void StopNow() override
    {
        m_stop = true;
        m_queue.Close();
    }
    bool WaitForEnd(unsigned ms) override { return WaitEnded(ms); }
    void Abandon() override { release(); }
    bool OnOwnThread() const override { return IsCurrent(); }

private:
    Queue m_queue;
    std::atomic<bool> m_stop{false};
    const int m_defaultPriority;
};

} // namespace Kor
