#include "OwnerThread.h"

#include "CoreLog_p.h"
#include "CrashDump.h"
#include "Signals.h"

namespace Kor::NS {

class OwnerThreadPrivate
{
public:
    // In the order added; owned once the event loop has ended.
    QList<QPointer<QObject>> objects;
};

class BorrowerThreadPrivate
{
public:
    // Each object with the thread it came from, in the order added.
    QList<QPair<QObject*, QThread*>> borrowed;
};

OwnerThread::OwnerThread(QObject* parent)
    : QThread(parent), d(std::make_unique<OwnerThreadPrivate>())
{
}

OwnerThread::~OwnerThread() = default;

void OwnerThread::add(QObject* object)
{
    if (!object)
        return;
    if (object->parent()) {
        coreLog(Kor::ALWAYS, Kor::LOG_WARNING)
            << "OwnerThread::add: " << object->metaObject()->className()
            << " has a parent, which owns it; it is not added";
        return;
    }
    object->moveToThread(this);
    d->objects.append(object);
}

void OwnerThread::run()
{
    Platform::prepareThreadForCrashDump();
    Platform::keepOperatorSignalsAway();
    exec();
    for (const QPointer<QObject>& object : std::as_const(d->objects))
        delete object.data();
}

BorrowerThread::BorrowerThread() : d(std::make_unique<BorrowerThreadPrivate>()) {}

BorrowerThread::~BorrowerThread() = default;

void BorrowerThread::add(QObject* object)
{
    d->borrowed.append(qMakePair(object, object->thread()));
    object->moveToThread(this);
}

void BorrowerThread::run()
{
    Platform::prepareThreadForCrashDump();
    Platform::keepOperatorSignalsAway();
    exec();
    for (const auto& [object, home] : std::as_const(d->borrowed))
        object->moveToThread(home);
}

} // namespace Kor::NS
