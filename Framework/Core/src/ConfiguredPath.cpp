#include "ConfiguredPath_p.h"

#include "ApplicationExit_p.h"
#include "CoreLog_p.h"

#include <QCoreApplication>
#include <QDir>

namespace Kor::NS {

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
    requestApplicationExit(ExitCode::ConfiguredPathMissing);
}

} // namespace Kor::NS
