#include "platform/media/file_source.h"

#include "platform/media/allocator.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002u); // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)

class FileSourceFilter;

// Reads in large pieces into a buffer of its own and hands the file out in samples that show
// sample-sized pieces of that buffer: one copy of each byte (the read itself) and one read per
// many samples, however small they are. Each sample is full but the last, from a file or a pipe.
class FileStream final : public SourceStream {
public:
    static constexpr size_t kReadSize = size_t(256) << 10; // stays within the cache

    FileStream(BaseFilter* filter, int fd, const FileSourceOptions& options)
        : SourceStream(filter, L"Output"), fd_(fd), sampleSize_(options.sampleSize), options_(options),
          paddingDue_(options.leadingPadding),
          capacity_(std::max(kReadSize, static_cast<size_t>(options.sampleSize))),
          buffer_(new (std::nothrow) BYTE[capacity_]) {}

    HRESULT onThreadStart() override { return buffer_ ? S_OK : E_OUTOFMEMORY; }

    HRESULT nextSample(IMediaSample** sample) override
    {
        if (paddingDue_)
            return SourceStream::nextSample(sample);
        for (;;) {
            for (MediaSample& view : views_) {
                if (view.idle()) {
                    view.AddRef();
                    *sample = &view;
                    return S_OK;
                }
            }
            if (!waitUnlessStopping(1)) // all still held downstream
                return E_ABORT;
        }
    }

    HRESULT checkMediaType(const MediaType& type) override
    {
        return type.majortype == MEDIATYPE_Stream ? S_OK : S_FALSE;
    }
    HRESULT getMediaType(int position, MediaType* type) override
    {
        if (position != 0)
            return VFW_S_NO_MORE_ITEMS;
        *type = MediaType(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_TRANSPORT);
        return S_OK;
    }
    HRESULT decideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override
    {
        request->cBuffers = 1; // for the padding only
        request->cbBuffer = sampleSize_;
        ALLOCATOR_PROPERTIES actual{};
        const HRESULT hr = allocator->SetProperties(request, &actual);
        return FAILED(hr) ? hr : actual.cbBuffer < sampleSize_ ? E_FAIL : S_OK;
    }
    HRESULT fillSample(IMediaSample* sample) override
    {
        if (options_.startGate != nullptr)
            while (!options_.startGate->load(std::memory_order_acquire))
                if (!waitUnlessStopping(1))
                    return E_ABORT;
        if (paddingDue_) {
            // Null packets: a receiver that drops its first sample loses nothing of the file.
            BYTE* data = nullptr;
            const HRESULT hr = sample->GetPointer(&data);
            if (FAILED(hr))
                return hr;
            paddingDue_ = false;
            const LONG bytes = sampleSize_ >= 188 ? sampleSize_ / 188 * 188 : sampleSize_;
            fillNullPackets(data, bytes);
            sample->SetActualDataLength(bytes);
            return S_OK;
        }
        auto* view = static_cast<MediaSample*>(sample);
        const size_t size = static_cast<size_t>(sampleSize_);
        if (end_ - begin_ < size && !atEnd_) {
            const HRESULT hr = refill(view);
            if (hr != S_OK)
                return hr;
        }
        const size_t n = std::min(size, end_ - begin_);
        if (n == 0)
            return S_FALSE;
        view->show(buffer_.get() + begin_, static_cast<LONG>(n)); // read-only downstream
        begin_ += n;
        return S_OK;
    }

private:
    // Moves the bytes not handed out yet to the front, once no sample shows the buffer any more,
    // and reads behind them until a whole sample is there or the input ends.
    HRESULT refill(MediaSample* filling)
    {
        for (;;) {
            bool shown = false;
            for (MediaSample& view : views_)
                shown = shown || (&view != filling && !view.idle());
            if (!shown)
                break;
            if (!waitUnlessStopping(1))
                return E_ABORT;
        }
        std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
        while (end_ < static_cast<size_t>(sampleSize_) && !atEnd_) {
            if (stopRequested())
                return E_ABORT;
            if (!regularFile_) {
                // A pipe may stay empty: wait in steps, so that a stop is seen.
                pollfd p{fd_, POLLIN, 0};
                const int ready = poll(&p, 1, 100);
                if (ready < 0 && errno != EINTR)
                    return E_FAIL;
                if (ready <= 0)
                    continue;
            }
            const ssize_t n = read(fd_, buffer_.get() + end_, capacity_ - end_);
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN)
                    continue;
                return E_FAIL;
            }
            if (n == 0)
                atEnd_ = true;
            end_ += static_cast<size_t>(n);
        }
        return S_OK;
    }

    static bool isRegularFile(int fd)
    {
        struct stat st {};
        return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    }

    int fd_;
    const bool regularFile_ = isRegularFile(fd_); // a read never waits
    LONG sampleSize_;
    FileSourceOptions options_;
    bool paddingDue_;
    bool atEnd_ = false; // streaming thread only
    size_t capacity_;
    std::unique_ptr<BYTE[]> buffer_;
    size_t begin_ = 0; // next byte to hand out
    size_t end_ = 0;   // end of the bytes read
    MediaSample views_[4] = {{nullptr, nullptr, 0}, {nullptr, nullptr, 0}, {nullptr, nullptr, 0}, {nullptr, nullptr, 0}};
};

class FileSourceFilter final : public SourceFilter {
public:
    FileSourceFilter(int fd, bool owned, const FileSourceOptions& options)
        : SourceFilter(CLSID_KestFileSource), fd_(fd), owned_(owned)
    {
        addPin<FileStream>(this, fd, options);
    }
    ~FileSourceFilter() override
    {
        if (owned_)
            close(fd_);
    }

private:
    int fd_;
    bool owned_;
};

} // namespace

HRESULT createFileSource(const char* path, const FileSourceOptions& options, IBaseFilter** filter)
{
    if (filter == nullptr || path == nullptr)
        return E_POINTER;
    *filter = nullptr;
    if (options.sampleSize < 1)
        return E_INVALIDARG;
    const bool standardInput = std::string(path) == "-";
    const int fd = standardInput ? STDIN_FILENO : open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? kFileNotFound : errno == EACCES ? E_ACCESSDENIED : E_FAIL;
    return createObject<FileSourceFilter>(IID_IBaseFilter, reinterpret_cast<void**>(filter), fd, !standardInput,
                                          options);
}

} // namespace platform
