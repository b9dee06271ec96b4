#include "OwnerThread.h"

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
    object->moveToThread(this);
    m_objects.append(object);
}

void OwnerThread::run()
{
    Platform::prepareThreadForCrashDump();
    Platform::keepOperatorSignalsAway();
    exec();
    for (QObject* object : std::as_const(m_objects))
        delete object;
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
