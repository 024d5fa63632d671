// Reading schedule expressions: what they mean, how they bind, and where they go wrong.
#include "predicateparser.h"

#include "predicatetesting.h"

#include <gtest/gtest.h>

using namespace predicate;
using predicatetesting::parsed;

TEST(PredicateParser, ReadsEachKindOfTest)
{
    struct Case {
        const char* text;
        const char* canonical;
    };
    const Case cases[] = {
        {"weekday in mon..fri and time in 09:00..17:00", "(weekday in mon..fri and time in 09:00..17:00)"},
        {"WEEKDAY In Sat..SUN", "weekday in sat..sun"},
        {"weekday in {sat, sun}", "weekday in sat..sun"},
        {"weekday in {monday,wed , FRIDAY}", "weekday in {mon, wed, fri}"},
        {"weekday in thu", "weekday in thu"},
        {"weekday in fri..mon", "weekday in fri..mon"},
        {"weekday in tue..mon", "weekday in mon..sun"},
        {"weekday in {sun..sun, mon}", "weekday in sun..mon"},
        {"weekday in {wed, sat..mon}", "weekday in {sat..mon, wed}"},
        {"time in 22:00..02:00", "time in 22:00..02:00"},
        {"time in 9:05..17:00:30", "time in 09:05..17:00:30"},
        {"time in {00:00..06:00, 18:00..24:00}", "time in {00:00..06:00, 18:00..24:00}"},
        {"time in 12:00..00:00", "time in 12:00..00:00"},
        {"date in 2026-12-01..2026-12-24", "date in 2026-12-01..2026-12-24"},
        {"date in {2026-12-25, 2027-01-01..2027-01-06}", "date in {2026-12-25, 2027-01-01..2027-01-06}"},
        {"date in 2024-02-29..2024-02-29", "date in 2024-02-29"},
        {"always", "always"},
        {"NEVER", "never"},
        {" \t( weekday in mon )\n", "weekday in mon"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parsed(QString::fromUtf8(c.text)).toText(), QString::fromLatin1(c.canonical));
    }
}

TEST(PredicateParser, LiteralsBecomeTheValuesTheVmCompares)
{
    const Expr times = parsed("time in {09:00..17:00, 23:59:59..24:00, 00:00..00:00:01}");
    ASSERT_EQ(times.windows.size(), 3u);
    EXPECT_EQ(times.windows[0], (TimeWindow{32400000, 61200000}));
    EXPECT_EQ(times.windows[1], (TimeWindow{86399000, 86400000}));
    EXPECT_EQ(times.windows[2], (TimeWindow{0, 1000}));

    struct DateCase {
        const char* text;
        int64_t day;
    };
    const DateCase dates[] = {
        {"1970-01-01", 0},        {"1969-12-31", -1},        {"1970-09-13", 255},    {"2149-06-06", 65535},
        {"2149-06-07", 65536},    {"0001-01-01", -719162},   {"9999-12-31", 2932896}, {"2000-02-29", 11016},
    };
    for (const auto& c : dates) {
        SCOPED_TRACE(c.text);
        const Expr e = parsed(QStringLiteral("date in ") + QLatin1String(c.text));
        ASSERT_EQ(e.dates.size(), 1u);
        EXPECT_EQ(e.dates[0], (DateRange{c.day, c.day}));
    }

    EXPECT_EQ(parsed("weekday in {mon, sun}").weekdays, 0x41);
    EXPECT_EQ(parsed("weekday in sat..tue").weekdays, 0x60 | 0x03);
}

TEST(PredicateParser, NotBindsTighterThanAndTighterThanOr)
{
    struct Case {
        const char* text;
        const char* structure;
    };
    const Case cases[] = {
        {"always or never and never", "(always or (never and never))"},
        {"never and never or always", "((never and never) or always)"},
        {"not always and never", "(not always and never)"},
        {"not always or always", "(not always or always)"},
        {"not (always and never)", "not (always and never)"},
        {"not not never", "not not never"},
        {"(always or never) and never", "((always or never) and never)"},
        {"always or never or always and never and always", "(always or never or (always and never and always))"},
        {"always or (never or always)", "(always or (never or always))"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parsed(c.text).toText(), QString::fromLatin1(c.structure));
    }
}

TEST(PredicateParser, ReportsTheFirstFaultWithItsColumn)
{
    struct Case {
        QString text;
        int column;
        const char* message;
    };
    const Case cases[] = {
        {"", 1, "expected 'weekday', 'time', 'date', 'always', 'never', 'not' or '(', found end of input"},
        {"weekday in mon..fri and time in 9am..17:00", 33, "expected a time like 09:00, found '9am'"},
        {"weekday is mon", 9, "expected 'in', found 'is'"},
        {"weekday", 8, "expected 'in', found end of input"},
        {"weekday in moon", 12, "expected a weekday like mon, found 'moon'"},
        {"weekday in mon..", 17, "expected a weekday like mon, found end of input"},
        {"weekday in {}", 13, "expected a weekday like mon, found '}'"},
        {"weekday in {mon tue}", 17, "expected ',' or '}', found 'tue'"},
        {"weekday in {mon,", 17, "expected a weekday like mon, found end of input"},
        {"weekday in mon.fri", 15, "unexpected character '.'"},
        {"time in 09:00", 14, "expected '..', found end of input"},
        {"time in 09:00-17:00", 9, "expected a time like 09:00, found '09:00-17:00'"},
        {"time in 25:00..26:00", 9, "no such time '25:00'"},
        {"time in 09:60..10:00", 9, "no such time '09:60'"},
        {"time in 09:00..24:01", 16, "no such time '24:01'"},
        {"time in 09:00..123:00", 16, "expected a time like 09:00, found '123:00'"},
        {"time in 24:00..06:00", 9, "24:00 can only end a time window"},
        {"time in {06:00..07:00, 09:00..09:00:00}", 24, "time window 09:00..09:00 is empty"},
        {"date in 2026-02-29", 9, "no such date '2026-02-29'"},
        {"date in 0000-01-01", 9, "no such date '0000-01-01'"},
        {"date in 2026-12-24..2026-12-01", 9, "date range 2026-12-24..2026-12-01 ends before it starts"},
        {"date in 26-12-24", 9, "expected a date like 2026-12-24, found '26-12-24'"},
        {"date in today", 9, "expected a date like 2026-12-24, found 'today'"},
        {"always and", 11, "expected 'weekday', 'time', 'date', 'always', 'never', 'not' or '(', found end of input"},
        {"always never", 8, "expected 'and', 'or' or end of input, found 'never'"},
        {"(always", 8, "expected 'and', 'or' or ')', found end of input"},
        {"always)", 7, "expected 'and', 'or' or end of input, found ')'"},
        {"always && never", 8, "unexpected character '&'"},
        {"not", 4, "expected 'weekday', 'time', 'date', 'always', 'never', 'not' or '(', found end of input"},
        {"weekday in mon, tue", 15, "expected 'and', 'or' or end of input, found ','"},
        {QString::fromUtf8("never or \xF0\x9F\x98\x80"), 10, "unexpected character '\xF0\x9F\x98\x80'"},
        {QString::fromUtf8("d\xC3\xA4te in 2026-01-01"), 1,
         "expected 'weekday', 'time', 'date', 'always', 'never', 'not' or '(', found 'd\xC3\xA4te'"},
        {QString("(").repeated(PredicateParser::kMaxNesting + 1) + "always" + QString(")").repeated(201),
         PredicateParser::kMaxNesting + 1, "expression nested too deeply (more than 200 levels)"},
        {QString("not ").repeated(PredicateParser::kMaxNesting + 1) + "always", 4 * PredicateParser::kMaxNesting + 1,
         "expression nested too deeply (more than 200 levels)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        PredicateParser parser(c.text);
        EXPECT_FALSE(parser.parse().has_value());
        EXPECT_EQ(parser.error().column, c.column);
        EXPECT_EQ(parser.error().message, QString::fromUtf8(c.message));
    }
}

TEST(PredicateParser, NestingUpToTheLimitIsFine)
{
    const int depth = PredicateParser::kMaxNesting;
    EXPECT_EQ(parsed(QString("(").repeated(depth) + "always" + QString(")").repeated(depth)), Expr::always());
    EXPECT_EQ(parsed(QString("not ").repeated(depth) + "never").kind, Expr::Kind::Not);
}

TEST(PredicateParser, ErrorTextNamesTheColumn)
{
    PredicateParser parser("time in 9am..17:00");
    ASSERT_FALSE(parser.parse());
    EXPECT_EQ(parser.error().toString(), "column 9: expected a time like 09:00, found '9am'");
}
