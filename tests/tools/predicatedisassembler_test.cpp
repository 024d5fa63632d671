// Listing programs: compiled ones, hand-written oddities, and definitions that do not load.
#include "predicatedisassembler.h"

#include "pcode.h"
#include "predicatetesting.h"

#include <nimblesieve/opcodes.h>

#include <gtest/gtest.h>

using namespace predicate;
using namespace nimblesieve;

namespace {

QString listingOf(const testsupport::Bytes& body)
{
    const testsupport::Bytes raw = testsupport::uncompressed(body);
    Vm vm;
    EXPECT_TRUE(vm.loadUncompressed(raw.data(), raw.size()).ok());
    return PredicateDisassembler::listing(vm.code());
}

} // namespace

TEST(PredicateDisassembler, ListsACompiledScheduleWithWhatItsNumbersMean)
{
    Vm vm;
    QString error;
    ASSERT_TRUE(PredicateDisassembler::load(predicatetesting::definition("weekday in mon..fri and time in 09:00..17:00",
                                                                         "office"),
                                            &vm, &error));
    EXPECT_EQ(PredicateDisassembler::listing(vm.code()),
              "    4  TESTI8 weekday, 0x1f          ; mon..fri\n"
              "    7  JEQS   28\n"
              "    9  CMPI32 time, 32400000         ; 09:00\n"
              "   15  JLTS   28\n"
              "   17  CMPI32 time, 61200000         ; 17:00\n"
              "   23  JGES   28\n"
              "   25  LDI8   A, 1\n"
              "   28  NOP    0x00                   ; never executed\n");
}

TEST(PredicateDisassembler, ShowsEveryOperandFormAndWhereBranchesWouldFault)
{
    const testsupport::Bytes body = {
        CMPI64, 1, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, // day -1
        JBS, 3, 6, 0, 4,                                           // backward
        SETF, 0, FlagLT | FlagEQ,
        XOR, 0, 1, 0x06,
        XORI8, 7, 2, 9,
        CMP, 1, 2,
        MOV, 0, 3,
        JMPS, 250,                                                 // beyond the padding
        200,
        CMPI16, 2, 0x01, 0x02,
        LDI8,                                                      // the last byte
    };
    EXPECT_EQ(listingOf(body),
              "    4  CMPI64 day, -1                ; 1969-12-31\n"
              "   14  JBS    weekday, 6, 4          ; sun; backward: faults when taken\n"
              "   19  SETF   A, LT|EQ\n"
              "   22  XOR    A, day, time[0x06]\n"
              "   26  XORI8  A[0x07], time, 9\n"
              "   30  CMP    day, time\n"
              "   33  MOV    A, weekday\n"
              "   36  JMPS   288                    ; beyond the code: faults when taken\n"
              "   38  NOP    0xc8\n"
              "   39  CMPI16 time, 258              ; 00:00:00.258\n"
              "   43  LDI8   A, 0                   ; never executed\n");
}

TEST(PredicateDisassembler, DefinitionsTheViewerCannotRunAreRefusedWithTheViewersAnswer)
{
    struct Case {
        const char* name;
        QString definition;
        const char* error;
    };
    const Case cases[] = {
        {"empty", "", "empty definition; the viewer treats it as always true"},
        {"two separators", "abc #x #y", "more than one ' #' in the definition; the viewer treats it as always true"},
        {"no base64", "!!! #label", "no base64 program text; the viewer treats it as always true"},
        {"not a container", "AAAA", R"(invalid header (expected "[4E, 53, 00, 01]", found "[00, 00, 00]"); the viewer treats it as always false)"},
        {"header only", "TlMAAQ==", "decoding error; the viewer treats it as always false"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Vm vm;
        QString error;
        EXPECT_FALSE(PredicateDisassembler::load(c.definition, &vm, &error));
        EXPECT_EQ(error, QString::fromLatin1(c.error));
    }
}
