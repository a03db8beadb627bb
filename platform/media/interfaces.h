// Filters, pins and their enumerators, with their published IIDs.
#pragma once

#include "platform/media/media_types.h"

struct IFilterGraph;
struct IBaseFilter;
struct IPin;

#define KEST_IID(name, d1, d2, d3, b0, b1, b2, b3, b4, b5, b6, b7) \
    inline constexpr IID name = {d1, d2, d3, {b0, b1, b2, b3, b4, b5, b6, b7}}
#define KEST_DS_IID(name, d1) KEST_IID(name, d1, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70)

KEST_IID(IID_IPersist, 0x0000010C, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
KEST_DS_IID(IID_IPin, 0x56A86891);
KEST_DS_IID(IID_IEnumPins, 0x56A86892);
KEST_DS_IID(IID_IEnumFilters, 0x56A86893);
KEST_DS_IID(IID_IBaseFilter, 0x56A86895);
KEST_DS_IID(IID_IMediaFilter, 0x56A86899);
KEST_IID(IID_IEnumMediaTypes, 0x89C31040, 0x846B, 0x11CE, 0x97, 0xD3, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);

enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };
enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };
constexpr int MAX_PIN_NAME = 128;
constexpr int MAX_FILTER_NAME = 128;

struct PIN_INFO {
    IBaseFilter* pFilter; // with a reference: the caller releases it
    PIN_DIRECTION dir;
    WCHAR achName[MAX_PIN_NAME];
};
struct FILTER_INFO {
    WCHAR achName[MAX_FILTER_NAME];
    IFilterGraph* pGraph; // with a reference (or null): the caller releases it
};

struct IPersist : IUnknown {
    static constexpr const IID& kIid = IID_IPersist;
    using Parent = IUnknown;
    virtual HRESULT GetClassID(CLSID* clsid) = 0;
};

// Samples are not scheduled: there is no reference clock.
struct IMediaFilter : IPersist {
    static constexpr const IID& kIid = IID_IMediaFilter;
    using Parent = IPersist;
    virtual HRESULT Stop() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Run(REFERENCE_TIME start) = 0;
    virtual HRESULT GetState(DWORD milliseconds, FILTER_STATE* state) = 0;
};

struct IEnumPins : IUnknown {
    static constexpr const IID& kIid = IID_IEnumPins;
    using Parent = IUnknown;
    virtual HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) = 0; // S_FALSE when fewer
};

struct IEnumMediaTypes : IUnknown {
    static constexpr const IID& kIid = IID_IEnumMediaTypes;
    using Parent = IUnknown;
    // Each type is CreateMediaType'd: the caller frees it with DeleteMediaType.
    virtual HRESULT Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) = 0;
};

struct IBaseFilter : IMediaFilter {
    static constexpr const IID& kIid = IID_IBaseFilter;
    using Parent = IMediaFilter;
    virtual HRESULT EnumPins(IEnumPins** pins) = 0;
    virtual HRESULT FindPin(LPCWSTR id, IPin** pin) = 0;
    virtual HRESULT QueryFilterInfo(FILTER_INFO* info) = 0;
    virtual HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) = 0; // the graph is not AddRef'ed
};

struct IEnumFilters : IUnknown {
    static constexpr const IID& kIid = IID_IEnumFilters;
    using Parent = IUnknown;
    virtual HRESULT Next(ULONG count, IBaseFilter** filters, ULONG* fetched) = 0;
};

struct IPin : IUnknown {
    static constexpr const IID& kIid = IID_IPin;
    using Parent = IUnknown;
    virtual HRESULT Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) = 0; // type may be null or partial
    virtual HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT Disconnect() = 0;
    virtual HRESULT ConnectedTo(IPin** pin) = 0;
    virtual HRESULT QueryPinInfo(PIN_INFO* info) = 0;
    virtual HRESULT QueryDirection(PIN_DIRECTION* direction) = 0;
    virtual HRESULT EnumMediaTypes(IEnumMediaTypes** types) = 0;
    virtual HRESULT QueryInternalConnections(IPin** pins, ULONG* count) = 0;
    virtual HRESULT EndOfStream() = 0;
    virtual HRESULT BeginFlush() = 0;
    virtual HRESULT EndFlush() = 0;
    virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) = 0;
};
