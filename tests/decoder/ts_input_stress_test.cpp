// Slot changes and counter resets on the window thread while the streaming
// thread decodes at full speed (run under ThreadSanitizer): no race, no
// crash, and every frame that comes out is whole and correct.
#include "decoder/adapter.h"
#include "decoder/decoder.h"
#include "decoder/receive_lock.h"
#include "decoder/ts_input_filter.h"
#include "platform/win32.h"
#include "test_filters.h"
#include "drivers/tsgen/mpe_stream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

namespace {

constexpr int kPids[] = {0x100, 0x101, 0x102, 0x103};

// Payload byte k of datagram `seq` (the first 4 payload bytes carry seq).
uint8_t patternByte(uint32_t seq, size_t k) { return static_cast<uint8_t>(seq * 13 + k * 7); }

struct FrameCheck {
    std::atomic<uint64_t> frames{0};
    std::atomic<uint64_t> bad{0};
};

bool frameIsCorrect(const uint8_t* f, uint32_t length)
{
    if (length < 14 + 28 || f[12] != 0x08 || f[13] != 0x00)
        return false;
    const uint8_t* ip = f + 14;
    const uint32_t total = static_cast<uint32_t>(ip[2]) << 8 | ip[3];
    if (total + 14 != length)
        return false;
    const uint8_t* payload = ip + 28;
    const size_t n = total - 28;
    if (n < 4)
        return false;
    uint32_t seq;
    std::memcpy(&seq, payload, 4);
    for (size_t k = 4; k < n; ++k)
        if (payload[k] != patternByte(seq, k))
            return false;
    return true;
}

class CheckingFile : public platform::DeviceFile {
public:
    explicit CheckingFile(FrameCheck* check) : check_(check) {}
    bool control(DWORD code, const void* in, DWORD, void*, DWORD, DWORD* returned, DWORD*) override
    {
        *returned = 0;
        if (code == IOCTL_SEND_FRAMES) {
            const auto* batch = static_cast<const FrameBatch*>(in);
            for (uint32_t i = 0; i < batch->frameCount && i < kFrameSlotCount; ++i) {
                check_->frames.fetch_add(1, std::memory_order_relaxed);
                if (!frameIsCorrect(batch->frames[i], batch->frameLengths[i]))
                    check_->bad.fetch_add(1, std::memory_order_relaxed);
            }
        }
        return true;
    }

private:
    FrameCheck* check_;
};

class CheckingDriver : public platform::DeviceDriver {
public:
    explicit CheckingDriver(FrameCheck* check) : check_(check) {}
    std::unique_ptr<platform::DeviceFile> open(DWORD, DWORD*) override { return std::make_unique<CheckingFile>(check_); }

private:
    FrameCheck* check_;
};

std::vector<uint8_t> makeStream()
{
    std::vector<uint8_t> stream;
    std::vector<tsgen::MpeStreamWriter> writers;
    for (int pid : kPids)
        writers.emplace_back(static_cast<uint16_t>(pid));
    uint8_t payload[1400];
    for (uint32_t seq = 0; seq < 400; ++seq) {
        const size_t n = 32 + seq * 53 % 1360;
        std::memcpy(payload, &seq, 4);
        for (size_t k = 4; k < n; ++k)
            payload[k] = patternByte(seq, k);
        const auto datagram = tsgen::makeUdpDatagram(0x0A000001u, 0xEF010101u, 1, 2, payload, n);
        writers[seq % 4].writeSection(tsgen::MacAddress{0x01, 0x00, 0x5E, 0x01, 0x01, 0x01}, datagram.data(),
                                      datagram.size(), stream);
    }
    for (auto& w : writers)
        w.flush(stream);
    return stream;
}

} // namespace

TEST(TSInputStress, SlotChangesAndResetsWhileDecodingAtFullSpeed)
{
    FrameCheck check;
    platform::registerDevice(kAdapterDeviceName, std::make_shared<CheckingDriver>(&check));
    ASSERT_TRUE(allocatePidTables());
    clearSlots();
    DecoderState& s = decoderState();
    s.adapterHandle = openAdapter();
    ASSERT_NE(s.adapterHandle, nullptr);

    HRESULT hr = E_FAIL;
    ComPtr<TSInputFilter> filter(new TSInputFilter(nullptr, &hr));
    ComPtr<mediatest::PushSourceFilter> source(new mediatest::PushSourceFilter);
    ASSERT_EQ(source->output()->Connect(filter->inputPin(), nullptr), S_OK);
    ASSERT_EQ(filter->Run(0), S_OK);
    ASSERT_EQ(source->Run(0), S_OK);
    s.packetCallback = processPacket;
    filter->setDelivery(true);

    const std::vector<uint8_t> stream = makeStream();
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> samples{0};
    std::thread streaming([&] {
        const size_t chunk = 188 * 4 - 60; // samples that cut packets
        while (!stop.load()) {
            for (size_t pos = 0; pos < stream.size() && !stop.load(); pos += chunk) {
                const size_t n = std::min(chunk, stream.size() - pos);
                source->output()->push(std::vector<BYTE>(stream.begin() + pos, stream.begin() + pos + n));
                samples.fetch_add(1, std::memory_order_relaxed);
            }
        }
    });

    for (int i = 0; i < 3000; ++i) {
        const int pid = kPids[i % 4];
        {
            DecoderChange change;
            if (i % 8 < 4)
                assignSlot(pid);
            else
                releaseSlot(pid);
        }
        if (i % 100 == 0) {
            DecoderChange change;
            resetErrorCounters();
            clearPidCounters();
        }
        // Window-thread reads need no lock: whole 64-bit values.
        (void)counterValue(s.rxErrors);
        (void)counterValue(s.pidSelectedPackets[pid]);
        if (i % 50 == 0)
            std::this_thread::yield();
    }
    {
        DecoderChange change;
        for (int pid : kPids)
            if (s.pidSlot[pid] == 0)
                assignSlot(pid);
    }
    const uint64_t before = check.frames.load();
    while (check.frames.load() < before + 200 && samples.load() < 2000000)
        std::this_thread::yield();
    stop = true;
    streaming.join();

    s.packetCallback = nullptr;
    source->Stop();
    filter->Stop();
    source->output()->Disconnect();
    filter->inputPin()->Disconnect();
    {
        DecoderChange change;
        clearSlots();
    }
    closeAdapter(s.adapterHandle);
    s.adapterHandle = nullptr;
    platform::unregisterDevice(kAdapterDeviceName);
    freePidTables();

    EXPECT_GT(check.frames.load(), 200u);
    EXPECT_EQ(check.bad.load(), 0u);
}
