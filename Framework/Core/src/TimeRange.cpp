#include "TimeRange.h"

namespace Kor::NS {

namespace {

constexpr qint64 MsPerDay = 24 * 60 * 60 * 1000;

} // namespace

TimeRange::TimeRange(const QDateTime& begin, const QDateTime& end) : m_begin(begin), m_end(end) {}

TimeRange::TimeRange(quint64 beginMs, quint64 endMs)
    : m_begin(QDateTime::fromMSecsSinceEpoch(qint64(beginMs))), m_end(QDateTime::fromMSecsSinceEpoch(qint64(endMs)))
{
}

void TimeRange::setBeginFromMillis(quint64 ms)
{
    m_begin = QDateTime::fromMSecsSinceEpoch(qint64(ms));
}

void TimeRange::setEndFromMillis(quint64 ms)
{
    m_end = QDateTime::fromMSecsSinceEpoch(qint64(ms));
}

quint64 TimeRange::getBeginAsMillis() const
{
    return quint64(m_begin.toMSecsSinceEpoch());
}

quint64 TimeRange::getEndAsMillis() const
{
    return quint64(m_end.toMSecsSinceEpoch());
}

quint64 TimeRange::getDurationAsMillis() const
{
    return quint64(m_begin.msecsTo(m_end));
}

QTime TimeRange::getDuration() const
{
    // Reduced first: QTime::addMSecs takes an int.
    return QTime(0, 0).addMSecs(int(m_begin.msecsTo(m_end) % MsPerDay));
}

bool TimeRange::operator==(const TimeRange& other) const
{
    return m_begin == other.m_begin && m_end == other.m_end;
}

} // namespace Kor::NS
