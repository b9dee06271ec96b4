#include "DebugHelpers.h"

#include "CoreLog_p.h"
#include "Platform.h"

#include <QTimer>

namespace Kor::NS {

class EventLoopPingPrivate
{
public:
    QString name;
    int interval;
};

EventLoopPing::EventLoopPing(const QString& name, int interval)
    : QObject(nullptr), d(new EventLoopPingPrivate{name, interval})
{
    speak();
}

EventLoopPing::~EventLoopPing() = default;

void EventLoopPing::speak()
{
    coreLog(Kor::ALWAYS, Kor::LOG_DETAIL) << "[EventLoopPing] " << d->name << " is alive!";
    QTimer::singleShot(d->interval, this, SLOT(speak()));
}

} // namespace Kor::NS

void SetCurrentThreadName(const char* name)
{
    if (!name) {
        Kor::NS::coreLog(Kor::ALWAYS, Kor::LOG_WARNING) << "SetCurrentThreadName without a name; nothing changed";
        return;
    }
    Kor::Platform::setCurrentThreadName(name);
}
