// The moment a predicate is evaluated against, as local wall-clock values.
#pragma once

#include <QDateTime>

#include <cstdint>

class PredicateDateTime {
public:
    // Now, with the system time zone attached.
    PredicateDateTime();
    explicit PredicateDateTime(const QDateTime& dateTime);

    // Milliseconds from the epoch to 00:00 UTC of the local calendar date: the local date
    // encoded as a UTC midnight, so the time zone plays no part.
    int64_t dateInMilliseconds() const;
    // Milliseconds since the start of the local day; 0 if the time is invalid.
    uint32_t timeInMilliseconds() const;
    // Monday 0 through Sunday 6; -1 for an invalid date.
    int weekday() const;

    // Moves to another instant, keeping the time zone.
    void setMSecsSinceEpoch(qint64 msecs) { m_dateTime.setMSecsSinceEpoch(msecs); }
    const QDateTime& dateTime() const { return m_dateTime; }

private:
    QDateTime m_dateTime;
};
