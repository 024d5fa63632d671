// Loading and running pcode, at library level and through the C interface.
#include "nimblesieve/nimblesieve.h"
#include "nimblesieve/opcodes.h"
#include "nimblesieve/vm.h"

#include "../support/pcode.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace nimblesieve;
using testsupport::Bytes;
using testsupport::compressFrame;
using testsupport::concat;
using testsupport::container;
using testsupport::header;
using testsupport::uncompressed;

namespace {

constexpr int64_t kDay = 86400000;

struct VmDeleter {
    void operator()(nimblesieve_vm* vm) const { nimblesieve_vm_free(vm); }
};
using VmHandle = std::unique_ptr<nimblesieve_vm, VmDeleter>;

VmHandle newVm() { return VmHandle(nimblesieve_vm_new()); }

int8_t loadC(nimblesieve_vm* vm, const Bytes& bytes) { return nimblesieve_vm_load(vm, bytes.size(), bytes.data()); }

// Runs a body through the C interface (compressed container), after checking that the
// library-level uncompressed path gives the same answer.
int runBody(const Bytes& body, int64_t dateMs = 0, uint32_t timeMs = 0, uint8_t weekday = 0)
{
    auto vm = newVm();
    if (loadC(vm.get(), container(body)) != 0)
        return -2;
    const int8_t viaC = nimblesieve_vm_run(vm.get(), dateMs, timeMs, weekday);

    Vm direct;
    EXPECT_TRUE(direct.loadUncompressed(uncompressed(body).data(), uncompressed(body).size()).ok());
    const RunResult result = direct.run(dateMs, timeMs, weekday);
    EXPECT_EQ(viaC, result.ok() ? int8_t(result.value()) : int8_t(-1));
    return viaC;
}

Bytes repeat(uint8_t byte, size_t count) { return Bytes(count, byte); }

} // namespace

TEST(VmLoad, ContainerErrors)
{
    const Bytes ldi1 = {LDI8, 0, 1};
    struct Case {
        const char* name;
        Bytes input;
        ErrorKind kind;
        std::string message;
    };
    const Case cases[] = {
        {"empty input", {}, ErrorKind::InvalidHeader, R"(invalid header (expected "[4E, 53, 00, 01]", found "[]"))"},
        {"three bytes", {0x4E, 0x53, 0x00}, ErrorKind::InvalidHeader,
         R"(invalid header (expected "[4E, 53, 00, 01]", found "[4E, 53, 00]"))"},
        {"wrong magic", concat({0x4E, 0x54, 0x00, 0x01}, compressFrame(ldi1)), ErrorKind::InvalidHeader,
         R"(invalid header (expected "[4E, 53, 00, 01]", found "[4E, 54, 00, 01]"))"},
        {"byte 2 not zero", concat({0x4E, 0x53, 0xAB, 0x01}, compressFrame(ldi1)), ErrorKind::InvalidHeader,
         R"(invalid header (expected "[4E, 53, 00, 01]", found "[4E, 53, AB, 01]"))"},
        {"version 2", concat({0x4E, 0x53, 0x00, 0x02}, compressFrame(ldi1)), ErrorKind::UnsupportedVersion,
         "version 2 not supported"},
        {"version 0", {0x4E, 0x53, 0x00, 0x00}, ErrorKind::UnsupportedVersion, "version 0 not supported"},
        {"version 255", {0x4E, 0x53, 0x00, 0xFF}, ErrorKind::UnsupportedVersion, "version 255 not supported"},
        {"standard frame with zstd magic", concat(header(), compressFrame(ldi1, false)), ErrorKind::DecodingError,
         "decoding error"},
        {"header without body", header(), ErrorKind::DecodingError, "decoding error"},
        {"truncated frame",
         [&] {
             Bytes c = container(repeat(LDI8, 300));
             c.resize(c.size() - 3);
             return c;
         }(),
         ErrorKind::DecodingError, "decoding error"},
        {"garbage body", concat(header(), {0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02}), ErrorKind::DecodingError,
         "decoding error"},
        {"body of 65500 bytes", container(repeat(0, 65500)), ErrorKind::CodeTooLarge, "code too large"},
        {"body beyond the decompression limit", container(repeat(7, 200000)), ErrorKind::CodeTooLarge,
         "code too large"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Vm vm;
        const Status status = vm.load(c.input.data(), c.input.size());
        ASSERT_FALSE(status.ok());
        EXPECT_EQ(status.error().kind(), c.kind);
        EXPECT_EQ(status.error().message(), c.message);
        EXPECT_TRUE(vm.code().empty());

        auto cvm = newVm();
        EXPECT_EQ(loadC(cvm.get(), c.input), -1);
    }
}

TEST(VmLoad, SizeLimits)
{
    struct Case {
        const char* name;
        size_t bodySize;
        bool loads;
    };
    const Case cases[] = {
        {"empty body", 0, true},
        {"largest body", 65499, true},
        {"one byte more", 65500, false},
        {"exactly the decompression limit", 65536, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes body = repeat(0, c.bodySize);
        Vm compressed;
        const Bytes packed = container(body);
        EXPECT_EQ(compressed.load(packed.data(), packed.size()).ok(), c.loads);
        Vm plain;
        const Bytes raw = uncompressed(body);
        EXPECT_EQ(plain.loadUncompressed(raw.data(), raw.size()).ok(), c.loads);
        if (c.loads) {
            // Header, body and 32 zero bytes of padding.
            EXPECT_EQ(compressed.code().size(), 4 + c.bodySize + 32);
            EXPECT_EQ(compressed.code(), plain.code());
        }
    }
}

TEST(VmLoad, IncompressibleBodiesAndBytesAfterTheFrame)
{
    auto noise = [](size_t n) {
        Bytes body;
        uint32_t x = 12345;
        for (size_t i = 0; i < n; ++i) {
            x = x * 1103515245u + 12345u;
            body.push_back(uint8_t(x >> 24));
        }
        return body;
    };
    const Bytes body = noise(60000);
    Vm vm;
    const Bytes packed = container(body);
    ASSERT_TRUE(vm.load(packed.data(), packed.size()).ok());
    EXPECT_TRUE(std::equal(body.begin(), body.end(), vm.code().begin() + 4));

    // Larger than one input chunk of the decoder: stops at the limit, too large.
    const Bytes huge = container(noise(300000));
    ASSERT_GT(huge.size(), ZSTD_DStreamInSize());
    const Status status = vm.load(huge.data(), huge.size());
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().kind(), ErrorKind::CodeTooLarge);

    const Bytes trailing = concat(container({LDI8, 0, 1}), {0xFF, 0xFF, 0xFF});
    auto cvm = newVm();
    ASSERT_EQ(loadC(cvm.get(), trailing), 0);
    EXPECT_EQ(nimblesieve_vm_run(cvm.get(), 0, 0, 0), 1);
}

TEST(VmLoad, FailedLoadKeepsPreviousCodeAndSuccessReplacesIt)
{
    auto vm = newVm();
    ASSERT_EQ(loadC(vm.get(), container({LDI8, 0, 1})), 0);
    EXPECT_EQ(nimblesieve_vm_run(vm.get(), 0, 0, 0), 1);

    EXPECT_EQ(loadC(vm.get(), concat({0x4E, 0x53, 0x00, 0x02}, compressFrame({LDI8, 0, 0}))), -1);
    EXPECT_EQ(loadC(vm.get(), concat(header(), compressFrame({LDI8, 0, 0}, false))), -1);
    EXPECT_EQ(nimblesieve_vm_run(vm.get(), 0, 0, 0), 1);

    ASSERT_EQ(loadC(vm.get(), container({LDI8, 0, 0})), 0);
    EXPECT_EQ(nimblesieve_vm_run(vm.get(), 0, 0, 0), 0);
}

TEST(VmLoad, CallerMayReleaseTheBytesAfterLoading)
{
    auto vm = newVm();
    {
        Bytes packed = container({LDI8, 0, 1});
        ASSERT_EQ(loadC(vm.get(), packed), 0);
        std::fill(packed.begin(), packed.end(), 0);
    }
    EXPECT_EQ(nimblesieve_vm_run(vm.get(), 0, 0, 0), 1);
}

TEST(VmRun, ProgramsFromTheFormat)
{
    struct Case {
        const char* name;
        Bytes body;
        int64_t dateMs;
        uint32_t timeMs;
        uint8_t weekday;
        int expected;
    };
    const Case cases[] = {
        {"LDI8 1", {LDI8, 0, 1}, 0, 0, 0, 1},
        {"LDI8 0", {LDI8, 0, 0}, 0, 0, 0, 0},
        {"empty body", {}, 0, 0, 0, 0},
        {"one-byte body is never executed", {LDI8}, 0, 0, 0, 0},
        {"weekday 2 matches mask 4", {CMPI8, 3, 4, JNES, 3, LDI8, 0, 1}, 0, 0, 2, 1},
        {"weekday 0 skips the load", {CMPI8, 3, 4, JNES, 3, LDI8, 0, 1}, 0, 0, 0, 0},
        {"last body byte is not executed", {LDI8, 0, 1, LDI8}, 0, 0, 0, 1},
        {"second LDI8 reads its immediate from padding", {LDI8, 0, 1, LDI8, 0}, 0, 0, 0, 0},
        {"XOR day 3 with time 1 gives 2", {XOR, 0, 1, 2, 0}, 3 * kDay, 1, 0, 1},
        {"XOR result is exactly 2", {XOR, 0, 1, 2, XORI8, 0, 0, 2, 0}, 3 * kDay, 1, 0, 0},
        {"unknown opcodes are no-ops", {0, 31, 200, 255, LDI8, 0, 1, 0}, 0, 0, 0, 1},
        {"selector uses only its two low bits", {MOV, 0, 0xFE, 0}, 0, 5, 0, 1},
        {"MOV of a zero time", {MOV, 0, 2, 0}, 0, 0, 0, 0},
        {"weekday 7 selects bit 7", {TESTI8, 3, 0x80, SETF, 0, FlagLT, 0}, 0, 0, 7, 1},
        {"weekday mask of Sunday", {TESTI8, 3, 0x40, SETF, 0, FlagLT, 0}, 0, 0, 6, 1},
        {"weekday mask of Monday misses Sunday", {TESTI8, 3, 0x40, SETF, 0, FlagLT, 0}, 0, 0, 0, 0},
        {"day number of -1 ms is -1", {CMPI64, 1, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, SETF, 0, FlagEQ, 0},
         -1, 0, 0, 1},
        {"day number of 86399999 ms is 0", {CMPI8, 1, 0, SETF, 0, FlagEQ, 0}, 86399999, 0, 0, 1},
        {"day number of 86400000 ms is 1", {CMPI8, 1, 1, SETF, 0, FlagEQ, 0}, 86400000, 0, 0, 1},
        {"day number of -86400001 ms is -2", {CMPI64, 1, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, SETF, 0, FlagEQ, 0},
         -86400001, 0, 0, 1},
        {"CMPI8 immediate is unsigned", {CMPI8, 0, 0xFF, SETF, 0, FlagLT, 0}, 0, 0, 0, 1},
        {"CMPI16 immediate is big-endian", {CMPI16, 2, 0x01, 0x02, SETF, 0, FlagEQ, 0}, 0, 0x0102, 0, 1},
        {"CMPI32 immediate is zero-extended", {CMPI32, 0, 0xFF, 0xFF, 0xFF, 0xFF, SETF, 0, FlagLT, 0}, 0, 0, 0, 1},
        {"time of day is unsigned", {CMPI32, 2, 0xFF, 0xFF, 0xFF, 0xFF, SETF, 0, FlagEQ, 0}, 0, 0xFFFFFFFFu, 0, 1},
        {"CMPI64 immediate is signed", {CMPI64, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, SETF, 0, FlagGT, 0},
         0, 0, 0, 1},
        {"CMP of two inputs", {CMP, 1, 2, SETF, 0, FlagLT, 0}, 5 * kDay, 6, 0, 1},
        {"SETF with a mask that misses", {CMPI8, 0, 0, SETF, 0, FlagLT | FlagGT, 0}, 0, 0, 0, 0},
        {"TEST with shared bits sets LT", {TEST, 3, 2, SETF, 0, FlagLT, 0}, 0, 2, 1, 1},
        {"TEST without shared bits sets EQ", {TEST, 3, 2, SETF, 0, FlagEQ, 0}, 0, 1, 1, 1},
        {"XORI8 with the accumulator", {LDI8, 0, 5, XORI8, 0, 0, 5, 0}, 0, 0, 0, 0},
        {"JBCS bit number is taken mod 64", {JBCS, 2, 64 + 1, 3, LDI8, 0, 1, 0}, 0, 2, 0, 1},
        {"JBCS taken on a clear bit", {JBCS, 2, 1, 3, LDI8, 0, 1, 0}, 0, 1, 0, 0},
        {"JBSS taken on a set bit", {JBSS, 2, 0, 3, LDI8, 0, 1, 0}, 0, 1, 0, 0},
        {"JBSS on a clear bit", {JBSS, 2, 1, 3, LDI8, 0, 1, 0}, 0, 1, 0, 1},
        {"JBC long taken", {JBC, 3, 0, 0, 12, LDI8, 0, 1, 0}, 0, 0, 1, 0},
        {"JBS long taken", {JBS, 3, 1, 0, 12, LDI8, 0, 1, 0}, 0, 0, 1, 0},
        {"JBS on bit 63 of a negative day", {JBS, 1, 63, 0, 12, LDI8, 0, 1, 0}, -kDay, 0, 0, 0},
        {"JMP to the following instruction continues", {JMP, 0, 7, LDI8, 0, 1, 0}, 0, 0, 0, 1},
        {"JMPS 0 continues", {JMPS, 0, LDI8, 0, 1, 0}, 0, 0, 0, 1},
        {"branch onto the last body byte ends the run", {LDI8, 0, 1, JMP, 0, 13, LDI8, 0, 0, LDI8}, 0, 0, 0, 1},
        {"branch into the padding ends the run", {LDI8, 0, 1, JMPS, 20, LDI8, 0, 0, 0}, 0, 0, 0, 1},
        {"long branch to the very end of the buffer ends the run", {LDI8, 0, 1, JMP, 0, 4 + 10 + 32, LDI8, 0, 0, 0},
         0, 0, 0, 1},
        {"backward JMP", {LDI8, 0, 1, JMP, 0, 4, 0}, 0, 0, 0, -1},
        {"JMP to its own position", {JMP, 0, 4, 0}, 0, 0, 0, -1},
        {"JMP one before the following instruction", {JMP, 0, 6, 0}, 0, 0, 0, -1},
        {"untaken backward branch does not fault", {JEQ, 0, 0, LDI8, 0, 1, 0}, 0, 0, 0, 1},
        {"long branch beyond the buffer", {LDI8, 0, 1, JMP, 0, 4 + 10 + 33, 0, 0, 0, 0}, 0, 0, 0, -1},
        {"short branch beyond the buffer", {LDI8, 0, 1, JMPS, 255, 0}, 0, 0, 0, -1},
        {"short branch to the very end of the buffer", {LDI8, 0, 1, JMPS, 33, 0}, 0, 0, 0, 1},
        {"short branch one past the end", {LDI8, 0, 1, JMPS, 34, 0}, 0, 0, 0, -1},
        {"faulting branch after a skipped one", {JEQS, 1, 0, JMP, 0, 0, 0}, 0, 0, 0, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(runBody(c.body, c.dateMs, c.timeMs, c.weekday), c.expected);
    }
}

// Each conditional branch against each flag state: F = 0 (no comparison yet), LT, EQ, GT.
TEST(VmRun, ConditionsAgainstFlags)
{
    struct FlagSetup {
        const char* name;
        Bytes code; // 3 bytes
        uint8_t flags;
    };
    const FlagSetup setups[] = {
        {"no comparison", {0, 0, 0}, 0},
        {"LT", {CMPI8, 0, 1}, FlagLT},
        {"EQ", {CMPI8, 0, 0}, FlagEQ},
        {"GT", {CMP, 2, 0}, FlagGT}, // time 1 against A = 0
    };
    struct Branch {
        uint8_t longOp;
        uint8_t shortOp;
        uint8_t mask;
    };
    const Branch branches[] = {
        {JEQ, JEQS, 1}, {JGE, JGES, 3}, {JGT, JGTS, 2}, {JLE, JLES, 5}, {JLT, JLTS, 4}, {JNE, JNES, 6},
    };
    for (const auto& setup : setups) {
        for (const auto& branch : branches) {
            SCOPED_TRACE(std::string(setup.name) + " opcode " + std::to_string(branch.longOp));
            const int expected = (setup.flags & branch.mask) ? 0 : 1; // taken skips LDI8 1
            // setup (3) + long branch (3) to 13, LDI8 1 at 10, trailing byte at 13
            Bytes longBody = concat(setup.code, {branch.longOp, 0, 13, LDI8, 0, 1, 0});
            EXPECT_EQ(runBody(longBody, 0, 1, 0), expected);
            Bytes shortBody = concat(setup.code, {branch.shortOp, 3, LDI8, 0, 1, 0});
            EXPECT_EQ(runBody(shortBody, 0, 1, 0), expected);
        }
    }
}

TEST(VmRun, InvalidWeekdayAndMissingCode)
{
    auto empty = newVm();
    EXPECT_EQ(nimblesieve_vm_run(empty.get(), 0, 0, 0), -1) << "nothing loaded";

    auto loaded = newVm();
    ASSERT_EQ(loadC(loaded.get(), container({})), 0);
    for (uint8_t weekday : {uint8_t(8), uint8_t(255)}) {
        SCOPED_TRACE(int(weekday));
        EXPECT_EQ(nimblesieve_vm_run(loaded.get(), 0, 0, weekday), -1);
        EXPECT_EQ(nimblesieve_vm_run(empty.get(), 0, 0, weekday), -1);
        Vm vm;
        const RunResult result = vm.run(0, 0, weekday);
        ASSERT_TRUE(result.error().has_value()) << "the weekday check comes before the code check";
        EXPECT_EQ(result.error()->kind(), ErrorKind::InvalidWeekday);
        EXPECT_EQ(result.error()->message(), "invalid weekday");
    }
    EXPECT_EQ(nimblesieve_vm_run(loaded.get(), 0, 0, 7), 0);
}

TEST(VmRun, RepeatedRunsGiveTheSameAnswerAndLeaveTheCodeAlone)
{
    Vm vm;
    const Bytes raw = uncompressed({CMPI8, 3, 4, JNES, 3, LDI8, 0, 1});
    ASSERT_TRUE(vm.loadUncompressed(raw.data(), raw.size()).ok());
    const Bytes before = vm.code();
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(vm.run(0, 0, 2).value());
        EXPECT_FALSE(vm.run(0, 0, 0).value());
    }
    EXPECT_EQ(vm.code(), before);
}

TEST(VmRun, FaultsAreReportedOnStandardError)
{
    struct Case {
        const char* name;
        Bytes body;
        bool load;
        Fault fault;
        const char* text;
    };
    const Case cases[] = {
        {"backward branch", {JMP, 0, 4, 0}, true, Fault::BackwardBranch, "only forward branches allowed"},
        {"target beyond the code", {JMPS, 200, 0}, true, Fault::TargetOutOfCode, "beyond the end of the code"},
        {"no code", {}, false, Fault::NoCode, "no code loaded"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Vm vm;
        if (c.load) {
            const Bytes raw = uncompressed(c.body);
            ASSERT_TRUE(vm.loadUncompressed(raw.data(), raw.size()).ok());
        }
        testing::internal::CaptureStderr();
        const RunResult result = vm.run(0, 0, 0);
        const std::string diagnostics = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(result.ok());
        EXPECT_FALSE(result.error().has_value());
        EXPECT_EQ(result.faultKind(), c.fault);
        EXPECT_NE(diagnostics.find(c.text), std::string::npos) << diagnostics;
        EXPECT_EQ(std::count(diagnostics.begin(), diagnostics.end(), '\n'), 1) << diagnostics;
    }
}

TEST(VmEvaluate, OneShotEvaluationOfTheUncompressedForm)
{
    struct Case {
        const char* name;
        Bytes input;
        uint8_t weekday;
        bool ok;
        bool value;
        ErrorKind kind;
        const char* message;
    };
    const Case cases[] = {
        {"true program", uncompressed({CMPI8, 3, 4, JNES, 3, LDI8, 0, 1}), 2, true, true, {}, ""},
        {"false program", uncompressed({CMPI8, 3, 4, JNES, 3, LDI8, 0, 1}), 0, true, false, {}, ""},
        {"run fault", uncompressed({JMP, 0, 4, 0}), 0, false, false, ErrorKind::InvalidCode, "invalid code"},
        {"bad header", {0x4E, 0x53}, 0, false, false, ErrorKind::InvalidHeader,
         R"(invalid header (expected "[4E, 53, 00, 01]", found "[4E, 53]"))"},
        {"bad version", {0x4E, 0x53, 0x00, 0x03, LDI8, 0, 1}, 0, false, false, ErrorKind::UnsupportedVersion,
         "version 3 not supported"},
        {"too large", uncompressed(repeat(0, 65500)), 0, false, false, ErrorKind::CodeTooLarge, "code too large"},
        {"bad weekday", uncompressed({LDI8, 0, 1}), 9, false, false, ErrorKind::InvalidWeekday, "invalid weekday"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::internal::CaptureStderr();
        const Result<bool> result = evaluate(c.input.data(), c.input.size(), 0, 0, c.weekday);
        testing::internal::GetCapturedStderr();
        ASSERT_EQ(result.ok(), c.ok);
        if (c.ok) {
            EXPECT_EQ(result.value(), c.value);
        } else {
            EXPECT_EQ(result.error().kind(), c.kind);
            EXPECT_EQ(result.error().message(), c.message);
        }
    }
}

TEST(VmCInterface, NullArgumentsFailWithoutCrashing)
{
    const Bytes packed = container({LDI8, 0, 1});
    EXPECT_EQ(nimblesieve_vm_load(nullptr, packed.size(), packed.data()), -1);
    auto vm = newVm();
    EXPECT_EQ(nimblesieve_vm_load(vm.get(), packed.size(), nullptr), -1);
    EXPECT_EQ(nimblesieve_vm_load(vm.get(), 0, packed.data()), -1);
    EXPECT_EQ(nimblesieve_vm_run(nullptr, 0, 0, 0), -1);
    nimblesieve_vm_free(nullptr);
}
