#include "ConfiguredPath_p.h"

#include "CoreLog_p.h"

#include <QCoreApplication>
#include <QDir>
#include <QMetaObject>
#include <QThread>

#include <atomic>
#include <optional>


namespace Kor::NS {

namespace {
// An exit that reached the main thread before its event loop ran; only the
// main thread touches it.
std::optional<int> g_pendingExit;
// Any thread may ask; the start reads it to tell a program that is ending
// from one that serves.
std::atomic<bool> g_exitRequested{false};

void exitOnMainThread(int code)
{
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::exit(code);
    else
        g_pendingExit = code;
}
} // namespace

void ensureConfiguredPath(QString path)
{
    path = QDir::toNativeSeparators(path);
    if (QDir(path).exists()) {
        coreLog(Kor::ALWAYS, Kor::LOG_INFO) << "Configured path " << path << " exists";
        return;
    }
    coreLog(Kor::ALWAYS, Kor::LOG_INFO) << "Creating configured path " << path;
    if (QDir().mkpath(path))
        return;
    coreLog(Kor::ALWAYS, Kor::LOG_ERROR) << "Fatal error: Configured path " << path
                            << " does not exist and could not be created";
    requestApplicationExit(1001);
}

bool applicationExitRequested()
{
    return g_exitRequested.load(std::memory_order_acquire);
}

void requestApplicationExit(int code)
{
    g_exitRequested.store(true, std::memory_order_release);
    // Posting is safe from any thread, and a posted call waits in the queue
    // until the loop runs; QCoreApplication::exit() itself is neither.
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, [code] { exitOnMainThread(code); }, Qt::QueuedConnection);
}

void deliverPendingExit()
{
    if (!g_pendingExit || !QCoreApplication::instance())
        return;
    const int code = *g_pendingExit;
    g_pendingExit.reset();
    QMetaObject::invokeMethod(QCoreApplication::instance(), [code] { QCoreApplication::exit(code); },
                              Qt::QueuedConnection);
}

} // namespace Kor::NS
