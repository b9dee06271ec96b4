#include "LogLevelKeys_p.h"

#include <QString>

namespace Kor::NS {

namespace {

const char* const SeverityNames[] = { "TRACE", "DEBUG", "INFO", "ALWAYS", "DISABLED" };

} // namespace

QString severityName(int severity)
{
    return QLatin1String(severity >= 0 && severity < Kor::DISABLED ? SeverityNames[severity] : "DISABLED");
}

std::optional<Kor::LogSeverity> parseLogSeverity(const QVariant& value)
{
    const QString text = value.toString().trimmed().toUpper();
    for (int i = 0; i <= Kor::DISABLED; ++i)
        if (text == QLatin1String(SeverityNames[i]))
            return Kor::LogSeverity(i);
    bool isNumber = false;
    const int n = text.toInt(&isNumber);
    if (isNumber && n >= 0 && n <= Kor::DISABLED)
        return Kor::LogSeverity(n);
    return std::nullopt;
}

std::optional<bool> parseLogSwitch(const QVariant& value)
{
    const QString text = value.toString().trimmed().toLower();
    if (text == QLatin1String("true") || text == QLatin1String("on") || text == QLatin1String("yes"))
        return true;
    if (text == QLatin1String("false") || text == QLatin1String("off") || text == QLatin1String("no"))
        return false;
    bool isNumber = false;
    const qlonglong n = text.toLongLong(&isNumber);
    if (isNumber)
        return n != 0;
    return std::nullopt;
}

} // namespace Kor::NS
