#include "OwnerThread.h"

#include "CoreLog_p.h"
#include "CrashDump.h"
#include "Signals.h"

namespace Kor::NS {

OwnerThread::OwnerThread(QObject* parent)
    : QThread(parent)
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
    m_objects.append(object);
}

void OwnerThread::run()
{
    Platform::prepareThreadForCrashDump();
    Platform::keepOperatorSignalsAway();
    exec();
    for (const QPointer<QObject>& object : std::as_const(m_objects))
        delete object.data();
}

BorrowerThread::BorrowerThread() = default;

BorrowerThread::~BorrowerThread() = default;

void BorrowerThread::add(QObject* object)
{
    m_borrowed.append(qMakePair(object, object->thread()));
    object->moveToThread(this);
}

void BorrowerThread::run()
{
    Platform::prepareThreadForCrashDump();
    Platform::keepOperatorSignalsAway();
    exec();
    for (const auto& [object, home] : std::as_const(m_borrowed))
        object->moveToThread(home);
}

} // namespace Kor::NS
