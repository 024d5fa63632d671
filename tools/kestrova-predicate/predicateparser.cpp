#include "predicateparser.h"

#include <QRegularExpression>

namespace predicate {

namespace {

// Letters beyond ASCII belong to words too, so a misspelt keyword is reported whole.
bool isWordCharacter(uint c)
{
    if (c >= 0x80)
        return QChar::isLetter(c);
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' || c == '-';
}

bool isSpace(uint c)
{
    return c < 0x10000 && QChar(ushort(c)).isSpace();
}

int weekdayOfName(const QString& word)
{
    static const char* const names[7][2] = {
        {"mon", "monday"}, {"tue", "tuesday"}, {"wed", "wednesday"}, {"thu", "thursday"},
        {"fri", "friday"}, {"sat", "saturday"}, {"sun", "sunday"},
    };
    for (int day = 0; day < 7; ++day) {
        if (word == QLatin1String(names[day][0]) || word == QLatin1String(names[day][1]))
            return day;
    }
    return -1;
}

} // namespace

PredicateParser::PredicateParser(const QString& text)
{
    tokenize(text);
}

void PredicateParser::tokenize(const QString& text)
{
    // Columns count characters, so work on code points.
    const QVector<uint> chars = text.toUcs4();
    const int n = chars.size();
    int i = 0;
    while (i < n) {
        const uint c = chars[i];
        if (isSpace(c)) {
            ++i;
            continue;
        }
        Token token;
        token.column = i + 1;
        const int start = i;
        if (isWordCharacter(c)) {
            while (i < n && isWordCharacter(chars[i]))
                ++i;
            token.type = Token::Word;
        } else if (c == '.' && i + 1 < n && chars[i + 1] == '.') {
            token.type = Token::DotDot;
            i += 2;
        } else {
            switch (c) {
            case '(': token.type = Token::LeftParen; break;
            case ')': token.type = Token::RightParen; break;
            case '{': token.type = Token::LeftBrace; break;
            case '}': token.type = Token::RightBrace; break;
            case ',': token.type = Token::Comma; break;
            default: token.type = Token::Invalid; break;
            }
            ++i;
        }
        token.text = QString::fromUcs4(chars.constData() + start, i - start);
        m_tokens.append(token);
    }
    Token end;
    end.type = Token::End;
    end.column = n + 1;
    m_tokens.append(end);
}

bool PredicateParser::peekWord(const char* keyword) const
{
    return peek().type == Token::Word && peek().text.compare(QLatin1String(keyword), Qt::CaseInsensitive) == 0;
}

bool PredicateParser::fail(const Token& at, const QString& message)
{
    if (!m_failed) {
        m_failed = true;
        m_error = ParseError{at.column, message};
    }
    return false;
}

bool PredicateParser::failExpected(const QString& expected)
{
    const Token& token = peek();
    if (token.type == Token::Invalid)
        return fail(token, QStringLiteral("unexpected character '%1'").arg(token.text));
    const QString found = token.type == Token::End ? QStringLiteral("end of input") : QLatin1Char('\'') + token.text + QLatin1Char('\'');
    return fail(token, QStringLiteral("expected %1, found %2").arg(expected, found));
}

std::optional<Expr> PredicateParser::parse()
{
    m_next = 0;
    m_failed = false;
    std::optional<Expr> expr = parseDisjunction(0);
    if (!expr)
        return std::nullopt;
    if (peek().type != Token::End) {
        failExpected(QStringLiteral("'and', 'or' or end of input"));
        return std::nullopt;
    }
    return expr;
}

std::optional<Expr> PredicateParser::parseDisjunction(int depth)
{
    std::vector<Expr> operands;
    do {
        if (!operands.empty())
            take();
        std::optional<Expr> operand = parseConjunction(depth);
        if (!operand)
            return std::nullopt;
        operands.push_back(std::move(*operand));
    } while (peekWord("or"));
    if (operands.size() == 1)
        return std::move(operands.front());
    return Expr::disjunction(std::move(operands));
}

std::optional<Expr> PredicateParser::parseConjunction(int depth)
{
    std::vector<Expr> operands;
    do {
        if (!operands.empty())
            take();
        std::optional<Expr> operand = parseNegation(depth);
        if (!operand)
            return std::nullopt;
        operands.push_back(std::move(*operand));
    } while (peekWord("and"));
    if (operands.size() == 1)
        return std::move(operands.front());
    return Expr::conjunction(std::move(operands));
}

std::optional<Expr> PredicateParser::parseNegation(int depth)
{
    if (!peekWord("not"))
        return parsePrimary(depth);
    const Token& token = take();
    if (depth >= kMaxNesting) {
        fail(token, QStringLiteral("expression nested too deeply (more than %1 levels)").arg(kMaxNesting));
        return std::nullopt;
    }
    std::optional<Expr> operand = parseNegation(depth + 1);
    if (!operand)
        return std::nullopt;
    return Expr::negation(std::move(*operand));
}

std::optional<Expr> PredicateParser::parsePrimary(int depth)
{
    const Token& token = peek();
    if (token.type == Token::LeftParen) {
        take();
        if (depth >= kMaxNesting) {
            fail(token, QStringLiteral("expression nested too deeply (more than %1 levels)").arg(kMaxNesting));
            return std::nullopt;
        }
        std::optional<Expr> inner = parseDisjunction(depth + 1);
        if (!inner)
            return std::nullopt;
        if (peek().type != Token::RightParen) {
            failExpected(QStringLiteral("'and', 'or' or ')'"));
            return std::nullopt;
        }
        take();
        return inner;
    }

    std::optional<Expr> (PredicateParser::*parseSubject)() = nullptr;
    if (peekWord("always")) {
        take();
        return Expr::always();
    }
    if (peekWord("never")) {
        take();
        return Expr::never();
    }
    if (peekWord("weekday"))
        parseSubject = &PredicateParser::parseWeekdays;
    else if (peekWord("time"))
        parseSubject = &PredicateParser::parseTimes;
    else if (peekWord("date"))
        parseSubject = &PredicateParser::parseDates;
    if (!parseSubject) {
        failExpected(QStringLiteral("'weekday', 'time', 'date', 'always', 'never', 'not' or '('"));
        return std::nullopt;
    }
    take();
    if (!peekWord("in")) {
        failExpected(QStringLiteral("'in'"));
        return std::nullopt;
    }
    take();
    return (this->*parseSubject)();
}

bool PredicateParser::parseSet(const std::function<bool()>& parseItem)
{
    if (peek().type != Token::LeftBrace)
        return parseItem();
    take();
    for (;;) {
        if (!parseItem())
            return false;
        if (peek().type == Token::RightBrace) {
            take();
            return true;
        }
        if (peek().type != Token::Comma)
            return failExpected(QStringLiteral("',' or '}'"));
        take();
    }
}

std::optional<Expr> PredicateParser::parseWeekdays()
{
    uint8_t mask = 0;
    if (!parseSet([&] { return parseWeekdayItem(&mask); }))
        return std::nullopt;
    return Expr::weekdayIn(mask);
}

std::optional<Expr> PredicateParser::parseTimes()
{
    std::vector<TimeWindow> windows;
    const bool ok = parseSet([&] {
        TimeWindow window;
        if (!parseWindow(&window))
            return false;
        windows.push_back(window);
        return true;
    });
    if (!ok)
        return std::nullopt;
    return Expr::timeIn(std::move(windows));
}

std::optional<Expr> PredicateParser::parseDates()
{
    std::vector<DateRange> dates;
    const bool ok = parseSet([&] {
        DateRange range;
        if (!parseDateItem(&range))
            return false;
        dates.push_back(range);
        return true;
    });
    if (!ok)
        return std::nullopt;
    return Expr::dateIn(std::move(dates));
}

bool PredicateParser::parseWeekdayItem(uint8_t* mask)
{
    int first = 0;
    if (!parseWeekday(&first))
        return false;
    int last = first;
    if (peek().type == Token::DotDot) {
        take();
        if (!parseWeekday(&last))
            return false;
    }
    // A range may wrap past Sunday: fri..mon is Friday through Monday.
    for (int day = first;; day = (day + 1) % 7) {
        *mask |= uint8_t(1 << day);
        if (day == last)
            break;
    }
    return true;
}

bool PredicateParser::parseWindow(TimeWindow* window)
{
    const Token& startToken = peek();
    if (!parseTime(&window->start))
        return false;
    if (window->start == kMillisecondsPerDay)
        return fail(startToken, QStringLiteral("24:00 can only end a time window"));
    if (peek().type != Token::DotDot)
        return failExpected(QStringLiteral("'..'"));
    take();
    if (!parseTime(&window->end))
        return false;
    if (window->start == window->end) {
        return fail(startToken, QStringLiteral("time window %1..%1 is empty").arg(timeText(window->start)));
    }
    return true;
}

bool PredicateParser::parseDateItem(DateRange* range)
{
    const Token& firstToken = peek();
    if (!parseDate(&range->first))
        return false;
    range->last = range->first;
    if (peek().type != Token::DotDot)
        return true;
    take();
    if (!parseDate(&range->last))
        return false;
    if (range->last < range->first) {
        return fail(firstToken, QStringLiteral("date range %1..%2 ends before it starts")
                                    .arg(dateText(range->first), dateText(range->last)));
    }
    return true;
}

bool PredicateParser::parseWeekday(int* weekday)
{
    if (peek().type == Token::Word) {
        const int day = weekdayOfName(peek().text.toLower());
        if (day >= 0) {
            take();
            *weekday = day;
            return true;
        }
    }
    return failExpected(QStringLiteral("a weekday like mon"));
}

bool PredicateParser::parseTime(uint32_t* timeMs)
{
    static const QRegularExpression shape(QStringLiteral("^([0-9]{1,2}):([0-9]{2})(?::([0-9]{2}))?$"));
    const QRegularExpressionMatch match = peek().type == Token::Word ? shape.match(peek().text) : QRegularExpressionMatch();
    if (!match.hasMatch())
        return failExpected(QStringLiteral("a time like 09:00"));
    const uint32_t hours = match.captured(1).toUInt();
    const uint32_t minutes = match.captured(2).toUInt();
    const uint32_t seconds = match.captured(3).toUInt(); // 0 when absent
    const bool endOfDay = hours == 24 && minutes == 0 && seconds == 0;
    if (!endOfDay && (hours > 23 || minutes > 59 || seconds > 59))
        return fail(peek(), QStringLiteral("no such time '%1'").arg(peek().text));
    *timeMs = ((hours * 60 + minutes) * 60 + seconds) * 1000;
    take();
    return true;
}

bool PredicateParser::parseDate(int64_t* day)
{
    static const QRegularExpression shape(QStringLiteral("^([0-9]{4})-([0-9]{2})-([0-9]{2})$"));
    const QRegularExpressionMatch match = peek().type == Token::Word ? shape.match(peek().text) : QRegularExpressionMatch();
    if (!match.hasMatch())
        return failExpected(QStringLiteral("a date like 2026-12-24"));
    const QDate date(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    if (!date.isValid())
        return fail(peek(), QStringLiteral("no such date '%1'").arg(peek().text));
    *day = dayNumber(date);
    take();
    return true;
}

} // namespace predicate
