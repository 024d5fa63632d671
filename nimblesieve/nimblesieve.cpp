// The C interface: every error kind, run fault and internal fault becomes -1 here.
#include "nimblesieve/nimblesieve.h"

#include "nimblesieve/vm.h"

#include <cstdlib>
#include <new>

struct nimblesieve_vm {
    nimblesieve::Vm vm;
};

extern "C" {

nimblesieve_vm* nimblesieve_vm_new(void)
{
    // Out of memory here ends the process: callers are promised a VM, never null.
    auto* vm = new (std::nothrow) nimblesieve_vm;
    if (!vm)
        std::abort();
    return vm;
}

void nimblesieve_vm_free(nimblesieve_vm* vm)
{
    delete vm;
}

int8_t nimblesieve_vm_load(nimblesieve_vm* vm, size_t length, const uint8_t* data)
{
    if (!vm || !data)
        return -1;
    try {
        return vm->vm.load(data, length).ok() ? 0 : -1;
    } catch (...) {
        return -1;
    }
}

int8_t nimblesieve_vm_run(nimblesieve_vm* vm, int64_t dateMs, uint32_t timeMs, uint8_t weekday)
{
    if (!vm)
        return -1;
    try {
        const nimblesieve::RunResult result = vm->vm.run(dateMs, timeMs, weekday);
        if (!result.ok())
            return -1;
        return result.value() ? 1 : 0;
    } catch (...) {
        return -1;
    }
}

} // extern "C"
