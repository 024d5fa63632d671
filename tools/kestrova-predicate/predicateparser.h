// Reads schedule expressions such as "weekday in mon..fri and time in 09:00..17:00".
#pragma once

#include "predicateexpr.h"

#include <QString>
#include <QVector>

#include <functional>
#include <optional>

namespace predicate {

struct ParseError {
    int column = 0; // 1-based, in characters
    QString message;

    // "column 24: expected a time like 09:00, found '9am'"
    QString toString() const { return QStringLiteral("column %1: %2").arg(column).arg(message); }
};

class PredicateParser {
public:
    // Parentheses and 'not' may nest this deep.
    static constexpr int kMaxNesting = 200;

    explicit PredicateParser(const QString& text);

    // The expression, or nothing with error() telling where and why it failed. Reports
    // the first fault only.
    std::optional<Expr> parse();
    const ParseError& error() const { return m_error; }

private:
    struct Token {
        enum Type { Word, DotDot, LeftParen, RightParen, LeftBrace, RightBrace, Comma, Invalid, End };
        Type type = End;
        QString text; // as written
        int column = 0;
    };

    void tokenize(const QString& text);
    const Token& peek() const { return m_tokens.at(m_next); }
    bool peekWord(const char* keyword) const;
    const Token& take() { return m_tokens.at(m_next++); }
    bool fail(const Token& at, const QString& message);
    bool failExpected(const QString& expected);

    std::optional<Expr> parseDisjunction(int depth);
    std::optional<Expr> parseConjunction(int depth);
    std::optional<Expr> parseNegation(int depth);
    std::optional<Expr> parsePrimary(int depth);
    std::optional<Expr> parseWeekdays();
    std::optional<Expr> parseTimes();
    std::optional<Expr> parseDates();
    bool parseSet(const std::function<bool()>& parseItem);
    bool parseWeekdayItem(uint8_t* mask);
    bool parseWindow(TimeWindow* window);
    bool parseDateItem(DateRange* range);
    bool parseWeekday(int* weekday);
    bool parseTime(uint32_t* timeMs);
    bool parseDate(int64_t* day);

    QVector<Token> m_tokens;
    int m_next = 0;
    ParseError m_error;
    bool m_failed = false;
};

} // namespace predicate
