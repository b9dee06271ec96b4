#pragma once

#include "KorCoreExport.h"

#include <QString>

namespace Kor::NS {

struct KORCORE_EXPORT VersionType
{
    VersionType() = default;
    VersionType(const unsigned& high, const unsigned& low, const unsigned& build)
        : high(high), low(low), build(build) {}

    unsigned high = 0;
    unsigned low = 0;
    unsigned build = 0;
};

struct KORCORE_EXPORT VersionInfo
{
    QString name;
    VersionType version;
    QString serviceName;
    QString serviceDescription;
    QString serviceDependencies;

    // " 8.01.23": the first number right-aligned in two places, the others
    // zero-padded to two digits.
    static QString toString(unsigned high, unsigned low, unsigned build);
    static QString toString(const VersionType& version);
    // "8.1" gives 8.1.0; parts that are no number give 0.
    static VersionType fromString(const QString& text);
};

} // namespace Kor::NS
