// Machine and call-pool identity, the updater path and the set-up record.
#include "Application.h"
#include "Application_p.h"

#include "KorException.h"
#include "MachineStore_p.h"
#include "SetupConfigData.h"

#include <Kor/KorString.h>
#include <Kor/SocketAddress.h>

#include <QDir>
#include <QMutexLocker>

namespace Kor::NS {

namespace {

const QString KeyPaths[] = {
    QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kor"),
    QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Kor"),
};

Kor::Uuid uuidFrom(const QVariant& value)
{
    const QString text = value.toString();
    return Kor::Uuid(Kor::String::convertBuffer(text.utf16(), size_t(text.size()) * sizeof(char16_t),
                                                Kor::String::s_defaultCharset, Kor::String::Charset_UCS_2, '?'));
}

} // namespace

const Kor::Uuid& Application::getMachineId()
{
    for (const QString& keyPath : KeyPaths) {
        if (!s_MachineId.isNull())
            break;
        s_MachineId = uuidFrom(MachineStore::value(keyPath, QStringLiteral("Common/machineId")));
    }
    if (s_MachineId.isNull()) {
        // Say where it was looked for: the store is a folder of files an
        // operator has to find first.
        QStringList files;
        for (const QString& keyPath : KeyPaths)
            files << MachineStore::fileOf(keyPath);
        const QString where = QStringLiteral(": no [Common] machineId= in %1 (the machine store is "
                                             "KOR_REGISTRY_ROOT, default /etc/kor/registry)")
                                  .arg(files.join(QLatin1String(" or ")));
        throw MachineIdException(("Failed to read MachineID from registry" + where).toLocal8Bit().constData());
    }
    return s_MachineId;
}

const Kor::Uuid& Application::getCallPoolId()
{
    if (s_CallPoolId.isNull())
        s_CallPoolId = getMachineId();
    return s_CallPoolId;
}

void Application::setSimulatedMachineId(const Kor::Uuid& id)
{
    s_MachineId = id;
    s_CallPoolId = s_MachineId;
}

QString Application::updaterConfigPath() const
{
    if (!s_UpdaterConfigPath.isEmpty())
        return s_UpdaterConfigPath;
    QString path;
    for (const QString& keyPath : KeyPaths) {
        path = MachineStore::value(keyPath, QStringLiteral("Common/UpdaterConfigPath")).toString();
        if (!path.isNull())
            break;
    }
    if (path.isNull())
        path = QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("../../Updater/config"));
    s_UpdaterConfigPath = QDir::toNativeSeparators(path);
    return s_UpdaterConfigPath;
}

QString Application::updaterConfigPath(const QString& fileName) const
{
    return QDir::toNativeSeparators(QDir(updaterConfigPath()).absoluteFilePath(fileName));
}

const SetupConfigData* Application::setupConfig()
{
    QMutexLocker locker(&ApplicationPrivate::s_settingsLock);
    if (!ApplicationPrivate::s_setupConfig)
        ApplicationPrivate::s_setupConfig = new SetupConfigData();
    return ApplicationPrivate::s_setupConfig;
}

void Application::initDataPaths()
{
    setupConfig();
    ApplicationPrivate::s_setupConfig->initDataPaths();
}

bool Application::isIPv4Enabled()
{
    return Kor::SocketAddress::s_AllowedTypes == 0 || Kor::SocketAddress::s_AllowedTypes == 1;
}

bool Application::isIPv6Enabled()
{
    return Kor::SocketAddress::s_AllowedTypes == 0 || Kor::SocketAddress::s_AllowedTypes == 2;
}

const QString& Application::getPrefferedLocalAddress()
{
    // Before the record exists there is no address to give.
    static const QString none;
    return ApplicationPrivate::s_setupConfig ? ApplicationPrivate::s_setupConfig->preferredLocalAddress() : none;
}

} // namespace Kor::NS
