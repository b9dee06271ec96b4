// Logs one Qt fatal message through the bridge; the process must end with it.
#include <Kor/KorCore.h>
#include <Kor/LogModule.h>

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    // Even a fatal severity below the module's level ends the process.
    Kor::LogModule::Start(Kor::LogModule::LogFile, argv[1], "fatal", "fatal");
    Kor::LogModule::SetGlobalInfoSeverity(Kor::TRACE);
    Kor::LogModule::SetInfoSeverity(Kor::LogModule::AllOutputs, Kor::TRACE);
    Kor::NS::Logging::Install();
    qFatal("fatal %d", 7);
    return 0;
}
