// The memory allocator and its media samples. A sample returns to its allocator's free list on
// its last Release; outstanding samples keep the allocator alive.
#pragma once

#include "platform/media/samples.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {

class MemAllocator;

class MediaSample final : public IMediaSample {
public:
    // `allocator` null: a sample over bytes owned elsewhere, shown by show() and free again
    // (idle) once every holder has released it; it is not deleted by its last Release.
    MediaSample(MemAllocator* allocator, BYTE* buffer, LONG size);
    ~MediaSample() override;

    void show(BYTE* buffer, LONG size)
    {
        buffer_ = buffer;
        size_ = size;
        resetProperties();
    }
    bool idle() const { return refs_.load(std::memory_order_acquire) == 0; }

    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT GetPointer(BYTE** buffer) override;
    LONG GetSize() override { return size_; }
    LONG GetActualDataLength() override { return actual_; }
    HRESULT SetActualDataLength(LONG length) override;
    HRESULT GetMediaType(AM_MEDIA_TYPE** type) override;
    HRESULT SetMediaType(AM_MEDIA_TYPE* type) override;

private:
    friend class MemAllocator;
    void resetProperties(); // as handed out by GetBuffer

    MemAllocator* allocator_;
    BYTE* buffer_;
    LONG size_;
    LONG actual_;
    std::atomic<ULONG> refs_{0};
    AM_MEDIA_TYPE* mediaType_ = nullptr;
};

class MemAllocator final : public ComObject<IMemAllocator> {
public:
    MemAllocator() = default;
    ~MemAllocator() override;

    HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
    HRESULT Commit() override;
    HRESULT Decommit() override;
    HRESULT GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags) override;
    HRESULT ReleaseBuffer(IMediaSample* sample) override;

private:
    void freeMemoryLocked();

    std::mutex mutex_;
    std::condition_variable freed_;
    ALLOCATOR_PROPERTIES props_{0, 0, 1, 0};
    bool committed_ = false;
    std::unique_ptr<BYTE[]> memory_;
    std::vector<std::unique_ptr<MediaSample>> samples_;
    std::vector<MediaSample*> free_;
};

HRESULT createMemAllocator(IMemAllocator** allocator);

} // namespace platform
