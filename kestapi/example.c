/* kestapi-example: retunes the running receiver.
 *   kestapi-example FREQUENCY_KHZ SYMBOL_RATE H|V PID1 PID2 */
#include "kestapi/kestapi.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv)
{
    if (argc != 6 || (strcmp(argv[3], "H") != 0 && strcmp(argv[3], "V") != 0)) {
        fprintf(stderr, "usage: kestapi-example FREQUENCY_KHZ SYMBOL_RATE H|V PID1 PID2\n"
                        "  e.g. kestapi-example 11747000 22000000 H 1001 1002\n");
        return 2;
    }
    TransponderInfo info;
    memset(&info, 0, sizeof info);
    info.frequencyKhz = (uint32_t)strtoul(argv[1], NULL, 10);
    info.symbolRate = (uint32_t)strtoul(argv[2], NULL, 10);
    info.horizontal = strcmp(argv[3], "H") == 0;
    info.pid1 = (uint32_t)strtoul(argv[4], NULL, 10);
    info.pid2 = (uint32_t)strtoul(argv[5], NULL, 10);
    const int result = TransponderChange(0, &info);
    if (result == KESTAPI_NO_RECEIVER) {
        fprintf(stderr, "kestapi-example: the receiver is not running\n");
        return 1;
    }
    if (result == KESTAPI_NOT_DELIVERED) {
        fprintf(stderr, "kestapi-example: the receiver ended or failed before it had the whole tuning\n");
        return 1;
    }
    printf("tuned to %u kHz, %u S/s, %s; PIDs %u and %u added\n", info.frequencyKhz, info.symbolRate, argv[3],
           info.pid1, info.pid2);
    return 0;
}
