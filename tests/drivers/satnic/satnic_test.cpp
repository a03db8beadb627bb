// SatNic driver tests that need no privileges: device contract, FrameBatch parsing, byte
// count, station address, TAP address rewrite, pcap output read back, null, none, configs.
#include "decoder/adapter_contract.h"
#include "drivers/satnic/satnic.h"
#include "drivers/satnic/satnic_internal.h"
#include "tests/drivers/satnic/allocation_counter.h"
#include "tests/drivers/satnic/test_support.h"

#include <gtest/gtest.h>

#include <net/if.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>

using namespace satnic_test;
namespace detail = satnic::detail;

namespace {

const uint8_t kStation[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
const uint8_t kOther[6] = {0x02, 0x99, 0x88, 0x77, 0x66, 0x55};
const uint8_t kMulticast[6] = {0x01, 0x00, 0x5E, 0x01, 0x02, 0x03};
const uint8_t kBroadcast[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

bool deviceExists()
{
    HANDLE h = openAdapter();
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}

class SatNic : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/satnic-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override
    {
        satnic::uninstall();
        std::system(("rm -rf '" + dir_ + "'").c_str());
    }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    std::string dir_;
};

// ---- FrameBatch parsing (untrusted input) ----

TEST(FrameBatchParse, RefusesNullAndShortInput)
{
    Batch batch;
    batch.put(0, makeFrame(kStation, 60, 1));
    batch.setCount(1);
    detail::ParsedBatch parsed;
    EXPECT_FALSE(detail::parseFrameBatch(nullptr, kBatchSize, &parsed));
    EXPECT_FALSE(detail::parseFrameBatch(batch.bytes.data(), 0, &parsed));
    EXPECT_FALSE(detail::parseFrameBatch(batch.bytes.data(), kBatchSize - 1, &parsed));
    EXPECT_EQ(parsed.count, 0u);
    EXPECT_TRUE(detail::parseFrameBatch(batch.bytes.data(), kBatchSize, &parsed));
    EXPECT_EQ(parsed.count, 1u);
}

TEST(FrameBatchParse, SlotsLengthsAndCountAtTheirOffsets)
{
    Batch batch;
    for (size_t i = 0; i < 16; ++i)
        batch.put(i, makeFrame(kStation, 14 + 100 * i, static_cast<uint32_t>(i)));
    batch.setCount(16);
    detail::ParsedBatch parsed;
    ASSERT_TRUE(detail::parseFrameBatch(batch.bytes.data(), kBatchSize, &parsed));
    ASSERT_EQ(parsed.count, 16u);
    EXPECT_EQ(parsed.skipped, 0u);
    for (size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(parsed.frames[i].data, batch.bytes.data() + 1520 * i);
        EXPECT_EQ(parsed.frames[i].length, 14 + 100 * i);
    }
    // The count is taken from slot 0 upwards.
    batch.setCount(3);
    ASSERT_TRUE(detail::parseFrameBatch(batch.bytes.data(), kBatchSize, &parsed));
    EXPECT_EQ(parsed.count, 3u);
    batch.setCount(0);
    ASSERT_TRUE(detail::parseFrameBatch(batch.bytes.data(), kBatchSize, &parsed));
    EXPECT_EQ(parsed.count, 0u);
    EXPECT_EQ(parsed.skipped, 0u);
}

TEST(FrameBatchParse, CountIsClampedToSixteen)
{
    Batch batch;
    for (size_t i = 0; i < 16; ++i)
        batch.put(i, makeFrame(kStation, 64, static_cast<uint32_t>(i)));
    detail::ParsedBatch parsed;
    for (uint32_t count : {17u, 1000u, 0x80000000u, 0xFFFFFFFFu}) {
        batch.setCount(count);
        ASSERT_TRUE(detail::parseFrameBatch(batch.bytes.data(), kBatchSize, &parsed));
        EXPECT_EQ(parsed.count, 16u) << count;
        EXPECT_EQ(parsed.skipped, 0u);
    }
}

TEST(FrameBatchParse, BadLengthsAreSkipped)
{
    Batch batch;
    const uint32_t lengths[] = {0, 13, 14, 1520, 1521, 0xFFFFFFFFu, 60, 24388};
    for (size_t i = 0; i < 8; ++i) {
        batch.put(i, makeFrame(kStation, 64, 0));
        batch.setLength(i, lengths[i]);
    }
    batch.setCount(8);
    detail::ParsedBatch parsed;
    ASSERT_TRUE(detail::parseFrameBatch(batch.bytes.data(), kBatchSize, &parsed));
    ASSERT_EQ(parsed.count, 3u);
    EXPECT_EQ(parsed.skipped, 5u);
    EXPECT_EQ(parsed.frames[0].length, 14u);
    EXPECT_EQ(parsed.frames[0].data, batch.bytes.data() + 2 * 1520);
    EXPECT_EQ(parsed.frames[1].length, 1520u);
    EXPECT_EQ(parsed.frames[1].data, batch.bytes.data() + 3 * 1520);
    EXPECT_EQ(parsed.frames[2].length, 60u);
    EXPECT_EQ(parsed.frames[2].data, batch.bytes.data() + 6 * 1520);
}

TEST(FrameBatchParse, UnalignedAndLongerInput)
{
    // Lengths are read byte by byte: any alignment is fine; bytes past 24388 are ignored.
    Bytes buffer(kBatchSize + 101, 0xEE);
    uint8_t* base = buffer.data() + 1;
    std::memset(base, 0, kBatchSize);
    putLe32(base + kLengthsOffset, 100);
    putLe32(base + kCountOffset, 1);
    detail::ParsedBatch parsed;
    ASSERT_TRUE(detail::parseFrameBatch(base, kBatchSize + 100, &parsed));
    ASSERT_EQ(parsed.count, 1u);
    EXPECT_EQ(parsed.frames[0].data, base);
    EXPECT_EQ(parsed.frames[0].length, 100u);
}

// ---- addresses and the TAP destination rewrite ----

TEST(Addresses, PackUnpackFormat)
{
    const detail::Mac mac = detail::macFromBytes(kStation);
    EXPECT_EQ(mac, 0x021122334455ull);
    uint8_t back[6];
    detail::macToBytes(mac, back);
    EXPECT_EQ(std::memcmp(back, kStation, 6), 0);
    EXPECT_EQ(detail::formatMac(mac), "02:11:22:33:44:55");
    EXPECT_EQ(detail::formatMac(detail::macFromBytes(kBroadcast)), "ff:ff:ff:ff:ff:ff");
}

TEST(Rewrite, OnlyUnicastForTheStationTakesTheInterfaceAddress)
{
    const detail::Mac station = detail::macFromBytes(kStation);
    EXPECT_TRUE(detail::takesInterfaceAddress(kStation, station));
    EXPECT_FALSE(detail::takesInterfaceAddress(kOther, station));
    EXPECT_FALSE(detail::takesInterfaceAddress(kMulticast, station));
    EXPECT_FALSE(detail::takesInterfaceAddress(kBroadcast, station));
    // A station address that is itself a group address never rewrites anything.
    EXPECT_FALSE(detail::takesInterfaceAddress(kMulticast, detail::macFromBytes(kMulticast)));
    EXPECT_FALSE(detail::takesInterfaceAddress(kBroadcast, detail::macFromBytes(kBroadcast)));
    // The decoder's default filter: all zeros (kestdecode without --mac, stream to 00:..:00).
    const uint8_t zero[6] = {};
    EXPECT_TRUE(detail::takesInterfaceAddress(zero, 0));
    EXPECT_FALSE(detail::takesInterfaceAddress(kStation, 0));
    // Differing in one bit only.
    uint8_t nearly[6];
    std::memcpy(nearly, kStation, 6);
    nearly[5] ^= 0x01;
    EXPECT_FALSE(detail::takesInterfaceAddress(nearly, station));
}

Bytes gather(const iovec* iov, int n)
{
    Bytes out;
    for (int i = 0; i < n; ++i) {
        const auto* p = static_cast<const uint8_t*>(iov[i].iov_base);
        out.insert(out.end(), p, p + iov[i].iov_len);
    }
    return out;
}

TEST(Rewrite, InterfaceFrameReplacesOnlyTheDestination)
{
    const uint8_t own[6] = {0x00, 0xC2, 0xB0, 0x30, 0x03, 0xE0};
    const detail::Mac station = detail::macFromBytes(kStation);
    for (const uint8_t* destination : {kStation, kOther, kMulticast, kBroadcast}) {
        const Bytes frame = makeFrame(destination, 300, 7);
        iovec iov[2];
        const int n = detail::interfaceFrame({frame.data(), 300}, station, own, iov);
        Bytes expected = frame;
        if (destination == kStation) {
            std::memcpy(expected.data(), own, 6);
            EXPECT_EQ(n, 2);
        } else {
            EXPECT_EQ(n, 1);
            EXPECT_EQ(iov[0].iov_base, frame.data()); // unchanged, not copied
        }
        EXPECT_EQ(gather(iov, n), expected);
    }
    // The shortest frame accepted.
    const Bytes tiny = makeFrame(kStation, 14, 1);
    iovec iov[2];
    const int n = detail::interfaceFrame({tiny.data(), 14}, station, own, iov);
    Bytes expected = tiny;
    std::memcpy(expected.data(), own, 6);
    EXPECT_EQ(gather(iov, n), expected);
}

// ---- pcap headers ----

TEST(PcapFormat, HeadersLittleEndian)
{
    uint8_t file[24];
    detail::encodePcapFileHeader(file);
    const uint8_t expected[24] = {0xD4, 0xC3, 0xB2, 0xA1, 0x02, 0x00, 0x04, 0x00, 0, 0, 0, 0,
                                  0,    0,    0,    0,    0xFF, 0xFF, 0x00, 0x00, 1, 0, 0, 0};
    EXPECT_EQ(std::memcmp(file, expected, 24), 0);
    uint8_t record[16];
    detail::encodePcapRecordHeader(record, 0x01020304, 999999, 1520);
    EXPECT_EQ(le32(record), 0x01020304u);
    EXPECT_EQ(le32(record + 4), 999999u);
    EXPECT_EQ(le32(record + 8), 1520u);
    EXPECT_EQ(le32(record + 12), 1520u);
}

// ---- configurations ----

TEST_F(SatNic, NoneRegistersNothing)
{
    ASSERT_TRUE(satnic::install("null", nullptr));
    EXPECT_TRUE(deviceExists());
    std::string error = "untouched";
    ASSERT_TRUE(satnic::install("none", &error));
    EXPECT_EQ(CreateFileA("\\\\.\\SatNicDv-1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0x80, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(CreateFileA("\\\\.\\Global\\SatNicDv-1", MAXIMUM_ALLOWED, 0, nullptr, OPEN_EXISTING, 0x80, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(SatNic, BothNamesOpenTheSameDevice)
{
    ASSERT_TRUE(satnic::install("null", nullptr));
    HANDLE local = openAdapter(false);
    HANDLE global = openAdapter(true);
    ASSERT_NE(local, INVALID_HANDLE_VALUE);
    ASSERT_NE(global, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(sendOne(local, makeFrame(kStation, 100, 1)));
    EXPECT_EQ(byteCount(global), 100u);
    EXPECT_TRUE(CloseHandle(local));
    EXPECT_TRUE(CloseHandle(global));
}

TEST_F(SatNic, BadConfigurationsFailWithOneLineNamingThem)
{
    const std::string longName = "tap:abcdefghijklmnop"; // 16 characters
    for (const std::string& config : {std::string(""), std::string("foo"), std::string("TAP"), std::string("nul"),
                                     std::string("pcap"), std::string("pcap:"), std::string("tap:"), longName,
                                     std::string("tap:a/b"), std::string("tap:a b"), std::string("tap:.."),
                                     std::string(" null")}) {
        ASSERT_TRUE(satnic::install("null", nullptr));
        std::string error;
        EXPECT_FALSE(satnic::install(config, &error)) << config;
        EXPECT_FALSE(error.empty()) << config;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        const std::string named = config.rfind("tap:", 0) == 0 ? config.substr(4) : config;
        EXPECT_NE(error.find(named), std::string::npos) << "'" << config << "': " << error;
        // A failed install leaves nothing installed, the earlier driver included.
        EXPECT_FALSE(deviceExists()) << config;
        EXPECT_FALSE(satnic::install(config, nullptr)); // a null error pointer is fine
    }
}

TEST_F(SatNic, MissingTapInterfaceIsNamed)
{
    const std::string name = "kestnoif" + std::to_string(getpid() % 10000000);
    ASSERT_EQ(if_nametoindex(name.c_str()), 0u);
    std::string error;
    EXPECT_FALSE(satnic::install("tap:" + name, &error));
    EXPECT_NE(error.find("TAP interface " + name), std::string::npos) << error;
    EXPECT_NE(error.find("no such interface"), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
    EXPECT_FALSE(deviceExists());
    // Nothing was created by the attempt.
    EXPECT_EQ(if_nametoindex(name.c_str()), 0u);
}

TEST_F(SatNic, UnopenablePcapFileIsNamed)
{
    const std::string file = path("no/such/dir/out.pcap");
    std::string error;
    EXPECT_FALSE(satnic::install("pcap:" + file, &error));
    EXPECT_NE(error.find("pcap file " + file), std::string::npos) << error;
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    EXPECT_FALSE(deviceExists());
}

TEST_F(SatNic, InstallFromEnvironment)
{
    const char* saved = std::getenv("KEST_SATNIC");
    const std::string savedValue = saved ? saved : "";
    setenv("KEST_SATNIC", "null", 1);
    EXPECT_TRUE(satnic::installFromEnvironment(nullptr));
    EXPECT_TRUE(deviceExists());
    setenv("KEST_SATNIC", "none", 1);
    EXPECT_TRUE(satnic::installFromEnvironment(nullptr));
    EXPECT_FALSE(deviceExists());
    setenv("KEST_SATNIC", ("pcap:" + path("env.pcap")).c_str(), 1);
    EXPECT_TRUE(satnic::installFromEnvironment(nullptr));
    EXPECT_TRUE(deviceExists());
    struct stat st {};
    EXPECT_EQ(stat(path("env.pcap").c_str(), &st), 0);
    setenv("KEST_SATNIC", "bogus", 1);
    std::string error;
    EXPECT_FALSE(satnic::installFromEnvironment(&error));
    EXPECT_NE(error.find("bogus"), std::string::npos);
    // Unset means tap:satnic1; only checked where the host has no such interface (the host's
    // interfaces are never opened by the tests).
    unsetenv("KEST_SATNIC");
    if (if_nametoindex("satnic1") == 0) {
        EXPECT_FALSE(satnic::installFromEnvironment(&error));
        EXPECT_NE(error.find("TAP interface satnic1: no such interface"), std::string::npos) << error;
        setenv("KEST_SATNIC", "", 1);
        EXPECT_FALSE(satnic::installFromEnvironment(&error));
        EXPECT_NE(error.find("satnic1"), std::string::npos) << error;
    }
    if (saved)
        setenv("KEST_SATNIC", savedValue.c_str(), 1);
    else
        unsetenv("KEST_SATNIC");
}

// ---- the requests ----

TEST_F(SatNic, ByteCountCoversFramesPassedOn)
{
    ASSERT_TRUE(satnic::install("null", nullptr));
    HANDLE h = openAdapter();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(byteCount(h), 0u);
    ASSERT_TRUE(sendOne(h, makeFrame(kStation, 1358, 1)));
    EXPECT_EQ(byteCount(h), 1358u);

    Batch batch;
    batch.put(0, makeFrame(kStation, 60, 2));
    batch.put(1, makeFrame(kStation, 1520, 3));
    batch.put(2, makeFrame(kStation, 100, 4));
    batch.setLength(2, 1521); // skipped, not counted
    batch.put(3, makeFrame(kStation, 14, 5));
    batch.setCount(4);
    ASSERT_TRUE(send(h, batch));
    EXPECT_EQ(byteCount(h), 1358u + 60 + 1520 + 14);

    // Refused batches count nothing.
    DWORD returned = 7;
    EXPECT_FALSE(DeviceIoControl(h, kSendFrames, batch.bytes.data(), kBatchSize - 1, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(DeviceIoControl(h, kSendFrames, nullptr, kBatchSize, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(byteCount(h), 1358u + 60 + 1520 + 14);

    const detail::Statistics stats = detail::statistics();
    EXPECT_EQ(stats.batches, 2u);
    EXPECT_EQ(stats.batchesRefused, 2u);
    EXPECT_EQ(stats.framesPassed, 4u);
    EXPECT_EQ(stats.framesSkipped, 1u);
    EXPECT_EQ(stats.framesDropped, 0u);

    // The output must hold four bytes.
    uint8_t out[4] = {};
    EXPECT_FALSE(DeviceIoControl(h, kReadByteCount, nullptr, 0, out, 3, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_FALSE(DeviceIoControl(h, kReadByteCount, nullptr, 0, nullptr, 4, &returned, nullptr));
    EXPECT_TRUE(DeviceIoControl(h, kReadByteCount, nullptr, 0, out, 4, &returned, nullptr));
    EXPECT_EQ(returned, 4u);
    CloseHandle(h);
}

TEST_F(SatNic, ByteCountWrapsAt32Bits)
{
    ASSERT_TRUE(satnic::install("null", nullptr));
    HANDLE h = openAdapter();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    Batch batch;
    for (size_t i = 0; i < 16; ++i)
        batch.put(i, makeFrame(kStation, 1520, 0));
    batch.setCount(16);
    const uint64_t perBatch = 16 * 1520;
    const uint64_t batches = (uint64_t(1) << 32) / perBatch + 2; // just past the wrap
    for (uint64_t i = 0; i < batches; ++i)
        ASSERT_TRUE(send(h, batch));
    EXPECT_EQ(byteCount(h), static_cast<uint32_t>(batches * perBatch));
    EXPECT_LT(byteCount(h), 2 * perBatch);
    CloseHandle(h);
}

TEST_F(SatNic, StationAddressIsEchoed)
{
    ASSERT_TRUE(satnic::install("null", nullptr));
    HANDLE h = openAdapter();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    uint8_t address[6];
    std::memcpy(address, kStation, 6);
    EXPECT_TRUE(setStation(h, address)); // same buffer in and out, as the decoder does it
    EXPECT_EQ(std::memcmp(address, kStation, 6), 0);

    // Separate buffers: the output gets the address now used.
    uint8_t out[8];
    std::memset(out, 0xAA, sizeof out);
    DWORD returned = 0;
    EXPECT_TRUE(DeviceIoControl(h, kSetStationAddress, const_cast<uint8_t*>(kMulticast), 6, out, 8, &returned, nullptr));
    EXPECT_EQ(returned, 6u);
    EXPECT_EQ(std::memcmp(out, kMulticast, 6), 0);
    EXPECT_EQ(out[6], 0xAA); // nothing past the six bytes
    EXPECT_EQ(out[7], 0xAA);

    // Short input or output is refused.
    EXPECT_FALSE(DeviceIoControl(h, kSetStationAddress, address, 5, out, 6, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(DeviceIoControl(h, kSetStationAddress, nullptr, 6, out, 6, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(DeviceIoControl(h, kSetStationAddress, address, 6, out, 5, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_FALSE(DeviceIoControl(h, kSetStationAddress, address, 6, nullptr, 6, &returned, nullptr));

    // Unknown requests are refused.
    EXPECT_FALSE(DeviceIoControl(h, 0x22209C, address, 6, out, 6, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    CloseHandle(h);
}

// The per-frame path allocates nothing: send, count and address requests, null and pcap.
TEST_F(SatNic, RequestsAllocateNothing)
{
    if (!allocationCounting())
        GTEST_SKIP() << "operator new belongs to the sanitizer runtime in this build";
    const long probe = allocationsOnThisThread();
    ::operator delete(::operator new(16)); // a call, unlike a new-expression, is never elided
    ASSERT_EQ(allocationsOnThisThread(), probe + 1) << "the allocation counter does not see operator new";
    for (const std::string& config : {std::string("null"), "pcap:" + path("alloc.pcap")}) {
        ASSERT_TRUE(satnic::install(config, nullptr)) << config;
        HANDLE h = openAdapter();
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        Batch batch;
        for (size_t i = 0; i < 16; ++i)
            batch.put(i, makeFrame(kStation, 64 + 90 * i, static_cast<uint32_t>(i)));
        batch.setLength(5, 9999);
        batch.setCount(16);
        uint8_t address[6];
        std::memcpy(address, kStation, 6);
        ASSERT_TRUE(send(h, batch));
        const long before = allocationsOnThisThread();
        for (int i = 0; i < 500; ++i) {
            ASSERT_TRUE(send(h, batch));
            ASSERT_NE(byteCount(h), 0xDEADBEEFu);
            ASSERT_TRUE(setStation(h, address));
        }
        EXPECT_EQ(allocationsOnThisThread() - before, 0) << config;
        CloseHandle(h);
    }
}

// ---- pcap ----

TEST_F(SatNic, PcapRecordsReadBackByteForByte)
{
    const std::string file = path("out.pcap");
    ASSERT_TRUE(satnic::install("pcap:" + file, nullptr));
    HANDLE h = openAdapter();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::vector<PcapRecord> records;
    std::string why;
    ASSERT_TRUE(parsePcap(readFile(file), &records, &why)) << why;
    EXPECT_TRUE(records.empty());

    std::vector<Bytes> sent;
    const auto before = static_cast<uint64_t>(std::time(nullptr));
    uint64_t bytes = 0;
    const size_t lengths[] = {14, 60, 1358, 1520, 1024, 15};
    const uint8_t* destinations[] = {kStation, kMulticast, kBroadcast, kOther};
    for (size_t i = 0; i < 6; ++i) {
        const Bytes frame = makeFrame(destinations[i % 4], lengths[i], static_cast<uint32_t>(i));
        ASSERT_TRUE(sendOne(h, frame));
        sent.push_back(frame);
        bytes += frame.size();
        // After every request a reader sees every record so far, complete.
        ASSERT_TRUE(parsePcap(readFile(file), &records, &why)) << why;
        ASSERT_EQ(records.size(), sent.size());
    }
    // A batch of several frames, one bad length skipped in the middle.
    Batch batch;
    batch.put(0, makeFrame(kOther, 200, 100));
    batch.put(1, makeFrame(kOther, 201, 101));
    batch.setLength(1, 0);
    batch.put(2, makeFrame(kStation, 202, 102));
    batch.setCount(3);
    ASSERT_TRUE(send(h, batch));
    sent.push_back(makeFrame(kOther, 200, 100));
    sent.push_back(makeFrame(kStation, 202, 102));
    bytes += 402;
    const auto after = static_cast<uint64_t>(std::time(nullptr));

    ASSERT_TRUE(parsePcap(readFile(file), &records, &why)) << why;
    ASSERT_EQ(records.size(), sent.size());
    uint64_t previous = 0;
    for (size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(records[i].data, sent[i]) << "record " << i; // unchanged: no rewrite for pcap
        EXPECT_EQ(records[i].capturedLength, sent[i].size());
        EXPECT_EQ(records[i].originalLength, sent[i].size());
        EXPECT_LT(records[i].microseconds, 1000000u);
        EXPECT_GE(records[i].seconds, before);
        EXPECT_LE(records[i].seconds, after);
        const uint64_t stamp = uint64_t(records[i].seconds) * 1000000 + records[i].microseconds;
        EXPECT_GE(stamp, previous);
        previous = stamp;
    }
    EXPECT_EQ(byteCount(h), bytes);
    CloseHandle(h);
}

TEST_F(SatNic, PcapReplacesAnExistingFile)
{
    const std::string file = path("old.pcap");
    {
        std::ofstream old(file, std::ios::binary);
        old << std::string(5000, 'x');
    }
    ASSERT_TRUE(satnic::install("pcap:" + file, nullptr));
    EXPECT_EQ(readFile(file).size(), 24u);
    satnic::uninstall();
    EXPECT_EQ(readFile(file).size(), 24u);
}

// Another reader of the format: tshark (Debian package) reads the file and sees every frame
// as Ethernet with the destinations given.
TEST_F(SatNic, PcapFileReadsInTshark)
{
    if (std::system("command -v tshark >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "tshark is not installed";
    const std::string file = path("tshark.pcap");
    ASSERT_TRUE(satnic::install("pcap:" + file, nullptr));
    HANDLE h = openAdapter();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    for (int i = 0; i < 25; ++i)
        ASSERT_TRUE(sendOne(h, makeFrame(i % 2 ? kMulticast : kStation, 60 + 50 * i, static_cast<uint32_t>(i))));
    CloseHandle(h);
    const std::string out = path("tshark.txt");
    ASSERT_EQ(std::system(("tshark -r '" + file + "' -T fields -e frame.len -e eth.dst > '" + out + "' 2>/dev/null").c_str()), 0);
    const Bytes text = readFile(out);
    std::string expected;
    for (int i = 0; i < 25; ++i)
        expected += std::to_string(60 + 50 * i) + (i % 2 ? "\t01:00:5e:01:02:03\n" : "\t02:11:22:33:44:55\n");
    EXPECT_EQ(std::string(text.begin(), text.end()), expected);
}

// Frames the file cannot take (a full disk; here a file-size limit, which fails the write the
// same way) are counted, readable through the device, and told in the debug output once when
// losing starts and once when it ends, never per frame.
TEST_F(SatNic, FramesLostToTheFileAreCountedAndToldOncePerEpisode)
{
    struct LimitGuard {
        rlimit saved{};
        void (*savedHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
        LimitGuard() { getrlimit(RLIMIT_FSIZE, &saved); }
        ~LimitGuard()
        {
            setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, savedHandler);
        }
        void limit(rlim_t bytes) const
        {
            rlimit l = saved;
            l.rlim_cur = bytes;
            setrlimit(RLIMIT_FSIZE, &l);
        }
        void lift() const { setrlimit(RLIMIT_FSIZE, &saved); }
    } guard;
    auto lostFrames = [](HANDLE h) {
        uint8_t out[8] = {};
        DWORD returned = 0;
        if (!DeviceIoControl(h, IOCTL_READ_LOST_FRAMES, nullptr, 0, out, 8, &returned, nullptr) || returned != 8)
            return ~uint64_t(0);
        return uint64_t(le32(out)) | uint64_t(le32(out + 4)) << 32;
    };
    auto count = [](const std::string& text, const std::string& part) {
        size_t n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++n;
        return n;
    };

    const std::string file = path("limited.pcap");
    platform::DebugCapture debug;
    ASSERT_TRUE(satnic::install("pcap:" + file, nullptr));
    HANDLE h = openAdapter();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(lostFrames(h), 0u);
    ASSERT_TRUE(sendOne(h, makeFrame(kStation, 1000, 1)));

    guard.limit(readFile(file).size() + 500);
    for (uint32_t i = 0; i < 40; ++i)
        ASSERT_TRUE(sendOne(h, makeFrame(kStation, 1000, 100 + i))) << "a lost frame still fails no request";
    EXPECT_EQ(lostFrames(h), 40u);
    EXPECT_EQ(byteCount(h), 1000u);
    const std::string began = "SatNic: pcap file " + file + " refuses frames (File too large)";
    EXPECT_EQ(count(debug.all(), began), 1u) << debug.all();
    EXPECT_EQ(count(debug.all(), "refuses frames"), 1u) << debug.all();

    // Frames pass again: the episode ends once nothing was lost for two seconds, so a
    // nearly full disk that takes a small frame now and then is one episode, not many.
    guard.lift();
    ASSERT_TRUE(sendOne(h, makeFrame(kStation, 1000, 200)));
    EXPECT_EQ(count(debug.all(), "takes frames again"), 0u) << debug.all();
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    for (uint32_t i = 1; i < 3; ++i)
        ASSERT_TRUE(sendOne(h, makeFrame(kStation, 1000, 200 + i)));
    EXPECT_EQ(count(debug.all(), "SatNic: pcap file " + file + " takes frames again; 40 frames were lost\n"), 1u)
        << debug.all();
    EXPECT_EQ(lostFrames(h), 40u);
    EXPECT_EQ(satnic::statistics().framesLost, 40u);
    EXPECT_EQ(satnic::statistics().lastLossError, EFBIG);
    std::vector<PcapRecord> records;
    std::string why;
    ASSERT_TRUE(parsePcap(readFile(file), &records, &why)) << why;
    EXPECT_EQ(records.size(), 4u);

    // A second episode, still going when the driver is uninstalled.
    guard.limit(readFile(file).size());
    for (uint32_t i = 0; i < 5; ++i)
        ASSERT_TRUE(sendOne(h, makeFrame(kMulticast, 60, 300 + i)));
    EXPECT_EQ(count(debug.all(), "refuses frames"), 2u) << debug.all();
    uint8_t shortOut[7];
    DWORD returned = 0;
    EXPECT_FALSE(DeviceIoControl(h, IOCTL_READ_LOST_FRAMES, nullptr, 0, shortOut, 7, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    CloseHandle(h);
    satnic::uninstall();
    EXPECT_EQ(count(debug.all(), "SatNic: pcap file " + file + " closed; 5 frames were lost\n"), 1u) << debug.all();
}

// ---- uninstall ----

TEST_F(SatNic, UninstallClosesAndOpenHandlesFail)
{
    const std::string file = path("closed.pcap");
    ASSERT_TRUE(satnic::install("pcap:" + file, nullptr));
    HANDLE h = openAdapter();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(sendOne(h, makeFrame(kStation, 64, 1)));
    satnic::uninstall();
    EXPECT_FALSE(deviceExists());
    const Bytes closed = readFile(file);
    EXPECT_EQ(closed.size(), 24u + 16 + 64);

    EXPECT_FALSE(sendOne(h, makeFrame(kStation, 64, 2)));
    EXPECT_EQ(GetLastError(), kErrorDeviceNotExist);
    uint8_t address[6] = {};
    EXPECT_FALSE(setStation(h, address));
    EXPECT_EQ(GetLastError(), kErrorDeviceNotExist);
    uint8_t out[4];
    DWORD returned = 0;
    EXPECT_FALSE(DeviceIoControl(h, kReadByteCount, nullptr, 0, out, 4, &returned, nullptr));
    EXPECT_EQ(readFile(file), closed);

    // A new installation works while the stale handle still fails.
    ASSERT_TRUE(satnic::install("null", nullptr));
    HANDLE fresh = openAdapter();
    ASSERT_NE(fresh, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(sendOne(fresh, makeFrame(kStation, 64, 3)));
    EXPECT_FALSE(sendOne(h, makeFrame(kStation, 64, 4)));
    EXPECT_EQ(byteCount(fresh), 64u);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_TRUE(CloseHandle(fresh));
    satnic::uninstall();
    satnic::uninstall(); // twice is fine
}

// ---- threads: streaming thread sends, window thread reads the count and sets the address ----

TEST_F(SatNic, SendCountAndAddressFromTwoThreads)
{
    ASSERT_TRUE(satnic::install("pcap:" + path("threads.pcap"), nullptr));
    HANDLE streaming = openAdapter();
    HANDLE window = openAdapter(true);
    ASSERT_NE(streaming, INVALID_HANDLE_VALUE);
    ASSERT_NE(window, INVALID_HANDLE_VALUE);
    constexpr int kFrames = 3000;
    std::atomic<bool> done{false};
    std::thread sender([&] {
        Batch batch;
        batch.put(0, makeFrame(kStation, 100, 1));
        batch.setCount(1);
        for (int i = 0; i < kFrames; ++i)
            send(streaming, batch);
        done = true;
    });
    uint32_t last = 0;
    int polls = 0;
    while (!done || polls < 10) {
        const uint32_t count = byteCount(window);
        EXPECT_GE(count, last);
        EXPECT_EQ(count % 100, 0u);
        last = count;
        uint8_t address[6];
        std::memcpy(address, (polls & 1) ? kStation : kOther, 6);
        EXPECT_TRUE(setStation(window, address));
        ++polls;
    }
    sender.join();
    EXPECT_EQ(byteCount(window), uint32_t(kFrames) * 100);
    std::vector<PcapRecord> records;
    std::string why;
    ASSERT_TRUE(parsePcap(readFile(path("threads.pcap")), &records, &why)) << why;
    EXPECT_EQ(records.size(), size_t(kFrames));
    CloseHandle(streaming);
    CloseHandle(window);
}

TEST_F(SatNic, CountsStayExactWithMoreSendersThanOwnCounts)
{
    // Twelve threads, more than get counts of their own, half of them through one handle.
    ASSERT_TRUE(satnic::install("null", nullptr));
    HANDLE shared = openAdapter();
    ASSERT_NE(shared, INVALID_HANDLE_VALUE);
    constexpr int kThreads = 12;
    constexpr int kBatches = 50000;
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&, t] {
            HANDLE h = t % 2 ? shared : openAdapter();
            Batch batch;
            batch.put(0, makeFrame(kStation, 100, 1));
            batch.put(1, makeFrame(kStation, 60, 2));
            batch.setCount(2);
            for (int i = 0; i < kBatches; ++i)
                send(h, batch);
            if (h != shared)
                CloseHandle(h);
        });
    }
    for (std::thread& sender : senders)
        sender.join();
    const detail::Statistics stats = detail::statistics();
    EXPECT_EQ(stats.batches, uint64_t(kThreads) * kBatches);
    EXPECT_EQ(stats.framesPassed, uint64_t(kThreads) * kBatches * 2);
    EXPECT_EQ(stats.bytesPassed, uint64_t(kThreads) * kBatches * 160);
    EXPECT_EQ(byteCount(shared), uint32_t(kThreads) * kBatches * 160);
    CloseHandle(shared);
}

TEST_F(SatNic, UninstallWhileSending)
{
    const std::string file = path("racing.pcap");
    ASSERT_TRUE(satnic::install("pcap:" + file, nullptr));
    HANDLE h = openAdapter();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::atomic<uint64_t> accepted{0};
    std::thread sender([&] {
        Batch batch;
        batch.put(0, makeFrame(kStation, 500, 1));
        batch.put(1, makeFrame(kMulticast, 700, 2));
        batch.setCount(2);
        while (send(h, batch))
            ++accepted;
    });
    // Uninstalled in the midst of the sending.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (accepted < 100 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_GE(accepted.load(), 100u) << "the sender did not get going";
    satnic::uninstall();
    sender.join();
    std::vector<PcapRecord> records;
    std::string why;
    ASSERT_TRUE(parsePcap(readFile(file), &records, &why)) << why;
    EXPECT_EQ(records.size(), 2 * accepted.load());
    CloseHandle(h);
}

} // namespace
