// The run's clock and its bounded, time-ordered event record.
#include "timeline.h"

#include <gtest/gtest.h>

#include <QMetaObject>

#include <sstream>
#include <thread>

namespace {

std::vector<std::string> names(const Timeline& timeline)
{
    std::vector<std::string> result;
    for (const auto& event : timeline.getEvents())
        result.push_back(event.name.toStdString());
    return result;
}

} // namespace

TEST(Timeline, ClockRunsFromConstruction)
{
    Timeline timeline;
    const qlonglong first = timeline.timestamp();
    EXPECT_GE(first, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    qlonglong viaMetaObject = -1;
    ASSERT_TRUE(QMetaObject::invokeMethod(&timeline, "timestamp", Q_RETURN_ARG(qlonglong, viaMetaObject)));
    EXPECT_GE(viaMetaObject, first + 30);
}

TEST(Timeline, OrderAndLookup)
{
    Timeline timeline;
    EXPECT_EQ(timeline.findLastEventTime("a"), -1);

    timeline.markNow("a");
    const qint64 firstA = timeline.findLastEventTime("a");
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    timeline.markNow("a");
    EXPECT_GT(timeline.findLastEventTime("a"), firstA) << "the later of two marks";

    timeline.expectIn(10000, "x");
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    timeline.markNow("y");
    EXPECT_EQ(names(timeline), (std::vector<std::string>{"a", "a", "y", "x"})) << "a will-event stays in the future";
    EXPECT_EQ(timeline.getEvents().back().kind, Timeline::Will);
    EXPECT_GE(timeline.findLastEventTime("x"), 10000);

    EXPECT_EQ(timeline.findLastEventTime("A"), -1) << "names match exactly";
    EXPECT_EQ(timeline.findLastEventTime("x "), -1);
}

TEST(Timeline, SameTimeGoesBeforeAndLookupSeesEitherKind)
{
    Timeline timeline;
    timeline.addEvent(100, Timeline::Did, "first");
    timeline.addEvent(100, Timeline::Will, "second");
    timeline.addEvent(50, Timeline::Did, "early");
    timeline.addEvent(200, Timeline::Did, "late");
    timeline.addEvent(100, Timeline::Did, "third");
    EXPECT_EQ(names(timeline), (std::vector<std::string>{"early", "third", "second", "first", "late"}));
    EXPECT_EQ(timeline.findLastEventTime("second"), 100);

    std::ostringstream text;
    text << timeline;
    EXPECT_EQ(text.str(), "Timeline 50:\tdid early\n100:\tdid third\n100:\twill second\n100:\tdid first\n200:\tdid late\n");
}

TEST(Timeline, TrimsToTheNewestHalfPastThreeHundred)
{
    Timeline timeline;
    timeline.addEvent(0, Timeline::Did, "only at the start");
    for (int i = 1; i < 300; ++i)
        timeline.addEvent(i, Timeline::Did, QString::number(i));
    ASSERT_EQ(timeline.getEvents().size(), 300u);
    EXPECT_EQ(timeline.findLastEventTime("only at the start"), 0);

    timeline.addEvent(300, Timeline::Did, "300");
    ASSERT_EQ(timeline.getEvents().size(), 151u);
    EXPECT_EQ(timeline.getEvents().front().time, 150);
    EXPECT_EQ(timeline.getEvents().back().time, 300);
    EXPECT_EQ(timeline.findLastEventTime("only at the start"), -1);
    EXPECT_EQ(timeline.findLastEventTime("149"), -1);
    EXPECT_EQ(timeline.findLastEventTime("150"), 150);

    // An event older than everything kept still lands in order and counts for the trim.
    for (int i = 0; i < 149; ++i)
        timeline.addEvent(1000 + i, Timeline::Did, "more");
    ASSERT_EQ(timeline.getEvents().size(), 300u);
    timeline.addEvent(-5, Timeline::Did, "old");
    ASSERT_EQ(timeline.getEvents().size(), 151u);
    EXPECT_EQ(timeline.findLastEventTime("old"), -1) << "the oldest go first";
    EXPECT_EQ(timeline.getEvents().front().time, 299);
    EXPECT_EQ(timeline.getEvents().back().time, 1148);
}
