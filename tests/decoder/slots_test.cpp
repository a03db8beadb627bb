// Slot operations, decoder side: clearSlots, assignSlot, releaseSlot, clearPidCounters.
#include "test_support.h"

using namespace dt;

namespace {

using SlotsTest = DecoderTest;

TEST_F(SlotsTest, ClearSlotsPutsSlotsOneToFifteenInTheFreeState)
{
    clearSlots();
    for (int pid = 0; pid < kPidCount; ++pid)
        ASSERT_EQ(g_decoder.pidSlot[pid], 0);
    for (int n = 1; n < kSlotCount; ++n) {
        const SectionSlot& slot = g_decoder.sectionSlots[n];
        EXPECT_EQ(slot.bufferHandle, -1);
        EXPECT_EQ(slot.pid, -1);
        EXPECT_EQ(slot.lastContinuity, -1);
        EXPECT_EQ(slot.state, SlotIdle);
    }
}

TEST_F(SlotsTest, AssignTakesTheLowestFreeSlotWithABuffer)
{
    assignSlot(1001);
    assignSlot(1002);
    EXPECT_EQ(g_decoder.pidSlot[1001], 1);
    EXPECT_EQ(g_decoder.pidSlot[1002], 2);
    const SectionSlot& slot = g_decoder.sectionSlots[1];
    EXPECT_EQ(slot.pid, 1001);
    EXPECT_EQ(slot.state, SlotIdle);
    EXPECT_EQ(slot.lastContinuity, -1);
    ASSERT_GE(slot.bufferHandle, 0);
    EXPECT_EQ(g_decoder.sectionBuffers.entries[slot.bufferHandle].capacity, 131072u);
    EXPECT_NE(g_decoder.sectionSlots[2].bufferHandle, slot.bufferHandle);

    releaseSlot(1001);
    EXPECT_EQ(g_decoder.pidSlot[1001], 0);
    assignSlot(1003);
    EXPECT_EQ(g_decoder.pidSlot[1003], 1); // slot 1 reused
}

TEST_F(SlotsTest, SixteenthPidGetsNoSlot)
{
    for (int i = 0; i < 15; ++i)
        assignSlot(100 + i);
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(g_decoder.pidSlot[100 + i], i + 1);
    assignSlot(500);
    EXPECT_EQ(g_decoder.pidSlot[500], 0);
    // Removing it then changes no slot.
    releaseSlot(500);
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(g_decoder.sectionSlots[i + 1].pid, 100 + i);
    // 15 slot buffers in use, entry 15 of the pool still free.
    EXPECT_EQ(g_decoder.sectionBuffers.entries[15].data, nullptr);
}

TEST_F(SlotsTest, ReleaseFreesSlotAndBuffer)
{
    assignSlot(300);
    const int handle = slotOf(300).bufferHandle;
    g_decoder.sectionSlots[1].state = SlotAssembling;
    g_decoder.sectionSlots[1].lastContinuity = 5;
    releaseSlot(300);
    EXPECT_EQ(g_decoder.pidSlot[300], 0);
    EXPECT_EQ(g_decoder.sectionBuffers.entries[handle].data, nullptr);
    const SectionSlot& slot = g_decoder.sectionSlots[1];
    EXPECT_EQ(slot.bufferHandle, -1);
    EXPECT_EQ(slot.pid, -1);
    EXPECT_EQ(slot.lastContinuity, -1);
    EXPECT_EQ(slot.state, SlotIdle);
    releaseSlot(300); // again: nothing
    releaseSlot(301); // never assigned: nothing
}

TEST_F(SlotsTest, PidsOutsideTheTableAreIgnored)
{
    assignSlot(-1);
    assignSlot(8192);
    releaseSlot(-5);
    releaseSlot(9000);
    for (int n = 1; n < kSlotCount; ++n)
        EXPECT_EQ(g_decoder.sectionSlots[n].pid, -1);
    assignSlot(0);
    assignSlot(8191);
    EXPECT_EQ(g_decoder.pidSlot[0], 1);
    EXPECT_EQ(g_decoder.pidSlot[8191], 2);
}

TEST_F(SlotsTest, ClearSlotsAgainFreesTheBuffersOfSlotsInUse)
{
    for (int i = 0; i < 15; ++i)
        assignSlot(200 + i);
    clearSlots();
    for (int h = 0; h < SectionBufferPool::kEntryCount; ++h)
        EXPECT_EQ(g_decoder.sectionBuffers.entries[h].data, nullptr) << h;
    assignSlot(42);
    EXPECT_EQ(slotOf(42).bufferHandle, 0);
}

TEST_F(SlotsTest, ClearPidCountersZeroesTheThreeTablesNotTheErrors)
{
    DecoderState& s = g_decoder;
    assignSlot(0x100);
    const Bytes p = packet({});
    processPacket(p.data());
    countError(s.rxMemErrors);
    EXPECT_EQ(value(s.pidPackets[0x100]), 1u);
    EXPECT_EQ(value(s.pidSelectedPackets[0x100]), 1u);
    countEvent(s.pidMpeSections[7]);
    clearPidCounters();
    for (int pid = 0; pid < kPidCount; ++pid) {
        ASSERT_EQ(value(s.pidPackets[pid]), 0u);
        ASSERT_EQ(value(s.pidMpeSections[pid]), 0u);
        ASSERT_EQ(value(s.pidSelectedPackets[pid]), 0u);
    }
    EXPECT_EQ(value(s.rxMemErrors), 1u);
    EXPECT_EQ(g_decoder.pidSlot[0x100], 1); // slots untouched
}

} // namespace
