#include "platform/winmsg/winmsg.h"

#include "platform/instance/instance_name.h"

#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform::winmsg {

namespace {

// Socket names must fit sun_path (108 bytes): a runtime directory deeper than
// this is passed over.
constexpr size_t kMaxRuntimeDirLength = 63;
// The longest name a window puts in the folder: its socket while it binds,
// "/HASH.sock.PID" with a pid of at most 7 digits (PID_MAX_LIMIT).
constexpr size_t kMaxEntryLength = 1 + 16 + 5 + 1 + 7;
constexpr size_t kMaxFolderLength = sizeof(sockaddr_un::sun_path) - 1 - kMaxEntryLength;

// A real directory (not a link) of this user that only this user may enter.
bool privateDirectory(const std::string& dir, uid_t uid, std::string* problem)
{
    struct stat st{};
    if (::lstat(dir.c_str(), &st) != 0) {
        *problem = dir + ": " + std::strerror(errno);
        return false;
    }
    if (S_ISLNK(st.st_mode)) {
        *problem = dir + " is a symbolic link, not a folder of this user";
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        *problem = dir + " is not a folder";
        return false;
    }
    if (st.st_uid != uid) {
        *problem = dir + " belongs to another user";
        return false;
    }
    if ((st.st_mode & 07777) != 0700 && ::chmod(dir.c_str(), 0700) != 0) {
        *problem = dir + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool ownedByUs(const std::string& dir, uid_t uid)
{
    struct stat st{};
    return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid;
}

} // namespace

std::string windowDirectory(const std::string& instance, std::string* problem)
{
    std::string ignored;
    if (problem == nullptr)
        problem = &ignored;
    problem->clear();
    if (!instance.empty() && !instance::validName(instance)) {
        *problem = "\"" + instance.substr(0, 64) + "\" is not a valid instance name";
        return {};
    }
    const uid_t uid = ::geteuid();
    // A named copy's folder sits beside the unnamed copy's; its longer name
    // may not fit a deep runtime directory, which is then passed over too.
    const std::string suffix = instance.empty() ? std::string() : "@" + instance;
    const auto fits = [&](const std::string& folder) { return folder.size() <= kMaxFolderLength; };
    // Without a usable XDG_RUNTIME_DIR (cron, su, some ssh sessions) the
    // user's runtime directory is still there while the user is logged in;
    // only root can make it, so nobody else can take its place. /tmp is the
    // last resort: there another user may have made the name first, and such
    // a directory (or a link) is never used.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string userRuntime = "/run/user/" + std::to_string(uid);
    std::string dir;
    if (runtime != nullptr && runtime[0] == '/' && std::strlen(runtime) <= kMaxRuntimeDirLength
        && fits(runtime + ("/kest-windows" + suffix)))
        dir = std::string(runtime) + "/kest-windows" + suffix;
    else if (fits(userRuntime + "/kest-windows" + suffix) && ownedByUs(userRuntime, uid))
        dir = userRuntime + "/kest-windows" + suffix;
    else
        dir = "/tmp/kest-windows-" + std::to_string(uid) + suffix;
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        *problem = dir + ": " + std::strerror(errno);
        return {};
    }
    if (!privateDirectory(dir, uid, problem))
        return {};
    return dir;
}

// Titles may hold any bytes and be long; the file name is a hash of the title,
// and every request repeats the title, so a collision cannot misdirect a message.
std::string socketPath(const std::string& title, const std::string& instance)
{
    const std::string dir = windowDirectory(instance);
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
