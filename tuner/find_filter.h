// FindFilter: a filter of a device category by (the beginning of) its friendly name.
#pragma once

#include "platform/media/interfaces.h"

// The first device of `category` whose friendly name begins with the whole of `name`
// (any device when `name` is null) and whose filter can be created; one reference
// for the caller. Null when there is none.
IBaseFilter* FindFilter(GUID category, const wchar_t* name);

namespace tuner {

// The first model of the fixed probe order whose tuner filter is present; 0 for none.
int32_t probeInstalledModel();

} // namespace tuner
