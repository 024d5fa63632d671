// When a predicate holds over a run of days, as local wall-clock intervals.
#pragma once

#include <QDate>
#include <QString>

#include <vector>

class SlidePredicate;

namespace predicate {

// [start, end) on the local clock, at minute resolution. The end is the minute after the
// last one that holds: 00:00 of the next day when that was 23:59.
struct ScheduleInterval {
    QDate startDate;
    int startMinute = 0; // since local midnight
    QDate endDate;
    int endMinute = 0;

    bool operator==(const ScheduleInterval& other) const
    {
        return startDate == other.startDate && startMinute == other.startMinute && endDate == other.endDate
            && endMinute == other.endMinute;
    }
};

class ScheduleListing {
public:
    static constexpr int kMaxDays = 3660;

    // Evaluates the predicate through SlidePredicate, as the viewer does, at the start of
    // every local minute of the days from, from + 1, ..., in the process time zone, and
    // joins the minutes that hold. Minutes the clock skips on a change to summer time are
    // never seen by the viewer: they are not evaluated and do not break an interval. The
    // hour the clock repeats gives the same answers twice and is listed once. Intervals
    // are cut at the start and end of the listed days.
    static std::vector<ScheduleInterval> intervals(const SlidePredicate& predicate, const QDate& from, int days);

    // "2026-12-14 Mon 09:00 .. 17:00"; an end on the next midnight is "24:00", an end on
    // a later day repeats the date: "2026-12-14 Mon 22:00 .. 2026-12-15 Tue 02:00".
    static QString format(const ScheduleInterval& interval);
};

} // namespace predicate
