/* kestapi: retunes the running Kest IP Data receiver from another program.
 *
 *   TransponderInfo info = {0};
 *   info.frequencyKhz = 11747000;
 *   info.symbolRate = 22000000;
 *   info.horizontal = 1;
 *   info.pid1 = 1001;
 *   info.pid2 = 1002;
 *   int result = TransponderChange(0, &info);   // 0 sent, 21 no receiver found,
 *                                               // 22 a message did not arrive
 *
 * The call returns once the receiver has applied the tuning and both PIDs.
 * TransponderChangeStream does the same and also chooses a DVB-S2 input stream
 * and its physical-layer scrambling:
 *
 *   TransponderChangeStream(0, &info, 3, KESTAPI_PLS_GOLD, 131070);
 *
 * Several programs may call at once: every message reaches the receiver, which
 * takes them one at a time (the calls' messages may interleave).
 *
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
#define KESTAPI_NOT_DELIVERED 22

/* The first argument is not used. Returns KESTAPI_OK when every message
 * reached the receiver, KESTAPI_NO_RECEIVER when no receiver window was found
 * or info is null (nothing sent), KESTAPI_NOT_DELIVERED when the receiver was
 * found but a message did not reach it or was not answered (the receiver ended
 * or failed meanwhile): the messages before it were applied, none after it was
 * sent. */
__attribute__((visibility("default"))) int TransponderChange(uint32_t unused, const TransponderInfo* info);

#define KESTAPI_NO_STREAM (-1)
#define KESTAPI_PLS_ROOT 0
#define KESTAPI_PLS_GOLD 1

/* As TransponderChange, with the DVB-S2 stream selection the tuning uses:
 * streamId the input stream identifier 0..255 of a multistream carrier, or
 * KESTAPI_NO_STREAM; plsMode KESTAPI_PLS_ROOT or KESTAPI_PLS_GOLD and plsCode
 * (0..262143) the physical-layer scrambling code (gold 0, the same as root 1,
 * for a carrier that is not scrambled). Values the receiver refuses (it says
 * so in its window) leave the tuning unapplied; the result is still KESTAPI_OK. */
__attribute__((visibility("default"))) int TransponderChangeStream(uint32_t unused, const TransponderInfo* info,
                                                                   int32_t streamId, int32_t plsMode,
                                                                   uint32_t plsCode);

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
