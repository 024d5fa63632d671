#include "predicatedatetime.h"

#include <QTimeZone>

namespace {
constexpr qint64 kJulianDayOfEpoch = 2440588; // 1970-01-01
constexpr int64_t kMillisecondsPerDay = 86400000;
} // namespace

PredicateDateTime::PredicateDateTime()
    : m_dateTime(QDateTime::currentDateTime())
{
    m_dateTime.setTimeZone(QTimeZone::systemTimeZone());
}

PredicateDateTime::PredicateDateTime(const QDateTime& dateTime)
    : m_dateTime(dateTime)
{
}

int64_t PredicateDateTime::dateInMilliseconds() const
{
    const QDate date = m_dateTime.date();
    if (!date.isValid())
        return 0;
    return (date.toJulianDay() - kJulianDayOfEpoch) * kMillisecondsPerDay;
}

uint32_t PredicateDateTime::timeInMilliseconds() const
{
    const QTime time = m_dateTime.time();
    return time.isValid() ? uint32_t(time.msecsSinceStartOfDay()) : 0;
}

int PredicateDateTime::weekday() const
{
    return m_dateTime.date().dayOfWeek() - 1; // dayOfWeek() is 0 for an invalid date
}
