#pragma once

#if defined(KORCORE_BUILDING)
#  define KORCORE_EXPORT __attribute__((visibility("default")))
#else
#  define KORCORE_EXPORT
#endif
