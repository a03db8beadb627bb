// The per-packet path: aligner -> processPacket -> decodeMpeBuffer -> a sink
// adapter device that only counts, on a stream of 1400-byte IPv4 datagrams in
// fully packed MPE sections on 3 selected PIDs (plus the pieces on their own).
#include "bench/counting_device.h"
#include "decoder/adapter.h"
#include "decoder/crc32.h"
#include "decoder/decoder.h"
#include "decoder/packet_aligner.h"
#include "platform/win32.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes section(int seq, uint32_t datagramLength)
{
    Bytes s{0x3E, 0, 0, 0, 0, 0xC1, 0, 0, 0, 0, 0, 0};
    Bytes d(datagramLength, static_cast<uint8_t>(seq));
    d[0] = 0x45;
    d[2] = static_cast<uint8_t>(datagramLength >> 8);
    d[3] = static_cast<uint8_t>(datagramLength);
    s.insert(s.end(), d.begin(), d.end());
    s.insert(s.end(), 4, 0);
    const size_t n = s.size() - 3;
    s[1] = static_cast<uint8_t>(0xB0 | (n >> 8));
    s[2] = static_cast<uint8_t>(n);
    const uint32_t crc = crc32Mpeg(s.data(), s.size() - 4);
    for (int i = 0; i < 4; ++i)
        s[s.size() - 4 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
    return s;
}

// Sections back to back on `pid`, PUSI and pointer field where a section starts.
std::vector<Bytes> packetise(int pid, int sections)
{
    Bytes stream;
    std::vector<size_t> starts;
    for (int i = 0; i < sections; ++i) {
        starts.push_back(stream.size());
        const Bytes s = section(i, 1400);
        stream.insert(stream.end(), s.begin(), s.end());
    }
    std::vector<Bytes> packets;
    size_t pos = 0, next = 0;
    int cc = 0;
    while (pos < stream.size()) {
        while (next < starts.size() && starts[next] < pos)
            ++next;
        const bool start = next < starts.size() && starts[next] < pos + 183;
        Bytes p(188, 0xFF);
        p[0] = 0x47;
        p[1] = static_cast<uint8_t>((start ? 0x40 : 0) | (pid >> 8));
        p[2] = static_cast<uint8_t>(pid);
        p[3] = static_cast<uint8_t>(0x10 | (cc++ & 15));
        size_t at = 4;
        if (start)
            p[at++] = static_cast<uint8_t>(starts[next] - pos);
        const size_t take = std::min(188 - at, stream.size() - pos);
        std::memcpy(p.data() + at, stream.data() + pos, take);
        pos += take;
        packets.push_back(p);
    }
    // Stuffing up to a whole cycle of the counter, so that the stream loops without a gap.
    while (cc % 16 != 0) {
        Bytes p(188, 0xFF);
        p[0] = 0x47;
        p[1] = static_cast<uint8_t>(pid >> 8);
        p[2] = static_cast<uint8_t>(pid);
        p[3] = static_cast<uint8_t>(0x10 | (cc++ & 15));
        packets.push_back(p);
    }
    return packets;
}

Bytes& benchStream()
{
    static Bytes stream = [] {
        const int pids[] = {0x100, 0x200, 0x300};
        std::vector<std::vector<Bytes>> perPid;
        for (int pid : pids)
            perPid.push_back(packetise(pid, 4000));
        Bytes s;
        for (size_t i = 0; i < perPid[0].size(); ++i)
            for (auto& packets : perPid)
                s.insert(s.end(), packets[i].begin(), packets[i].end());
        return s;
    }();
    return stream;
}

void bringUp()
{
    static bool once = [] {
        platform::registerDevice(kAdapterDeviceName, std::make_shared<CountingDriver>());
        return true;
    }();
    (void)once;
    clearSlots();
    allocatePidTables();
    resetErrorCounters();
    std::memset(g_decoder.macFilter, 0, 6);
    for (int pid : {0x100, 0x200, 0x300})
        assignSlot(pid);
    closeAdapter(g_decoder.adapterHandle);
    g_decoder.adapterHandle = openAdapter();
}

void BM_WholePath(benchmark::State& state)
{
    bringUp();
    const Bytes& stream = benchStream();
    const long sampleSize = state.range(0);
    PacketAligner aligner(processPacket);
    // The plain search needs a sample of at least 377 bytes: synchronise
    // with one pass in large samples (the stream is packet-aligned and loops
    // cleanly; replaying only its first packets would make duplicate section
    // starts).
    for (size_t pos = 0; pos < stream.size(); pos += 65424)
        aligner.alignPackets(stream.data() + pos, std::min<long>(65424, static_cast<long>(stream.size() - pos)));
    for (auto _ : state) {
        for (size_t pos = 0; pos < stream.size(); pos += static_cast<size_t>(sampleSize))
            aligner.alignPackets(stream.data() + pos,
                                 std::min<long>(sampleSize, static_cast<long>(stream.size() - pos)));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
    state.counters["TS_Gbit/s"] = benchmark::Counter(static_cast<double>(state.iterations() * stream.size() * 8) / 1e9,
                                                    benchmark::Counter::kIsRate);
    state.counters["errors"] = static_cast<double>(counterValue(g_decoder.rxErrors));
    state.counters["cc_errors"] = static_cast<double>(counterValue(g_decoder.rxContinuityErrors));
}
BENCHMARK(BM_WholePath)->Arg(65424)->Arg(1316)->Arg(188);

void BM_ProcessPacketSelected(benchmark::State& state)
{
    bringUp();
    const Bytes& stream = benchStream();
    const size_t packets = stream.size() / 188;
    for (auto _ : state)
        for (size_t i = 0; i < packets; ++i)
            processPacket(stream.data() + i * 188);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * packets));
}
BENCHMARK(BM_ProcessPacketSelected);

void BM_ProcessPacketUnselected(benchmark::State& state)
{
    bringUp();
    Bytes nullPacket(188, 0xFF);
    nullPacket[0] = 0x47;
    nullPacket[1] = 0x1F;
    nullPacket[2] = 0xFF;
    nullPacket[3] = 0x10;
    for (auto _ : state)
        processPacket(nullPacket.data());
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_ProcessPacketUnselected);

void BM_DecodeMpeBufferOneSection(benchmark::State& state)
{
    bringUp();
    const int handle = g_decoder.sectionBuffers.allocBuffer(0x20000);
    const Bytes s = section(1, 1400);
    g_decoder.sectionBuffers.appendBuffer(handle, s.data(), static_cast<uint32_t>(s.size()));
    for (auto _ : state)
        decodeMpeBuffer(handle);
    g_decoder.sectionBuffers.freeBuffer(handle);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_DecodeMpeBufferOneSection);

// The section CRC on its own, per kernel, over a section of the given size
// (sections of small datagrams, 52 to 256 bytes; the 1416-byte section of a
// 1400-byte datagram, and the largest possible).
void BM_SectionCrc(benchmark::State& state, Crc32Kernel kernel)
{
    if (!crc32MpegKernelAvailable(kernel)) {
        state.SkipWithError("kernel not available on this processor");
        return;
    }
    Bytes data(static_cast<size_t>(state.range(0)));
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 131 + 7);
    for (auto _ : state)
        benchmark::DoNotOptimize(crc32MpegWith(kernel, data.data(), data.size()));
    const double bytes = static_cast<double>(state.iterations()) * static_cast<double>(data.size());
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["bytes/ns"] = benchmark::Counter(bytes / 1e9, benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(BM_SectionCrc, slice_by_8, Crc32Kernel::SliceBy8)->Arg(52)->Arg(100)->Arg(127)->Arg(256)->Arg(1416)->Arg(4096);
BENCHMARK_CAPTURE(BM_SectionCrc, carryless, Crc32Kernel::CarrylessMultiply)->Arg(52)->Arg(100)->Arg(127)->Arg(256)->Arg(1416)->Arg(4096);
BENCHMARK_CAPTURE(BM_SectionCrc, carryless_256, Crc32Kernel::CarrylessMultiply256)->Arg(52)->Arg(100)->Arg(127)->Arg(256)->Arg(1416)->Arg(4096);
BENCHMARK_CAPTURE(BM_SectionCrc, carryless_512, Crc32Kernel::CarrylessMultiply512)->Arg(52)->Arg(100)->Arg(127)->Arg(256)->Arg(1416)->Arg(4096);

// The same, each call waiting for the one before (where the next section
// starts depends on its CRC, as in a decoder acting on the result): the time
// of one CRC from first load to result.
void BM_SectionCrcLatency(benchmark::State& state, Crc32Kernel kernel)
{
    if (!crc32MpegKernelAvailable(kernel)) {
        state.SkipWithError("kernel not available on this processor");
        return;
    }
    const auto size = static_cast<size_t>(state.range(0));
    Bytes data(size + 1);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 131 + 7);
    uint32_t crc = 0;
    for (auto _ : state)
        crc = crc32MpegWith(kernel, data.data() + (crc & 1), size);
    benchmark::DoNotOptimize(crc);
    const double bytes = static_cast<double>(state.iterations()) * static_cast<double>(size);
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK_CAPTURE(BM_SectionCrcLatency, carryless, Crc32Kernel::CarrylessMultiply)->Arg(52)->Arg(100)->Arg(127)->Arg(256)->Arg(1416);
BENCHMARK_CAPTURE(BM_SectionCrcLatency, carryless_256, Crc32Kernel::CarrylessMultiply256)->Arg(52)->Arg(100)->Arg(127)->Arg(256)->Arg(1416);
BENCHMARK_CAPTURE(BM_SectionCrcLatency, carryless_512, Crc32Kernel::CarrylessMultiply512)->Arg(52)->Arg(100)->Arg(127)->Arg(256)->Arg(1416);

// The full zeroing of the whole batch, on its own, for comparison.
void BM_ZeroFrameBatch(benchmark::State& state)
{
    for (auto _ : state) {
        std::memset(&g_decoder.frameBatch, 0, sizeof g_decoder.frameBatch);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_ZeroFrameBatch);


// The first sync search over samples of 0x47 everywhere but one packet's
// bytes, which are 0. With the last packet zeroed, three syncs show at nearly
// every offset but no boundary holds to the end: a search that follows every
// candidate to the sample's end is quadratic there. With the first packet
// zeroed, the boundary is at 188 and every phase has to be followed back to
// the start: the most the search reads. The same MB/s at both sizes is linear.
// A stream as it comes (random payload, boundaries from offset 100) is there
// for comparison.
enum class SyncInput { LastPacketZero, FirstPacketZero, Stream };

void BM_SyncSearch(benchmark::State& state, SyncInput input)
{
    const auto size = static_cast<size_t>(state.range(0));
    Bytes sample(size, 0x47);
    if (input == SyncInput::Stream) {
        uint32_t x = 12345;
        for (size_t i = 0; i < size; ++i) {
            x = x * 1103515245u + 12345u;
            sample[i] = (i % 188 == 100) ? 0x47 : static_cast<uint8_t>(x >> 24);
        }
    } else {
        std::memset(sample.data() + (input == SyncInput::LastPacketZero ? size - 188 : 0), 0, 188);
    }
    for (auto _ : state) {
        PacketAligner aligner;
        aligner.alignPackets(sample.data(), static_cast<long>(size), nullptr);
        benchmark::DoNotOptimize(aligner.searchingSync);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}
BENCHMARK_CAPTURE(BM_SyncSearch, last_packet_zero, SyncInput::LastPacketZero)
    ->Arg(65536)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_SyncSearch, first_packet_zero, SyncInput::FirstPacketZero)
    ->Arg(65536)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_SyncSearch, stream, SyncInput::Stream)->Arg(65536)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
