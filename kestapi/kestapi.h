/* kestapi: retunes the running Kest IP Data receiver from another program.
 *
 *   TransponderInfo info = {0};
 *   info.frequencyKhz = 11747000;
 *   info.symbolRate = 22000000;
 *   info.horizontal = 1;
 *   info.pid1 = 1001;
 *   info.pid2 = 1002;
 *   int result = TransponderChange(0, &info);   // 0 sent, 21 no receiver found
 *
 * The call returns once the receiver has applied the tuning and both PIDs.
 * TransponderChangeInstance("east", 0, &info) retunes the copy started as
 * `KestIpData --instance east`; TransponderChange only the copy without a name.
 * Link with -lkestapi (build/lib/libkestapi.so). */
#ifndef KESTAPI_KESTAPI_H
#define KESTAPI_KESTAPI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Little-endian 32-bit fields at fixed offsets. */
typedef struct TransponderInfo {
    uint32_t reserved;     /* 0: not read */
    uint32_t forwarded;    /* 4: passed on to the receiver unchanged */
    uint32_t horizontal;   /* 8: non-zero horizontal, 0 vertical polarisation */
    uint32_t frequencyKhz; /* 12: transponder frequency, kHz */
    uint32_t symbolRate;   /* 16: symbols per second */
    uint32_t pid1;         /* 20: first PID to add */
    uint32_t pid2;         /* 24: second PID to add */
} TransponderInfo;

#define KESTAPI_OK 0
#define KESTAPI_NO_RECEIVER 21

/* The first argument is not used. Returns KESTAPI_OK when the messages were
 * sent, KESTAPI_NO_RECEIVER when no receiver window was found or info is null. */
__attribute__((visibility("default"))) int TransponderChange(uint32_t unused, const TransponderInfo* info);

/* As TransponderChange, for the receiver started with `--instance NAME` (or
 * KEST_INSTANCE=NAME); a null or empty name is the receiver without one. An
 * invalid name finds no receiver (KESTAPI_NO_RECEIVER). */
__attribute__((visibility("default"))) int TransponderChangeInstance(const char* instance, uint32_t unused,
                                                                     const TransponderInfo* info);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
static_assert(offsetof(TransponderInfo, forwarded) == 4 && offsetof(TransponderInfo, horizontal) == 8
                  && offsetof(TransponderInfo, frequencyKhz) == 12 && offsetof(TransponderInfo, symbolRate) == 16
                  && offsetof(TransponderInfo, pid1) == 20 && offsetof(TransponderInfo, pid2) == 24
                  && sizeof(TransponderInfo) == 28,
              "TransponderInfo layout");
#endif

#endif
