#pragma once

// Internal: the mutex locker keeps the two trace settings; the settings
// store tells it when they may have changed.

namespace Kor::NS {

void mutexTraceSettingsChanged();

} // namespace Kor::NS
