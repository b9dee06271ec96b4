// The console commands typed while the program runs.
#include "ConsoleCommands_p.h"

#include "CoreLog_p.h"
#include "LogLevelKeys_p.h"
#include "LogSettings_p.h"

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

template<typename T>
void change(LogSettings& inForce, T LogSettings::*field, T value)
{
    LogSettings next = inForce;
    next.*field = value;
    LogSettings::apply(next, &inForce);
    inForce = next.inForce();
}

void toggle(LogSettings& inForce, bool LogSettings::*field, const char* what)
{
    const bool on = !(inForce.*field);
    change(inForce, field, on);
    reply(toggleReply(on, what));
}

void nameSizeCommand(const QString& rest, LogSettings& inForce)
{
    bool ok = false;
    const unsigned long size = rest.toULong(&ok, 10);
    // The log module takes an int: a larger number would wrap.
    if (!ok || size > static_cast<unsigned long>(INT_MAX)) {
        reply(QLatin1String("Invalid length '") + rest + QLatin1Char('\''));
        return;
    }
    change(inForce, &LogSettings::nameSize, qint64(size));
    reply(QStringLiteral("Set minimum name size to '%1' characters").arg(inForce.nameSize));
}

void levelCommand(const QString& line, LogSettings& inForce)
{
    bool ok = false;
    const int value = line.mid(2, 1).toInt(&ok, 10);
    if (!ok)
        return;
    const QChar target = line.at(1);
    const char* word = nullptr;
    int LogSettings::*field = nullptr;
    if (target == QLatin1Char('g')) {
        field = &LogSettings::global;
        word = "global";
    } else if (target == QLatin1Char('c')) {
        field = &LogSettings::console;
        word = "console";
    } else if (target == QLatin1Char('f')) {
        field = &LogSettings::logFile;
        word = "logfile";
    } else {
        return;
    }
    change(inForce, field, value);
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

void runConsoleCommand(const QString& input, LogSettings& inForce)
{
    const QString line = input.toLower();
    if (line == QLatin1String("h") || line == QLatin1String("help")) {
        reply(helpScreen());
    } else if (line == QLatin1String("lt")) {
        toggle(inForce, &LogSettings::threadId, "logging of thread ids");
    } else if (line == QLatin1String("ld")) {
        toggle(inForce, &LogSettings::nameDotted, "dotting of logger name");
    } else if (line == QLatin1String("ls")) {
        toggle(inForce, &LogSettings::nameSeparated, "separators for logger name");
    } else if (line.startsWith(QLatin1String("ln"))) {
        nameSizeCommand(line.mid(2), inForce);
    } else if (line.size() == 3 && line.at(0) == QLatin1Char('l')) {
        levelCommand(line, inForce);
    }
}

} // namespace Kor::NS
