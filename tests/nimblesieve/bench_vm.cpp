// Run and compressed load of a typical schedule program: weekdays Monday to Friday,
// 09:00 to 17:00, between two dates.
#include "nimblesieve/nimblesieve.h"
#include "nimblesieve/opcodes.h"

#include "../support/pcode.h"

#include <benchmark/benchmark.h>

using namespace nimblesieve;

namespace {

testsupport::Bytes scheduleBody()
{
    const uint32_t from = 9 * 3600000, until = 17 * 3600000;
    const uint16_t firstDay = 20400, lastDay = 20800; // 2025-11-09 .. 2026-12-14
    // 37 bytes; every failing test jumps to the last byte, which ends the run with A = 0.
    testsupport::Bytes b = {
        TESTI8, WeekdayMask, 0x1F, // Monday..Friday
        JEQS, 31,
        CMPI32, TimeOfDay, uint8_t(from >> 24), uint8_t(from >> 16), uint8_t(from >> 8), uint8_t(from),
        JLTS, 23,
        CMPI32, TimeOfDay, uint8_t(until >> 24), uint8_t(until >> 16), uint8_t(until >> 8), uint8_t(until),
        JGES, 15,
        CMPI16, DayNumber, uint8_t(firstDay >> 8), uint8_t(firstDay),
        JLTS, 9,
        CMPI16, DayNumber, uint8_t(lastDay >> 8), uint8_t(lastDay),
        JGTS, 3,
        LDI8, 0, 1,
        0,
    };
    return b;
}

struct Moment {
    int64_t dateMs;
    uint32_t timeMs;
    uint8_t weekday;
    int expected;
};

// 2026-12-09 is a Wednesday, day 20796.
const Moment moments[] = {
    {20796LL * 86400000, 10 * 3600000, 2, 1},
    {20796LL * 86400000, 17 * 3600000, 2, 0},
    {20799LL * 86400000, 10 * 3600000, 5, 0},
    {20900LL * 86400000, 10 * 3600000, 2, 0},
};

void BM_RunSchedule(benchmark::State& state)
{
    const auto packed = testsupport::container(scheduleBody());
    nimblesieve_vm* vm = nimblesieve_vm_new();
    if (nimblesieve_vm_load(vm, packed.size(), packed.data()) != 0) {
        state.SkipWithError("load failed");
        return;
    }
    for (const auto& m : moments) {
        if (nimblesieve_vm_run(vm, m.dateMs, m.timeMs, m.weekday) != m.expected) {
            state.SkipWithError("wrong answer");
            return;
        }
    }
    size_t i = 0;
    for (auto _ : state) {
        const Moment& m = moments[i++ & 3];
        benchmark::DoNotOptimize(nimblesieve_vm_run(vm, m.dateMs, m.timeMs, m.weekday));
    }
    nimblesieve_vm_free(vm);
    state.counters["body_bytes"] = double(scheduleBody().size());
}
BENCHMARK(BM_RunSchedule);

void BM_LoadCompressedSchedule(benchmark::State& state)
{
    const auto packed = testsupport::container(scheduleBody());
    nimblesieve_vm* vm = nimblesieve_vm_new();
    for (auto _ : state)
        benchmark::DoNotOptimize(nimblesieve_vm_load(vm, packed.size(), packed.data()));
    nimblesieve_vm_free(vm);
    state.counters["container_bytes"] = double(packed.size());
}
BENCHMARK(BM_LoadCompressedSchedule);

// Reference figure: creating and freeing the zstd decoder that every load sets up. On a
// virtual machine this is dominated by the CPUID instructions zstd runs to pick its code
// paths, which trap to the hypervisor.
void BM_ZstdDecoderCreateFree(benchmark::State& state)
{
    for (auto _ : state) {
        ZSTD_DCtx* decoder = ZSTD_createDStream();
        benchmark::DoNotOptimize(decoder);
        ZSTD_freeDStream(decoder);
    }
}
BENCHMARK(BM_ZstdDecoderCreateFree);

} // namespace

BENCHMARK_MAIN();
