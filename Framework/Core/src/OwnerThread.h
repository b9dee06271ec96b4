#pragma once

#include "KorCoreExport.h"

#include <QList>
#include <QPair>
#include <QPointer>
#include <QThread>

#include <memory>

namespace Kor::NS {

class OwnerThreadPrivate;
class BorrowerThreadPrivate;

// Runs an event loop for the objects added to it and deletes them, on this
// thread and in the order added, when the loop ends. An object that was
// deleted meanwhile (deleteLater, or with another object) is skipped.
class KORCORE_EXPORT OwnerThread : public QThread
{
public:
    explicit OwnerThread(QObject* parent = nullptr);
    ~OwnerThread() override;

    // Call from the thread the object lives in. An object with a parent
    // belongs to that parent, which deletes it, and is refused.
    void add(QObject* object);

protected:
    void run() override;

private:
    std::unique_ptr<OwnerThreadPrivate> d;
};

// Runs an event loop for the objects added to it and moves them back to
// the threads they came from when the loop ends.
class KORCORE_EXPORT BorrowerThread : public QThread
{
public:
    BorrowerThread();
    ~BorrowerThread() override;

    // Call from the thread the object lives in; it must have no parent.
    void add(QObject* object);

protected:
    void run() override;

private:
    std::unique_ptr<BorrowerThreadPrivate> d;
};

} // namespace Kor::NS
