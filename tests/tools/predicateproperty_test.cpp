// Random expressions, compiled and run the way the viewer runs them, must agree with the
// expression evaluated directly on the same inputs: local date, time of day, weekday.
// Run under TZ=Europe/Berlin and TZ=UTC.
#include "predicatecompiler.h"
#include "predicatedisassembler.h"
#include "predicateexpr.h"
#include "predicateparser.h"

#include "predicatetesting.h"

#include <predicatedatetime.h>
#include <slidepredicate.h>

#include <nimblesieve/vm.h>

#include <gtest/gtest.h>

#include <QTimeZone>

#include <set>
#include <vector>

using namespace predicate;

namespace {

constexpr uint32_t kHour = 3600000;

// Days where something happens: the 8- and 16-bit immediate limits, 1970, year ends,
// leap days (and 1900 and 2100, which have none), Berlin's clock changes, far dates.
const QDate kDays[] = {
    {1, 1, 1},      {1600, 2, 29},  {1900, 2, 28},  {1900, 3, 1},   {1960, 2, 29}, {1969, 12, 31},
    {1970, 1, 1},   {1970, 9, 13},  {1970, 9, 14},  {1980, 4, 6},   {1980, 9, 28}, {1999, 12, 31},
    {2000, 2, 29},  {2024, 2, 29},  {2026, 3, 29},  {2026, 10, 25}, {2026, 12, 31}, {2027, 1, 1},
    {2100, 2, 28},  {2100, 3, 1},   {2149, 6, 6},   {2149, 6, 7},   {2400, 2, 29}, {9999, 12, 31},
};

// Times where something happens: the immediate limits in milliseconds, the hours the
// clock changes at, and usual edges.
const uint32_t kTimes[] = {
    0, 1000, 65000, 66000, 60000, kHour, 2 * kHour, 2 * kHour + 30 * 60000, 3 * kHour, 9 * kHour, 12 * kHour,
    17 * kHour, 22 * kHour, 23 * kHour + 59 * 60000, 86399000, kMillisecondsPerDay,
};

class Generator {
public:
    explicit Generator(uint64_t seed) : m_state(seed) {}

    // xorshift64*: the same sequence on every platform.
    uint64_t next()
    {
        m_state ^= m_state >> 12;
        m_state ^= m_state << 25;
        m_state ^= m_state >> 27;
        return m_state * 2685821657736338717ull;
    }
    int below(int n) { return int(next() % uint64_t(n)); }

    Expr expression(int depth)
    {
        if (depth == 0 || below(4) == 0)
            return leaf();
        const int kind = below(5);
        if (kind == 0)
            return Expr::negation(expression(depth - 1));
        std::vector<Expr> operands;
        const int count = 2 + below(3);
        for (int i = 0; i < count; ++i)
            operands.push_back(expression(depth - 1));
        return kind % 2 ? Expr::conjunction(std::move(operands)) : Expr::disjunction(std::move(operands));
    }

private:
    Expr leaf()
    {
        switch (below(10)) {
        case 0:
            return below(2) ? Expr::always() : Expr::never();
        case 1:
        case 2:
            return Expr::weekdayIn(uint8_t(1 + below(127)));
        case 3:
        case 4:
        case 5: {
            std::vector<TimeWindow> windows(size_t(1 + below(3)));
            for (TimeWindow& w : windows) {
                do {
                    w.start = time(false);
                    w.end = time(true);
                } while (w.start == w.end);
            }
            return Expr::timeIn(std::move(windows));
        }
        default: {
            std::vector<DateRange> dates(size_t(1 + below(3)));
            for (DateRange& r : dates) {
                r.first = day();
                r.last = below(3) == 0 ? r.first : r.first + below(below(2) ? 3 : 400);
            }
            return Expr::dateIn(std::move(dates));
        }
        }
    }

    uint32_t time(bool mayEndTheDay)
    {
        if (below(3) == 0)
            return uint32_t(below(24 * 60)) * 60000 + (below(4) == 0 ? uint32_t(below(60)) * 1000 : 0);
        uint32_t t = kTimes[below(int(std::size(kTimes)))];
        while (t == kMillisecondsPerDay && !mayEndTheDay)
            t = kTimes[below(int(std::size(kTimes)))];
        return t;
    }

    int64_t day()
    {
        const int64_t base = dayNumber(kDays[below(int(std::size(kDays)))]);
        const int64_t d = base + below(5) - 2;
        return std::min<int64_t>(std::max<int64_t>(d, dayNumber({1, 1, 1})), dayNumber({9999, 12, 31}) - 400);
    }

    uint64_t m_state;
};

// Source text with random letter case and spacing, to be read back.
QString scramble(const QString& text, Generator& random)
{
    QString out;
    for (const QChar c : text) {
        if (c == QLatin1Char(' '))
            out += random.below(4) == 0 ? QStringLiteral(" \t ") : QStringLiteral(" ");
        else
            out += random.below(3) == 0 ? c.toUpper() : c;
    }
    return out;
}

struct Moment {
    PredicateDateTime when;
    int64_t day;
    uint32_t timeMs;
    int weekday;
};

Moment momentAt(const QDateTime& dateTime)
{
    const PredicateDateTime when(dateTime);
    return {when, nimblesieve::dayNumber(when.dateInMilliseconds()), when.timeInMilliseconds(), when.weekday()};
}

// Wall-clock samples on and around every listed day, and instants across the changes of
// the local clock (found from the zone, so the set fits whatever TZ is).
std::vector<Moment> sampleMoments()
{
    const QTimeZone zone = QTimeZone::systemTimeZone();
    std::vector<Moment> moments;
    auto addLocal = [&](const QDate& date, uint32_t timeMs) {
        const QDateTime dt(date, QTime::fromMSecsSinceStartOfDay(int(timeMs)), zone);
        if (dt.isValid()) // wall-clock times the clock skips never reach the viewer
            moments.push_back(momentAt(dt));
    };
    std::set<uint32_t> times = {0, kMillisecondsPerDay - 1};
    for (uint32_t t : kTimes) {
        for (int64_t delta : {-1, 0, 1}) {
            if (int64_t(t) + delta >= 0 && int64_t(t) + delta < kMillisecondsPerDay)
                times.insert(uint32_t(int64_t(t) + delta));
        }
    }
    for (const QDate& day : kDays) {
        for (int offset = -3; offset <= 3; ++offset) {
            const QDate date = day.addDays(offset);
            if (!date.isValid() || date.year() < 1 || date.year() > 9999)
                continue;
            for (uint32_t t : times)
                addLocal(date, t);
        }
    }

    for (int year : {1980, 1996, 2026, 2100}) {
        const QDateTime start(QDate(year, 1, 1), QTime(0, 0), Qt::UTC);
        for (const QTimeZone::OffsetData& change : zone.transitions(start, start.addYears(1))) {
            const qint64 at = change.atUtc.toMSecsSinceEpoch();
            for (qint64 delta = -3 * qint64(kHour); delta <= 3 * qint64(kHour); delta += 15 * 60000)
                moments.push_back(momentAt(QDateTime::fromMSecsSinceEpoch(at + delta, zone)));
            for (qint64 delta : {-1, 1})
                moments.push_back(momentAt(QDateTime::fromMSecsSinceEpoch(at + delta, zone)));
        }
    }
    return moments;
}

void collectEdges(const Expr& e, std::set<uint32_t>* times, std::set<int64_t>* days)
{
    for (const TimeWindow& w : e.windows) {
        times->insert(w.start);
        times->insert(w.end);
    }
    for (const DateRange& r : e.dates) {
        days->insert(r.first);
        days->insert(r.last);
    }
    for (const Expr& operand : e.operands)
        collectEdges(operand, times, days);
}

// The expression's own edges: each end of its date ranges at the first and last
// millisecond of the day before, on and after it, and each end of its time windows
// +-1 ms on a few days, clock-change days among them.
std::vector<Moment> edgeMoments(const Expr& e)
{
    std::set<uint32_t> times;
    std::set<int64_t> days;
    collectEdges(e, &times, &days);
    const QTimeZone zone = QTimeZone::systemTimeZone();
    std::vector<Moment> moments;
    auto add = [&](int64_t day, int64_t timeMs) {
        const QDate date = dateOfDay(day);
        if (timeMs < 0 || timeMs >= kMillisecondsPerDay || date.year() < 1 || date.year() > 9999)
            return;
        const QDateTime dt(date, QTime::fromMSecsSinceStartOfDay(int(timeMs)), zone);
        if (dt.isValid())
            moments.push_back(momentAt(dt));
    };
    for (int64_t day : days) {
        for (int64_t d = day - 1; d <= day + 1; ++d) {
            add(d, 0);
            add(d, kMillisecondsPerDay - 1);
        }
    }
    std::vector<int64_t> timeDays = {dayNumber({2026, 3, 29}), dayNumber({2026, 10, 25}), dayNumber({2024, 2, 29}),
                                     dayNumber({1969, 12, 31}), dayNumber({2026, 12, 16})};
    if (!days.empty())
        timeDays.push_back(*days.begin());
    for (int64_t day : timeDays) {
        for (uint32_t t : times) {
            for (int64_t delta : {-1, 0, 1})
                add(day, int64_t(t) + delta);
        }
    }
    return moments;
}

} // namespace

TEST(PredicateProperty, CompiledProgramsAgreeWithTheExpressions)
{
    const std::vector<Moment> moments = sampleMoments();
    ASSERT_FALSE(moments.empty());
    Generator random(0x6b657374726f7661);
    bool sawLongBranch = false;

    for (int n = 0; n < 300; ++n) {
        const Expr expr = random.expression(1 + n % 5);
        const QString text = expr.toText();
        SCOPED_TRACE(text.toStdString());

        const QString written = scramble(text, random);
        PredicateParser parser(written);
        const std::optional<Expr> reread = parser.parse();
        ASSERT_TRUE(reread.has_value()) << written.toStdString() << ": " << parser.error().toString().toStdString();
        EXPECT_TRUE(*reread == expr) << "read back as " << reread->toText().toStdString();

        PredicateCompiler compiler;
        const std::optional<QByteArray> body = compiler.compile(expr);
        ASSERT_TRUE(body.has_value()) << compiler.error().toStdString();
        const QByteArray container = PredicateCompiler::container(*body);

        // Forward branches only, onto instruction starts or the final byte, and long
        // only where a short one could not reach.
        nimblesieve::Vm vm;
        ASSERT_TRUE(vm.load(reinterpret_cast<const uint8_t*>(container.constData()), size_t(container.size())).ok());
        const std::vector<Instruction> code = PredicateDisassembler::decode(vm.code());
        std::set<int> starts;
        for (const Instruction& in : code)
            starts.insert(in.offset);
        for (const Instruction& in : code) {
            if (!in.isBranch)
                continue;
            const int displacement = in.target - (in.offset + in.length);
            EXPECT_GE(displacement, 0) << "branch at " << in.offset;
            EXPECT_TRUE(starts.count(in.target)) << "branch at " << in.offset << " to " << in.target;
            if (in.isLong) {
                EXPECT_GT(displacement, 255) << "branch at " << in.offset;
                sawLongBranch = true;
            }
        }

        const SlidePredicate predicate(PredicateCompiler::definition(container));
        ASSERT_TRUE(predicate.hasProgram());
        std::vector<Moment> all = edgeMoments(expr);
        all.insert(all.end(), moments.begin(), moments.end());
        for (const Moment& m : all) {
            const bool expected = expr.holds(m.day, m.timeMs, m.weekday);
            if (predicate.evaluate(m.when) != expected) {
                ADD_FAILURE() << "at " << m.when.dateTime().toString(Qt::ISODateWithMs).toStdString() << " (day "
                              << m.day << ", " << m.timeMs << " ms, weekday " << m.weekday << "): expected "
                              << expected;
                break;
            }
        }
    }
    EXPECT_TRUE(sawLongBranch) << "no expression was large enough for a long branch";
}
