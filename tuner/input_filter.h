// How the manager makes its transport-stream sink and works its delivery switch.
// Replaceable so that a graph can be built around a stand-in sink.
#pragma once

#include "platform/media/interfaces.h"

#include <functional>

namespace tuner {

struct InputFilterHooks {
    // Creates the sink and hands out one reference; a negative *result means it failed.
    std::function<IBaseFilter*(HRESULT* result)> create;
    std::function<void(IBaseFilter* filter, bool on)> setDelivery;
};

// Empty members fall back to the defaults: a new TSInputFilter, and its delivery
// switch (nothing for a filter of another class). Returns the previous hooks.
InputFilterHooks setInputFilterHooks(InputFilterHooks hooks);

IBaseFilter* createInputFilter(HRESULT* result);
void setInputFilterDelivery(IBaseFilter* filter, bool on);

} // namespace tuner
