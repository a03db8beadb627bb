// A regular file mapped into memory whole, read front to back in pieces that media samples show
// without copying them. Pages behind the reader are given back, so the resident set stays small
// whatever the file's size. A file that shrinks while it is mapped cannot crash the reader: the
// pages beyond its new end read as zeros and cut() turns true.
#pragma once

#include "platform/media/interfaces.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace platform {

class MappedFile {
public:
    // Maps `fd` when it is a regular file with at least one byte; otherwise (or when mapping
    // fails) the object stays empty and the caller reads the file instead.
    explicit MappedFile(int fd);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    bool mapped() const { return data_ != nullptr; }
    size_t size() const { return size_; }
    const BYTE* data() const { return data_; }
    // True once a read met a page beyond the file's end (the file shrank).
    bool cut() const;
    // Gives back the pages wholly before `offset`, in steps of a few MiB.
    void releaseBefore(size_t offset);

private:
    const BYTE* data_ = nullptr;
    size_t size_ = 0;
    size_t releasedTo_ = 0;
    int guard_ = -1; // index of the range registered with the bus-error handler
};

} // namespace platform
