// The built kestrova-predicate as a user runs it: output, errors and exit codes.
#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace {

struct Outcome {
    int exitCode = -1;
    QString out;
    QString err;
};

Outcome tool(const QStringList& arguments)
{
    QProcess process;
    process.start(QString::fromLocal8Bit(qgetenv("KESTROVA_PREDICATE")), arguments);
    Outcome run;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit) {
        ADD_FAILURE() << "kestrova-predicate " << arguments.join(' ').toStdString() << " did not finish";
        return run;
    }
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// The definition line of a successful compile.
QString compiled(const QStringList& arguments)
{
    const Outcome run = tool(QStringList{"compile"} + arguments);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.endsWith('\n'));
    return run.out.trimmed();
}

const char* const kOffice = "weekday in mon..fri and time in 09:00..17:00";

} // namespace

TEST(PredicateTool, CompiledOfficeHoursEvaluateInTheViewer)
{
    ASSERT_FALSE(qgetenv("KESTROVA_PREDICATE").isEmpty());
    const QString definition = compiled({kOffice});
    EXPECT_TRUE(QRegularExpression("^[A-Za-z0-9+/]+=*$").match(definition).hasMatch()) << definition.toStdString();

    const QString labelled = compiled({kOffice, "--label", "office hours"});
    EXPECT_EQ(labelled, definition + " #office hours");

    struct Case {
        const char* at;
        const char* answer;
    };
    const Case cases[] = {
        {"2026-12-16T10:00", "1\n"},           // Wednesday
        {"2026-12-19T10:00", "0\n"},           // Saturday
        {"2026-12-16T17:00", "0\n"},           // closing time is outside
        {"2026-12-16T16:59:59.999", "1\n"},
        {"2026-12-16T08:59:59", "0\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.at);
        for (const QString& d : {definition, labelled}) {
            const Outcome run = tool({"eval", d, "--at", c.at});
            EXPECT_EQ(run.exitCode, 0);
            EXPECT_EQ(run.out.toStdString(), c.answer);
            EXPECT_EQ(run.err.toStdString(), "");
        }
    }

    const Outcome now = tool({"eval", compiled({"always"})});
    EXPECT_EQ(now.exitCode, 0);
    EXPECT_EQ(now.out.toStdString(), "1\n");
}

TEST(PredicateTool, ScheduleAndDisassembly)
{
    const Outcome schedule = tool({"schedule", compiled({"weekday in {fri, sat} and time in 22:00..02:00"}), "--from",
                               "2026-12-17", "--days", "4"});
    EXPECT_EQ(schedule.exitCode, 0);
    EXPECT_EQ(schedule.out.toStdString(),
              "2026-12-18 Fri 00:00 .. 02:00\n"
              "2026-12-18 Fri 22:00 .. 2026-12-19 Sat 02:00\n"
              "2026-12-19 Sat 22:00 .. 24:00\n");

    const Outcome disasm = tool({"disasm", compiled({"weekday in sat", "--label", "x"})});
    EXPECT_EQ(disasm.exitCode, 0);
    EXPECT_EQ(disasm.out.toStdString(),
              "    4  JBCS   weekday, 5, 11         ; sat\n"
              "    8  LDI8   A, 1\n"
              "   11  NOP    0x00                   ; never executed\n");
}

TEST(PredicateTool, DefinitionsTheViewerCannotUseGiveItsConstantAnswerAndLogLines)
{
    struct Case {
        const char* name;
        QString definition;
        const char* answer;
        const char* log;
    };
    const Case cases[] = {
        {"empty", "", "1\n", "Treating empty predicate as always true."},
        {"not a container", "AAAA", "0\n", "Predicate pcode invalid or unsupported. Treating as always false: AAAA"},
        {"two separators", "abc #x #y", "1\n", "Invalid NS predicate definition: abc #x #y"},
        // JMP back to offset 4: loads, then faults on every run.
        {"backward branch", "TlMAAQBYIQAAAQAEAA==", "0\n", "only forward branches allowed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome run = tool({"eval", c.definition, "--at", "2026-12-16T10:00"});
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out.toStdString(), c.answer);
        EXPECT_TRUE(run.err.contains(QLatin1String(c.log))) << run.err.toStdString();
    }
}

TEST(PredicateTool, BadInputIsAnErrorWithExitCodeTwo)
{
    const QString always = compiled({"always"});
    struct Case {
        const char* name;
        QStringList arguments;
        const char* firstLine;
    };
    const Case cases[] = {
        {"bad time in an expression", {"compile", "weekday in mon..fri and time in 9am..17:00"},
         "error: column 33: expected a time like 09:00, found '9am'"},
        {"label with the separator", {"compile", "always", "--label", "a #b"},
         "error: a label cannot contain ' #': the viewer would reject the definition"},
        {"--at without a time", {"eval", always, "--at", "2026-12-16"},
         "error: --at '2026-12-16' is not a local time like 2026-12-14T09:30 (YYYY-MM-DDTHH:MM[:SS[.mmm]])"},
        {"--at with a space", {"eval", always, "--at", "2026-12-16 10:00"},
         "error: --at '2026-12-16 10:00' is not a local time like 2026-12-14T09:30 (YYYY-MM-DDTHH:MM[:SS[.mmm]])"},
        {"--at on a day that does not exist", {"eval", always, "--at", "2026-02-29T10:00"},
         "error: --at '2026-02-29T10:00' is not a local time like 2026-12-14T09:30 (YYYY-MM-DDTHH:MM[:SS[.mmm]])"},
        {"--at in the hour the clock skips", {"eval", always, "--at", "2026-03-29T02:30"},
         "error: --at '2026-03-29T02:30' does not occur on the local clock in time zone Europe/Berlin"},
        {"--days zero", {"schedule", always, "--days", "0"}, "error: --days '0' is not a number of days from 1 to 3660"},
        {"--from not a date", {"schedule", always, "--from", "tomorrow"}, "error: --from 'tomorrow' is not a date like 2026-12-14"},
        {"disassembling nothing", {"disasm", ""}, "error: empty definition; the viewer treats it as always true"},
        {"unknown command", {"run", "always"}, "error: unknown command 'run'"},
        {"no command", {}, "error: no command given"},
        {"option of another command", {"compile", "always", "--at", "2026-12-16T10:00"}, "error: compile does not take --at"},
        {"two expressions", {"compile", "always", "never"}, "error: compile takes exactly one expression argument, in quotes"},
        {"unknown option", {"eval", always, "--when", "now"}, "error: Unknown option 'when'."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome run = tool(c.arguments);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.out.toStdString(), "");
        EXPECT_EQ(run.err.section('\n', 0, 0).toStdString(), c.firstLine);
    }
}
