// Replacing a file's content as a whole: readers see the old content or the
// new one, never a part, and a crash leaves the old file.
#pragma once

#include <string>

namespace platform {

// The new content goes to a file beside `path` named ".NAME.kest-new-XXXXXX"
// (NAME the file's name, six random characters), which then takes `path`'s
// place. The name is this program's own: nobody else gives a file one like it.
bool isReplacementOf(const std::string& entryName, const std::string& fileName);

struct ReplaceOptions {
    bool followLink = false; // a symbolic link at `path`: replace the file it leads to, not the link
    bool keepOwner = false;  // fail with EPERM when the old owner and group cannot be kept
};

// Writes `size` bytes as the new content of `path`. The new file gets the old
// one's permissions (new files: 0666 less the umask) and, as asked, its owner
// and group. A symbolic link at `path` is replaced itself unless followed.
// False with errno set; nothing is left behind then.
bool replaceWholeFile(const std::string& path, const void* data, size_t size, ReplaceOptions options = {});

// Removes the replacement files of `path` that an interrupted run left behind
// (this user's only). How many were removed.
int removeStaleReplacements(const std::string& path);

} // namespace platform
