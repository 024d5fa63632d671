#include "schedulelisting.h"

#include "predicateexpr.h"

#include <predicatedatetime.h>
#include <slidepredicate.h>

#include <QDateTime>
#include <QTime>
#include <QTimeZone>

namespace predicate {

namespace {

constexpr int kMinutesPerDay = 24 * 60;

QString clock(int minute)
{
    return QString::asprintf("%02d:%02d", minute / 60, minute % 60);
}

QString stamp(const QDate& date, int minute)
{
    static const char* const names[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    return QStringLiteral("%1 %2 %3")
        .arg(dateText(dayNumber(date)), QLatin1String(names[date.dayOfWeek() - 1]), clock(minute));
}

} // namespace

std::vector<ScheduleInterval> ScheduleListing::intervals(const SlidePredicate& predicate, const QDate& from, int days)
{
    const QTimeZone zone = QTimeZone::systemTimeZone();
    std::vector<ScheduleInterval> found;
    bool open = false;
    QDate lastDate;
    int lastMinute = 0;
    auto close = [&] {
        found.back().endDate = lastMinute + 1 == kMinutesPerDay ? lastDate.addDays(1) : lastDate;
        found.back().endMinute = (lastMinute + 1) % kMinutesPerDay;
        open = false;
    };

    for (int d = 0; d < days; ++d) {
        const QDate date = from.addDays(d);
        for (int minute = 0; minute < kMinutesPerDay; ++minute) {
            const QTime time(minute / 60, minute % 60);
            const QDateTime moment(date, time, zone);
            // A wall-clock time the clock skips gives an invalid or moved date-time.
            if (!moment.isValid() || moment.date() != date || moment.time() != time)
                continue;
            if (predicate.evaluate(PredicateDateTime(moment))) {
                if (!open) {
                    found.push_back(ScheduleInterval{date, minute, date, minute});
                    open = true;
                }
                lastDate = date;
                lastMinute = minute;
            } else if (open) {
                close();
            }
        }
    }
    if (open)
        close();
    return found;
}

QString ScheduleListing::format(const ScheduleInterval& interval)
{
    QString end;
    if (interval.endDate == interval.startDate)
        end = clock(interval.endMinute);
    else if (interval.endDate == interval.startDate.addDays(1) && interval.endMinute == 0)
        end = QStringLiteral("24:00");
    else
        end = stamp(interval.endDate, interval.endMinute);
    return stamp(interval.startDate, interval.startMinute) + QStringLiteral(" .. ") + end;
}

} // namespace predicate
