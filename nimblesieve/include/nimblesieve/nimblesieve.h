/* nimblesieve: loads compiled schedule predicates (pcode) and runs them against a date,
 * a time of day and a weekday. Plain C interface; every result is 0/1 on success and -1
 * on failure. */
#ifndef NIMBLESIEVE_H
#define NIMBLESIEVE_H

#include <stddef.h>
#include <stdint.h>

#if defined(NIMBLESIEVE_BUILDING)
#define NIMBLESIEVE_EXPORT __attribute__((visibility("default")))
#else
#define NIMBLESIEVE_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct nimblesieve_vm nimblesieve_vm;

/* A new VM holding no code. Never null: running out of memory ends the process. */
NIMBLESIEVE_EXPORT nimblesieve_vm* nimblesieve_vm_new(void);

/* Destroys the VM and its code. Null is accepted and ignored. */
NIMBLESIEVE_EXPORT void nimblesieve_vm_free(nimblesieve_vm* vm);

/* Loads pcode in the compressed container format ("NS", 0, 1, magicless zstd body).
 * The bytes are copied. 0 on success, -1 on failure (the previous code stays loaded). */
NIMBLESIEVE_EXPORT int8_t nimblesieve_vm_load(nimblesieve_vm* vm, size_t length, const uint8_t* data);

/* Runs the loaded program. dateMs: milliseconds since 1970-01-01T00:00 UTC (only the day
 * number counts); timeMs: time of day in milliseconds; weekday: 0 Monday .. 6 Sunday
 * (7 accepted). 1 or 0 for the answer, -1 on failure. */
NIMBLESIEVE_EXPORT int8_t nimblesieve_vm_run(nimblesieve_vm* vm, int64_t dateMs, uint32_t timeMs, uint8_t weekday);

#ifdef __cplusplus
}
#endif

#endif
