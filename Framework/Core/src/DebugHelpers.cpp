#include "DebugHelpers.h"

#include "CoreLog_p.h"
#include "Platform.h"

#include <QTimer>

namespace Kor::NS {

EventLoopPing::EventLoopPing(const QString& name, int interval)
    : QObject(nullptr)
    , m_name(name)
    , m_interval(interval)
{
    speak();
}

EventLoopPing::~EventLoopPing() = default;

void EventLoopPing::speak()
{
    coreLog(Kor::ALWAYS, Kor::LOG_DETAIL) << "[EventLoopPing] " << m_name << " is alive!";
    QTimer::singleShot(m_interval, this, SLOT(speak()));
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
