#pragma once

#if defined(MOLTRIX_BUILDING)
#  define MOLTRIX_EXPORT __attribute__((visibility("default")))
#else
#  define MOLTRIX_EXPORT
#endif

// Version of the data-processing library.
extern "C" {
MOLTRIX_EXPORT extern const unsigned s_MoltrixVersionHigh;
MOLTRIX_EXPORT extern const unsigned s_MoltrixVersionLow;
MOLTRIX_EXPORT extern const unsigned s_MoltrixVersionBuild;
}
