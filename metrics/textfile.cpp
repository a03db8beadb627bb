#include "metrics/textfile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

bool writeFileAtomically(const std::string& path, const std::string& text, std::string* error)
{
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    // Hidden and without the .prom ending: no collector reads it meanwhile.
    std::string pattern = folder + "." + base + ".XXXXXX";
    std::vector<char> temporary(pattern.begin(), pattern.end());
    temporary.push_back('\0');
    const auto fail = [&](const char* what, int code) {
        if (error)
            *error = "cannot " + std::string(what) + " " + path + ": " + std::strerror(code);
        return false;
    };
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return fail("write", errno);
    size_t written = 0;
    int code = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            code = n < 0 ? errno : EIO;
            break;
        }
        written += static_cast<size_t>(n);
    }
    // Readable by the collector, which runs as another user.
    if (code == 0 && ::fchmod(fd, 0644) != 0)
        code = errno;
    if (::close(fd) != 0 && code == 0)
        code = errno;
    if (code == 0 && ::rename(temporary.data(), path.c_str()) != 0)
        code = errno;
    if (code != 0) {
        ::unlink(temporary.data());
        return fail("write", code);
    }
    return true;
}
