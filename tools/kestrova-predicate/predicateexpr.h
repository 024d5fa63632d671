// Syntax tree of the schedule language, and what an expression means for the three
// inputs a predicate program sees: day number, time of day and weekday.
#pragma once

#include <QDate>
#include <QString>

#include <cstdint>
#include <vector>

namespace predicate {

constexpr uint32_t kMillisecondsPerDay = 86400000;

// Time of day in [start, end), milliseconds since midnight. A window whose end is before
// its start crosses midnight: it holds from start to the end of the day and from
// midnight up to end.
struct TimeWindow {
    uint32_t start = 0;
    uint32_t end = 0;

    bool contains(uint32_t timeMs) const;
    bool operator==(const TimeWindow& other) const { return start == other.start && end == other.end; }
};

// Calendar days from first to last, both included, as day numbers (days since 1970-01-01).
struct DateRange {
    int64_t first = 0;
    int64_t last = 0;

    bool contains(int64_t day) const { return first <= day && day <= last; }
    bool operator==(const DateRange& other) const { return first == other.first && last == other.last; }
};

struct Expr {
    enum class Kind { Always, Never, Not, And, Or, Weekday, Time, Date };

    Kind kind = Kind::Always;
    std::vector<Expr> operands;      // Not: one; And, Or: two or more
    uint8_t weekdays = 0;            // Weekday: bit n set for weekday n, Monday 0
    std::vector<TimeWindow> windows; // Time: holds inside any of them
    std::vector<DateRange> dates;    // Date: holds inside any of them

    static Expr always();
    static Expr never();
    static Expr negation(Expr operand);
    static Expr conjunction(std::vector<Expr> operands);
    static Expr disjunction(std::vector<Expr> operands);
    static Expr weekdayIn(uint8_t mask);
    static Expr timeIn(std::vector<TimeWindow> windows);
    static Expr dateIn(std::vector<DateRange> dates);

    // The answer for the inputs the VM gets. Weekday 7 is a valid VM input that no
    // weekday set contains.
    bool holds(int64_t day, uint32_t timeMs, int weekday) const;

    // Source text that parses back to this expression; every 'and' and 'or' group is
    // parenthesised so the structure shows.
    QString toText() const;

    bool operator==(const Expr& other) const;
    bool operator!=(const Expr& other) const { return !(*this == other); }
};

// Day numbers as the VM counts them, and back.
int64_t dayNumber(const QDate& date);
QDate dateOfDay(int64_t day);

// "09:00", "09:00:30", "09:00:30.250", "24:00".
QString timeText(uint32_t timeMs);
// "2026-12-24", four-digit year.
QString dateText(int64_t day);
// Lower-case three-letter names, Monday 0.
QString weekdayName(int weekday);
// "mon..fri", "{mon, wed, fri..sun}": runs of set bits, a run may wrap past Sunday.
QString weekdaySetText(uint8_t mask);

} // namespace predicate
