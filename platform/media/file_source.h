// A source filter reading a file (or standard input) in samples of a given size, each one full
// but the last; at the end of the file it delivers end of stream. Output pin "Output", media type
// MEDIATYPE_Stream / MEDIASUBTYPE_MPEG2_TRANSPORT. Stopping never waits for a pipe that stays
// silent: reading is polled.
#pragma once

#include "platform/media/source_filter.h"

#include <atomic>

namespace platform {

// This project's own class id (no Windows counterpart: the console tool creates the filter).
KEST_IID(CLSID_KestFileSource, 0x7B1E5C2A, 0x4F3D, 0x4E8A, 0x9C, 0x61, 0x2D, 0x5F, 0x0A, 0x8B, 0x3E, 0x71);
constexpr LONG kDefaultFileSampleSize = 65424; // 348 packets of 188 bytes

struct FileSourceOptions {
    LONG sampleSize = kDefaultFileSampleSize;
    // First one sample of null packets, then the file.
    bool leadingPadding = false;
    // When given, nothing is delivered before it turns true (it must outlive the filter's run).
    const std::atomic<bool>* startGate = nullptr;
};
// `path` "-" reads standard input. E_INVALIDARG for a sample size below 1; when the file cannot
// be opened, the failure as a Win32 result (0x80070002 not found, E_ACCESSDENIED, else E_FAIL).
HRESULT createFileSource(const char* path, const FileSourceOptions& options, IBaseFilter** filter);

} // namespace platform
