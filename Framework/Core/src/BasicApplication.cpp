#include "BasicApplication.h"
#include "BasicApplication_p.h"

#include "CoreLog_p.h"
#include "KorException.h"
#include "XCoreApplication_p.h"

namespace Kor::NS {

BasicApplication::BasicApplication(QSharedPointer<QCoreApplication> app)
    : Application(app), d(std::make_unique<BasicApplicationPrivate>())
{
}

BasicApplication::~BasicApplication()
{
    // An abandoned thread may still run: it is left alone, not deleted.
    if (!d->threadTerminated && d->thread) {
        d->thread->release();
        d->thread = nullptr;
    }
}

BasicApplication* BasicApplication::instance()
{
    return static_cast<BasicApplication*>(Application::instance());
}

Kor::Thread* BasicApplication::createThread()
{
    return nullptr;
}

void BasicApplication::init()
{
    d->thread = createThread();
    if (d->thread)
        d->thread->Begin();
}

void BasicApplication::close()
{
    if (d->thread && !d->thread->Exit(1000, 1000, nullptr)
        && !d->thread->Exit(1000, 30000, &d->threadTerminated)) {
        moduleLog(Kor::ALWAYS, Kor::LOG_INFO) << "terminating main thread";
        d->threadTerminated = true;
    }
    Application::close();
}

namespace {
// QCoreApplication keeps a reference to argc, and the base part is built
// before any member of ConsoleApplication exists; only one application
// object exists per process, so one process-wide copy serves.
int& persistentArgc(int argc)
{
    static int value = 0;
    value = argc;
    return value;
}

// A second application object is refused before its Qt application exists:
// destroying that one would clear QCoreApplication::instance() under the
// running program.
QSharedPointer<QCoreApplication> makeCoreApplication(int argc, char** argv)
{
    if (Application::instance())
        throw MultipleApplicationException("Only one instance of Application allowed");
    return QSharedPointer<QCoreApplication>(new XCoreApplication(persistentArgc(argc), argv));
}
} // namespace

ConsoleApplication::ConsoleApplication(int argc, char** argv)
    : BasicApplication(makeCoreApplication(argc, argv)), d(std::make_unique<ConsoleApplicationPrivate>())
{
    d->argc = argc;
}

ConsoleApplication::~ConsoleApplication() = default;

} // namespace Kor::NS
