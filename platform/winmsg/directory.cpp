#include "platform/winmsg/winmsg.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform::winmsg {

std::string windowDirectory()
{
    const uid_t uid = ::geteuid();
    // Socket names must fit sun_path (108 bytes); a runtime directory too deep
    // for that is passed over for /tmp.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string dir = runtime != nullptr && runtime[0] == '/' && std::strlen(runtime) < 64
        ? std::string(runtime) + "/kest-windows"
        : "/tmp/kest-windows-" + std::to_string(uid);
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    // Only a real directory of our own will do: in /tmp someone else may have
    // put a directory or a link there first.
    struct stat st{};
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != uid)
        return {};
    if ((st.st_mode & 07777) != 0700 && ::chmod(dir.c_str(), 0700) != 0)
        return {};
    return dir;
}

// Titles may hold any bytes and be long; the file name is a hash of the title,
// and every request repeats the title, so a collision cannot misdirect a message.
std::string socketPath(const std::string& title)
{
    const std::string dir = windowDirectory();
    if (dir.empty())
        return {};
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : title) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    char name[32];
    std::snprintf(name, sizeof name, "/%016llx", static_cast<unsigned long long>(hash));
    return dir + name + ".sock";
}

} // namespace platform::winmsg
