#include "platform/media/file_source.h"

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
    FileStream(BaseFilter* filter, int fd, const FileSourceOptions& options)
        : SourceStream(filter, L"Output"), fd_(fd), sampleSize_(options.sampleSize), options_(options),
          paddingDue_(options.leadingPadding) {}

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
    int fd_;
    LONG sampleSize_;
    FileSourceOptions options_;
    bool paddingDue_;
    bool atEnd_ = false; // streaming thread only
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
