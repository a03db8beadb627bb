// "pcap:PATH": the frames go to a classic pcap capture file (link type Ethernet).
#include "drivers/satnic/backend.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>

namespace satnic::detail {

namespace {

class PcapBackend : public Backend {
public:
    PcapBackend(int fd, off_t size) : fd_(fd), size_(size) {}
    ~PcapBackend() override { close(); }

    // One batch is written with one writev: a record header and the frame for each frame.
    // A reader of the growing file therefore sees whole records (nothing is buffered in the
    // process); a failed write is cut off again so the file stays readable.
    Result send(const ParsedBatch& batch, Mac) override
    {
        Result result;
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        const auto seconds = static_cast<uint32_t>(now.tv_sec);
        const auto microseconds = static_cast<uint32_t>(now.tv_nsec / 1000);

        uint8_t headers[kMaxFramesPerBatch][kPcapRecordHeaderSize];
        iovec iov[2 * kMaxFramesPerBatch];
        size_t total = 0;
        for (uint32_t i = 0; i < batch.count; ++i) {
            const FrameView& frame = batch.frames[i];
            encodePcapRecordHeader(headers[i], seconds, microseconds, frame.length);
            iov[2 * i] = iovec{headers[i], kPcapRecordHeaderSize};
            iov[2 * i + 1] = iovec{const_cast<uint8_t*>(frame.data), frame.length};
            total += kPcapRecordHeaderSize + frame.length;
            result.bytesPassed += frame.length;
        }
        // Two handles may send at once; the records of one batch must not interleave.
        std::lock_guard<std::mutex> lock(mutex_);
        if (fd_ < 0 || !writeAll(iov, 2 * static_cast<int>(batch.count), total)) {
            result.bytesPassed = 0;
            result.framesDropped = batch.count;
            result.dropError = fd_ < 0 ? EBADF : errno;
            return result;
        }
        result.framesPassed = batch.count;
        return result;
    }

    void close() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

private:
    bool writeAll(iovec* iov, int count, size_t total)
    {
        size_t written = 0;
        while (written < total) {
            const ssize_t n = ::writev(fd_, iov, count);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                // Disk full, I/O error: take back what part of the batch was written.
                const int error = errno;
                if (written > 0 && ::ftruncate(fd_, size_) == 0)
                    ::lseek(fd_, size_, SEEK_SET);
                errno = error;
                return false;
            }
            written += static_cast<size_t>(n);
            // Skip the iovecs written completely, shorten the one written in part.
            size_t advance = static_cast<size_t>(n);
            while (count > 0 && advance >= iov->iov_len) {
                advance -= iov->iov_len;
                ++iov;
                --count;
            }
            if (count > 0) {
                iov->iov_base = static_cast<uint8_t*>(iov->iov_base) + advance;
                iov->iov_len -= advance;
            }
        }
        size_ += static_cast<off_t>(total);
        return true;
    }

    std::mutex mutex_;
    int fd_;     // guarded by mutex_
    off_t size_; // bytes of whole records and the file header; guarded by mutex_
};

} // namespace

bool pcapBackendAvailable(const std::string& path, std::string* error)
{
    struct stat st {};
    int problem = 0;
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            problem = EISDIR;
        else if (::access(path.c_str(), W_OK) != 0)
            problem = errno;
    } else if (errno != ENOENT) {
        problem = errno;
    } else {
        const size_t slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
        if (::access(folder.c_str(), W_OK | X_OK) != 0)
            problem = errno;
    }
    if (problem != 0 && error != nullptr)
        *error = "pcap file " + path + ": cannot create: " + std::strerror(problem);
    return problem == 0;
}

std::unique_ptr<Backend> openPcapBackend(const std::string& path, std::string* error)
{
    auto fail = [&](const std::string& text) {
        if (error != nullptr)
            *error = "pcap file " + path + ": " + text;
        return nullptr;
    };
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return fail(std::string("cannot create: ") + std::strerror(errno));
    uint8_t header[kPcapFileHeaderSize];
    encodePcapFileHeader(header);
    size_t done = 0;
    while (done < sizeof header) {
        const ssize_t n = ::write(fd, header + done, sizeof header - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int e = n < 0 ? errno : EIO;
            ::close(fd);
            return fail(std::string("cannot write: ") + std::strerror(e));
        }
        done += static_cast<size_t>(n);
    }
    return std::make_unique<PcapBackend>(fd, static_cast<off_t>(sizeof header));
}

} // namespace satnic::detail
