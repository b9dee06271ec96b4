#pragma once

#if defined(VARNET_BUILDING)
#  define VARNET_EXPORT __attribute__((visibility("default")))
#else
#  define VARNET_EXPORT
#endif
