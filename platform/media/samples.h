// Media samples, allocators and the memory input pin, with their published IIDs.
#pragma once

#include "platform/media/interfaces.h"

KEST_DS_IID(IID_IMediaSample, 0x56A8689A);
KEST_DS_IID(IID_IMemAllocator, 0x56A8689C);
KEST_DS_IID(IID_IMemInputPin, 0x56A8689D);
KEST_IID(CLSID_MemoryAllocator, 0x1E651CC0, 0xB199, 0x11D0, 0x82, 0x12, 0x00, 0xC0, 0x4F, 0xC3, 0x2C, 0x45);

struct ALLOCATOR_PROPERTIES {
    LONG cBuffers;
    LONG cbBuffer;
    LONG cbAlign;
    LONG cbPrefix;
};

constexpr DWORD AM_GBF_NOWAIT = 4; // GetBuffer answers VFW_E_TIMEOUT instead of waiting

// The stream is not timed: a sample carries its bytes and, when the type changes, a media type.
struct IMediaSample : IUnknown {
    static constexpr const IID& kIid = IID_IMediaSample;
    using Parent = IUnknown;
    virtual HRESULT GetPointer(BYTE** buffer) = 0;
    virtual LONG GetSize() = 0;
    virtual LONG GetActualDataLength() = 0;
    virtual HRESULT SetActualDataLength(LONG length) = 0; // VFW_E_BUFFER_OVERFLOW beyond GetSize
    virtual HRESULT GetMediaType(AM_MEDIA_TYPE** type) = 0; // S_FALSE and null when unchanged
    virtual HRESULT SetMediaType(AM_MEDIA_TYPE* type) = 0;
};

struct IMemAllocator : IUnknown {
    static constexpr const IID& kIid = IID_IMemAllocator;
    using Parent = IUnknown;
    virtual HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) = 0;
    virtual HRESULT Commit() = 0;
    virtual HRESULT Decommit() = 0; // wakes GetBuffer waiters with VFW_E_NOT_COMMITTED
    virtual HRESULT GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags) = 0;
    virtual HRESULT ReleaseBuffer(IMediaSample* sample) = 0; // called by a sample's last Release
};

struct IMemInputPin : IUnknown {
    static constexpr const IID& kIid = IID_IMemInputPin;
    using Parent = IUnknown;
    virtual HRESULT GetAllocator(IMemAllocator** allocator) = 0;
    virtual HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) = 0;
    virtual HRESULT Receive(IMediaSample* sample) = 0;
    virtual HRESULT ReceiveCanBlock() = 0; // S_OK may block, S_FALSE never blocks
};
