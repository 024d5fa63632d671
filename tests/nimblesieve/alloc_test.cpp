// A run must not allocate: every malloc in this process is counted while a run is under way.
#include "nimblesieve/nimblesieve.h"
#include "nimblesieve/opcodes.h"

#include "../support/pcode.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);

namespace {
std::atomic<long> allocations{0};
}

extern "C" void* malloc(size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}

extern "C" void* calloc(size_t count, size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* ptr, size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(ptr, size);
}

using namespace nimblesieve;

TEST(VmAllocation, RunsAllocateNothing)
{
    const testsupport::Bytes programs[] = {
        {CMPI8, 3, 4, JNES, 3, LDI8, 0, 1},
        {JMP, 0, 4, 0},      // fault: diagnostic on stderr, still no allocation
        {JMPS, 255, 0},      // fault
    };
    for (const auto& body : programs) {
        nimblesieve_vm* vm = nimblesieve_vm_new();
        const auto packed = testsupport::container(body);
        ASSERT_EQ(nimblesieve_vm_load(vm, packed.size(), packed.data()), 0);
        ASSERT_GT(allocations.load(), 0) << "the counter works: loading allocates";

        const long before = allocations.load();
        int8_t results = 0;
        for (uint8_t weekday = 0; weekday <= 8; ++weekday)
            results += nimblesieve_vm_run(vm, 1700000000000, 36000000, weekday);
        EXPECT_EQ(allocations.load(), before);
        (void)results;
        nimblesieve_vm_free(vm);
    }

    nimblesieve_vm* empty = nimblesieve_vm_new();
    const long before = allocations.load();
    EXPECT_EQ(nimblesieve_vm_run(empty, 0, 0, 0), -1);
    EXPECT_EQ(allocations.load(), before);
    nimblesieve_vm_free(empty);
}
