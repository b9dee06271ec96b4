// Version texts: any text gives a version, and a version's own text reads
// back as the same version. Parts above INT_MAX are excluded: the parse
// takes each part as an int, so they read back as 0.
#include "FuzzSupport.h"

#include <Kor/VersionInfo.h>

#include <climits>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using Kor::NS::VersionInfo;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto version = VersionInfo::fromString(text);
    const unsigned intMax = unsigned(INT_MAX);
    if (version.high > intMax || version.low > intMax || version.build > intMax)
        return 0;
    const auto again = VersionInfo::fromString(VersionInfo::toString(version));
    if (again.high != version.high || again.low != version.low || again.build != version.build)
        std::abort();
    return 0;
}
