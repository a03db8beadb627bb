// The filter graph manager (CLSID_FilterGraph): IGraphBuilder (IFilterGraph), IMediaControl,
// IMediaEventSink and IMediaEvent.
//
// - State changes go to every filter, downstream filters first (renderers before sources), with
//   DirectShow's intermediate step: Run from Stopped pauses every filter first, and Stop from
//   Running pauses every filter first.
// - Connect(out, in) is the direct connection (no intermediate filters are inserted); when no
//   media type is agreed it answers VFW_E_CANNOT_CONNECT.
// - RemoveFilter on a graph that is not stopped stops the graph first, so that no streaming
//   thread still delivers to the filter; its pins are then disconnected at both ends.
// - Released while running, the graph stops every filter (joining their streaming threads),
//   disconnects and releases them.
// - A run completes once every renderer (a filter with connected inputs and no connected outputs)
//   has reported EC_COMPLETE, or aborts with the first EC_ERRORABORT; WaitForCompletion waits
//   for either.
#pragma once

#include "platform/media/graph.h"

namespace platform {

HRESULT createFilterGraph(REFIID riid, void** object);

} // namespace platform
