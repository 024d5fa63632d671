// kestrova-predicate: writes and checks schedule predicates without a content server.
#include "predicatecompiler.h"
#include "predicatedisassembler.h"
#include "predicateparser.h"
#include "schedulelisting.h"

#include <predicatedatetime.h>
#include <slidepredicate.h>

#include <glog/logging.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QTimeZone>

#include <cstdio>

using namespace predicate;

namespace {

constexpr int kExitError = 2;

void print(const QString& text)
{
    std::fputs(text.toUtf8().constData(), stdout);
}

int fail(const QString& message)
{
    std::fputs(QStringLiteral("error: %1\n").arg(message).toUtf8().constData(), stderr);
    return kExitError;
}

int usageError(const QString& message)
{
    fail(message);
    std::fputs("Run 'kestrova-predicate --help' for usage.\n", stderr);
    return kExitError;
}

void warnIfZoneUnknown()
{
    if (!QTimeZone::systemTimeZone().isValid()) {
        std::fputs("warning: the process time zone is unknown to Qt; the viewer could not evaluate predicates "
                   "in it either\n",
                   stderr);
    }
}

// The error, then the expression with a caret under the faulty column.
int parseFailure(const QString& expression, const ParseError& error)
{
    QString shown = expression;
    shown.replace(QRegularExpression(QStringLiteral("\\s")), QStringLiteral(" "));
    const QString caret = QString(QLatin1Char(' ')).repeated(error.column - 1) + QLatin1Char('^');
    std::fputs(QStringLiteral("error: %1\n  %2\n  %3\n").arg(error.toString(), shown, caret).toUtf8().constData(),
               stderr);
    return kExitError;
}

int compile(const QString& expression, const QString& label)
{
    if (label.contains(QStringLiteral(" #")))
        return fail(QStringLiteral("a label cannot contain ' #': the viewer would reject the definition"));
    PredicateParser parser(expression);
    const std::optional<Expr> expr = parser.parse();
    if (!expr)
        return parseFailure(expression, parser.error());
    PredicateCompiler compiler;
    const std::optional<QByteArray> body = compiler.compile(*expr);
    if (!body)
        return fail(compiler.error());
    print(PredicateCompiler::definition(PredicateCompiler::container(*body), label) + QLatin1Char('\n'));
    return 0;
}

int evaluate(const QString& definition, const QString& at)
{
    warnIfZoneUnknown();
    PredicateDateTime moment;
    if (!at.isNull()) {
        static const QRegularExpression shape(QStringLiteral(
            "^([0-9]{4})-([0-9]{2})-([0-9]{2})T([0-9]{2}):([0-9]{2})(?::([0-9]{2})(?:\\.([0-9]{3}))?)?$"));
        const QRegularExpressionMatch m = shape.match(at);
        const QDate date = m.hasMatch() ? QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt()) : QDate();
        const QTime time = m.hasMatch() ? QTime(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt(),
                                                m.captured(7).toInt())
                                        : QTime();
        if (!date.isValid() || !time.isValid())
            return fail(QStringLiteral("--at '%1' is not a local time like 2026-12-14T09:30 (YYYY-MM-DDTHH:MM[:SS[.mmm]])").arg(at));
        const QDateTime local(date, time, QTimeZone::systemTimeZone());
        if (!local.isValid() || local.date() != date || local.time() != time) {
            return fail(QStringLiteral("--at '%1' does not occur on the local clock in time zone %2")
                            .arg(at, QString::fromUtf8(QTimeZone::systemTimeZoneId())));
        }
        moment = PredicateDateTime(local);
    }
    const SlidePredicate predicate(definition);
    print(predicate.evaluate(moment) ? QStringLiteral("1\n") : QStringLiteral("0\n"));
    return 0;
}

int schedule(const QString& definition, const QString& fromText, const QString& daysText)
{
    QDate from = QDate::currentDate();
    if (!fromText.isNull()) {
        static const QRegularExpression shape(QStringLiteral("^([0-9]{4})-([0-9]{2})-([0-9]{2})$"));
        const QRegularExpressionMatch m = shape.match(fromText);
        from = m.hasMatch() ? QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt()) : QDate();
        if (!from.isValid())
            return fail(QStringLiteral("--from '%1' is not a date like 2026-12-14").arg(fromText));
    }
    int days = 7;
    if (!daysText.isNull()) {
        bool ok = false;
        days = daysText.toInt(&ok);
        if (!ok || days < 1 || days > ScheduleListing::kMaxDays)
            return fail(QStringLiteral("--days '%1' is not a number of days from 1 to %2").arg(daysText).arg(ScheduleListing::kMaxDays));
    }
    warnIfZoneUnknown();
    const SlidePredicate predicate(definition);
    for (const ScheduleInterval& interval : ScheduleListing::intervals(predicate, from, days))
        print(ScheduleListing::format(interval) + QLatin1Char('\n'));
    return 0;
}

int disassemble(const QString& definition)
{
    nimblesieve::Vm vm;
    QString error;
    if (!PredicateDisassembler::load(definition, &vm, &error))
        return fail(error);
    print(PredicateDisassembler::listing(vm.code()));
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    // SlidePredicate logs as it does in the viewer; here that goes to standard error.
    google::InitGoogleLogging(argv[0]);
    FLAGS_logtostderr = true;

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kestrova-predicate"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes and checks schedule predicates for kestrova-viewer playlists.\n\n"
        "  compile 'EXPRESSION' [--label TEXT]   definition text for playlist.json\n"
        "  eval 'DEFINITION' [--at TIME]         1 if it holds at that local time (default now), else 0\n"
        "  schedule 'DEFINITION' [--from DATE] [--days N]\n"
        "                                        local intervals in which it holds\n"
        "  disasm 'DEFINITION'                   the program, one instruction a line"));
    const QCommandLineOption helpOption = parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("compile, eval, schedule or disasm"));
    parser.addPositionalArgument(QStringLiteral("argument"), QStringLiteral("the expression or definition text"));
    const QCommandLineOption labelOption(QStringLiteral("label"), QStringLiteral("compile: label to append after ' #'."),
                                         QStringLiteral("text"));
    const QCommandLineOption atOption(QStringLiteral("at"), QStringLiteral("eval: local time YYYY-MM-DDTHH:MM[:SS[.mmm]]."),
                                      QStringLiteral("time"));
    const QCommandLineOption fromOption(QStringLiteral("from"), QStringLiteral("schedule: first day YYYY-MM-DD (today)."),
                                        QStringLiteral("date"));
    const QCommandLineOption daysOption(QStringLiteral("days"), QStringLiteral("schedule: number of days (7)."),
                                        QStringLiteral("n"));
    parser.addOptions({labelOption, atOption, fromOption, daysOption});

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all"))) {
        print(parser.helpText());
        return 0;
    }

    const QStringList arguments = parser.positionalArguments();
    const QString command = arguments.value(0);
    QStringList allowed;
    if (command == QLatin1String("compile"))
        allowed << labelOption.names();
    else if (command == QLatin1String("eval"))
        allowed << atOption.names();
    else if (command == QLatin1String("schedule"))
        allowed << fromOption.names() << daysOption.names();
    else if (command != QLatin1String("disasm"))
        return usageError(command.isEmpty() ? QStringLiteral("no command given")
                                            : QStringLiteral("unknown command '%1'").arg(command));
    for (const QString& name : parser.optionNames()) {
        if (!allowed.contains(name))
            return usageError(QStringLiteral("%1 does not take --%2").arg(command, name));
    }
    if (arguments.size() != 2) {
        return usageError(QStringLiteral("%1 takes exactly one %2 argument, in quotes")
                              .arg(command, command == QLatin1String("compile") ? QStringLiteral("expression")
                                                                                : QStringLiteral("definition")));
    }

    const QString& argument = arguments.at(1);
    if (command == QLatin1String("compile"))
        return compile(argument, parser.value(labelOption));
    if (command == QLatin1String("eval"))
        return evaluate(argument, parser.isSet(atOption) ? parser.value(atOption) : QString());
    if (command == QLatin1String("schedule")) {
        return schedule(argument, parser.isSet(fromOption) ? parser.value(fromOption) : QString(),
                        parser.isSet(daysOption) ? parser.value(daysOption) : QString());
    }
    return disassemble(argument);
}
