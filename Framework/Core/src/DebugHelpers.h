#pragma once

#include "KorCoreExport.h"

#include <QObject>
#include <QString>

#include <memory>

namespace Kor::NS {

class EventLoopPingPrivate;

// Logs at a fixed interval that the event loop of its thread still serves
// events; the first line is written by the constructor.
class KORCORE_EXPORT EventLoopPing : public QObject
{
    Q_OBJECT
public:
    EventLoopPing(const QString& name, int interval);
    ~EventLoopPing() override;

private slots:
    void speak();

private:
    std::unique_ptr<EventLoopPingPrivate> d;
};

} // namespace Kor::NS

// Names the calling thread for the operating system, so that debuggers,
// thread lists and crash reports show it. Only the first 15 bytes are kept.
KORCORE_EXPORT void SetCurrentThreadName(const char* name);
