// GSE and ULE decoding: streams of 1400-byte IPv4 datagrams, to a sink
// adapter device that only counts.
// - BM_GsePseudoTransportStream: baseband frames of full size (7264-byte data
//   fields), packed with GSE packets with 6-byte labels, a PDU cut into two
//   fragments at every frame end, as a card in baseband-frame mode delivers
//   them (one section a packet on PID 0x010E) through processPacket;
// - BM_GseFrames: the same frames one by one (UDP datagrams, raw files);
// - BM_UleStream: SNDUs with a destination address, packed back to back on
//   three PIDs, through processPacket.
#include "bench/counting_device.h"
#include "decoder/adapter.h"
#include "decoder/bbframe.h"
#include "decoder/decoder.h"
#include "platform/win32.h"
#include "tests/support/encap_builders.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>

namespace {

using encap::Bytes;

const Bytes kStation{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
constexpr uint32_t kDataField = 7264;

void bringUp()
{
    static bool once = [] {
        platform::registerDevice(kAdapterDeviceName, std::make_shared<CountingDriver>());
        return true;
    }();
    (void)once;
    allocatePidTables();
    clearSlots();
    resetErrorCounters();
    std::memcpy(g_decoder.macFilter, kStation.data(), 6);
    closeAdapter(g_decoder.adapterHandle);
    g_decoder.adapterHandle = openAdapter();
}

// Full frames of GSE packets; a PDU that does not fit goes on in the next frame.
std::vector<Bytes>& gseFrames()
{
    static std::vector<Bytes> frames = [] {
        std::vector<Bytes> out;
        Bytes field;
        Bytes pending; // the end fragment to open the next frame with
        int pdu = 0;
        while (out.size() < 400) {
            if (!pending.empty()) {
                field = pending;
                pending.clear();
            }
            const Bytes d = encap::ipv4To(0x0A000001, 1400, static_cast<uint8_t>(pdu++));
            const Bytes whole = encap::gseComplete(encap::Label6, 0x0800, kStation, d);
            if (field.size() + whole.size() <= kDataField) {
                encap::append(field, whole);
                continue;
            }
            const size_t room = kDataField - field.size();
            // The last frame leaves nothing open, so that the stream loops cleanly.
            if (room > 16 && out.size() + 1 < 400) {
                const auto parts = encap::gseFragments(static_cast<uint8_t>(pdu), encap::Label6, 0x0800, kStation,
                                                       d, {room - 5});
                encap::append(field, parts[0]);
                pending = parts[1];
            }
            out.push_back(encap::bbFrame(encap::kGsSingle, 0, field));
            field.clear();
        }
        return out;
    }();
    return frames;
}

void report(benchmark::State& state, size_t inputBytes)
{
    const double bits = static_cast<double>(state.iterations()) * static_cast<double>(inputBytes) * 8;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * inputBytes));
    state.counters["in_Gbit/s"] = benchmark::Counter(bits / 1e9, benchmark::Counter::kIsRate);
    state.counters["errors"] = static_cast<double>(counterValue(g_decoder.rxErrors));
}

void feedPackets(benchmark::State& state, const Bytes& stream)
{
    const size_t packets = stream.size() / 188;
    for (auto _ : state)
        for (size_t i = 0; i < packets; ++i)
            processPacket(stream.data() + i * 188);
    report(state, stream.size());
}

void BM_GsePseudoTransportStream(benchmark::State& state)
{
    bringUp();
    static const Bytes stream = [] {
        Bytes s;
        int cc = 0;
        for (const Bytes& f : gseFrames())
            encap::append(s, encap::flatten(encap::pseudoTs(0x010E, f, cc)));
        return s;
    }();
    feedPackets(state, stream);
}
BENCHMARK(BM_GsePseudoTransportStream);

void BM_GseFrames(benchmark::State& state)
{
    bringUp();
    const std::vector<Bytes>& frames = gseFrames();
    size_t bytes = 0;
    for (const Bytes& f : frames)
        bytes += f.size();
    for (auto _ : state)
        for (const Bytes& f : frames)
            decodeBasebandFrame(f.data(), f.size());
    report(state, bytes);
}
BENCHMARK(BM_GseFrames);

void BM_UleStream(benchmark::State& state)
{
    bringUp();
    const int pids[] = {0x100, 0x200, 0x300};
    for (int pid : pids)
        assignSlot(pid, SlotUle);
    static const Bytes stream = [&] {
        std::vector<std::vector<Bytes>> perPid;
        for (int pid : pids) {
            std::vector<Bytes> sndus;
            for (int i = 0; i < 2000; ++i)
                sndus.push_back(encap::sndu(0x0800, kStation, encap::ipv4To(0x0A000001, 1400, static_cast<uint8_t>(i))));
            int cc = 0;
            perPid.push_back(encap::uleStream(pid, sndus, cc));
        }
        Bytes s;
        for (size_t i = 0; i < perPid[0].size(); ++i)
            for (auto& packets : perPid)
                encap::append(s, packets[i]);
        return s;
    }();
    feedPackets(state, stream);
}
BENCHMARK(BM_UleStream);

} // namespace

BENCHMARK_MAIN();
