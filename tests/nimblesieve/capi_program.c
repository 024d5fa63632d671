/* A C program using libnimblesieve.so through its public header: loads a compressed
 * container made here with libzstd and runs it. Exits 0 when every answer is right. */
#define ZSTD_STATIC_LINKING_ONLY
#include <nimblesieve/nimblesieve.h>
#include <zstd.h>

#include <stdio.h>
#include <string.h>

static int failures = 0;

static void expect(const char* what, int got, int want)
{
    if (got != want) {
        fprintf(stderr, "%s: got %d, want %d\n", what, got, want);
        ++failures;
    }
}

int main(void)
{
    /* Weekday Wednesday (mask 4): CMPI8 S=3 imm=4; JNES 3; LDI8 x=0 imm=1 */
    const uint8_t body[] = {16, 3, 4, 14, 3, 22, 0, 1};
    uint8_t packed[256] = {0x4E, 0x53, 0x00, 0x01};

    ZSTD_CCtx* cctx = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_format, ZSTD_f_zstd1_magicless);
    size_t n = ZSTD_compress2(cctx, packed + 4, sizeof packed - 4, body, sizeof body);
    ZSTD_freeCCtx(cctx);
    if (ZSTD_isError(n)) {
        fprintf(stderr, "compression failed\n");
        return 1;
    }

    nimblesieve_vm* vm = nimblesieve_vm_new();
    expect("run before load", nimblesieve_vm_run(vm, 0, 0, 2), -1);
    expect("load", nimblesieve_vm_load(vm, n + 4, packed), 0);
    expect("Wednesday", nimblesieve_vm_run(vm, 0, 0, 2), 1);
    expect("Monday", nimblesieve_vm_run(vm, 0, 0, 0), 0);
    expect("weekday 8", nimblesieve_vm_run(vm, 0, 0, 8), -1);

    packed[3] = 2;
    expect("version 2", nimblesieve_vm_load(vm, n + 4, packed), -1);
    expect("still the old code", nimblesieve_vm_run(vm, 0, 0, 2), 1);
    expect("null data", nimblesieve_vm_load(vm, 4, NULL), -1);
    nimblesieve_vm_free(vm);
    nimblesieve_vm_free(NULL);

    if (failures == 0)
        printf("capi: all answers right\n");
    return failures == 0 ? 0 : 1;
}
