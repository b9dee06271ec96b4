// The keyboard of a running program: lines and function keys.
#include "Application.h"
#include "Application_p.h"

#include "ConsoleCommands_p.h"
#include "LogSettings_p.h"

namespace Kor::NS {

void Application::keyboardInput(const QString& input)
{
    runConsoleCommand(input, *d->logSettings);
}

void Application::keyboardInput(int fkey)
{
    if (fkey == 1)
        keyboardInput(QStringLiteral("h"));
}

} // namespace Kor::NS
