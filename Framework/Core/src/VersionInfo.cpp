#include "VersionInfo.h"

#include <QStringList>

namespace Kor::NS {

QString VersionInfo::toString(unsigned high, unsigned low, unsigned build)
{
    return QStringLiteral("%1.%2.%3")
        .arg(high, 2, 10, QLatin1Char(' '))
        .arg(low, 2, 10, QLatin1Char('0'))
        .arg(build, 2, 10, QLatin1Char('0'));
}

QString VersionInfo::toString(const VersionType& version)
{
    return toString(version.high, version.low, version.build);
}

VersionType VersionInfo::fromString(const QString& text)
{
    QStringList parts = text.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    while (parts.size() < 3)
        parts.append(QStringLiteral("0"));
    // A negative number keeps its 32-bit pattern.
    return VersionType(unsigned(parts[0].toInt(nullptr, 10)), unsigned(parts[1].toInt(nullptr, 10)),
                       unsigned(parts[2].toInt(nullptr, 10)));
}

} // namespace Kor::NS
