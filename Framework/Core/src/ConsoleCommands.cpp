// The console commands typed while the program runs.
#include "ConsoleCommands_p.h"

#include "Application.h"
#include "CoreLog_p.h"

#include <Kor/LogModule.h>

#include <climits>

namespace Kor::NS {

namespace {

void reply(const QString& text)
{
    coreLog(Kor::ALWAYS, Kor::LOG_INFO) << text;
}

QString toggleReply(bool nowOn, const char* what)
{
    return QLatin1String(nowOn ? "Enabled " : "Disabled ") + QLatin1String(what);
}

void nameSizeCommand(const QString& rest)
{
    bool ok = false;
    const unsigned long size = rest.toULong(&ok, 10);
    // The log module takes an int: a larger number would wrap.
    if (!ok || size > static_cast<unsigned long>(INT_MAX)) {
        reply(QLatin1String("Invalid length '") + rest + QLatin1Char('\''));
        return;
    }
    Kor::LogModule::SetNameMinSize(int(size));
    reply(QStringLiteral("Set minimum name size to '%1' characters").arg(Kor::LogModule::GetNameMinSize()));
}

void levelCommand(const QString& line)
{
    bool ok = false;
    const int value = line.mid(2, 1).toInt(&ok, 10);
    if (!ok)
        return;
    const QChar target = line.at(1);
    const char* word = nullptr;
    if (target == QLatin1Char('g')) {
        Kor::LogModule::SetGlobalInfoSeverity(value);
        word = "global";
    } else if (target == QLatin1Char('c')) {
        Kor::LogModule::SetInfoSeverity(Kor::LogModule::Console, value);
        word = "console";
    } else if (target == QLatin1Char('f')) {
        Kor::LogModule::SetInfoSeverity(Kor::LogModule::LogFile, value);
        word = "logfile";
    } else {
        return;
    }
    reply(QLatin1String("Setting up ") + QLatin1String(word) + QLatin1String(" loglevel to ") + severityName(value));
}

QString helpScreen()
{
    static const char* const entries[] = {
        "lg<number> - sets the global loglevel to <number>",
        "lc<number> - sets the console loglevel to <number>",
        "lf<number> - sets the file loglevel to <number>",
        "lt         - toggles logging of thread ids",
        "ln<number> - sets the minimum size of the logger's name to <number>",
        "ld         - toggles dotting for the logger's name",
        "ls         - toggles printing separators for the logger's name",
        "h, help    - prints this helpscreen",
    };
    QString text = QStringLiteral("known commands:");
    for (const char* entry : entries)
        text += QLatin1String("\n\t") + QLatin1String(entry);
    return text + QLatin1Char('\n');
}

} // namespace

void runConsoleCommand(const QString& input)
{
    const QString line = input.toLower();
    if (line == QLatin1String("h") || line == QLatin1String("help")) {
        reply(helpScreen());
    } else if (line == QLatin1String("lt")) {
        const bool on = !Kor::LogModule::ThreadIDEnabled();
        Kor::LogModule::EnableThreadID(on, on);
        reply(toggleReply(on, "logging of thread ids"));
    } else if (line == QLatin1String("ld")) {
        const bool on = !Kor::LogModule::GetNameDotted();
        Kor::LogModule::SetNameDotted(on);
        reply(toggleReply(on, "dotting of logger name"));
    } else if (line == QLatin1String("ls")) {
        const bool on = !Kor::LogModule::GetNameSeparated();
        Kor::LogModule::SetNameSeparated(on);
        reply(toggleReply(on, "separators for logger name"));
    } else if (line.startsWith(QLatin1String("ln"))) {
        nameSizeCommand(line.mid(2));
    } else if (line.size() == 3 && line.at(0) == QLatin1Char('l')) {
        levelCommand(line);
    }
}

} // namespace Kor::NS
