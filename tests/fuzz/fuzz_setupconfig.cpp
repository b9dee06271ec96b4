// The machine-wide set-up file as a program reads it at start: the file's
// content is the input; reading it and deriving the data folders from it
// must never fail hard.
#include "FuzzSupport.h"

#include <Kor/Application.h>
#include <Kor/LogModule.h>
#include <Kor/SetupConfigData.h>

#include <QDir>

namespace {

// The set-up file is found through the machine store, as on a real machine.
void prepareMachine()
{
    const QDir root(fuzz::folder().path());
    root.mkpath(QStringLiteral("registry/HKEY_LOCAL_MACHINE/SOFTWARE"));
    root.mkpath(QStringLiteral("updater"));
    QFile store(root.filePath(QStringLiteral("registry/HKEY_LOCAL_MACHINE/SOFTWARE/Kor.ini")));
    if (store.open(QIODevice::WriteOnly))
        store.write("[Common]\nUpdaterConfigPath=" + QFile::encodeName(root.filePath(QStringLiteral("updater"))) + "\n");
    qputenv("KOR_REGISTRY_ROOT", QFile::encodeName(root.filePath(QStringLiteral("registry"))));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::application();
    prepareMachine();
    static Kor::NS::Application app(
        QSharedPointer<QCoreApplication>(QCoreApplication::instance(), [](QCoreApplication*) {}));
    // Lines are built but go nowhere: the fuzzer must not fill a disk.
    Kor::LogModule::Start(0, "", "fuzz", "fuzz");
    Kor::LogModule::SetGlobalInfoSeverity(Kor::TRACE);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString path = Kor::NS::Application::instance()->updaterConfigPath(QStringLiteral("setup.xml"));
    if (!fuzz::writeInput(path, data, size))
        return 0;
    Kor::NS::SetupConfigData config;
    config.initAfterLogCreation();
    config.initDataPaths();
    (void)config.aipHosts();
    return 0;
}
