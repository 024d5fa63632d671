// Compiled schedules as the viewer runs them, the code they become, and the size limit.
#include "predicatecompiler.h"
#include "predicatedisassembler.h"

#include "predicatetesting.h"

#include <predicatedatetime.h>
#include <slidepredicate.h>

#include <nimblesieve/opcodes.h>
#include <nimblesieve/vm.h>

#include <gtest/gtest.h>

#include <QByteArray>
#include <QStringList>

using namespace predicate;
using namespace nimblesieve;
using predicatetesting::body;
using predicatetesting::definition;
using predicatetesting::local;

namespace {

QByteArray bytes(std::initializer_list<uint8_t> values)
{
    QByteArray out;
    for (uint8_t value : values)
        out.append(char(value));
    return out;
}

// Runs a container through the library-level VM, the way the viewer's VM loads it.
int runContainer(const QByteArray& container, int64_t day, uint32_t timeMs = 0, uint8_t weekday = 0)
{
    Vm vm;
    if (!vm.load(reinterpret_cast<const uint8_t*>(container.constData()), size_t(container.size())).ok())
        return -2;
    const RunResult result = vm.run(day * nimblesieve::kMillisecondsPerDay, timeMs, weekday);
    return result.ok() ? int(result.value()) : -1;
}

} // namespace

TEST(PredicateCompiler, OfficeHoursHoldOnWeekdaysFromNineUntilFive)
{
    const SlidePredicate predicate(definition("weekday in mon..fri and time in 09:00..17:00", "office"));
    ASSERT_TRUE(predicate.hasProgram());
    EXPECT_EQ(predicate.getLabel(), "office");
    struct Case {
        const char* name;
        QDateTime when;
        bool expected;
    };
    const Case cases[] = {
        {"Wednesday 10:00", local(2026, 12, 16, 10, 0), true},
        {"Saturday 10:00", local(2026, 12, 19, 10, 0), false},
        {"Wednesday 17:00", local(2026, 12, 16, 17, 0), false},
        {"Wednesday 16:59:59.999", local(2026, 12, 16, 16, 59, 59, 999), true},
        {"Wednesday 09:00", local(2026, 12, 16, 9, 0), true},
        {"Wednesday 08:59:59.999", local(2026, 12, 16, 8, 59, 59, 999), false},
        {"Friday 12:00", local(2026, 12, 18, 12, 0), true},
        {"Sunday 12:00", local(2026, 12, 20, 12, 0), false},
        {"Monday 12:00", local(2026, 12, 14, 12, 0), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(predicate.evaluate(PredicateDateTime(c.when)), c.expected);
    }
}

// Constant answers need no tests at all, single days a bit test, and every false path
// ends on the final byte.
TEST(PredicateCompiler, SmallExpressionsGiveCompactCode)
{
    struct Case {
        const char* expression;
        QByteArray code;
    };
    const Case cases[] = {
        {"always", bytes({LDI8, 0, 1, 0})},
        {"never", bytes({0})},
        {"not always", bytes({0})},
        {"always or weekday in mon", bytes({LDI8, 0, 1, 0})},
        {"weekday in sat", bytes({JBCS, 3, 5, 3, LDI8, 0, 1, 0})},
        {"not weekday in sat", bytes({JBSS, 3, 5, 3, LDI8, 0, 1, 0})},
        {"weekday in sat..sun", bytes({TESTI8, 3, 0x60, JEQS, 3, LDI8, 0, 1, 0})},
        {"time in 00:00..12:00", bytes({CMPI32, 2, 0x02, 0x93, 0x2E, 0x00, JGES, 3, LDI8, 0, 1, 0})},
        {"date in 1970-01-02", bytes({CMPI8, 1, 1, JNES, 3, LDI8, 0, 1, 0})},
        {"date in 1970-01-02 or date in 1970-01-05",
         bytes({CMPI8, 1, 1, JEQS, 5, CMPI8, 1, 4, JNES, 3, LDI8, 0, 1, 0})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expression);
        EXPECT_EQ(body(c.expression).toHex(' ').toStdString(), c.code.toHex(' ').toStdString());
    }
}

// The 8-, 16- and 32-bit immediates are unsigned: day numbers before 1970 and beyond
// 32 bits need CMPI64, and each form must answer right on both sides of its date.
TEST(PredicateCompiler, DatesUseTheSmallestComparisonThatHoldsTheirDayNumber)
{
    struct Case {
        const char* date;
        uint8_t opcode;
    };
    const Case cases[] = {
        {"0001-01-01", CMPI64}, {"1900-02-28", CMPI64}, {"1969-12-31", CMPI64}, {"1970-01-01", CMPI8},
        {"1970-09-13", CMPI8},  {"1970-09-14", CMPI16}, {"2149-06-06", CMPI16}, {"2149-06-07", CMPI32},
        {"9999-12-31", CMPI32},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.date);
        const QString expression = QStringLiteral("date in ") + QLatin1String(c.date);
        const QByteArray code = body(expression);
        ASSERT_FALSE(code.isEmpty());
        EXPECT_EQ(uint8_t(code.at(0)), c.opcode);
        const int64_t day = dayNumber(QDate::fromString(QLatin1String(c.date), Qt::ISODate));
        const QByteArray container = PredicateCompiler::container(code);
        EXPECT_EQ(runContainer(container, day - 1), 0);
        EXPECT_EQ(runContainer(container, day), 1);
        EXPECT_EQ(runContainer(container, day + 1), 0);

        // The same date as the end of a range that starts long before.
        const QByteArray range = PredicateCompiler::container(body(QStringLiteral("date in 0001-01-01..") + QLatin1String(c.date)));
        EXPECT_EQ(runContainer(range, day), 1);
        EXPECT_EQ(runContainer(range, day + 1), 0);
        EXPECT_EQ(runContainer(range, -719162), 1);
        EXPECT_EQ(runContainer(range, -719163), 0);
    }
}

QString dateSet(const std::vector<int64_t>& days)
{
    QStringList dates;
    for (int64_t day : days)
        dates << dateText(day);
    return QStringLiteral("date in {") + dates.join(QLatin1String(", ")) + QLatin1Char('}');
}

// Days from 1971 on, one per term: every term is a 16-bit comparison and a branch.
QString manyDates(int count)
{
    std::vector<int64_t> days;
    for (int i = 0; i < count; ++i)
        days.push_back(365 + 2 * i);
    return dateSet(days);
}

TEST(PredicateCompiler, BranchesAreShortWhereTheyReachAndLongBeyond)
{
    // Terms of 6 or 7 bytes (16-bit days) and of 5 (8-bit days) put the displacements on
    // every value around the 8-bit limit.
    bool sawLongest = false;
    bool sawShortestLong = false;
    for (int wide = 36; wide <= 46; ++wide) {
        for (int narrow = 0; narrow <= 5; ++narrow) {
            std::vector<int64_t> days;
            for (int i = 0; i < wide; ++i)
                days.push_back(365 + 2 * i);
            for (int i = 0; i < narrow; ++i)
                days.push_back(1 + 2 * i);
            SCOPED_TRACE(std::to_string(wide) + " wide, " + std::to_string(narrow) + " narrow");
            const QByteArray raw = QByteArray(reinterpret_cast<const char*>(kHeader), int(kHeaderSize)) + body(dateSet(days));
            Vm vm;
            ASSERT_TRUE(vm.loadUncompressed(reinterpret_cast<const uint8_t*>(raw.constData()), size_t(raw.size())).ok());
            for (const Instruction& in : PredicateDisassembler::decode(vm.code())) {
                const int displacement = in.target - (in.offset + in.length);
                if (in.isBranch && in.isLong) {
                    EXPECT_GT(displacement, 255) << "at " << in.offset;
                }
                sawLongest |= in.isBranch && !in.isLong && displacement == 255;
                sawShortestLong |= in.isBranch && in.isLong && displacement == 256;
            }
            for (int64_t day : days) {
                EXPECT_TRUE(vm.run(day * nimblesieve::kMillisecondsPerDay, 0, 0).value()) << dateText(day).toStdString();
                EXPECT_FALSE(vm.run((day + 1) * nimblesieve::kMillisecondsPerDay, 0, 0).value());
            }
        }
    }
    EXPECT_TRUE(sawLongest);
    EXPECT_TRUE(sawShortestLong);
}

TEST(PredicateCompiler, TheLargestProgramRunsAndOneTermMoreIsAnError)
{
    // Find the most terms that still fit, from an estimate at 7 bytes a term.
    PredicateCompiler compiler;
    const std::optional<QByteArray> sample = compiler.compile(predicatetesting::parsed(manyDates(9000)));
    ASSERT_TRUE(sample.has_value());
    int count = 9000 + (PredicateCompiler::kMaxBodySize - sample->size()) / 7;
    auto fits = [&](int n) { return compiler.compile(predicatetesting::parsed(manyDates(n))).has_value(); };
    while (fits(count + 1))
        ++count;
    while (!fits(count))
        --count;

    const std::optional<QByteArray> largest = compiler.compile(predicatetesting::parsed(manyDates(count)));
    ASSERT_TRUE(largest.has_value());
    EXPECT_GT(largest->size(), PredicateCompiler::kMaxBodySize - 8);
    const SlidePredicate predicate(PredicateCompiler::definition(PredicateCompiler::container(*largest)));
    ASSERT_TRUE(predicate.hasProgram());
    for (int i : {0, count / 2, count - 1}) {
        SCOPED_TRACE(i);
        const QDate date = dateOfDay(365 + 2 * i);
        EXPECT_TRUE(predicate.evaluate(PredicateDateTime(local(date.year(), date.month(), date.day(), 12))));
        EXPECT_FALSE(predicate.evaluate(PredicateDateTime(local(date.year(), date.month(), date.day(), 12).addDays(1))));
    }

    EXPECT_FALSE(compiler.compile(predicatetesting::parsed(manyDates(count + 1))).has_value());
    EXPECT_TRUE(compiler.error().endsWith(QStringLiteral("bytes of code; a program may have at most 65499")))
        << compiler.error().toStdString();
}

TEST(PredicateCompiler, DefinitionIsBase64OfTheContainerThenTheLabel)
{
    const QByteArray code = body("weekday in sat");
    const QByteArray container = PredicateCompiler::container(code);
    EXPECT_EQ(container.left(4), QByteArray("NS\x00\x01", 4));
    EXPECT_EQ(PredicateCompiler::definition(container), QString::fromLatin1(container.toBase64()));
    EXPECT_EQ(PredicateCompiler::definition(container, "weekend"), QString::fromLatin1(container.toBase64()) + " #weekend");

    Vm vm;
    ASSERT_TRUE(vm.load(reinterpret_cast<const uint8_t*>(container.constData()), size_t(container.size())).ok());
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(vm.code().data()) + 4, code.size()), code);
}
