// The process-wide DecoderState and its counters.
#include "decoder/decoder.h"

#include <new>

DecoderState g_decoder;

namespace {

Counter* newTable()
{
    Counter* table = new (std::nothrow) Counter[kPidCount];
    if (table != nullptr)
        for (int pid = 0; pid < kPidCount; ++pid)
            table[pid].store(0, std::memory_order_relaxed);
    return table;
}

void zeroTable(Counter* table)
{
    if (table == nullptr)
        return;
    for (int pid = 0; pid < kPidCount; ++pid)
        table[pid].store(0, std::memory_order_relaxed);
}

void deleteTable(Counter*& table)
{
    delete[] table;
    table = nullptr;
}

} // namespace

bool allocatePidTables()
{
    DecoderState& s = g_decoder;
    Counter** tables[] = {&s.pidMpeSections, &s.pidPackets, &s.pidSelectedPackets};
    for (Counter** table : tables) {
        if (*table != nullptr) {
            zeroTable(*table);
            continue;
        }
        *table = newTable();
        if (*table == nullptr) {
            freePidTables();
            return false;
        }
    }
    return true;
}

void freePidTables()
{
    DecoderState& s = g_decoder;
    deleteTable(s.pidMpeSections);
    deleteTable(s.pidPackets);
    deleteTable(s.pidSelectedPackets);
}

void resetErrorCounters()
{
    DecoderState& s = g_decoder;
    Counter* counters[] = {&s.rxErrors,        &s.rxContinuityErrors, &s.rxMemErrors, &s.rxScrambledErrors,
                           &s.rxPointerErrors, &s.rxLengthErrors,     &s.rxCrcErrors, &s.rxDropped,
                           &s.rxBbFrameErrors, &s.rxGseErrors, &s.rxUleErrors};
    for (Counter* counter : counters)
        counter->store(0, std::memory_order_relaxed);
}

void clearPidCounters()
{
    DecoderState& s = g_decoder;
    zeroTable(s.pidPackets);
    zeroTable(s.pidMpeSections);
    zeroTable(s.pidSelectedPackets);
}
