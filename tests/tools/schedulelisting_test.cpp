// Listing when a predicate holds, run with TZ=Europe/Berlin so clock changes show.
#include "schedulelisting.h"

#include "predicatetesting.h"

#include <slidepredicate.h>

#include <gtest/gtest.h>

#include <QStringList>

using namespace predicate;

namespace {

QStringList listing(const QString& definition, const QDate& from, int days)
{
    const SlidePredicate predicate(definition);
    QStringList lines;
    for (const ScheduleInterval& interval : ScheduleListing::intervals(predicate, from, days))
        lines << ScheduleListing::format(interval);
    return lines;
}

} // namespace

TEST(ScheduleListing, JoinsMinutesIntoLocalIntervals)
{
    ASSERT_EQ(qgetenv("TZ"), "Europe/Berlin");
    struct Case {
        const char* name;
        QString definition;
        QDate from;
        int days;
        QStringList lines;
    };
    const Case cases[] = {
        {"office hours", predicatetesting::definition("weekday in mon..fri and time in 09:00..17:00"), {2026, 12, 16}, 5,
         {"2026-12-16 Wed 09:00 .. 17:00", "2026-12-17 Thu 09:00 .. 17:00", "2026-12-18 Fri 09:00 .. 17:00"}},
        {"nights run into the weekend and are cut at the ends",
         predicatetesting::definition("weekday in {sat, sun} or time in 22:00..02:00"), {2026, 12, 18}, 4,
         {"2026-12-18 Fri 00:00 .. 02:00", "2026-12-18 Fri 22:00 .. 2026-12-21 Mon 02:00",
          "2026-12-21 Mon 22:00 .. 24:00"}},
        {"seconds round to the minutes whose start holds",
         predicatetesting::definition("time in 12:00:30..12:02:00"), {2026, 12, 14}, 1, {"2026-12-14 Mon 12:01 .. 12:02"}},
        {"a date range", predicatetesting::definition("date in 2026-12-24..2026-12-26"), {2026, 12, 20}, 10,
         {"2026-12-24 Thu 00:00 .. 2026-12-27 Sun 00:00"}},
        {"never", predicatetesting::definition("never"), {2026, 12, 14}, 3, {}},
        {"an empty definition is always true in the viewer", "", {2026, 12, 14}, 1, {"2026-12-14 Mon 00:00 .. 24:00"}},
        {"an unloadable definition is always false in the viewer", "AAAA", {2026, 12, 14}, 1, {}},
        // 02:00 to 02:59 do not exist on the spring day: the window shows around the gap
        // and a window inside it not at all.
        {"clock goes forward", predicatetesting::definition("time in {01:30..03:30, 02:10..02:20}"), {2026, 3, 28}, 3,
         {"2026-03-28 Sat 01:30 .. 03:30", "2026-03-29 Sun 01:30 .. 03:30", "2026-03-30 Mon 01:30 .. 03:30"}},
        {"clock goes forward inside a longer interval", predicatetesting::definition("date in 2026-03-29"),
         {2026, 3, 29}, 1, {"2026-03-29 Sun 00:00 .. 24:00"}},
        {"window only in the gap", predicatetesting::definition("time in 02:10..02:20"), {2026, 3, 29}, 1, {}},
        // 02:00 to 02:59 happen twice on the autumn day; the wall clock lists them once.
        {"clock goes back", predicatetesting::definition("time in 02:10..02:20"), {2026, 10, 25}, 1,
         {"2026-10-25 Sun 02:10 .. 02:20"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::internal::CaptureStderr();
        const QStringList lines = listing(c.definition, c.from, c.days);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(lines.join('\n').toStdString(), c.lines.join('\n').toStdString());
    }
}
