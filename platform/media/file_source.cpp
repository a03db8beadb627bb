#include "platform/media/file_source.h"

#include "platform/media/allocator.h"
#include "platform/media/mapped_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace platform {

namespace {

constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002u); // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)

class FileSourceFilter;

class FileStream final : public SourceStream {
public:
    FileStream(BaseFilter* filter, int fd, bool mappable, const FileSourceOptions& options)
        : SourceStream(filter, L"Output"), fd_(fd), sampleSize_(options.sampleSize), options_(options),
          paddingDue_(options.leadingPadding), file_(mappable ? fd : -1) {}

    // A mapped file is handed out in pieces of the mapping, without copying it into samples.
    HRESULT nextSample(IMediaSample** sample) override
    {
        if (!file_.mapped() || paddingDue_)
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
        request->cBuffers = 4;
        request->cbBuffer = sampleSize_;
        ALLOCATOR_PROPERTIES actual{};
        const HRESULT hr = allocator->SetProperties(request, &actual);
        return FAILED(hr) ? hr : actual.cbBuffer < sampleSize_ ? E_FAIL : S_OK;
    }
    HRESULT fillSample(IMediaSample* sample) override
    {
        BYTE* data = nullptr;
        HRESULT hr = sample->GetPointer(&data);
        if (FAILED(hr))
            return hr;
        if (options_.startGate != nullptr)
            while (!options_.startGate->load(std::memory_order_acquire))
                if (!waitUnlessStopping(1))
                    return E_ABORT;
        if (paddingDue_) {
            // Null packets: a receiver that drops its first sample loses nothing of the file.
            paddingDue_ = false;
            const LONG bytes = sampleSize_ >= 188 ? sampleSize_ / 188 * 188 : sampleSize_;
            fillNullPackets(data, bytes);
            sample->SetActualDataLength(bytes);
            return S_OK;
        }
        if (file_.mapped())
            return showPiece(static_cast<MediaSample*>(sample));
        LONG got = 0;
        while (got < sampleSize_ && !atEnd_) {
            if (stopRequested())
                return E_ABORT;
            pollfd p{fd_, POLLIN, 0};
            const int ready = poll(&p, 1, 100);
            if (ready < 0 && errno != EINTR)
                return E_FAIL;
            if (ready <= 0)
                continue;
            const ssize_t n = read(fd_, data + got, static_cast<size_t>(sampleSize_ - got));
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN)
                    continue;
                return E_FAIL;
            }
            if (n == 0)
                atEnd_ = true;
            got += static_cast<LONG>(n);
        }
        if (got == 0)
            return S_FALSE;
        sample->SetActualDataLength(got);
        return S_OK;
    }

private:
    HRESULT showPiece(MediaSample* view)
    {
        if (file_.cut())
            return E_FAIL; // the file shrank while it was read
        size_t held = position_;
        for (MediaSample& other : views_) {
            BYTE* shown = nullptr;
            if (&other != view && !other.idle() && other.GetPointer(&shown) == S_OK && shown != nullptr)
                held = std::min(held, static_cast<size_t>(shown - file_.data()));
        }
        file_.releaseBefore(held);
        const auto n = static_cast<LONG>(std::min<size_t>(static_cast<size_t>(sampleSize_), file_.size() - position_));
        if (n == 0)
            return S_FALSE;
        view->show(const_cast<BYTE*>(file_.data()) + position_, n); // read-only downstream
        position_ += static_cast<size_t>(n);
        return S_OK;
    }

    int fd_;
    LONG sampleSize_;
    FileSourceOptions options_;
    bool paddingDue_;
    bool atEnd_ = false; // streaming thread only
    MappedFile file_;
    size_t position_ = 0; // next byte of the mapping to hand out
    MediaSample views_[4] = {{nullptr, nullptr, 0}, {nullptr, nullptr, 0}, {nullptr, nullptr, 0}, {nullptr, nullptr, 0}};
};

class FileSourceFilter final : public SourceFilter {
public:
    FileSourceFilter(int fd, bool owned, const FileSourceOptions& options)
        : SourceFilter(CLSID_KestFileSource), fd_(fd), owned_(owned)
    {
        addPin<FileStream>(this, fd, owned, options); // standard input is read as it comes
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
