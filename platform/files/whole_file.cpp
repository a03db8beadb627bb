#include "platform/files/whole_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>

namespace platform {

namespace {

constexpr char kMarker[] = ".kest-new-";
constexpr size_t kRandomLength = 6;
constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

struct SplitPath {
    std::string folder;
    std::string name;
};

SplitPath splitPath(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {".", path};
    return {slash == 0 ? std::string("/") : path.substr(0, slash), path.substr(slash + 1)};
}

bool isAlphanumeric(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

std::string randomSuffix()
{
    unsigned char bytes[kRandomLength];
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        uint64_t mix = static_cast<uint64_t>(now.tv_nsec) * 6364136223846793005ull
            ^ static_cast<uint64_t>(::getpid()) << 32 ^ static_cast<uint64_t>(now.tv_sec);
        for (unsigned char& b : bytes) {
            mix = mix * 6364136223846793005ull + 1442695040888963407ull;
            b = static_cast<unsigned char>(mix >> 56);
        }
    }
    std::string suffix;
    for (unsigned char b : bytes)
        suffix += kAlphabet[b % (sizeof kAlphabet - 1)];
    return suffix;
}

// A new, empty replacement file beside the target (0666 less the umask).
int createReplacement(const SplitPath& where, std::string* created)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = where.folder + "/." + where.name + kMarker + randomSuffix();
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0) {
            *created = std::move(candidate);
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

bool writeAll(int fd, const void* data, size_t size)
{
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Takes the old file's owner (when asked) and permissions; chown first, as it
// clears the set-id bits.
bool takeOver(int fd, const struct stat& old, bool keepOwner)
{
    struct stat now {};
    if (::fstat(fd, &now) != 0)
        return false;
    if (keepOwner && (now.st_uid != old.st_uid || now.st_gid != old.st_gid)
        && ::fchown(fd, old.st_uid, old.st_gid) != 0) {
        errno = EPERM;
        return false;
    }
    return ::fchmod(fd, old.st_mode & 07777) == 0;
}

} // namespace

bool isReplacementOf(const std::string& entryName, const std::string& fileName)
{
    const std::string prefix = "." + fileName + kMarker;
    if (entryName.size() != prefix.size() + kRandomLength || entryName.compare(0, prefix.size(), prefix) != 0)
        return false;
    for (size_t i = prefix.size(); i < entryName.size(); ++i)
        if (!isAlphanumeric(entryName[i]))
            return false;
    return true;
}

bool replaceWholeFile(const std::string& linkOrPath, const void* data, size_t size, ReplaceOptions options)
{
    std::string path = linkOrPath;
    if (options.followLink) {
        if (char* target = ::realpath(linkOrPath.c_str(), nullptr)) {
            path = target;
            std::free(target);
        }
    }
    const SplitPath where = splitPath(path);
    struct stat old {};
    const bool exists = ::lstat(path.c_str(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode)) {
        errno = EISDIR;
        return false;
    }
    std::string replacement;
    const int fd = createReplacement(where, &replacement);
    if (fd < 0)
        return false;
    bool ok = (!exists || !S_ISREG(old.st_mode) || takeOver(fd, old, options.keepOwner)) && writeAll(fd, data, size)
        && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(replacement.c_str(), path.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(replacement.c_str());
        errno = error;
        return false;
    }
    // The rename itself reaches the disk with the folder.
    const int folder = ::open(where.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

int removeStaleReplacements(const std::string& path)
{
    const SplitPath where = splitPath(path);
    DIR* folder = ::opendir(where.folder.c_str());
    if (folder == nullptr)
        return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(folder)) {
        if (!isReplacementOf(entry->d_name, where.name))
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(folder), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)
            && st.st_uid == ::geteuid() && ::unlinkat(::dirfd(folder), entry->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(folder);
    return removed;
}

} // namespace platform
