// Locks a traced mutex twice with both trace settings on, in the working
// folder it was started in; "gone" removes that folder first.
// Arguments: <log file> <settings file> [gone]
#include <Kor/KorCore.h>
#include <Kor/LogModule.h>

#include <QCoreApplication>
#include <QDir>
#include <QMutex>
#include <QSettings>

#include <cstdio>
#include <cstring>

using namespace Kor::NS;

int main(int argc, char** argv)
{
    QCoreApplication core(argc, argv);
    if (argc < 3)
        return 2;
    Kor::LogModule::Start(Kor::LogModule::LogFile, argv[1], "trace", "trace");
    Kor::LogModule::SetGlobalInfoSeverity(Kor::TRACE);
    Kor::LogModule::SetInfoSeverity(Kor::LogModule::AllOutputs, Kor::TRACE);
    Kor::LogModule::LogFileFlush(true);
    {
        QSettings ini(QString::fromLocal8Bit(argv[2]), QSettings::IniFormat);
        ini.setValue("Loglevel/LogMutex", true);
        ini.setValue("Loglevel/LogMutexConfig", true);
    }
    if (argc > 3 && std::strcmp(argv[3], "gone") == 0 && !QDir().rmdir(QDir::currentPath()))
        return 3;
    Application app(QSharedPointer<QCoreApplication>(&core, [](QCoreApplication*) {}));
    app.setINIFile(QVariant(QString::fromLocal8Bit(argv[2])));
    QMutex mutex;
    _KorMutexLocker::registerMutex(&mutex, "helper");
    for (int i = 0; i < 2; ++i)
        _KorMutexLocker locker(&mutex);
    Kor::LogModule::LogFilePrepareStop();
    std::puts("done");
    return 0;
}
