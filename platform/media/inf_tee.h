// The infinite pin tee (CLSID_InfTee): input pin "Input" and output pins "Output1", "Output2", ...;
// a new unconnected output pin appears whenever the last one is connected. Every sample goes to
// every connected output (the same sample, read-only, on the upstream's streaming thread); so do
// end of stream and flushing. An output connects only once the input is, and only
// with the input's media type; the outputs pass the upstream's allocator on.
// Receive answers S_OK when at least one output took the sample (or none is connected), else the
// first output's failure. Output pins stay until the tee is destroyed (references to pins count on
// the filter), so a disconnected output can be connected again.
#pragma once

#include "platform/media/graph.h"

KEST_IID(CLSID_InfTee, 0xF8388A40, 0xD5BB, 0x11D0, 0xBE, 0x5A, 0x00, 0x80, 0xC7, 0x06, 0x56, 0x8E);

namespace platform {

HRESULT createInfTee(REFIID riid, void** object);

} // namespace platform
