#pragma once

// A begin/end pair of date-times, settable and readable as milliseconds
// since the Unix epoch.

#include "KorCoreExport.h"

#include <QDateTime>
#include <QTime>
#include <QtGlobal>

namespace Kor::NS {

class KORCORE_EXPORT TimeRange
{
public:
    TimeRange() = default;
    TimeRange(const QDateTime& begin, const QDateTime& end);
    // Milliseconds since the Unix epoch, in local time.
    TimeRange(quint64 beginMs, quint64 endMs);

    void setBegin(const QDateTime& begin) { m_begin = begin; }
    void setEnd(const QDateTime& end) { m_end = end; }
    void setBeginFromMillis(quint64 ms);
    void setEndFromMillis(quint64 ms);

    QDateTime getBegin() const { return m_begin; }
    QDateTime getEnd() const { return m_end; }
    quint64 getBeginAsMillis() const;
    quint64 getEndAsMillis() const;
    // An end before the begin gives the two's complement of the difference.
    quint64 getDurationAsMillis() const;
    // The duration as a time of day: it wraps at 24 hours, and a negative
    // one counts back from midnight.
    QTime getDuration() const;

    bool operator==(const TimeRange& other) const;

private:
    QDateTime m_begin;
    QDateTime m_end;
};

} // namespace Kor::NS
