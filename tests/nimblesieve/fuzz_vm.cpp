// libFuzzer target over load and run. Input: mode byte, dateMs (8), timeMs (4),
// weekday (1), then the program bytes.
#include "nimblesieve/nimblesieve.h"
#include "nimblesieve/vm.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 14)
        return 0;
    const uint8_t mode = data[0];
    int64_t dateMs;
    uint32_t timeMs;
    std::memcpy(&dateMs, data + 1, sizeof dateMs);
    std::memcpy(&timeMs, data + 9, sizeof timeMs);
    const uint8_t weekday = data[13];
    data += 14;
    size -= 14;

    // Mode bit 1: the bytes as they come (header checks); otherwise behind a valid header,
    // so the fuzzer spends its time in the decoder or the interpreter.
    std::vector<uint8_t> input;
    if (!(mode & 2))
        input = {0x4E, 0x53, 0x00, 0x01};
    input.insert(input.end(), data, data + size);

    nimblesieve_vm* vm = nimblesieve_vm_new();
    int8_t loaded;
    if (mode & 1) {
        loaded = nimblesieve_vm_load(vm, input.size(), input.data());
    } else {
        nimblesieve::Vm direct;
        const auto status = direct.loadUncompressed(input.data(), input.size());
        loaded = status.ok() ? 0 : -1;
        if (status.ok()) {
            const auto first = direct.run(dateMs, timeMs, weekday);
            const auto second = direct.run(dateMs, timeMs, weekday);
            if (first.ok() != second.ok() || (first.ok() && first.value() != second.value()))
                std::abort(); // runs must be repeatable
            const auto oneShot = nimblesieve::evaluate(input.data(), input.size(), dateMs, timeMs, weekday);
            if (oneShot.ok() != first.ok() || (first.ok() && oneShot.value() != first.value()))
                std::abort(); // one-shot evaluation must agree with load + run
        }
    }
    if (loaded == 0) {
        const int8_t result = nimblesieve_vm_run(vm, dateMs, timeMs, weekday);
        if (result < -1 || result > 1)
            std::abort();
        if (weekday > 7 && result != -1)
            std::abort();
    }
    nimblesieve_vm_free(vm);
    return 0;
}
