#include "drivers/simcard/traffic.h"

#include "drivers/tsgen/bbframe_ts.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace simcard {

namespace {

constexpr uint16_t kUnicastPid = 0x100, kMulticastPid = 0x101, kBroadcastPid = 0x102, kOtherPid = 0x103;
constexpr int kDatagramsPerBatch = 48;

} // namespace

bool holdsBasebandFrames(const std::string& path)
{
    constexpr size_t kPacketsLooked = 512;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    uint8_t p[188];
    bool found = false;
    for (size_t i = 0; !found && i < kPacketsLooked && std::fread(p, 1, sizeof p, file) == sizeof p; ++i) {
        const unsigned pid = (p[1] & 0x1Fu) << 8 | p[2];
        found = p[0] == 0x47 && (p[1] & 0x40) != 0 && (pid == tsgen::kBbFramePid || pid == tsgen::kBbFramePidOther)
            && p[4] == 0 && p[5] == 0x80 && p[8] == 0xB8;
    }
    std::fclose(file);
    return found;
}

TrafficSource::TrafficSource(const MacAddress& cardMac) : cardMac_(cardMac)
{
    for (uint16_t pid : {kUnicastPid, kMulticastPid, kBroadcastPid, kOtherPid})
        writers_.emplace_back(pid);
}

TrafficSource::~TrafficSource()
{
    if (file_ != nullptr)
        std::fclose(file_);
}

bool TrafficSource::openFile(const std::string& path, bool loop, std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error != nullptr)
            *error = "simulated card: cannot play " + path + ": " + why + "; built-in traffic instead";
        return false;
    };
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return fail(std::strerror(errno));
    // A directory opens like a file and an empty file opens fine, but neither
    // would ever deliver a byte: the card would lock and stay silent.
    struct stat info {};
    if (::fstat(::fileno(file), &info) == 0 && (S_ISDIR(info.st_mode) || (S_ISREG(info.st_mode) && info.st_size == 0))) {
        std::fclose(file);
        return fail(S_ISDIR(info.st_mode) ? "it is a directory" : "the file is empty");
    }
    if (file_ != nullptr)
        std::fclose(file_);
    file_ = file;
    loop_ = loop;
    fileEnded_ = false;
    return true;
}

void TrafficSource::generate()
{
    pending_.clear();
    offset_ = 0;
    tsgen::writePat(pending_, patContinuity_);
    uint8_t payload[1400];
    for (int i = 0; i < kDatagramsPerBatch; ++i, ++sequence_) {
        const size_t length = 64 + (sequence_ * 337) % (sizeof payload - 64 + 1);
        const int written = std::snprintf(reinterpret_cast<char*>(payload), sizeof payload, "KEST SIM %llu ",
                                          static_cast<unsigned long long>(sequence_));
        for (size_t k = static_cast<size_t>(written); k < length; ++k)
            payload[k] = static_cast<uint8_t>('a' + (k + sequence_) % 26);
        const int kind = static_cast<int>(sequence_ % 4);
        static const uint32_t destinations[] = {0x0A000002u, 0xEFFF2A01u, 0xFFFFFFFFu, 0x0A000063u};
        static const uint16_t ports[] = {4000, 5001, 5002, 4000};
        const MacAddress multicast{0x01, 0x00, 0x5E, 0x7F, 0x2A, 0x01};
        const MacAddress broadcast{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        const MacAddress other{0x02, 0x00, 0x00, 0x00, 0x00, 0x99};
        const MacAddress& mac = kind == 0 ? cardMac_ : kind == 1 ? multicast : kind == 2 ? broadcast : other;
        const std::vector<uint8_t> datagram
            = tsgen::makeUdpDatagram(0x0A000001u, destinations[kind], 40000, ports[kind], payload, length);
        writers_[kind].writeSection(tsgen::MacAddress(mac), datagram.data(), datagram.size(), pending_);
        if (i % 16 == 0)
            tsgen::writeNullPacket(pending_);
    }
}

size_t TrafficSource::readFile(uint8_t* out, size_t capacity)
{
    size_t filled = 0;
    while (filled < capacity && !fileEnded_) {
        const size_t n = std::fread(out + filled, 1, capacity - filled, file_);
        filled += n;
        if (n > 0)
            continue;
        // End of the file (or a read error, treated the same): start over or stop.
        if (loop_ && !std::ferror(file_) && std::ftell(file_) > 0) {
            std::rewind(file_);
        } else {
            fileEnded_ = true;
        }
    }
    return filled;
}

size_t TrafficSource::read(uint8_t* out, size_t capacity)
{
    if (file_ != nullptr)
        return readFile(out, capacity);
    size_t filled = 0;
    while (filled < capacity) {
        if (offset_ == pending_.size())
            generate();
        const size_t n = std::min(capacity - filled, pending_.size() - offset_);
        std::memcpy(out + filled, pending_.data() + offset_, n);
        offset_ += n;
        filled += n;
    }
    return filled;
}

size_t SamplePlan::next()
{
    // xorshift32: cheap and reproducible.
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    const uint32_t pick = state_ % 16;
    size_t size;
    if (pick == 0)
        size = 1 + state_ / 16 % 400; // a short sample, often less than three packets
    else if (pick == 1)
        size = 1 + state_ / 16 % largest_; // anything
    else
        size = largest_ - state_ / 16 % (largest_ / 8 + 1); // around the largest
    return std::max<size_t>(1, std::min(size, largest_));
}

void Pacer::restart()
{
    start_ = std::chrono::steady_clock::now();
    sentBits_ = 0;
}

std::chrono::nanoseconds Pacer::delayBefore(size_t bytes)
{
    if (kbps_ == 0)
        return std::chrono::nanoseconds(0);
    const auto due = start_ + std::chrono::nanoseconds(sentBits_ * 1000000ull / kbps_);
    sentBits_ += static_cast<uint64_t>(bytes) * 8;
    const auto now = std::chrono::steady_clock::now();
    if (due <= now) {
        // Far behind (the receiver was paused or slow): do not burst to catch up.
        if (now - due > std::chrono::seconds(1)) {
            restart();
            sentBits_ = static_cast<uint64_t>(bytes) * 8;
        }
        return std::chrono::nanoseconds(0);
    }
    return std::chrono::duration_cast<std::chrono::nanoseconds>(due - now);
}

} // namespace simcard
