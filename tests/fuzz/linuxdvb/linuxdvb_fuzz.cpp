// libFuzzer target: a Linux DVB adapter whose every reply comes from the input, through
// the device seam the driver uses (DvbDevices). The frontend's info, its property and
// statistics replies, every call's success or failure, and the dvr's reads (any size up to
// the buffer, end of file, any error) are taken from the input in the order asked for;
// a frontend and a stream are driven through open, tuning, DiSEqC, status and reading.
#include "drivers/linuxdvb/dvb_frontend.h"
#include "drivers/linuxdvb/dvb_stream.h"

#include <sys/ioctl.h>

#include <linux/dvb/dmx.h>
#include <linux/dvb/frontend.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

// The input as a stream of answers; zeros once it is used up. The frontend's search
// thread may ask too (under the frontend's own lock, but the stream asks without it).
class Answers {
public:
    Answers(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t byte()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return at_ < size_ ? data_[at_++] : 0;
    }
    void fill(void* out, size_t n)
    {
        auto* bytes = static_cast<uint8_t*>(out);
        for (size_t i = 0; i < n; ++i)
            bytes[i] = byte();
    }
    template <typename T> T value()
    {
        T v{};
        fill(&v, sizeof v);
        return v;
    }
    bool left()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return at_ < size_;
    }

private:
    std::mutex mutex_;
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// DiSEqC bus pauses pass at once.
class InstantClock : public linuxdvb::BusClock {
public:
    int64_t nowUs() override { return now_; }
    void sleepUs(int64_t us) override { now_ += us; }

private:
    int64_t now_ = 0;
};

int fail(int error)
{
    errno = error;
    return -1;
}

constexpr int kErrors[] = {EIO, ENODEV, EINVAL, EAGAIN, EINTR, EOVERFLOW, ENOTTY, EBUSY, ETIMEDOUT, EPERM};

class FuzzedDevices : public linuxdvb::DvbDevices {
public:
    explicit FuzzedDevices(Answers& answers) : in_(answers) {}

    int open(const std::string&, int) override
    {
        // Mostly opens: a refused open ends the run early and finds little.
        if (in_.byte() % 8 == 0)
            return fail(kErrors[in_.byte() % std::size(kErrors)]);
        return nextFd_++;
    }
    int close(int) override { return 0; }
    bool exists(const std::string&) override { return in_.byte() % 2 == 0; }
    int waitReadable(int, int) override
    {
        const uint8_t pick = in_.byte() % 8;
        if (pick == 0)
            return 0;
        if (pick == 1)
            return fail(in_.byte() % 2 ? EINTR : EBADF);
        return 1;
    }
    ssize_t read(int, void* buffer, size_t size) override
    {
        const uint8_t pick = in_.byte() % 8;
        if (pick == 0)
            return fail(kErrors[in_.byte() % std::size(kErrors)]);
        if (pick == 1)
            return 0; // end of file
        // Any size up to what was asked for, as read(2) gives.
        const size_t n = std::min(size, static_cast<size_t>(in_.value<uint16_t>()) % 70000);
        in_.fill(buffer, n);
        return static_cast<ssize_t>(n);
    }
    int ioctl(int, unsigned long request, void* argument) override
    {
        if (in_.byte() % 4 == 0)
            return fail(kErrors[in_.byte() % std::size(kErrors)]);
        switch (request) {
        case FE_GET_INFO:
            in_.fill(argument, sizeof(dvb_frontend_info)); // the name need not end in NUL
            return 0;
        case FE_READ_STATUS:
            *static_cast<fe_status_t*>(argument) = static_cast<fe_status_t>(in_.value<uint32_t>());
            return 0;
        case FE_READ_SIGNAL_STRENGTH:
        case FE_READ_SNR:
            *static_cast<uint16_t*>(argument) = in_.value<uint16_t>();
            return 0;
        case FE_GET_PROPERTY: {
            // Every reply field as the driver might write it: lengths beyond the arrays,
            // any scale, any value.
            auto* properties = static_cast<dtv_properties*>(argument);
            for (uint32_t i = 0; i < properties->num; ++i)
                in_.fill(&properties->props[i].u, sizeof properties->props[i].u);
            return 0;
        }
        default:
            return 0; // the setters: voltage, tone, DiSEqC, properties, filters, buffer size
        }
    }

private:
    Answers& in_;
    int nextFd_ = 3;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Answers answers(data, size);
    FuzzedDevices devices(answers);
    InstantClock clock;

    linuxdvb::DvbFrontend frontend(devices, 0, 0, clock);
    if (frontend.open(nullptr)) {
        if (frontend.name().size() > sizeof(dvb_frontend_info{}.name))
            std::abort();
        frontend.supportsSatellite();
        SatelliteParams tuning;
        tuning.carrierFrequency = answers.value<uint32_t>();
        tuning.polarisation = answers.byte() % 3;
        tuning.symbolRate = answers.value<uint32_t>();
        tuning.innerFecRate = answers.byte();
        tuning.modulation = answers.byte() % 2 ? card::kModulationDvbS2 : card::kModulationQpsk;
        // Any stream selection, impossible PLS codes included.
        tuning.streamId = static_cast<int32_t>(answers.value<uint16_t>() % 260) - 2;
        tuning.plsMode = answers.byte() % 3;
        tuning.plsCode = answers.value<int32_t>();
        tuning.basebandFrames = answers.byte() % 2;
        const uint8_t diseqc[6] = {0xE0, 0x10, 0x38, answers.byte(), 0, 0};
        frontend.sendDiseqc(diseqc, 3 + answers.byte() % 5);
        frontend.commit(tuning);
        for (int i = 0; i < 4; ++i) {
            const linuxdvb::SignalStatus status = frontend.status();
            if (status.strength < 0 || status.strength > 100 || status.quality < 0 || status.quality > 100)
                std::abort();
        }
        frontend.setLnbPower(answers.byte() % 2);
        frontend.close();
    }

    linuxdvb::DvbStream stream(devices, 0);
    const std::vector<uint16_t> pids = {answers.value<uint16_t>(), answers.value<uint16_t>()};
    if (!stream.start(pids, nullptr))
        return 0;
    std::vector<uint8_t> buffer(answers.value<uint16_t>() % 4096 + 1);
    for (int reads = 0; reads < 64 && answers.left(); ++reads) {
        size_t count = 12345;
        const auto result = stream.read(buffer.data(), buffer.size(), &count, 0);
        if (count > buffer.size() || (result != linuxdvb::DvbStream::ReadResult::Data && count != 0))
            std::abort();
        if (result == linuxdvb::DvbStream::ReadResult::Ended)
            break;
        if (reads % 8 == 7) {
            const uint16_t wanted[3] = {answers.value<uint16_t>(), answers.value<uint16_t>(), 0x100};
            stream.refilter(wanted, answers.byte() % 4);
        }
    }
    stream.stop();
    return 0;
}
