#include "MachineStore.h"

#include "CoreLog.h"

#include <QFileInfo>
#include <QSettings>

namespace Kor::NS::MachineStore {

QString root()
{
    const QString fromEnvironment = qEnvironmentVariable("KOR_REGISTRY_ROOT");
    return fromEnvironment.isEmpty() ? QStringLiteral("/etc/kor/registry") : fromEnvironment;
}

QString fileOf(const QString& keyPath)
{
    QString relative = keyPath;
    relative.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return root() + QLatin1Char('/') + relative + QLatin1String(".ini");
}

QVariant value(const QString& keyPath, const QString& name)
{
    const QString file = fileOf(keyPath);
    if (!QFileInfo(file).isFile())
        return QVariant();
    QSettings store(file, QSettings::IniFormat);
    if (store.status() != QSettings::NoError) {
        coreLog(Kor::ALWAYS, 2) << "Machine store file " << file << " is not a valid INI file";
        return QVariant();
    }
    return store.value(name);
}

} // namespace Kor::NS::MachineStore
