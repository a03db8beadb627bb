// The receive lock: held by the transport-stream input pin for the whole
// handling of a sample, and by every change the window thread makes to what
// that handling uses (slots, PID counters, error counters, the packet
// handler). There is one decoder state per process, so there is one lock.
#pragma once

#include "platform/win32/sync.h"

CRITICAL_SECTION& decoderReceiveLock();

// Holds the receive lock for a change of decoder state, e.g.
//   { DecoderChange change; assignSlot(pid); }
// While it is held no sample is being decoded, so slots can be released and
// counters reset safely even while packets for them keep arriving.
class DecoderChange {
public:
    DecoderChange() : lock_(decoderReceiveLock()) {}
    DecoderChange(const DecoderChange&) = delete;
    DecoderChange& operator=(const DecoderChange&) = delete;

private:
    platform::CritSecLock lock_;
};
