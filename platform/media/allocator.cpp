#include "platform/media/allocator.h"

#include "platform/media/enumerators.h"

#include <algorithm>
#include <new>

namespace platform {

// --- enumerators (here so that enumerators.h needs no source file of its own)

HRESULT MediaTypeEnum::Next(ULONG count, AM_MEDIA_TYPE** out, ULONG* fetched)
{
    if (out == nullptr)
        return E_POINTER;
    if (count > 1 && fetched == nullptr)
        return E_INVALIDARG;
    ULONG n = 0;
    for (; n < count && position_ < types_.size(); ++n) {
        out[n] = CreateMediaType(&types_[position_]);
        if (out[n] == nullptr)
            break;
        ++position_;
    }
    if (fetched != nullptr)
        *fetched = n;
    return n == count ? S_OK : S_FALSE;
}

// --- samples

MediaSample::MediaSample(MemAllocator* allocator, BYTE* buffer, LONG size)
    : allocator_(allocator), buffer_(buffer), size_(size), actual_(size) {}

MediaSample::~MediaSample() { DeleteMediaType(mediaType_); }

HRESULT MediaSample::QueryInterface(REFIID riid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IMediaSample) {
        *object = static_cast<IMediaSample*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG MediaSample::AddRef() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }

ULONG MediaSample::Release()
{
    const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0 && allocator_ != nullptr)
        allocator_->ReleaseBuffer(this); // may drop the allocator: `this` is not touched after it
    return left;
}

HRESULT MediaSample::GetPointer(BYTE** buffer)
{
    if (buffer == nullptr)
        return E_POINTER;
    *buffer = buffer_;
    return S_OK;
}

HRESULT MediaSample::SetActualDataLength(LONG length)
{
    if (length < 0 || length > size_)
        return VFW_E_BUFFER_OVERFLOW;
    actual_ = length;
    return S_OK;
}

HRESULT MediaSample::GetMediaType(AM_MEDIA_TYPE** type)
{
    if (type == nullptr)
        return E_POINTER;
    *type = nullptr;
    if (mediaType_ == nullptr)
        return S_FALSE;
    *type = CreateMediaType(mediaType_);
    return *type != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT MediaSample::SetMediaType(AM_MEDIA_TYPE* type)
{
    DeleteMediaType(mediaType_);
    mediaType_ = nullptr;
    if (type == nullptr)
        return S_OK;
    mediaType_ = CreateMediaType(type);
    return mediaType_ != nullptr ? S_OK : E_OUTOFMEMORY;
}

void MediaSample::resetProperties()
{
    actual_ = size_;
    DeleteMediaType(mediaType_);
    mediaType_ = nullptr;
}

// --- allocator

MemAllocator::~MemAllocator() = default;

HRESULT MemAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual)
{
    if (request == nullptr || actual == nullptr)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    if (committed_)
        return VFW_E_ALREADY_COMMITTED;
    if (free_.size() != samples_.size())
        return VFW_E_BUFFERS_OUTSTANDING;
    if (request->cbAlign <= 0 || (request->cbAlign & (request->cbAlign - 1)) != 0)
        return VFW_E_BADALIGN;
    if (request->cBuffers < 0 || request->cbBuffer < 0 || request->cbPrefix < 0)
        return E_INVALIDARG;
    // The buffer with its prefix is rounded up to the alignment.
    LONG size = request->cbBuffer + request->cbPrefix;
    if (const LONG rest = size % request->cbAlign)
        size += request->cbAlign - rest;
    freeMemoryLocked();
    props_ = *request;
    props_.cbBuffer = size - request->cbPrefix;
    *actual = props_;
    return S_OK;
}

HRESULT MemAllocator::Commit()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (props_.cBuffers <= 0 || props_.cbBuffer <= 0)
        return VFW_E_SIZENOTSET;
    if (committed_)
        return S_OK;
    if (samples_.empty()) { // otherwise samples of an unfinished decommit are used again
        const size_t stride = static_cast<size_t>(props_.cbBuffer) + static_cast<size_t>(props_.cbPrefix);
        const size_t align = static_cast<size_t>(props_.cbAlign);
        try {
            memory_.reset(new BYTE[stride * static_cast<size_t>(props_.cBuffers) + align]);
            const uintptr_t base = reinterpret_cast<uintptr_t>(memory_.get());
            BYTE* first = memory_.get() + (align - base % align) % align;
            for (LONG i = 0; i < props_.cBuffers; ++i) {
                samples_.push_back(std::make_unique<MediaSample>(
                    this, first + stride * static_cast<size_t>(i) + props_.cbPrefix, props_.cbBuffer));
                free_.push_back(samples_.back().get());
            }
        } catch (...) {
            freeMemoryLocked();
            return E_OUTOFMEMORY;
        }
    }
    committed_ = true;
    return S_OK;
}

HRESULT MemAllocator::Decommit()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!committed_)
        return S_OK;
    committed_ = false;
    if (free_.size() == samples_.size())
        freeMemoryLocked();
    freed_.notify_all(); // waiting GetBuffer calls answer VFW_E_NOT_COMMITTED
    return S_OK;
}

HRESULT MemAllocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME*, REFERENCE_TIME*, DWORD flags)
{
    if (sample == nullptr)
        return E_POINTER;
    *sample = nullptr;
    MediaSample* taken = nullptr;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (!committed_)
                return VFW_E_NOT_COMMITTED;
            if (!free_.empty())
                break;
            if (flags & AM_GBF_NOWAIT)
                return VFW_E_TIMEOUT;
            freed_.wait(lock);
        }
        taken = free_.back();
        free_.pop_back();
        taken->resetProperties();
        taken->refs_.store(1, std::memory_order_relaxed);
    }
    AddRef(); // released by ReleaseBuffer
    *sample = taken;
    return S_OK;
}

HRESULT MemAllocator::ReleaseBuffer(IMediaSample* sample)
{
    if (sample == nullptr)
        return E_POINTER;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = std::find_if(samples_.begin(), samples_.end(),
                               [sample](const std::unique_ptr<MediaSample>& s) { return s.get() == sample; });
        if (it == samples_.end() || std::find(free_.begin(), free_.end(), it->get()) != free_.end())
            return E_INVALIDARG;
        free_.push_back(it->get());
        if (!committed_ && free_.size() == samples_.size())
            freeMemoryLocked();
        freed_.notify_one();
    }
    Release(); // the reference GetBuffer took; may delete this allocator
    return S_OK;
}

void MemAllocator::freeMemoryLocked()
{
    free_.clear();
    samples_.clear();
    memory_.reset();
}

HRESULT createMemAllocator(IMemAllocator** allocator)
{
    return createObject<MemAllocator>(IID_IMemAllocator, reinterpret_cast<void**>(allocator));
}

} // namespace platform
