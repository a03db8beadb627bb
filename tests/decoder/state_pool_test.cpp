// the record, the section buffer pool, the counters.
#include "test_support.h"

using namespace dt;

namespace {

class PoolTest : public DecoderTest {
protected:
    SectionBufferPool& pool() { return g_decoder.sectionBuffers; }
};

TEST_F(PoolTest, FieldsAreInTheirFixedOrder)
{
    const DecoderState& s = g_decoder;
    const std::array<const void*, 19> order{
        &s.packetCallback, &s.sectionBuffers, &s.pidMpeSections, &s.frameBatch, &s.pidPackets, &s.pidSlot,
        &s.pidSelectedPackets, &s.adapterHandle, &s.sectionSlots, &s.macFilter, &s.rxErrors, &s.rxContinuityErrors,
        &s.rxMemErrors, &s.rxScrambledErrors, &s.rxPointerErrors, &s.rxLengthErrors, &s.rxCrcErrors,
        &s.rxDropped, &s.rxDropped + 1};
    for (int i = 0; i + 1 < 19; ++i)
        EXPECT_LT(reinterpret_cast<uintptr_t>(order[i]), reinterpret_cast<uintptr_t>(order[i + 1])) << i;
    EXPECT_EQ(sizeof(SectionSlot), 20u) << "four 32-bit fields and what the PID carries";
    EXPECT_EQ(sizeof(s.pidSlot), 8192u);
    EXPECT_EQ(sizeof(s.macFilter), 6u);
    EXPECT_EQ(sizeof(s.sectionSlots) / sizeof(s.sectionSlots[0]), 16u);
    EXPECT_EQ(SectionBufferPool::kEntryCount, 16);
    EXPECT_EQ(sizeof(Counter), 8u);
}

TEST_F(PoolTest, AllocTakesTheLowestFreeEntryUpToSixteen)
{
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(pool().allocBuffer(64), i);
        EXPECT_EQ(pool().bufferLength(i), 0u);
        EXPECT_NE(pool().bufferData(i), nullptr);
        EXPECT_EQ(pool().entries[i].capacity, 64u);
    }
    EXPECT_EQ(pool().allocBuffer(64), -1);
    pool().freeBuffer(3);
    EXPECT_EQ(pool().allocBuffer(32), 3);
    EXPECT_EQ(pool().entries[3].capacity, 32u);
}

TEST_F(PoolTest, AllocAfterFreeOfHandleThreeReturnsThree)
{
    for (int i = 0; i <= 5; ++i)
        ASSERT_EQ(pool().allocBuffer(0x20000), i);
    pool().freeBuffer(3);
    EXPECT_EQ(pool().entries[3].data, nullptr);
    EXPECT_EQ(pool().entries[3].capacity, 0u);
    EXPECT_EQ(pool().entries[3].length, 0u);
    EXPECT_EQ(pool().allocBuffer(0x20000), 3);
    EXPECT_EQ(pool().allocBuffer(0x20000), 6);
}

TEST_F(PoolTest, FreeResetLengthAndDataOfFreeOrInvalidEntries)
{
    pool().freeBuffer(7); // free: unchanged
    EXPECT_EQ(pool().entries[7].data, nullptr);
    pool().freeBuffer(-1);
    pool().freeBuffer(16);
    pool().resetBuffer(7);
    pool().resetBuffer(-1);
    EXPECT_EQ(pool().bufferLength(7), 0u);
    EXPECT_EQ(pool().bufferLength(-1), 0u);
    EXPECT_EQ(pool().bufferLength(99), 0u);
    EXPECT_EQ(pool().bufferData(7), nullptr);
    EXPECT_EQ(pool().bufferData(-1), nullptr);
    const uint8_t byte = 1;
    EXPECT_FALSE(pool().appendBuffer(7, &byte, 1));
    EXPECT_FALSE(pool().appendBuffer(-1, &byte, 1));
    EXPECT_FALSE(pool().appendBuffer(16, &byte, 1));
}

TEST_F(PoolTest, AppendHoldsAtMostCapacityMinusOne)
{
    const int h = pool().allocBuffer(0x20000);
    ASSERT_GE(h, 0);
    Bytes chunk(184);
    for (size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = static_cast<uint8_t>(i);
    uint32_t total = 0;
    while (total + 184 < 0x20000) {
        ASSERT_TRUE(pool().appendBuffer(h, chunk.data(), 184));
        total += 184;
    }
    EXPECT_EQ(pool().bufferLength(h), total);
    // Fill up to capacity - 1, then exactly capacity is refused.
    const uint32_t rest = 0x20000 - 1 - total;
    ASSERT_TRUE(pool().appendBuffer(h, chunk.data(), rest));
    EXPECT_EQ(pool().bufferLength(h), 0x20000u - 1);
    EXPECT_FALSE(pool().appendBuffer(h, chunk.data(), 1));
    EXPECT_EQ(pool().bufferLength(h), 0x20000u - 1);
    EXPECT_EQ(pool().bufferData(h)[0], 0);
    EXPECT_EQ(pool().bufferData(h)[185], 1);

    pool().resetBuffer(h);
    EXPECT_EQ(pool().bufferLength(h), 0u);
    ASSERT_TRUE(pool().appendBuffer(h, chunk.data(), 184));
}

TEST_F(PoolTest, AppendThatWouldReachCapacityIsRefusedUnchanged)
{
    const int h = pool().allocBuffer(0x20000);
    Bytes big(0x20000, 0xAB);
    EXPECT_FALSE(pool().appendBuffer(h, big.data(), 0x20000));
    EXPECT_EQ(pool().bufferLength(h), 0u);
    EXPECT_TRUE(pool().appendBuffer(h, big.data(), 0x20000 - 1));
    EXPECT_FALSE(pool().appendBuffer(h, big.data(), 0xFFFFFFFFu)); // no wrap-around
}

TEST_F(PoolTest, AppendOfZeroBytesOrNullIsRefused)
{
    const int h = pool().allocBuffer(16);
    const uint8_t byte = 5;
    EXPECT_FALSE(pool().appendBuffer(h, &byte, 0));
    EXPECT_FALSE(pool().appendBuffer(h, nullptr, 1));
    EXPECT_EQ(pool().bufferLength(h), 0u);
    Bytes fifteen(15, 1);
    EXPECT_TRUE(pool().appendBuffer(h, fifteen.data(), 15));
    EXPECT_FALSE(pool().appendBuffer(h, &byte, 1)); // 15 + 1 >= 16
}

TEST_F(PoolTest, ResetErrorCountersKeepsPidCounters)
{
    DecoderState& s = g_decoder;
    Counter* counters[] = {&s.rxErrors,        &s.rxContinuityErrors, &s.rxMemErrors, &s.rxScrambledErrors,
                           &s.rxPointerErrors, &s.rxLengthErrors,     &s.rxCrcErrors, &s.rxDropped};
    for (Counter* c : counters)
        c->store(7);
    countError(s.rxCrcErrors);
    EXPECT_EQ(value(s.rxCrcErrors), 8u);
    EXPECT_EQ(value(s.rxErrors), 8u);
    countEvent(s.pidPackets[100]);
    countEvent(s.pidMpeSections[100]);
    countEvent(s.pidSelectedPackets[100]);
    resetErrorCounters();
    EXPECT_EQ(errorCounters(), noErrors());
    EXPECT_EQ(value(s.pidPackets[100]), 1u);
    EXPECT_EQ(value(s.pidMpeSections[100]), 1u);
    EXPECT_EQ(value(s.pidSelectedPackets[100]), 1u);
}

TEST_F(PoolTest, PidTablesAllocateZeroedAndFree)
{
    DecoderState& s = g_decoder;
    countEvent(s.pidPackets[8191]);
    ASSERT_TRUE(allocatePidTables()); // already allocated: zeroed, kept
    EXPECT_EQ(value(s.pidPackets[8191]), 0u);
    freePidTables();
    EXPECT_EQ(s.pidPackets, nullptr);
    EXPECT_EQ(s.pidMpeSections, nullptr);
    EXPECT_EQ(s.pidSelectedPackets, nullptr);
    clearPidCounters(); // nothing to clear: no crash
    const Bytes p = packet({});
    processPacket(p.data()); // tables missing: nothing happens
    ASSERT_TRUE(allocatePidTables());
    for (int pid = 0; pid < kPidCount; ++pid) {
        ASSERT_EQ(value(s.pidPackets[pid]), 0u);
        ASSERT_EQ(value(s.pidMpeSections[pid]), 0u);
        ASSERT_EQ(value(s.pidSelectedPackets[pid]), 0u);
    }
}

} // namespace
