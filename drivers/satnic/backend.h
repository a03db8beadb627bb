// The backends behind the SatNic device: where the frames go.
#pragma once

#include "drivers/satnic/satnic_internal.h"

#include <cstdint>
#include <memory>
#include <string>

namespace satnic::detail {

class Backend {
public:
    virtual ~Backend() = default;

    struct Result {
        uint64_t bytesPassed = 0;
        uint32_t framesPassed = 0;
        uint32_t framesDropped = 0;
        int dropError = 0; // errno of the last frame dropped
    };
    // Passes the batch's frames on, in order. `station` is the address last set through
    // IOCTL_SET_STATION_ADDRESS. Runs on the caller's thread (the decoder's streaming
    // thread): must not allocate, and must not block for more than a few milliseconds.
    virtual Result send(const ParsedBatch& batch, Mac station) = 0;

    // Closes the interface or file; no send() runs during or after it. Idempotent.
    virtual void close() = 0;

    virtual uint64_t kernelFramesDiscarded() const { return 0; }
};

// nullptr with a one-line *error when the interface or file cannot be opened.
// `createHint` is the command that creates the interface, for the messages. With
// `waitForInterface` a missing interface is not a failure: the backend loses (and the
// driver counts) the frames until the interface exists, and *error says so.
std::unique_ptr<Backend> openTapBackend(const std::string& interfaceName, const std::string& createHint,
                                        bool waitForInterface, std::string* error);
std::unique_ptr<Backend> openPcapBackend(const std::string& path, std::string* error);

// The same checks without opening anything: the interface exists; the file is a regular one this
// user may write, or one its folder would take. False with a one-line *error.
bool tapBackendAvailable(const std::string& interfaceName, std::string* error);
bool pcapBackendAvailable(const std::string& path, std::string* error);

} // namespace satnic::detail
