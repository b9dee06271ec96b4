// The console keyboard: raw bytes as a terminal or a pipe sends them go
// through the key translator, and each line they form runs as a command.
#include "FuzzSupport.h"

#include "ConsoleCommands_p.h"
#include "Console.h"
#include "LogSettings_p.h"

#include <Kor/LogModule.h>

#include <QString>

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::application();
    Kor::LogModule::Start(0, "", "fuzz", "fuzz");
    Kor::LogModule::SetGlobalInfoSeverity(Kor::TRACE);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    Kor::Platform::KeyTranslator translator(data[0] & 1);
    std::string keys;
    // Two chunks, so that sequences cut at a read boundary are covered too.
    const int half = int((size - 1) / 2);
    translator.translate(data + 1, half, keys);
    translator.translate(data + 1 + half, int(size - 1 - half), keys);
    if (!translator.isTerminalMode() && keys.size() != size - 1)
        std::abort();

    static Kor::NS::LogSettings settings = Kor::NS::LogSettings().inForce();
    QString line;
    for (const char key : keys) {
        if (key == '\r' || key == '\n') {
            Kor::NS::runConsoleCommand(line, settings);
            line.clear();
        } else {
            line.append(QLatin1Char(key));
        }
    }
    Kor::NS::runConsoleCommand(line, settings);
    // The commands change the module's settings; start each input alike.
    Kor::LogModule::SetNameMinSize(0);
    settings = settings.inForce();
    return 0;
}
