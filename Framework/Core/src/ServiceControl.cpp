#include "ServiceControl.h"

#include "Application.h"
#include "CoreLog_p.h"
#include "CrashDump.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace Kor::NS {

ServiceControl* ServiceControl::m_instance = nullptr;

ServiceControl::ServiceControl() : QThread(nullptr)
{
    m_instance = this;
}

ServiceControl::~ServiceControl()
{
    if (!m_stopped)
        stop();
    if (m_instance == this)
        m_instance = nullptr;
}

ServiceControl* ServiceControl::instance()
{
    return m_instance;
}

void ServiceControl::waitForStart()
{
    while (!m_started && !isFinished())
        QThread::msleep(100);
}

void ServiceControl::stop()
{
    m_stopped = true;
    SetStatus(1 /* stopped */, 0, 0);
}

void ServiceControl::doServiceStart()
{
    m_started = true;
    m_stopped = false;
}

void ServiceControl::doServiceStop()
{
    m_started = false;
    if (Application* app = Application::instance())
        app->quit();
}

void ServiceControl::run()
{
    Platform::prepareThreadForCrashDump();
    // Without a service manager there is no dispatcher to run.
    coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << "Couldn't start as service";
    if (Application* app = Application::instance())
        app->quit();
}

int ServiceControl::SetStatus(unsigned long, unsigned long, unsigned long)
{
    return 1;
}

} // namespace Kor::NS
