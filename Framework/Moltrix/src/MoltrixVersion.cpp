#include "MoltrixVersion.h"

extern "C" {
const unsigned s_MoltrixVersionHigh = 12;
const unsigned s_MoltrixVersionLow = 4;
const unsigned s_MoltrixVersionBuild = 7;
}
