// The four wrapper operations over the virtual adapter device.
#pragma once

#include "decoder/adapter_contract.h"

#include <cstdint>

// Opens "\\.\SatNicDv-1" (GENERIC_READ | GENERIC_WRITE), then "\\.\Global\SatNicDv-1"
// (MAXIMUM_ALLOWED). Returns the handle, or nullptr when both fail (never
// INVALID_HANDLE_VALUE).
HANDLE openAdapter();

// Closes a non-null handle from openAdapter; nullptr is ignored.
void closeAdapter(HANDLE handle);

// IOCTL_SEND_FRAMES with `size` bytes of `batch` as input. A null handle makes no
// request and returns false. True when the request succeeded. The device must not
// write into the batch.
bool sendFrames(HANDLE handle, const FrameBatch* batch, DWORD size);

// IOCTL_READ_BYTE_COUNT. 0 for a null handle (no request) or a failed request.
uint32_t readAdapterByteCount(HANDLE handle);

// IOCTL_READ_LOST_FRAMES: frames the adapter could not pass on. 0 for a null handle
// (no request) or a failed request (an adapter that does not count them).
uint64_t readAdapterLostFrames(HANDLE handle);

// IOCTL_SET_STATION_ADDRESS: sends the six bytes at `address` and lets the adapter
// write six bytes back into the same place. A null handle is passed on to the
// request, which then fails. True when the request succeeded.
bool setAdapterAddress(HANDLE handle, uint8_t* address);
