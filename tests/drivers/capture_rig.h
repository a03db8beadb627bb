// A card's capture filter, found by name, connected to a counting sink and running.
#pragma once

#include "tests/platform/media/test_filters.h"
#include "tuner/find_filter.h"

namespace cardtest {

struct CaptureRig {
    explicit CaptureRig(const wchar_t* captureName)
        : capture(ComPtr<IBaseFilter>::adopt(FindFilter(KSCATEGORY_BDA_RECEIVER_COMPONENT, captureName))),
          sink(new mediatest::SinkFilter)
    {
        if (!capture || capture->FindPin(L"MPEG2 Transport Out", out.put()) != S_OK ||
            out->Connect(sink->input(), nullptr) != S_OK)
            return;
        sink->input()->setRenderer(true);
        ready = sink->Run(0) == S_OK && capture->Run(0) == S_OK;
    }
    ~CaptureRig()
    {
        if (capture)
            capture->Stop();
        sink->Stop();
        if (out)
            out->Disconnect(); // connected pins hold each other's filter
        sink->input()->Disconnect();
    }
    size_t received()
    {
        std::lock_guard<std::mutex> lock(sink->input()->mutex);
        return sink->input()->bytes.size();
    }
    ComPtr<IBaseFilter> capture;
    ComPtr<mediatest::SinkFilter> sink;
    ComPtr<IPin> out;
    bool ready = false;
};

} // namespace cardtest
