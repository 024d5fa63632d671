// Helpers for the kestrova-predicate tests: compiling expressions and local moments.
#pragma once

#include "predicatecompiler.h"
#include "predicateparser.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace predicatetesting {

inline predicate::Expr parsed(const QString& expression)
{
    predicate::PredicateParser parser(expression);
    const std::optional<predicate::Expr> expr = parser.parse();
    if (!expr) {
        ADD_FAILURE() << expression.toStdString() << ": " << parser.error().toString().toStdString();
        return predicate::Expr::never();
    }
    return *expr;
}

// The program body of an expression; the test fails if it does not compile.
inline QByteArray body(const QString& expression)
{
    predicate::PredicateCompiler compiler;
    const std::optional<QByteArray> code = compiler.compile(parsed(expression));
    if (!code) {
        ADD_FAILURE() << expression.toStdString() << ": " << compiler.error().toStdString();
        return QByteArray();
    }
    return *code;
}

inline QString definition(const QString& expression, const QString& label = QString())
{
    return predicate::PredicateCompiler::definition(predicate::PredicateCompiler::container(body(expression)), label);
}

// A wall-clock moment in the process time zone, as the viewer builds its moments.
inline QDateTime local(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int ms = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second, ms), QTimeZone::systemTimeZone());
}

} // namespace predicatetesting
