#pragma once

// Crash dumps on request (command-line option); internal to the library.

namespace Kor::NS {

// Installs the crash handler once; true also when it was already installed.
bool installCrashHandler();
// Removes it again; false when there was nothing to remove.
bool uninstallCrashHandler();

} // namespace Kor::NS
