#include "ConfiguredPath.h"

#include "CoreLog.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDir>
#include <QMetaObject>
#include <QThread>

#include <optional>


namespace Kor::NS {

namespace {
// Written and read on the main thread only.
std::optional<int> g_pendingExit;
} // namespace

void ensureConfiguredPath(QString path)
{
    path = QDir::toNativeSeparators(path);
    if (QDir(path).exists()) {
        coreLog(Kor::ALWAYS, 1) << "Configured path " << path << " exists";
        return;
    }
    coreLog(Kor::ALWAYS, 1) << "Creating configured path " << path;
    if (QDir().mkpath(path))
        return;
    coreLog(Kor::ALWAYS, 3) << "Fatal error: Configured path " << path
                            << " does not exist and could not be created";
    requestApplicationExit(1001);
}

void requestApplicationExit(int code)
{
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::exit(code);
    else
        g_pendingExit = code;
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
