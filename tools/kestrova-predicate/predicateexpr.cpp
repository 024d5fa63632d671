#include "predicateexpr.h"

#include <QStringList>

#include <algorithm>

namespace predicate {

namespace {

constexpr qint64 kJulianDayOfEpoch = 2440588; // 1970-01-01

template <typename T, typename Format>
QString itemsText(const std::vector<T>& items, Format format)
{
    if (items.size() == 1)
        return format(items.front());
    QStringList texts;
    for (const T& item : items)
        texts << format(item);
    return QLatin1Char('{') + texts.join(QLatin1String(", ")) + QLatin1Char('}');
}

} // namespace

bool TimeWindow::contains(uint32_t timeMs) const
{
    if (start < end)
        return start <= timeMs && timeMs < end;
    return timeMs >= start || timeMs < end;
}

Expr Expr::always() { return Expr(); }

Expr Expr::never()
{
    Expr e;
    e.kind = Kind::Never;
    return e;
}

Expr Expr::negation(Expr operand)
{
    Expr e;
    e.kind = Kind::Not;
    e.operands.push_back(std::move(operand));
    return e;
}

Expr Expr::conjunction(std::vector<Expr> operands)
{
    Expr e;
    e.kind = Kind::And;
    e.operands = std::move(operands);
    return e;
}

Expr Expr::disjunction(std::vector<Expr> operands)
{
    Expr e;
    e.kind = Kind::Or;
    e.operands = std::move(operands);
    return e;
}

Expr Expr::weekdayIn(uint8_t mask)
{
    Expr e;
    e.kind = Kind::Weekday;
    e.weekdays = mask;
    return e;
}

Expr Expr::timeIn(std::vector<TimeWindow> windows)
{
    Expr e;
    e.kind = Kind::Time;
    e.windows = std::move(windows);
    return e;
}

Expr Expr::dateIn(std::vector<DateRange> dates)
{
    Expr e;
    e.kind = Kind::Date;
    e.dates = std::move(dates);
    return e;
}

bool Expr::holds(int64_t day, uint32_t timeMs, int weekday) const
{
    switch (kind) {
    case Kind::Always:
        return true;
    case Kind::Never:
        return false;
    case Kind::Not:
        return !operands.front().holds(day, timeMs, weekday);
    case Kind::And:
        return std::all_of(operands.begin(), operands.end(),
                           [&](const Expr& e) { return e.holds(day, timeMs, weekday); });
    case Kind::Or:
        return std::any_of(operands.begin(), operands.end(),
                           [&](const Expr& e) { return e.holds(day, timeMs, weekday); });
    case Kind::Weekday:
        return weekday >= 0 && weekday < 8 && (weekdays >> weekday & 1) != 0;
    case Kind::Time:
        return std::any_of(windows.begin(), windows.end(), [&](const TimeWindow& w) { return w.contains(timeMs); });
    case Kind::Date:
        return std::any_of(dates.begin(), dates.end(), [&](const DateRange& r) { return r.contains(day); });
    }
    return false;
}

QString Expr::toText() const
{
    switch (kind) {
    case Kind::Always:
        return QStringLiteral("always");
    case Kind::Never:
        return QStringLiteral("never");
    case Kind::Not:
        return QStringLiteral("not ") + operands.front().toText();
    case Kind::And:
    case Kind::Or: {
        QStringList texts;
        for (const Expr& e : operands)
            texts << e.toText();
        return QLatin1Char('(') + texts.join(kind == Kind::And ? QLatin1String(" and ") : QLatin1String(" or "))
            + QLatin1Char(')');
    }
    case Kind::Weekday:
        return QStringLiteral("weekday in ") + weekdaySetText(weekdays);
    case Kind::Time:
        return QStringLiteral("time in ") + itemsText(windows, [](const TimeWindow& w) {
                   return timeText(w.start) + QLatin1String("..") + timeText(w.end);
               });
    case Kind::Date:
        return QStringLiteral("date in ") + itemsText(dates, [](const DateRange& r) {
                   return r.first == r.last ? dateText(r.first) : dateText(r.first) + QLatin1String("..") + dateText(r.last);
               });
    }
    return QString();
}

bool Expr::operator==(const Expr& other) const
{
    if (kind != other.kind)
        return false;
    switch (kind) {
    case Kind::Always:
    case Kind::Never:
        return true;
    case Kind::Not:
    case Kind::And:
    case Kind::Or:
        return operands == other.operands;
    case Kind::Weekday:
        return weekdays == other.weekdays;
    case Kind::Time:
        return windows == other.windows;
    case Kind::Date:
        return dates == other.dates;
    }
    return false;
}

int64_t dayNumber(const QDate& date)
{
    return date.toJulianDay() - kJulianDayOfEpoch;
}

QDate dateOfDay(int64_t day)
{
    return QDate::fromJulianDay(day + kJulianDayOfEpoch);
}

QString timeText(uint32_t timeMs)
{
    const uint32_t seconds = timeMs / 1000 % 60;
    const uint32_t ms = timeMs % 1000;
    QString text = QString::asprintf("%02u:%02u", timeMs / 3600000, timeMs / 60000 % 60);
    if (seconds != 0 || ms != 0)
        text += QString::asprintf(":%02u", seconds);
    if (ms != 0)
        text += QString::asprintf(".%03u", ms);
    return text;
}

QString dateText(int64_t day)
{
    const QDate date = dateOfDay(day);
    return QString::asprintf("%04d-%02d-%02d", date.year(), date.month(), date.day());
}

QString weekdayName(int weekday)
{
    static const char* const names[] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};
    return weekday >= 0 && weekday < 7 ? QString::fromLatin1(names[weekday]) : QString::number(weekday);
}

QString weekdaySetText(uint8_t mask)
{
    mask &= 0x7F;
    if (mask == 0x7F)
        return QStringLiteral("mon..sun");
    // From Monday, unless a run goes through Sunday into Monday: then from its start.
    int begin = 0;
    if ((mask & 0x41) == 0x41) {
        begin = 6;
        while (mask >> begin & 1)
            --begin;
        ++begin;
    }
    QStringList runs;
    int runStart = -1;
    for (int i = 0; i <= 7; ++i) {
        const int day = (begin + i) % 7;
        const bool in = i < 7 && (mask >> day & 1);
        if (in && runStart < 0)
            runStart = day;
        if (!in && runStart >= 0) {
            const int runEnd = (day + 6) % 7;
            runs << (runStart == runEnd ? weekdayName(runStart)
                                        : weekdayName(runStart) + QLatin1String("..") + weekdayName(runEnd));
            runStart = -1;
        }
    }
    if (runs.size() == 1)
        return runs.front();
    return QLatin1Char('{') + runs.join(QLatin1String(", ")) + QLatin1Char('}');
}

} // namespace predicate
