// The filter graph's interfaces with their published IIDs, the graph's class id and event codes.
#pragma once

#include "platform/media/samples.h"

KEST_DS_IID(IID_IFilterGraph, 0x56A8689F);
KEST_DS_IID(IID_IMediaEventSink, 0x56A868A2);
KEST_DS_IID(IID_IGraphBuilder, 0x56A868A9);
KEST_DS_IID(IID_IMediaControl, 0x56A868B1);
KEST_DS_IID(IID_IMediaEvent, 0x56A868B6);
KEST_IID(CLSID_FilterGraph, 0xE436EBB3, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);

constexpr LONG EC_COMPLETE = 0x01;   // param1 result, param2 the renderer (IBaseFilter*)
constexpr LONG EC_ERRORABORT = 0x03; // param1 the failure

struct IFilterGraph : IUnknown {
    static constexpr const IID& kIid = IID_IFilterGraph;
    using Parent = IUnknown;
    virtual HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) = 0; // VFW_S_DUPLICATE_NAME if renamed
    virtual HRESULT RemoveFilter(IBaseFilter* filter) = 0;
    virtual HRESULT EnumFilters(IEnumFilters** filters) = 0;
    virtual HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** filter) = 0; // VFW_E_NOT_FOUND
};

struct IGraphBuilder : IFilterGraph {
    static constexpr const IID& kIid = IID_IGraphBuilder;
    using Parent = IFilterGraph;
    virtual HRESULT Connect(IPin* out, IPin* in) = 0; // VFW_E_CANNOT_CONNECT when no type is agreed
};

struct IMediaControl : IUnknown { // IDispatch on Windows; the automation methods are left out
    static constexpr const IID& kIid = IID_IMediaControl;
    using Parent = IUnknown;
    virtual HRESULT Run() = 0;   // from Stopped: every filter is paused first
    virtual HRESULT Pause() = 0;
    virtual HRESULT Stop() = 0;  // from Running: every filter is paused first
};

struct IMediaEventSink : IUnknown { // filters report to the graph through it
    static constexpr const IID& kIid = IID_IMediaEventSink;
    using Parent = IUnknown;
    virtual HRESULT Notify(LONG code, LONG_PTR param1, LONG_PTR param2) = 0;
};

struct IMediaEvent : IUnknown { // IDispatch on Windows
    static constexpr const IID& kIid = IID_IMediaEvent;
    using Parent = IUnknown;
    // Waits up to `milliseconds` (-1: for ever) for the run to complete or abort; *code receives
    // EC_COMPLETE or EC_ERRORABORT. E_ABORT on timeout.
    virtual HRESULT WaitForCompletion(LONG milliseconds, LONG* code) = 0;
};
