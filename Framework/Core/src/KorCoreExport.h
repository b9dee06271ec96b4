#pragma once

#if defined(KORCORE_BUILDING)
#  define KORCORE_EXPORT __attribute__((visibility("default")))
#else
#  define KORCORE_EXPORT
#endif

// Internal classes that the library's own tests reach: exported only from a
// build with tests, never part of the installed interface.
#if defined(KORCORE_AUTOTEST_EXPORTS)
#  define KORCORE_AUTOTEST_EXPORT KORCORE_EXPORT
#else
#  define KORCORE_AUTOTEST_EXPORT
#endif
